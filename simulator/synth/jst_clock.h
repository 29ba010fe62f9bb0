#pragma once
// Broadcast (Japan) time as whole seconds since 1970-01-01 00:00 JST, with
// the conversions the scenario and the time tables need.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "broadcast_time.h"

namespace oneseg::synth {

using JstSeconds = std::int64_t;

CivilTime to_civil(JstSeconds t);
JstSeconds from_civil(const CivilTime& c);
// "YYYY-MM-DDTHH:MM:SS" (a space instead of T is accepted); nullopt if malformed.
std::optional<JstSeconds> parse_jst(std::string_view text);
std::string format_jst(JstSeconds t);          // "YYYY-MM-DDTHH:MM:SS"
std::string format_time_of_day(JstSeconds t);  // "HH:MM:SS"
void encode_jst(JstSeconds t, std::uint8_t* five_bytes);

}  // namespace oneseg::synth
