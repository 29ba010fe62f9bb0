#pragma once
// The nouns of caption text by MeCab (the library, linked; IPA dictionary):
// common nouns, proper nouns and verbal nouns (会見, 発表), without numbers,
// pronouns, suffixes and single kana or signs.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace oneseg::archive {

class NounReader {
 public:
  // Throws std::runtime_error when MeCab or its dictionary cannot be loaded.
  NounReader();
  ~NounReader();
  NounReader(const NounReader&) = delete;
  NounReader& operator=(const NounReader&) = delete;

  // The nouns of one line, in order, repeated as often as they occur.
  std::vector<std::string> nouns(std::string_view line);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace oneseg::archive
