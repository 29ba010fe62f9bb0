#pragma once
// Conversions of the recorder's date-time (days since 1899-12-30, local or
// broadcast time as sent) and the texts and names made from it.
#include <cstdint>
#include <string>

#include "broadcast_time.h"
#include "clock.h"

namespace brannock {

// MJD 15018 is 1899-12-30, day 0 of a TDateTime.
constexpr int kMjdOfDateTimeEpoch = 15018;

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
// Rounded to the nearest second.
oneseg::CivilTime DecodeDateTime(TDateTime t);
// Whole seconds since 1899-12-30, rounded; exact comparisons go through this.
std::int64_t DateTimeSeconds(TDateTime t);

// "yy/mm/dd hh:nn:ss"
std::string FormatBroadcastTime(TDateTime t);
// yymmdd
std::string DateFolderFor(TDateTime t);
// yymmddhhm + "_Ch" + channel: the ten-minute period of t on that channel.
std::string FileBaseFor(TDateTime t, int channel);

}  // namespace brannock
