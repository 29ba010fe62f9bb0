#pragma once
// The analyser writes its text files in EUC-JP; the archive keeps UTF-8.
#include <string>
#include <string_view>

namespace oneseg::archive {

// Converts with iconv. A byte sequence that is not EUC-JP becomes U+FFFD and
// the conversion goes on after it, so a damaged file loses only that character.
class EucJpDecoder {
 public:
  EucJpDecoder();
  EucJpDecoder(const EucJpDecoder&) = delete;
  EucJpDecoder& operator=(const EucJpDecoder&) = delete;
  ~EucJpDecoder();

  std::string to_utf8(std::string_view euc);

 private:
  void* iconv_;  // iconv_t
};

}  // namespace oneseg::archive
