#pragma once
// Text for the stream: UTF-8 scenario texts turned into EUC-JP (through
// iconv) and into the ARIB 8-unit code of SI texts and caption statements.
#include <stdexcept>
#include <string>
#include <string_view>

#include "ts_packets.h"

namespace oneseg::synth {

// A text that cannot be carried; what() names the character and its position.
struct TextError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// UTF-8 to EUC-JP (glibc iconv). Throws TextError.
std::string utf8_to_eucjp(std::string_view utf8);
std::string eucjp_to_utf8(std::string_view euc);

// An SI text (station, network, event name or description) in the 8-unit
// code, starting from the receiver's initial state (G0 Kanji, G1
// alphanumeric, G2 hiragana, G3 katakana, GL=G0, GR=G2): Kanji and symbols
// through GL, hiragana and katakana as one-byte codes through GR,
// alphanumerics after LS1. Bracketed additional symbols such as "[字]" or
// "(1)" are sent as their two-byte symbol codes. Throws TextError.
Bytes encode_si_text(std::string_view utf8);

// A caption statement body in the one-segment code state (Kanji invoked into
// GR, so every two-byte character is its EUC-JP pair). Control characters
// (U+0000-U+001F, U+007F, U+0080-U+009F) pass as raw control bytes; the
// markup "{sym:XXYY}" (XX 75-7E, YY 21-7E, hexadecimal) sends an additional
// symbol; alphanumerics go through GL after LS1.
struct CaptionBody {
  Bytes bytes;
  // What a receiver that keeps only the two-byte characters shows, in UTF-8:
  // JIS X 0208 characters, "→" and "♪" for those two symbols, "[UNKxxyy]"
  // for any other symbol; alphanumerics and controls are left out.
  std::string visible_text;
};
CaptionBody encode_caption_text(std::string_view utf8);

}  // namespace oneseg::synth
