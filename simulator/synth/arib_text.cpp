#include "arib_text.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace oneseg::synth {
namespace {

// One character of a text as the encoders see it.
struct Token {
  enum Kind { control, ascii, pair, symbol } kind;
  std::uint8_t first = 0, second = 0;  // EUC-JP bytes; symbols as 7-bit codes
  std::string utf8;
};

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw TextError("iconv cannot convert between these codes");
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  // Converts the whole input; false when some of it cannot be converted.
  bool convert(std::string_view in, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.assign(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t src_left = in.size(), dst_left = out.size();
    char* dst = out.data();
    const std::size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
    out.resize(out.size() - dst_left);
    return r != static_cast<std::size_t>(-1) && src_left == 0;
  }

 private:
  iconv_t cd_;
};

std::string describe(std::string_view text, std::size_t at, std::string_view what) {
  return std::string(what) + " at byte " + std::to_string(at) + " of \"" + std::string(text) + "\"";
}

// Length of the UTF-8 sequence starting at text[i] and its code point.
std::size_t utf8_char(std::string_view text, std::size_t i, char32_t& cp) {
  const auto b = static_cast<unsigned char>(text[i]);
  const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > text.size()) throw TextError(describe(text, i, "invalid UTF-8"));
  cp = n == 1 ? b : b & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) throw TextError(describe(text, i, "invalid UTF-8"));
    cp = cp << 6 | (c & 0x3F);
  }
  return n;
}

bool is_control(char32_t cp) { return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F); }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "{sym:XXYY}" at text[i]: the symbol's two 7-bit codes, or false.
bool parse_symbol_markup(std::string_view text, std::size_t i, Token& tok) {
  if (text.substr(i, 5) != "{sym:" || i + 10 > text.size() || text[i + 9] != '}') return false;
  int v[4];
  for (int k = 0; k < 4; ++k)
    if ((v[k] = hex_value(text[i + 5 + k])) < 0) return false;
  tok = {Token::symbol, static_cast<std::uint8_t>(v[0] << 4 | v[1]),
         static_cast<std::uint8_t>(v[2] << 4 | v[3]), std::string(text.substr(i, 10))};
  if (tok.first < 0x75 || tok.first > 0x7E || tok.second < 0x21 || tok.second > 0x7E)
    throw TextError(describe(text, i, "additional symbol code outside 75-7E / 21-7E"));
  return true;
}

Token character_token(Iconv& iconv, std::string_view text, std::size_t i, std::size_t n, char32_t cp) {
  Token tok{Token::control, 0, 0, std::string(text.substr(i, n))};
  if (is_control(cp)) {
    tok.first = static_cast<std::uint8_t>(cp);
    return tok;
  }
  std::string euc;
  if (!iconv.convert(tok.utf8, euc)) throw TextError(describe(text, i, "character without an EUC-JP code"));
  const auto b0 = static_cast<std::uint8_t>(euc[0]);
  if (euc.size() == 1 && b0 >= 0x20 && b0 < 0x7F) {
    tok.kind = Token::ascii;
    tok.first = b0;
    return tok;
  }
  const auto b1 = euc.size() == 2 ? static_cast<std::uint8_t>(euc[1]) : 0;
  const bool jis_x_0208 = b0 >= 0xA1 && b1 >= 0xA1 && b1 <= 0xFE && (b0 < 0xF4 || (b0 == 0xF4 && b1 <= 0xA6));
  if (!jis_x_0208) throw TextError(describe(text, i, "character outside JIS X 0208"));
  tok.kind = Token::pair;
  tok.first = b0;
  tok.second = b1;
  return tok;
}

// The bracketed additional symbols of SI texts and their codes.
struct SiSymbol {
  std::string_view text;
  std::uint8_t first, second;
};
constexpr SiSymbol kSiSymbols[] = {
    {"[HV]", 0x7A, 0x50}, {"[SD]", 0x7A, 0x51}, {"[P]", 0x7A, 0x52},   {"[W]", 0x7A, 0x53},
    {"[MV]", 0x7A, 0x54}, {"[手]", 0x7A, 0x55}, {"[字]", 0x7A, 0x56},  {"[双]", 0x7A, 0x57},
    {"[デ]", 0x7A, 0x58}, {"[S]", 0x7A, 0x59},  {"[二]", 0x7A, 0x5A},  {"[多]", 0x7A, 0x5B},
    {"[解]", 0x7A, 0x5C}, {"[SS]", 0x7A, 0x5D}, {"[B]", 0x7A, 0x5E},   {"[N]", 0x7A, 0x5F},
    {"[天]", 0x7A, 0x62}, {"[交]", 0x7A, 0x63}, {"[映]", 0x7A, 0x64},  {"[無]", 0x7A, 0x65},
    {"[料]", 0x7A, 0x66}, {"[鍵]", 0x7A, 0x67}, {"[前]", 0x7A, 0x68},  {"[後]", 0x7A, 0x69},
    {"[再]", 0x7A, 0x6A}, {"[新]", 0x7A, 0x6B}, {"[初]", 0x7A, 0x6C},  {"[終]", 0x7A, 0x6D},
    {"[生]", 0x7A, 0x6E}, {"[販]", 0x7A, 0x6F}, {"[声]", 0x7A, 0x70},  {"[吹]", 0x7A, 0x71},
    {"[PPV]", 0x7A, 0x72}, {"(秘)", 0x7A, 0x73}, {"[他]", 0x7A, 0x74}, {"(10)", 0x7E, 0x6A},
    {"(11)", 0x7E, 0x6B}, {"(12)", 0x7E, 0x6C}, {"(13)", 0x7E, 0x6D},  {"(14)", 0x7E, 0x6E},
    {"(15)", 0x7E, 0x6F}, {"(16)", 0x7E, 0x70}, {"(1)", 0x7E, 0x61},   {"(2)", 0x7E, 0x62},
    {"(3)", 0x7E, 0x63},  {"(4)", 0x7E, 0x64},  {"(5)", 0x7E, 0x65},   {"(6)", 0x7E, 0x66},
    {"(7)", 0x7E, 0x67},  {"(8)", 0x7E, 0x68},  {"(9)", 0x7E, 0x69},
};

