#include "datetime.h"

#include <cmath>
#include <cstdio>

namespace brannock {

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  const auto days = static_cast<double>(oneseg::date_to_mjd_wide(year, month, day) - kMjdOfDateTimeEpoch);
  return days + (hour * 3600 + minute * 60 + second) / 86400.0;
}

std::int64_t DateTimeSeconds(TDateTime t) { return std::llround(t * 86400.0); }

oneseg::CivilTime DecodeDateTime(TDateTime t) {
  const std::int64_t seconds = DateTimeSeconds(t);
  std::int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  oneseg::CivilTime c = oneseg::mjd_to_date_wide(days + kMjdOfDateTimeEpoch);
  c.hour = static_cast<int>(rest / 3600);
  c.minute = static_cast<int>(rest / 60 % 60);
  c.second = static_cast<int>(rest % 60);
  return c;
}

std::string FormatBroadcastTime(TDateTime t) {
  const oneseg::CivilTime c = DecodeDateTime(t);
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", c.year % 100, c.month, c.day, c.hour,
                c.minute, c.second);
  return text;
}

std::string DateFolderFor(TDateTime t) {
  const oneseg::CivilTime c = DecodeDateTime(t);
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", c.year % 100, c.month, c.day);
  return text;
}

std::string FileBaseFor(TDateTime t, int channel) {
  const oneseg::CivilTime c = DecodeDateTime(t);
  char text[48];
  std::snprintf(text, sizeof text, "%02d%02d%02d%02d%d_Ch%d", c.year % 100, c.month, c.day, c.hour,
                c.minute / 10, channel);
  return text;
}

}  // namespace brannock
