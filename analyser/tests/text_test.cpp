// ARIB 8-unit decoding and the Shift-JIS converter, against the byte values
// the character code tables give.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "arib_text.h"
#include "text_writer.h"

namespace skerrow {
namespace {

std::string decode(std::vector<unsigned char> bytes)
{
    std::string out;
    decode_arib_text(bytes.data(), bytes.size(), out);
    return out;
}

std::string decode_through_writer(std::vector<unsigned char> bytes)
{
    std::string out;
    {
        text_writer w;
        w.open_memory(&out);
        decode_arib_text(bytes.data(), bytes.size(), w);
        w.close();
    }
    return out;
}

std::string euc(std::string_view sjis)
{
    std::string s(sjis);
    std::string out(s.size() + 1, '\0');
    sjis_to_euc(s.c_str(), out.data());
    out.resize(std::char_traits<char>::length(out.c_str()));
    return out;
}

TEST(SjisToEuc, PairsFollowTheJisRows)
{
    // あ 0x82A0 -> A4A2, 亜 0x889F -> B0A1, 漢 0x8ABF -> B4C1, 黒 0x8D95 -> B9F5,
    // 腕 0x9872 -> CFD3, 熙 0xEAA4 -> F4A6 (the last JIS X 0208 code point).
    EXPECT_EQ(euc("\x82\xa0\x88\x9f\x8a\xbf\x8d\x95\x98\x72\xea\xa4"),
              "\xa4\xa2\xb0\xa1\xb4\xc1\xb9\xf5\xcf\xd3\xf4\xa6");
}

TEST(SjisToEuc, AsciiStaysAndLengthIsKept)
{
    EXPECT_EQ(euc("[\x8e\xe8]x"), "[\xbc\xea]x");  // [手]x
    EXPECT_EQ(euc(""), "");
}

TEST(SjisToEuc, LoneLeadByteAtTheEndIsDropped)
{
    // The converter must stop at the terminator rather than pair it.
    char dst[8];
    std::memset(dst, 'Z', sizeof dst);
    sjis_to_euc("a\x82", dst);
    EXPECT_STREQ(dst, "a");
}

TEST(SjisPairToEuc, BothHalvesOfTheSecondByteRange)
{
    unsigned char f = 0x81, s = 0x40;  // 　 (ideographic space) -> A1A1
    sjis_pair_to_euc(f, s);
    EXPECT_EQ(f, 0xA1);
    EXPECT_EQ(s, 0xA1);
    f = 0x81, s = 0x7E;  // × -> A1DF (second byte up to 0x7F)
    sjis_pair_to_euc(f, s);
    EXPECT_EQ(f, 0xA1);
    EXPECT_EQ(s, 0xDF);
    f = 0x81, s = 0x80;  // ÷ -> A1E0 (second byte above 0x7F, below 0x9F)
    sjis_pair_to_euc(f, s);
    EXPECT_EQ(f, 0xA1);
    EXPECT_EQ(s, 0xE0);
    f = 0x81, s = 0x9F;  // ◆ -> A2A1 (second byte from 0x9F moves to the next row)
    sjis_pair_to_euc(f, s);
    EXPECT_EQ(f, 0xA2);
    EXPECT_EQ(s, 0xA1);
    f = 0xE0, s = 0x40;  // 漾 -> DFA1 (lead byte above 0x9F)
    sjis_pair_to_euc(f, s);
    EXPECT_EQ(f, 0xDF);
    EXPECT_EQ(s, 0xA1);
}

TEST(AribText, EmptyStringWritesNothing)
{
    EXPECT_EQ(decode({}), "");
    EXPECT_EQ(decode_through_writer({}), "");
}

TEST(AribText, AdditionalSymbols)
{
    EXPECT_EQ(decode({0x7A, 0x50}), "[HV]");
    EXPECT_EQ(decode({0x7A, 0x73}), "(\xc8\xeb)");  // (秘)
    EXPECT_EQ(decode({0x7E, 0x6A}), "(10)");
    EXPECT_EQ(decode({0x7A, 0x4D}), "10.");
    EXPECT_EQ(decode({0x7A, 0x74}), "[\xc2\xbe]");  // [他]
    EXPECT_EQ(decode({0x7A, 0x60}), "\xa2\xa3");    // ■
    EXPECT_EQ(decode({0x7A, 0x61}), "\xa1\xfc");    // ●
    EXPECT_EQ(decode({0x7E, 0x70}), "(16)");
    EXPECT_EQ(decode({0x7D, 0x6E}), "!!");
    EXPECT_EQ(decode({0x7D, 0x6F}), "!?");
}

TEST(AribText, UnknownAdditionalSymbols)
{
    EXPECT_EQ(decode({0x7D, 0x7A}), "[UNK7d7a]");
    EXPECT_EQ(decode({0x7A, 0x4C}), "[UNK7a4c]");
    EXPECT_EQ(decode({0x7A, 0x75}), "[UNK7a75]");
    EXPECT_EQ(decode({0x7E, 0x71}), "[UNK7e71]");
    // Reached through GR as well, once G1 holds Kanji and is invoked into GR.
    EXPECT_EQ(decode({0x1B, 0x7E, 0x1B, 0x24, 0x29, 0x42, 0xFB, 0xA1}), "[UNK7b21]");
}

TEST(AribText, KanaSetsInGrAndTheirSymbols)
{
    EXPECT_EQ(decode({0xA2}), "\xa4\xa2");             // あ
    EXPECT_EQ(decode({0xF7}), "\xa1\xb5");             // ゝ
    EXPECT_EQ(decode({0xF9, 0xFA}), "\xa1\xbc\xa1\xa3");  // ー。
    EXPECT_EQ(decode({0xFF}), "");                     // 0x7F: empty text
    EXPECT_EQ(decode({0xA0}), " ");
    // Katakana through LS3R: ア, then ヽ and ・.
    EXPECT_EQ(decode({0x1B, 0x7C, 0xA2, 0xF7, 0xFE}), "\xa5\xa2\xa1\xb3\xa1\xa6");
}

TEST(AribText, KanjiPairsAndSpacesKeepParity)
{
    EXPECT_EQ(decode({0x21, 0x21}), "\xa1\xa1");
    // A space between Kanji does not shift the pair count, so the symbol after
    // it is still recognised.
    EXPECT_EQ(decode({0x30, 0x21, 0x20, 0x7A, 0x50}), "\xb0\xa1 [HV]");
    // 0x7A as the second byte of a Kanji pair is ordinary text.
    EXPECT_EQ(decode({0x30, 0x7A, 0x7A, 0x56}), "\xb0\xfa[\xbb\xfa]");
}

TEST(AribText, LockingAndSingleShifts)
{
    EXPECT_EQ(decode({0x0E, 0x41}), "A");
    EXPECT_EQ(decode({0x1B, 0x29, 0x30, 0x0E, 0x21}), "\xa4\xa1");
    EXPECT_EQ(decode({0x19, 0x21, 0x21}), "\xa4\xa1\xa1");
    // SS3 to katakana for one byte, then back to Kanji.
    EXPECT_EQ(decode({0x1D, 0x22, 0x30, 0x21}), "\xa5\xa2\xb0\xa1");
    // LS2 then LS0 back.
    EXPECT_EQ(decode({0x1B, 0x6E, 0x22, 0x0F, 0x30, 0x21}), "\xa4\xa2\xb0\xa1");
    // GL refers to the register: designating into G1 while it is invoked changes the output.
    EXPECT_EQ(decode({0x0E, 0x41, 0x1B, 0x29, 0x31, 0x22}), "A\xa5\xa2");
    // LS1R puts alphanumerics into GR.
    EXPECT_EQ(decode({0x1B, 0x7E, 0xC1}), "A");
}

TEST(AribText, Designations)
{
    // DRCS one-byte designation: the final byte is consumed, G0 keeps Kanji.
    EXPECT_EQ(decode({0x1B, 0x28, 0x20, 0x41, 0x21, 0x21}), "\xa1\xa1");
    // Two-byte designation into G1, then LS1: Kanji in GL from G1.
    EXPECT_EQ(decode({0x1B, 0x24, 0x29, 0x42, 0x0E, 0x30, 0x21}), "\xb0\xa1");
    // Two-byte designation into G0 after G0 was made alphanumeric.
    EXPECT_EQ(decode({0x1B, 0x28, 0x4A, 0x41, 0x1B, 0x24, 0x42, 0x30, 0x21}), "A\xb0\xa1");
    // Two-byte DRCS designations (ESC 0x24 0x20 0x20 F, ESC 0x24 0x29 0x20 F)
    // are read to their final byte and change nothing.
    EXPECT_EQ(decode({0x1B, 0x24, 0x20, 0x20, 0x41, 0x30, 0x21}), "\xb0\xa1");
    EXPECT_EQ(decode({0x1B, 0x24, 0x29, 0x20, 0x41, 0x30, 0x21}), "\xb0\xa1");
    // Mosaic designation leaves G0 as it was.
    EXPECT_EQ(decode({0x1B, 0x28, 0x32, 0x21, 0x21}), "\xa1\xa1");
    // Unknown escape: the byte is handled as in ground (0x41 in Kanji -> 0xC1).
    EXPECT_EQ(decode({0x1B, 0x41, 0x41}), "\xc1\xc1");
}

TEST(AribText, ControlsAreEscapedOrWrittenAsOneByte)
{
    EXPECT_EQ(decode({0x0D}), "\\r");
    EXPECT_EQ(decode({0x8A}), "\\n");
    EXPECT_EQ(decode({0x89}), "\\t");
    EXPECT_EQ(decode({0x1C, 0x41, 0x41}), "\x1c\xc1\xc1");
    // A control between the halves of an additional symbol keeps it held.
    EXPECT_EQ(decode({0x7A, 0x0D, 0x50}), "\\r[HV]");
}

TEST(AribText, TruncatedSequencesWriteNothingMore)
{
    EXPECT_EQ(decode({0x21, 0x21, 0x1B}), "\xa1\xa1");
    EXPECT_EQ(decode({0x7A}), "");
    EXPECT_EQ(decode({0x1B, 0x24, 0x29}), "");
}

TEST(AribText, WriterGetsTheSameBytes)
{
    const std::vector<unsigned char> text = {0x30, 0x21, 0x0D, 0x7A, 0x56, 0xA2, 0x1B, 0x7E, 0xC1};
    EXPECT_EQ(decode_through_writer(text), decode(text));
    EXPECT_EQ(decode(text), "\xb0\xa1\\r[\xbb\xfa]\xa4\xa2" "A");
}

TEST(AribText, AnyByteSequenceIsSafe)
{
    // Every byte value after every other, in all escape states: no crash and
    // output bounded by 13 bytes per input byte.
    std::vector<unsigned char> all;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; b += 7) {
            all.push_back(static_cast<unsigned char>(a));
            all.push_back(static_cast<unsigned char>(b));
        }
    const std::string out = decode(all);
    EXPECT_LE(out.size(), all.size() * 13);
    EXPECT_GT(out.size(), 0u);
}

}  // namespace
}  // namespace skerrow
