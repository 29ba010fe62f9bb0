#include "text_normalise.h"

namespace oneseg::archive {

namespace {

// U+FF66..U+FF9D, half-width katakana, in full width.
constexpr char16_t halfwidth_kana[] =
    u"ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン";

char32_t decode_utf8(std::string_view s, std::size_t& at)
{
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || at + static_cast<std::size_t>(length) > s.size()) {
    ++at;
    return 0xFFFD;
  }
  char32_t code = length == 1 ? lead : lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(at + static_cast<std::size_t>(i)) & 0xC0) != 0x80) {
      ++at;
      return 0xFFFD;
    }
    code = (code << 6) | (byte(at + static_cast<std::size_t>(i)) & 0x3F);
  }
  at += static_cast<std::size_t>(length);
  return code;
}

char32_t fold(char32_t c)
{
  if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;  // full-width ASCII
  if (c == 0x3000) return U' ';
  if (c >= U'A' && c <= U'Z') return c + 32;
  if (c >= 0xFF66 && c <= 0xFF9D) return halfwidth_kana[c - 0xFF66];
  switch (c) {
    case 0xFF61: return U'。';
    case 0xFF62: return U'「';
    case 0xFF63: return U'」';
    case 0xFF64: return U'、';
    case 0xFF65: return U'・';
    case 0xFF9E: return U'゛';
    case 0xFF9F: return U'゜';
    default: return c;
  }
}

// A half-width sound mark joins the kana before it: ｶﾞ is ガ, ﾊﾟ is パ.
bool join_sound_mark(char32_t& kana, char32_t mark)
{
  const bool voiced = mark == 0xFF9E;
  if (voiced && kana == U'ウ') {
    kana = U'ヴ';
    return true;
  }
  const bool ka_to = (kana >= U'カ' && kana <= U'チ' && (kana - U'カ') % 2 == 0) || kana == U'ツ' ||
                     kana == U'テ' || kana == U'ト';
  const bool ha_ho = kana >= U'ハ' && kana <= U'ホ' && (kana - U'ハ') % 3 == 0;
  if (voiced && (ka_to || ha_ho)) {
    kana += 1;
    return true;
  }
  if (!voiced && ha_ho) {
    kana += 2;
    return true;
  }
  return false;
}

}  // namespace

void normalise_chars(std::string_view utf8, std::vector<NormalisedChar>& out)
{
  out.clear();
  std::size_t at = 0;
  while (at < utf8.size()) {
    const std::size_t begin = at;
    const char32_t raw = decode_utf8(utf8, at);
    if ((raw == 0xFF9E || raw == 0xFF9F) && !out.empty() && out.back().end == begin &&
        join_sound_mark(out.back().code, raw)) {
      out.back().end = at;
      continue;
    }
    out.push_back({fold(raw), begin, at});
  }
}

std::string normalise(std::string_view utf8)
{
  std::vector<NormalisedChar> chars;
  normalise_chars(utf8, chars);
  std::string out;
  out.reserve(utf8.size());
  for (const NormalisedChar& c : chars) append_utf8(out, c.code);
  return out;
}

bool is_word_char(char32_t c)
{
  if (c <= U' ') return false;
  if (c < 0x80) return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
  if (c >= 0x2000 && c <= 0x2BFF) return false;   // general punctuation, arrows, symbols (♪)
  if (c >= 0x3000 && c <= 0x303F) return c == U'々' || c == U'〆';  // CJK punctuation and brackets
  if (c == U'・' || c == U'゛' || c == U'゜' || c == 0xFFFD || is_index_mark(c)) return false;
  if (c >= 0xFF00 && c <= 0xFF65) return false;   // what is left of the full-width signs
  return true;
}

std::string printable(std::string_view utf8)
{
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte == '\t') out += ' ';
    else if (byte == 0xC2 && i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xE0) == 0x80) ++i;  // C1
    else if (byte >= 0x20 && byte != 0x7F) out += utf8[i];
  }
  return out;
}

std::size_t encode_utf8(char32_t c, char* out)
{
  const auto byte = [](char32_t b) { return static_cast<char>(b); };
  if (c < 0x80) {
    out[0] = byte(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = byte(0xC0 | (c >> 6));
    out[1] = byte(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = byte(0xE0 | (c >> 12));
    out[1] = byte(0x80 | ((c >> 6) & 0x3F));
    out[2] = byte(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = byte(0xF0 | (c >> 18));
  out[1] = byte(0x80 | ((c >> 12) & 0x3F));
  out[2] = byte(0x80 | ((c >> 6) & 0x3F));
  out[3] = byte(0x80 | (c & 0x3F));
  return 4;
}

void append_utf8(std::string& out, char32_t c)
{
  char bytes[4];
  out.append(bytes, encode_utf8(c, bytes));
}

}  // namespace oneseg::archive
