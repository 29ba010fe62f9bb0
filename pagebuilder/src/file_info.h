#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace pellatt {

// Size in bytes of the file at `path`, 0 when there is none.
std::int64_t file_size(const std::string& path);
bool file_exists(const std::string& path);
// Whether anything, a dangling link included, is at `path`.
bool entry_exists(const std::string& path);
bool is_link(const std::string& path);

// Replaces the contents of the file at `path` with `bytes`, never through a
// link at `path` itself. Throws JobError when it cannot.
void write_new_file(const std::string& path, const std::string& bytes);

// When the recording at `ts_path` was created: its birth time where the file
// system keeps one and it lies within the ten minutes its name yymmddhhm
// (local time) stands for, else that named start, else its modification
// time. Throws JobError when none is known.
std::time_t creation_time(const std::string& ts_path);

// The start time encoded in a recording's base name, or -1 when the name does
// not hold a valid date and time.
std::time_t time_from_name(const std::string& base_name);

}  // namespace pellatt
