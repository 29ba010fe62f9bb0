#include <gtest/gtest.h>

#include <cstring>

#include "broadcast_time.h"
#include "crc32.h"

using namespace oneseg;

TEST(Crc32Mpeg2, CheckValueAndWholeSectionResidue) {
  const char* text = "123456789";
  EXPECT_EQ(0x0376E6E7u, crc32_mpeg2(reinterpret_cast<const std::uint8_t*>(text), 9));
  // A PAT section with its CRC appended checks to zero.
  std::uint8_t pat[16] = {0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xFF, 0xC8};
  const std::uint32_t crc = crc32_mpeg2(pat, 12);
  for (int i = 0; i < 4; ++i) pat[12 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  EXPECT_EQ(0u, crc32_mpeg2(pat, 16));
}

TEST(BroadcastTime, MjdExamplesAndRoundTrip) {
  // The worked example of the DVB/ARIB time field: 93/10/13 12:45:00 = 0xC079124500.
  const std::uint8_t field[5] = {0xC0, 0x79, 0x12, 0x45, 0x00};
  CivilTime t;
  ASSERT_TRUE(decode_jst_time(field, t));
  EXPECT_EQ(1993, t.year);
  EXPECT_EQ(10, t.month);
  EXPECT_EQ(13, t.day);
  EXPECT_EQ(12, t.hour);
  EXPECT_EQ(45, t.minute);
  std::uint8_t back[5];
  encode_jst_time(t, back);
  EXPECT_EQ(0, std::memcmp(field, back, 5));
  for (int mjd : {15079, 51544, 54806, 60000, 65535}) {
    const CivilTime d = mjd_to_date(static_cast<std::uint16_t>(mjd));
    EXPECT_EQ(mjd, date_to_mjd(d.year, d.month, d.day)) << mjd;
  }
  EXPECT_EQ(date_to_mjd(2008, 12, 6), 54806);
  // Past the 16-bit field the wide day count goes on instead of wrapping.
  EXPECT_EQ(date_to_mjd_wide(2038, 4, 23), 65536);
  const CivilTime late = mjd_to_date_wide(date_to_mjd_wide(2099, 12, 31));
  EXPECT_EQ(late.year * 10000 + late.month * 100 + late.day, 20991231);
}

TEST(BroadcastTime, InvalidBcdIsRejected) {
  EXPECT_EQ(-1, bcd_to_int(0x1A));
  EXPECT_EQ(-1, bcd_to_int(0xA1));
  EXPECT_EQ(59, bcd_to_int(0x59));
  const std::uint8_t field[5] = {0xC0, 0x79, 0x12, 0x4F, 0x00};
  CivilTime t;
  EXPECT_FALSE(decode_jst_time(field, t));
}
