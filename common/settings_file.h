#pragma once
// The file side of the INI module: reading a settings file without ever
// blocking, and replacing it so that no reader sees a half-written file.
#include <sys/types.h>

#include <string>

namespace oneseg {

// What stands at a settings file's path. Only a regular file is ever read;
// one that is not regular or cannot be read is never replaced either.
enum class ini_file_status { absent, regular, not_regular, unreadable };

// Opened without blocking and checked after opening, so a FIFO or device
// put (or swapped) in the file's place cannot stall the caller. `bytes` and
// `mode` are set for a regular file only.
ini_file_status read_settings_file(const std::string& path, std::string& bytes, mode_t& mode);

// Writes a temporary file beside `path` and renames it over `path`; a link
// at `path` is replaced, never written through. False leaves the old file.
bool replace_settings_file(const std::string& path, const std::string& data, mode_t mode);

}  // namespace oneseg
