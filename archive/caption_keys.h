#pragma once
// Caption rows are numbered by broadcast time: 64 numbers per second, taken
// in order of time, channel and line. The full-text index keeps its hits in
// row order, so it hands out the newest first and a page of hits stops early
// instead of sorting every match; close numbers keep its lists small. More
// than 64 lines in a second (a stream without time packets stamps every line
// alike) spill into the following numbers, and a number already taken moves
// on to the next free one: order then bends by a second, uniqueness never does.
// A row stores its time only where it differs from the time its number
// says, and numbers count from 2000, which keeps rows short.
#include <cstdint>

namespace oneseg::archive {

inline constexpr std::int64_t caption_keys_per_second = 64;
inline constexpr std::int64_t caption_key_epoch = 946684800;  // 2000-01-01 00:00:00

inline std::int64_t first_caption_key(std::int64_t broadcast_seconds)
{
  return (broadcast_seconds - caption_key_epoch) * caption_keys_per_second;
}

inline std::int64_t time_of_caption_key(std::int64_t key)
{
  return key / caption_keys_per_second + caption_key_epoch;
}

// The time of the caption row c, in SQL.
#define ONESEG_CAPTION_TIME "coalesce(c.time, c.id / 64 + 946684800)"


}  // namespace oneseg::archive
