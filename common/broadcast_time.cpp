#include "broadcast_time.h"

namespace oneseg {

int bcd_to_int(std::uint8_t bcd) {
  const int hi = bcd >> 4, lo = bcd & 0x0F;
  if (hi > 9 || lo > 9) return -1;
  return hi * 10 + lo;
}

std::uint8_t int_to_bcd(int value) {
  return static_cast<std::uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

// Day-count arithmetic on the proleptic Gregorian calendar; MJD 0 is 1858-11-17.
namespace {
constexpr long kMjdOfCivilEpoch = 40587;  // 1970-01-01

long days_from_civil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}
}  // namespace

CivilTime mjd_to_date(std::uint16_t mjd) { return mjd_to_date_wide(mjd); }

CivilTime mjd_to_date_wide(std::int64_t mjd) {
  const long z = static_cast<long>(mjd) - kMjdOfCivilEpoch + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  CivilTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(static_cast<long>(yoe) + era * 400 + (t.month <= 2));
  return t;
}

std::uint16_t date_to_mjd(int year, int month, int day) {
  return static_cast<std::uint16_t>(date_to_mjd_wide(year, month, day));
}

std::int64_t date_to_mjd_wide(int year, int month, int day) {
  return days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kMjdOfCivilEpoch;
}

bool decode_jst_time(const std::uint8_t* b, CivilTime& out) {
  const int h = bcd_to_int(b[2]), m = bcd_to_int(b[3]), s = bcd_to_int(b[4]);
  if (h < 0 || m < 0 || s < 0) return false;
  out = mjd_to_date(static_cast<std::uint16_t>(b[0] << 8 | b[1]));
  out.hour = h;
  out.minute = m;
  out.second = s;
  return true;
}

void encode_jst_time(const CivilTime& t, std::uint8_t* b) {
  const std::uint16_t mjd = date_to_mjd(t.year, t.month, t.day);
  b[0] = static_cast<std::uint8_t>(mjd >> 8);
  b[1] = static_cast<std::uint8_t>(mjd);
  b[2] = int_to_bcd(t.hour);
  b[3] = int_to_bcd(t.minute);
  b[4] = int_to_bcd(t.second);
}

}  // namespace oneseg