bool parse_si_symbol(std::string_view text, std::size_t i, Token& tok) {
  for (const SiSymbol& s : kSiSymbols)
    if (text.substr(i, s.text.size()) == s.text) {
      tok = {Token::symbol, s.first, s.second, std::string(s.text)};
      return true;
    }
  return false;
}

using MarkupParser = bool (*)(std::string_view, std::size_t, Token&);

std::vector<Token> tokenize(std::string_view text, MarkupParser markup) {
  Iconv iconv("EUC-JP", "UTF-8");
  std::vector<Token> tokens;
  for (std::size_t i = 0; i < text.size();) {
    Token tok;
    if (markup(text, i, tok)) {
      i += tok.utf8.size();
    } else {
      char32_t cp = 0;
      const std::size_t n = utf8_char(text, i, cp);
      tok = character_token(iconv, text, i, n, cp);
      i += n;
    }
    tokens.push_back(std::move(tok));
  }
  return tokens;
}

constexpr std::uint8_t kEsc = 0x1B, kLs0 = 0x0F, kLs1 = 0x0E;

}  // namespace

std::string utf8_to_eucjp(std::string_view utf8) {
  Iconv iconv("EUC-JP", "UTF-8");
  std::string out;
  if (!iconv.convert(utf8, out)) throw TextError("text without an EUC-JP form: \"" + std::string(utf8) + "\"");
  return out;
}

std::string eucjp_to_utf8(std::string_view euc) {
  Iconv iconv("UTF-8", "EUC-JP");
  std::string out;
  if (!iconv.convert(euc, out)) throw TextError("bytes that are not EUC-JP");
  return out;
}

Bytes encode_si_text(std::string_view utf8) {
  enum Set { g0, g1, g2, g3 };
  Set gl = g0, gr = g2;
  Bytes out;
  auto invoke_gl = [&](Set s) {
    if (gl != s) out.push_back(s == g0 ? kLs0 : kLs1);
    gl = s;
  };
  auto invoke_gr = [&](Set s) {
    if (gr != s) out.insert(out.end(), {kEsc, static_cast<std::uint8_t>(s == g2 ? 0x7D : 0x7C)});
    gr = s;
  };
  for (const Token& t : tokenize(utf8, parse_si_symbol)) {
    switch (t.kind) {
      case Token::control:
        throw TextError("control character in SI text \"" + std::string(utf8) + "\"");
      case Token::ascii:
        if (t.first == ' ') break;  // a space is a space in every set
        invoke_gl(g1);
        break;
      case Token::symbol:
        invoke_gl(g0);
        out.insert(out.end(), {t.first, t.second});
        continue;
      case Token::pair:
        if (t.first == 0xA4 && t.second < 0xF7) {
          invoke_gr(g2);
          out.push_back(t.second);
          continue;
        }
        if (t.first == 0xA5 && t.second < 0xF7) {
          invoke_gr(g3);
          out.push_back(t.second);
          continue;
        }
        invoke_gl(g0);
        out.insert(out.end(), {static_cast<std::uint8_t>(t.first & 0x7F), static_cast<std::uint8_t>(t.second & 0x7F)});
        continue;
    }
    out.push_back(t.first);
  }
  return out;
}

namespace {
std::string visible_symbol(std::uint8_t first, std::uint8_t second) {
  if (first == 0x7C && second == 0x21) return "→";
  if (first == 0x7D && second == 0x7A) return "♪";
  char buf[16];
  std::snprintf(buf, sizeof buf, "[UNK%02x%02x]", first, second);
  return buf;
}
}  // namespace

CaptionBody encode_caption_text(std::string_view utf8) {
  CaptionBody body;
  bool in_alphanumeric = false;
  for (const Token& t : tokenize(utf8, parse_symbol_markup)) {
    if (t.kind == Token::ascii && !in_alphanumeric) body.bytes.push_back(kLs1);
    if (t.kind != Token::ascii && t.kind != Token::control && in_alphanumeric) body.bytes.push_back(kLs0);
    if (t.kind != Token::control) in_alphanumeric = t.kind == Token::ascii;
    switch (t.kind) {
      case Token::control:
      case Token::ascii:
        body.bytes.push_back(t.first);
        break;
      case Token::pair:
        body.bytes.insert(body.bytes.end(), {t.first, t.second});
        body.visible_text += t.utf8;
        break;
      case Token::symbol:
        body.bytes.insert(body.bytes.end(), {static_cast<std::uint8_t>(t.first | 0x80),
                                             static_cast<std::uint8_t>(t.second | 0x80)});
        body.visible_text += visible_symbol(t.first, t.second);
        break;
    }
  }
  if (in_alphanumeric) body.bytes.push_back(kLs0);
  return body;
}

}  // namespace oneseg::synth
