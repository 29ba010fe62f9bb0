#pragma once
#include <cstdint>

namespace skerrow {

class text_writer;
struct analysis_state;

// Whether a time of day of exactly 00:00:00 counts as a valid time. Only the
// SI transmission parameter descriptor's update time (date only, time bytes
// zero) is logged with the strict rule; programme start times and TOT/TDT
// times may well be midnight.
enum class midnight_rule { invalid, valid };

// Five bytes of a JST_time field (16-bit MJD, BCD hours, minutes, seconds).
// Returns 0 and, when stream is given, writes "y/m/d hh:mm:ss\n"; returns -1
// and writes nothing when the date or time is not valid.
int format_mjd_time(const std::uint8_t* b, text_writer* stream,
                    midnight_rule midnight = midnight_rule::invalid);

// Caption time "hh:mm:ss" from bytes 2-4 of a JST_time field. Bytes that are
// not a valid BCD time of day leave the caption time as it was; returns
// whether it was set.
bool set_caption_time(analysis_state& state, const std::uint8_t* b);

}  // namespace skerrow
