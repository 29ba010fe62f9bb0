// UTF-8 texts into EUC-JP and the 8-unit code.
#include <gtest/gtest.h>

#include "arib_text.h"

namespace {

using namespace oneseg::synth;

Bytes b(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(static_cast<std::uint8_t>(x));
  return out;
}

TEST(EucJp, RoundTripThroughIconv) {
  const std::string text = "放送局テストＡＢＣ１２３あいう";
  const std::string euc = utf8_to_eucjp(text);
  EXPECT_EQ(static_cast<unsigned char>(euc[0]), 0xCA);  // 放 is 0xCAFC
  EXPECT_EQ(static_cast<unsigned char>(euc[1]), 0xFC);
  EXPECT_EQ(eucjp_to_utf8(euc), text);
  EXPECT_THROW(utf8_to_eucjp("絵文字😀"), TextError);
}

TEST(SiText, EachScriptThroughItsSetAndInvocation) {
  EXPECT_EQ(encode_si_text(""), Bytes{});
  EXPECT_EQ(encode_si_text("あい"), b({0xA2, 0xA4}));                    // hiragana: G2 in GR
  EXPECT_EQ(encode_si_text("アイ"), b({0x1B, 0x7C, 0xA2, 0xA4}));        // katakana: LS3R first
  EXPECT_EQ(encode_si_text("亜"), b({0x30, 0x21}));                       // Kanji: G0 in GL
  EXPECT_EQ(encode_si_text("AB 1"), b({0x0E, 0x41, 0x42, 0x20, 0x31}));  // alphanumerics after LS1
  EXPECT_EQ(encode_si_text("A亜"), b({0x0E, 0x41, 0x0F, 0x30, 0x21}));   // LS0 back to Kanji
  EXPECT_EQ(encode_si_text("アあア"), b({0x1B, 0x7C, 0xA2, 0x1B, 0x7D, 0xA2, 0x1B, 0x7C, 0xA2}));
  // Symbols of row 1 (、。「」) are Kanji-set characters, not hiragana codes.
  EXPECT_EQ(encode_si_text("。"), b({0x21, 0x23}));
}

TEST(SiText, BracketedAdditionalSymbols) {
  EXPECT_EQ(encode_si_text("[字]"), b({0x7A, 0x56}));
  EXPECT_EQ(encode_si_text("(秘)"), b({0x7A, 0x73}));
  EXPECT_EQ(encode_si_text("(10)(1)"), b({0x7E, 0x6A, 0x7E, 0x61}));
  EXPECT_EQ(encode_si_text("A[新]"), b({0x0E, 0x41, 0x0F, 0x7A, 0x6B}));
  // A bracket that names no symbol stays text.
  EXPECT_EQ(encode_si_text("[X]"), b({0x0E, 0x5B, 0x58, 0x5D}));
}

TEST(SiText, RefusesControlsAndCharactersOutsideJisX0208) {
  EXPECT_THROW(encode_si_text("a\nb"), TextError);
  EXPECT_THROW(encode_si_text("ｱ"), TextError);  // half-width katakana
  EXPECT_THROW(encode_si_text("①"), TextError);  // not in glibc's EUC-JP
  try {
    encode_si_text("ab\xff");
    FAIL() << "invalid UTF-8 accepted";
  } catch (const TextError& e) {
    EXPECT_NE(std::string(e.what()).find("at byte 2"), std::string::npos) << e.what();
  }
}

TEST(CaptionText, KanjiInGrAsEucPairsAndWhatAReceiverShows) {
  const CaptionBody c = encode_caption_text("あい漢字");
  EXPECT_EQ(c.bytes, b({0xA4, 0xA2, 0xA4, 0xA4, 0xB4, 0xC1, 0xBB, 0xFA}));
  EXPECT_EQ(c.visible_text, "あい漢字");
}

TEST(CaptionText, AlphanumericsAndControlsAreSentButNotShown) {
  const CaptionBody c = encode_caption_text("\x0c" "AB字\u0089");
  EXPECT_EQ(c.bytes, b({0x0C, 0x0E, 0x41, 0x42, 0x0F, 0xBB, 0xFA, 0x89}));
  EXPECT_EQ(c.visible_text, "字");
  EXPECT_EQ(encode_caption_text("A").bytes, b({0x0E, 0x41, 0x0F}));
  EXPECT_EQ(encode_caption_text("123").visible_text, "");
}

TEST(CaptionText, AdditionalSymbolsMarkup) {
  const CaptionBody c = encode_caption_text("{sym:7C21}{sym:7D7A}{sym:7A50}");
  EXPECT_EQ(c.bytes, b({0xFC, 0xA1, 0xFD, 0xFA, 0xFA, 0xD0}));
  EXPECT_EQ(c.visible_text, "→♪[UNK7a50]");
}

TEST(CaptionText, MarkupOutOfRangeOrMalformed) {
  EXPECT_THROW(encode_caption_text("{sym:2121}"), TextError);
  // Not markup at all: sent as alphanumerics.
  EXPECT_EQ(encode_caption_text("{sym:7C2}").visible_text, "");
}

}  // namespace
