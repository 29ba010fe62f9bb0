#pragma once
// Settings files with the semantics of the classic profile-string functions:
// section and key names compare case-insensitively, a missing file, section or
// key yields the caller's default, the first write creates the file, and a
// write keeps every other section, key and comment line. Each call reads the
// file afresh; a write replaces the file atomically (temporary file + rename),
// so a crash never leaves a half-written settings file.
//
// Text is UTF-8; a file that is not valid UTF-8 is read as Shift-JIS.
#include <string>
#include <vector>

namespace oneseg {

std::string ini_read_string(const std::string& path, const std::string& section, const std::string& key,
                            const std::string& fallback);

// Decimal, or hexadecimal after "0x"; leading digits count ("12ab" reads 12).
// A value that starts with no digit yields the fallback.
int ini_read_int(const std::string& path, const std::string& section, const std::string& key, int fallback);

// All "key=value" lines of a section, in file order (comments left out).
std::vector<std::string> ini_read_section(const std::string& path, const std::string& section);

// False when the file could not be written (the old file is then unchanged).
bool ini_write_string(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& value);

// The profile-int reading of one value, exposed for callers holding a value.
int ini_parse_int(const std::string& value, int fallback);

// Bytes that are not valid UTF-8 are taken as Shift-JIS (CP932) and converted.
std::string text_to_utf8(const std::string& bytes);

}  // namespace oneseg
