#pragma once
// Settings files with the semantics of the classic profile-string functions:
// section and key names compare case-insensitively, a missing file, section or
// key yields the caller's default, the first write creates the file, and a
// write keeps every other section, key and comment line. Each call reads the
// file afresh; a write replaces the file atomically (temporary file + rename),
// so a crash never leaves a half-written settings file.
//
// Files are hand-edited, often by Japanese editors, so each line is decoded on
// its own: a valid UTF-8 line is UTF-8, any other line Shift-JIS. A write
// changes only the value of its key's line, in the line's own encoding, and
// keeps every other byte of the file (line ends, comments, order).
#include <string>
#include <vector>

#include "settings_file.h"

namespace oneseg {

// What stands at the path (see ini_file_status): a caller can say why its
// settings fall back to the defaults.
ini_file_status ini_check_file(const std::string& path);

std::string ini_read_string(const std::string& path, const std::string& section, const std::string& key,
                            const std::string& fallback);

// Decimal, or hexadecimal after "0x"; leading digits count ("12ab" reads 12).
// A value that starts with no digit yields the fallback.
int ini_read_int(const std::string& path, const std::string& section, const std::string& key, int fallback);

// All "key=value" lines of a section, in file order (comments left out).
std::vector<std::string> ini_read_section(const std::string& path, const std::string& section);

// False when the file could not be written (the old file is then unchanged).
// A value read quoted is written quoted, and so is one that would not read
// back as itself unquoted (leading or trailing spaces, surrounding quotes).
// A line break in any argument is refused: it would split the line.
bool ini_write_string(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& value);

// The profile-int reading of one value, exposed for callers holding a value.
int ini_parse_int(const std::string& value, int fallback);

}  // namespace oneseg
