#include "text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace oneseg {
namespace {

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not one.
std::size_t sequence_length(const std::string& s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  const auto second = static_cast<unsigned char>(s[i + 1]);
  if (second < low || second > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (!continuation(static_cast<unsigned char>(s[i + k]))) return 0;
  }
  return length;
}

// Converts as much as iconv can; `skip_invalid` replaces each byte it cannot
// convert by "?", otherwise the first such byte fails the conversion.
bool convert(const char* to, const char* from, const std::string& in, std::string& out, bool skip_invalid) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string copy = in;
  char* src = copy.data();
  std::size_t left = copy.size();
  char chunk[4096];
  bool ok = true;
  out.clear();
  while (left > 0 && ok) {
    char* dst = chunk;
    std::size_t room = sizeof chunk;
    const std::size_t rc = ::iconv(cd, &src, &left, &dst, &room);
    out.append(chunk, sizeof chunk - room);
    if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    ok = skip_invalid;
    if (ok) {
      out += "?";
      ++src;
      --left;
    }
  }
  ::iconv_close(cd);
  return ok;
}

}  // namespace

bool is_utf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = sequence_length(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string text_to_utf8(const std::string& bytes) {
  if (is_utf8(bytes)) return bytes;
  std::string out;
  return convert("UTF-8", "CP932", bytes, out, true) ? out : bytes;
}

bool utf8_to_sjis(const std::string& utf8, std::string& sjis) {
  return convert("CP932", "UTF-8", utf8, sjis, false);
}

}  // namespace oneseg
