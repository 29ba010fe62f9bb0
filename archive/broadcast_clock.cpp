#include "broadcast_clock.h"

#include <cstdio>

#include "broadcast_time.h"

namespace oneseg::archive {

namespace {
constexpr std::int64_t mjd_of_1970 = 40587;
}

std::int64_t broadcast_seconds(int year, int month, int day, int hour, int minute, int second)
{
  const std::int64_t mjd = oneseg::date_to_mjd(year, month, day);
  return (mjd - mjd_of_1970) * seconds_per_day + hour * 3600 + minute * 60 + second;
}

std::string format_broadcast_time(std::int64_t seconds)
{
  const std::int64_t days = seconds >= 0 ? seconds / seconds_per_day : (seconds - seconds_per_day + 1) / seconds_per_day;
  const std::int64_t in_day = seconds - days * seconds_per_day;
  const oneseg::CivilTime date = oneseg::mjd_to_date(static_cast<std::uint16_t>(days + mjd_of_1970));
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date.year, date.month, date.day,
                static_cast<int>(in_day / 3600), static_cast<int>(in_day / 60 % 60), static_cast<int>(in_day % 60));
  return text;
}

std::optional<std::int64_t> parse_day(std::string_view text)
{
  int year = 0, month = 0, day = 0;
  char tail = 0;
  const std::string copy(text);
  if (text.size() != 10 || std::sscanf(copy.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) != 3)
    return std::nullopt;
  if (year < 1901 || year > 2099 || month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  const std::int64_t seconds = broadcast_seconds(year, month, day);
  // 2026-02-30 would quietly become March: only dates that print back as given are real.
  if (format_broadcast_time(seconds).substr(0, 10) != copy) return std::nullopt;
  return seconds;
}

}  // namespace oneseg::archive
