#include "ini.h"

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <strings.h>

namespace oneseg {
namespace {

struct IniText {
  std::vector<std::string> lines;
  std::string eol = "\n";
};

std::string trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool same_name(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool valid_utf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t extra = c < 0x80 ? 0 : (c >= 0xC2 && c <= 0xDF) ? 1 : (c >> 4) == 0xE ? 2
                              : (c >= 0xF0 && c <= 0xF4) ? 3 : 4;
    if (extra == 4 || i + extra >= s.size() + (extra == 0 ? 1 : 0)) return extra == 0;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

bool read_file(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  bytes = out.str();
  return true;
}

IniText load(const std::string& path) {
  IniText text;
  std::string bytes;
  if (!read_file(path, bytes)) return text;
  bytes = text_to_utf8(bytes);
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  std::size_t start = 0;
  bool sawCr = false;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      sawCr = true;
    }
    text.lines.push_back(line);
    start = end + 1;
  }
  if (sawCr) text.eol = "\r\n";
  return text;
}

// "[name]" lines; returns false for any other line.
bool section_name(const std::string& line, std::string& name) {
  const std::string t = trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const std::size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = trim(t.substr(1, close - 1));
  return true;
}

bool key_value(const std::string& line, std::string& key, std::string& value) {
  const std::string t = trim(line);
  if (t.empty() || t.front() == ';') return false;
  const std::size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = trim(t.substr(0, eq));
  value = trim(t.substr(eq + 1));
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return true;
}

// The first section of that name: its header line and the line after its
// last one; header is npos when there is no such section.
struct SectionRange {
  std::size_t header = std::string::npos;
  std::size_t end = 0;
};

SectionRange find_section(const IniText& text, const std::string& section) {
  SectionRange range;
  std::string name;
  for (std::size_t i = 0; i < text.lines.size(); ++i) {
    if (!section_name(text.lines[i], name)) continue;
    if (range.header != std::string::npos) {
      range.end = i;
      return range;
    }
    if (same_name(name, section)) range.header = i;
  }
  range.end = text.lines.size();
  return range;
}

bool find_key(const IniText& text, const SectionRange& range, const std::string& key, std::size_t& index,
              std::string& value) {
  if (range.header == std::string::npos) return false;
  std::string k;
  for (std::size_t i = range.header + 1; i < range.end; ++i) {
    if (key_value(text.lines[i], k, value) && same_name(k, key)) {
      index = i;
      return true;
    }
  }
  return false;
}

bool write_all(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool replace_file(const std::string& path, const std::string& data) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  struct stat old {};
  const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
  const bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, data) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string text_to_utf8(const std::string& bytes) {
  if (valid_utf8(bytes)) return bytes;
  iconv_t cd = ::iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
  std::string out;
  std::string in = bytes;
  char* src = in.data();
  std::size_t left = in.size();
  char chunk[4096];
  while (left > 0) {
    char* dst = chunk;
    std::size_t room = sizeof chunk;
    const std::size_t rc = ::iconv(cd, &src, &left, &dst, &room);
    out.append(chunk, sizeof chunk - room);
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // An undecodable byte: keep a replacement mark and go on after it.
      out += "?";
      ++src;
      --left;
    }
  }
  ::iconv_close(cd);
  return out;
}

int ini_parse_int(const std::string& value, int fallback) {
  const std::string t = trim(value);
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  int base = 10;
  if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  long long result = 0;
  std::size_t digits = 0;
  for (; i < t.size(); ++i, ++digits) {
    const int c = std::tolower(static_cast<unsigned char>(t[i]));
    const int d = std::isdigit(c) ? c - '0' : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (d < 0) break;
    result = result * base + d;
    if (result > 0xFFFFFFFFLL) result = 0xFFFFFFFFLL;  // clamp, then wrap as 32 bits below
  }
  if (digits == 0) return fallback;
  const auto bits = static_cast<std::uint32_t>(result);
  return static_cast<int>(negative ? 0u - bits : bits);
}

std::string ini_read_string(const std::string& path, const std::string& section, const std::string& key,
                            const std::string& fallback) {
  const IniText text = load(path);
  std::size_t index = 0;
  std::string value;
  return find_key(text, find_section(text, section), key, index, value) ? value : fallback;
}

int ini_read_int(const std::string& path, const std::string& section, const std::string& key, int fallback) {
  const IniText text = load(path);
  std::size_t index = 0;
  std::string value;
  return find_key(text, find_section(text, section), key, index, value) ? ini_parse_int(value, fallback)
                                                                        : fallback;
}

std::vector<std::string> ini_read_section(const std::string& path, const std::string& section) {
  const IniText text = load(path);
  const SectionRange range = find_section(text, section);
  std::vector<std::string> result;
  if (range.header == std::string::npos) return result;
  std::string key, value;
  for (std::size_t i = range.header + 1; i < range.end; ++i) {
    if (key_value(text.lines[i], key, value)) result.push_back(key + "=" + value);
  }
  return result;
}

bool ini_write_string(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& value) {
  IniText text = load(path);
  const SectionRange range = find_section(text, section);
  const std::string line = key + "=" + value;
  std::size_t index = 0;
  std::string old;
  if (find_key(text, range, key, index, old)) {
    text.lines[index] = line;
  } else if (range.header != std::string::npos) {
    std::size_t at = range.end;
    while (at > range.header + 1 && trim(text.lines[at - 1]).empty()) --at;
    text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(at), line);
  } else {
    if (!text.lines.empty() && !trim(text.lines.back()).empty()) text.lines.emplace_back();
    text.lines.push_back("[" + section + "]");
    text.lines.push_back(line);
  }
  std::string data;
  for (const std::string& l : text.lines) data += l + text.eol;
  return replace_file(path, data);
}

}  // namespace oneseg
