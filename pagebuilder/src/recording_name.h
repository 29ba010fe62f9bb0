#pragma once

#include <ctime>
#include <string>

namespace pellatt {

// Path pieces with "/" as separator.
std::string folder_of(const std::string& path);    // with trailing "/", or "" when none
std::string file_name_of(const std::string& path);
std::string change_ext(const std::string& path, const std::string& ext);  // ext with its dot
std::string strip_ext(const std::string& path);

// Start of a recording named yymmddhhm_Ch<n>, in minutes after midnight:
// hours from characters 7-8, minutes ten times character 9. Throws JobError
// when those characters are not digits or do not make a time of day.
int start_minutes_of(const std::string& base_name);

// Base path of the recording `delta_minutes` after (or before) the one at
// `base_path`: hhm of the shifted start time, same channel suffix. Across
// midnight the date in the name moves to the neighbouring day, and so does the
// folder when the recording lies in its day folder (named yymmdd).
std::string neighbour_base(const std::string& base_path, int start_minutes, int delta_minutes);

// The same neighbour as a link from the page beside `base_path`: its file name,
// or "../yymmdd/" + its file name when it lies in the neighbouring day folder.
std::string neighbour_link(const std::string& base_path, int start_minutes, int delta_minutes);

int days_in_month(int year, int month);

// The date yymmdd (20yy) moved by `days`; the text unchanged when it is not a date.
std::string shift_date(const std::string& yymmdd, int days);

// End of the ten minutes of broadcast time (Japan time, UTC+9) a recording's
// name yymmddhhm stands for, as seconds since the epoch; -1 when the name
// holds no valid date and time.
std::time_t broadcast_period_end(const std::string& base_name);

}  // namespace pellatt
