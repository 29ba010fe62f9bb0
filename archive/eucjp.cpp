#include "eucjp.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace oneseg::archive {

EucJpDecoder::EucJpDecoder() : iconv_(iconv_open("UTF-8", "EUC-JP"))
{
  if (iconv_ == reinterpret_cast<void*>(-1)) throw std::runtime_error("iconv cannot convert EUC-JP to UTF-8");
}

EucJpDecoder::~EucJpDecoder() { iconv_close(static_cast<iconv_t>(iconv_)); }

std::string EucJpDecoder::to_utf8(std::string_view euc)
{
  const auto cd = static_cast<iconv_t>(iconv_);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string out(euc.size() * 3 / 2 + 16, '\0');
  char* in = const_cast<char*>(euc.data());
  std::size_t in_left = euc.size();
  std::size_t done = 0;
  while (in_left > 0) {
    char* to = out.data() + done;
    std::size_t to_left = out.size() - done;
    const std::size_t rc = iconv(cd, &in, &in_left, &to, &to_left);
    done = out.size() - to_left;
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
    } else {  // EILSEQ, or EINVAL for a sequence cut off at the end
      if (out.size() - done < 3) out.resize(out.size() * 2);
      out.replace(done, 3, "\xEF\xBF\xBD");
      done += 3;
      ++in;
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  out.resize(done);
  return out;
}

}  // namespace oneseg::archive
