#pragma once
#include <cstdint>

namespace oneseg {

// A calendar date-time as carried by ISDB's 40-bit JST_time field: a 16-bit
// Modified Julian Date followed by hour, minute and second in BCD.
struct CivilTime {
  int year = 0;    // e.g. 2008
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Two BCD digits; returns -1 when either nibble is above 9.
int bcd_to_int(std::uint8_t bcd);
std::uint8_t int_to_bcd(int value);  // value 0..99

// Integer Modified Julian Date conversions (exact for 1900-03-01 .. 2100-02-28).
CivilTime mjd_to_date(std::uint16_t mjd);
std::uint16_t date_to_mjd(int year, int month, int day);
// The same on a wide day count: dates after 2038-04-22 lie beyond the 16-bit
// field and would wrap to the 1850s there.
CivilTime mjd_to_date_wide(std::int64_t mjd);
std::int64_t date_to_mjd_wide(int year, int month, int day);

// Decodes the five bytes of a JST_time field. Returns false when any BCD digit is invalid.
bool decode_jst_time(const std::uint8_t* five_bytes, CivilTime& out);
void encode_jst_time(const CivilTime& t, std::uint8_t* five_bytes);

}  // namespace oneseg
