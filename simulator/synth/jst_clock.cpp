#include "jst_clock.h"

#include <cstdio>

namespace oneseg::synth {
namespace {
constexpr std::int64_t kMjdOf1970 = 40587;
constexpr std::int64_t kDay = 86400;
}  // namespace

CivilTime to_civil(JstSeconds t) {
  const std::int64_t days = t >= 0 ? t / kDay : (t - kDay + 1) / kDay;
  const std::int64_t tod = t - days * kDay;
  CivilTime c = mjd_to_date(static_cast<std::uint16_t>(days + kMjdOf1970));
  c.hour = static_cast<int>(tod / 3600);
  c.minute = static_cast<int>(tod / 60 % 60);
  c.second = static_cast<int>(tod % 60);
  return c;
}

JstSeconds from_civil(const CivilTime& c) {
  const std::int64_t days = date_to_mjd(c.year, c.month, c.day) - kMjdOf1970;
  return days * kDay + c.hour * 3600 + c.minute * 60 + c.second;
}

std::optional<JstSeconds> parse_jst(std::string_view text) {
  CivilTime c;
  char sep = 0;
  int consumed = 0;
  const std::string s(text);
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &c.year, &c.month, &c.day, &sep, &c.hour,
                  &c.minute, &c.second, &consumed) != 7 ||
      static_cast<std::size_t>(consumed) != s.size() || (sep != 'T' && sep != ' '))
    return std::nullopt;
  // MJD is 16 bits: 1900-03-01 .. 2038-04-22 keeps it in range.
  if (c.year < 1901 || c.year > 2037 || c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 ||
      c.hour > 23 || c.minute > 59 || c.second > 59)
    return std::nullopt;
  const JstSeconds t = from_civil(c);
  const CivilTime back = to_civil(t);
  if (back.day != c.day || back.month != c.month) return std::nullopt;  // e.g. 02-30
  return t;
}

std::string format_jst(JstSeconds t) {
  const CivilTime c = to_civil(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                c.minute, c.second);
  return buf;
}

std::string format_time_of_day(JstSeconds t) { return format_jst(t).substr(11); }

void encode_jst(JstSeconds t, std::uint8_t* five_bytes) { encode_jst_time(to_civil(t), five_bytes); }

}  // namespace oneseg::synth
