#pragma once

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
// `base_path`: same folder, same date, hhm of the shifted start time (wrapping
// around midnight), same channel suffix.
std::string neighbour_base(const std::string& base_path, int start_minutes, int delta_minutes);

}  // namespace pellatt
