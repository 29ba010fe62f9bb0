#include "ini.h"

#include <strings.h>

#include <cctype>
#include <cstdint>

#include "text_encoding.h"

namespace oneseg {
namespace {

constexpr const char* kBom = "\xEF\xBB\xBF";
constexpr mode_t kNewFileMode = 0644;

// A line as it stands in the file (without its line end) and as text.
struct IniLine {
  std::string raw;
  std::string eol;   // "\r\n", "\n", or "" for a last line without one
  std::string text;  // UTF-8
  bool utf8 = true;  // the raw bytes are UTF-8, else Shift-JIS
};

struct IniText {
  std::string bom;
  std::vector<IniLine> lines;
  std::string eol = "\n";  // for new lines: the first line end of the file
};

// ASCII only: the bytes of a multi-byte character are never space, whatever
// the locale says.
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && is_space(s[b])) ++b;
  while (e > b && is_space(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool same_name(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool quoted(const std::string& value) { return value.size() >= 2 && value.front() == '"' && value.back() == '"'; }

IniLine decoded(std::string raw, std::string eol) {
  IniLine line{std::move(raw), std::move(eol), {}, true};
  line.utf8 = is_utf8(line.raw);
  line.text = line.utf8 ? line.raw : text_to_utf8(line.raw);
  return line;
}

IniText split_lines(std::string bytes) {
  IniText text;
  if (bytes.compare(0, 3, kBom) == 0) {
    text.bom = kBom;
    bytes.erase(0, 3);
  }
  bool eolSeen = false;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    std::string eol = end == std::string::npos ? "" : "\n";
    if (end == std::string::npos) end = bytes.size();
    std::string raw = bytes.substr(start, end - start);
    if (!eol.empty() && !raw.empty() && raw.back() == '\r') {
      raw.pop_back();
      eol = "\r\n";
    }
    if (!eolSeen && !eol.empty()) {
      text.eol = eol;
      eolSeen = true;
    }
    text.lines.push_back(decoded(std::move(raw), std::move(eol)));
    start = end + 1;
  }
  return text;
}

std::string joined(const IniText& text) {
  std::string data = text.bom;
  for (const IniLine& line : text.lines) data += line.raw + line.eol;
  return data;
}

ini_file_status load(const std::string& path, IniText& text, mode_t& mode) {
  std::string bytes;
  const ini_file_status status = read_settings_file(path, bytes, mode);
  if (status == ini_file_status::regular) text = split_lines(std::move(bytes));
  return status;
}

IniText load(const std::string& path) {
  IniText text;
  mode_t mode = 0;
  load(path, text, mode);
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

struct KeyValue {
  std::string key, value;
  bool quoted = false;
};

bool key_value(const std::string& line, KeyValue& kv) {
  const std::string t = trim(line);
  if (t.empty() || t.front() == ';') return false;
  const std::size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  kv.key = trim(t.substr(0, eq));
  kv.value = trim(t.substr(eq + 1));
  kv.quoted = quoted(kv.value);
  if (kv.quoted) kv.value = kv.value.substr(1, kv.value.size() - 2);
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
    if (!section_name(text.lines[i].text, name)) continue;
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
              KeyValue& kv) {
  if (range.header == std::string::npos) return false;
  for (std::size_t i = range.header + 1; i < range.end; ++i) {
    if (key_value(text.lines[i].text, kv) && same_name(kv.key, key)) {
      index = i;
      return true;
    }
  }
  return false;
}

// Quoted whenever the value would not read back as itself without quotes,
// and whenever the user quoted it: the quotes are theirs to keep.
std::string written_value(const std::string& value, bool wasQuoted) {
  return wasQuoted || trim(value) != value || quoted(value) ? "\"" + value + "\"" : value;
}

// Only the bytes after "key =" change. The line keeps its encoding unless
// the value has a character Shift-JIS lacks; then the whole line turns UTF-8.
void replace_value(IniLine& line, const std::string& value, bool wasQuoted) {
  // '=' is never part of a multi-byte character in either encoding.
  std::size_t at = line.raw.find('=') + 1;
  while (at < line.raw.size() && (line.raw[at] == ' ' || line.raw[at] == '\t')) ++at;
  const std::string prefix = line.raw.substr(0, at);
  const std::string text = written_value(value, wasQuoted);
  std::string sjis;
  if (line.utf8) {
    line.raw = prefix + text;
  } else if (utf8_to_sjis(text, sjis)) {
    line.raw = prefix + sjis;
  } else {
    line.raw = text_to_utf8(prefix) + text;
  }
  line = decoded(std::move(line.raw), std::move(line.eol));
}

void insert_line(IniText& text, std::size_t at, const std::string& utf8) {
  if (at > 0 && text.lines[at - 1].eol.empty()) text.lines[at - 1].eol = text.eol;
  text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(at), decoded(utf8, text.eol));
}

bool blank(const IniLine& line) { return trim(line.text).empty(); }

void set_key(IniText& text, const std::string& section, const std::string& key, const std::string& value) {
  const SectionRange range = find_section(text, section);
  std::size_t index = 0;
  KeyValue old;
  if (find_key(text, range, key, index, old)) {
    replace_value(text.lines[index], value, old.quoted);
    return;
  }
  const std::string line = key + "=" + written_value(value, false);
  if (range.header != std::string::npos) {
    std::size_t at = range.end;
    while (at > range.header + 1 && blank(text.lines[at - 1])) --at;
    insert_line(text, at, line);
    return;
  }
  if (!text.lines.empty() && !blank(text.lines.back())) insert_line(text, text.lines.size(), "");
  insert_line(text, text.lines.size(), "[" + section + "]");
  insert_line(text, text.lines.size(), line);
}

bool has_line_break(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

}  // namespace

ini_file_status ini_check_file(const std::string& path) {
  IniText text;
  mode_t mode = 0;
  return load(path, text, mode);
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
  KeyValue kv;
  return find_key(text, find_section(text, section), key, index, kv) ? kv.value : fallback;
}

int ini_read_int(const std::string& path, const std::string& section, const std::string& key, int fallback) {
  const IniText text = load(path);
  std::size_t index = 0;
  KeyValue kv;
  return find_key(text, find_section(text, section), key, index, kv) ? ini_parse_int(kv.value, fallback)
                                                                     : fallback;
}

std::vector<std::string> ini_read_section(const std::string& path, const std::string& section) {
  const IniText text = load(path);
  const SectionRange range = find_section(text, section);
  std::vector<std::string> result;
  if (range.header == std::string::npos) return result;
  KeyValue kv;
  for (std::size_t i = range.header + 1; i < range.end; ++i) {
    if (key_value(text.lines[i].text, kv)) result.push_back(kv.key + "=" + kv.value);
  }
  return result;
}

bool ini_write_string(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& value) {
  if (has_line_break(section) || has_line_break(key) || has_line_break(value)) return false;
  IniText text;
  mode_t mode = kNewFileMode;
  const ini_file_status status = load(path, text, mode);
  if (status != ini_file_status::absent && status != ini_file_status::regular) return false;
  set_key(text, section, key, value);
  return replace_settings_file(path, joined(text), mode);
}

}  // namespace oneseg
