#pragma once
// Broadcast time (Japan time as the time packets carry it) as whole seconds
// counted like Unix time, but without any time zone: the archive compares and
// prints it, and never turns it into the machine's local time.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oneseg::archive {

std::int64_t broadcast_seconds(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// "yyyy-mm-dd hh:mm:ss"
std::string format_broadcast_time(std::int64_t seconds);

// "yyyy-mm-dd" -> the day's first second; nullopt when not a real date.
std::optional<std::int64_t> parse_day(std::string_view text);

inline constexpr std::int64_t seconds_per_day = 86400;

}  // namespace oneseg::archive
