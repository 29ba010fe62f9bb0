#include "recording_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <sstream>
#include <system_error>

#include "broadcast_clock.h"
#include "eucjp.h"

namespace oneseg::archive {

namespace fs = std::filesystem;

namespace {

bool all_digits(std::string_view s)
{
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int number(std::string_view digits)
{
  int value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

bool is_real_date(int year, int month, int day)
{
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return parse_day(text).has_value();
}

// Nanoseconds of the system clock (the file clock counts from another epoch).
std::int64_t system_ns(fs::file_time_type time)
{
  const auto system = std::chrono::file_clock::to_sys(time);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(system.time_since_epoch()).count();
}

// A regular file only, never one reached through a symbolic link: a link may
// point anywhere outside the root.
FileStamp stamp(const fs::directory_entry& entry)
{
  std::error_code ec;
  if (!fs::is_regular_file(entry.symlink_status(ec)) || ec) return {};
  FileStamp s;
  s.size = static_cast<std::int64_t>(entry.file_size(ec));
  s.mtime_ns = system_ns(entry.last_write_time(ec));
  s.exists = !ec;
  return s;
}

// Thumbnails are named by their second: "35.jpg".
int thumbnail_second(const std::string& file)
{
  const std::size_t dot = file.find('.');
  return number(std::string_view(file).substr(0, dot));
}

void read_thumbnails(const fs::path& folder, RecordingOnDisk& r)
{
  std::error_code ec;
  r.thumbnails_mtime_ns = system_ns(fs::last_write_time(folder, ec));
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    const std::string ext = it->path().extension().string();
    if ((ext == ".jpg" || ext == ".png") && all_digits(it->path().stem().string()) && fs::is_regular_file(it->symlink_status(ec)))
      r.thumbnails.push_back(file);
  }
  std::sort(r.thumbnails.begin(), r.thumbnails.end(), [](const std::string& a, const std::string& b) {
    return thumbnail_second(a) != thumbnail_second(b) ? thumbnail_second(a) < thumbnail_second(b) : a < b;
  });
}

std::string_view trim_line_end(std::string_view line)
{
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  return line;
}

std::string trim_leading_spaces(const std::string& text)
{
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

// "2008/12/6 14:00:00" as the listing writes start times.
std::optional<std::int64_t> parse_listing_time(const std::string& text)
{
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(text.c_str(), "%d/%d/%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6)
    return std::nullopt;
  if (!is_real_date(year, month, day) || hour > 23 || minute > 59 || second > 59 || hour < 0 || minute < 0 ||
      second < 0)
    return std::nullopt;
  return broadcast_seconds(year, month, day, hour, minute, second);
}

int parse_duration(const std::string& text)
{
  int hour = 0, minute = 0, second = 0;
  if (std::sscanf(text.c_str(), "%d:%d:%d", &hour, &minute, &second) != 3 || hour < 0 || minute < 0 || second < 0)
    return 0;
  return hour * 3600 + minute * 60 + second;
}

}  // namespace

std::optional<RecordingName> parse_recording_name(std::string_view stem)
{
  // yymmddhhm_ChNN
  if (stem.size() < 13 || stem.size() > 14 || !all_digits(stem.substr(0, 9)) || stem.substr(9, 3) != "_Ch" ||
      !all_digits(stem.substr(12)))
    return std::nullopt;
  const int year = 2000 + number(stem.substr(0, 2)), month = number(stem.substr(2, 2)), day = number(stem.substr(4, 2));
  const int hour = number(stem.substr(6, 2)), minute = number(stem.substr(8, 1)) * 10;
  if (!is_real_date(year, month, day) || hour > 23) return std::nullopt;
  return RecordingName{std::string(stem), std::string(stem.substr(0, 6)), number(stem.substr(12)),
                       broadcast_seconds(year, month, day, hour, minute)};
}

bool is_day_folder_name(std::string_view name)
{
  return name.size() == 6 && all_digits(name) &&
         is_real_date(2000 + number(name.substr(0, 2)), number(name.substr(2, 2)), number(name.substr(4, 2)));
}

std::string RecordingOnDisk::fingerprint() const
{
  std::ostringstream out;
  for (const FileStamp* s : {&ts, &sub, &eit}) out << s->exists << ':' << s->size << ':' << s->mtime_ns << ';';
  out << idx << html << ';' << thumbnails.size() << ':' << thumbnails_mtime_ns;
  return out.str();
}

std::optional<std::vector<RecordingOnDisk>> read_day(const fs::path& day_folder, const std::string& day)
{
  std::map<std::string, RecordingOnDisk> found;
  std::error_code ec;
  fs::directory_iterator it(day_folder, ec);
  if (ec) return ec == std::errc::no_such_file_or_directory ? std::optional(std::vector<RecordingOnDisk>{}) : std::nullopt;
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    std::string stem = path.stem().string();
    const std::string ext = path.extension().string();
    const bool thumbnail_folder = ext.empty() && stem.size() > 3 && stem.ends_with("thm");
    if (thumbnail_folder) stem.resize(stem.size() - 3);
    const auto id = parse_recording_name(stem);
    if (!id || id->day != day) continue;
    RecordingOnDisk& r = found[stem];
    r.id = *id;
    std::error_code entry_ec;
    if (thumbnail_folder && fs::is_directory(it->symlink_status(entry_ec))) read_thumbnails(path, r);
    else if (ext == ".ts") r.ts = stamp(*it);
    else if (ext == ".sub") r.sub = stamp(*it);
    else if (ext == ".eit") r.eit = stamp(*it);
    else if (ext == ".idx") r.idx = stamp(*it).exists;
    else if (ext == ".html") r.html = stamp(*it).exists;
  }
  if (ec) return std::nullopt;
  std::vector<RecordingOnDisk> recordings;
  for (auto& [stem, r] : found)
    if (r.ts.exists || r.sub.exists || r.eit.exists) recordings.push_back(std::move(r));
  return recordings;
}

std::vector<RecordingOnDisk> scan_day(const fs::path& day_folder, const std::string& day)
{
  return read_day(day_folder, day).value_or(std::vector<RecordingOnDisk>{});
}

std::optional<std::vector<std::string>> read_day_folders(const fs::path& root)
{
  std::vector<std::string> days;
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code entry_ec;  // a broken link among the folders is no failure to read the root
    if (is_day_folder_name(name) && fs::is_directory(it->symlink_status(entry_ec))) days.push_back(name);
  }
  if (ec) return std::nullopt;
  std::sort(days.begin(), days.end());
  return days;
}

std::vector<std::string> list_day_folders(const fs::path& root)
{
  return read_day_folders(root).value_or(std::vector<std::string>{});
}

std::vector<CaptionRecord> parse_captions(std::string_view file, std::int64_t recording_start, EucJpDecoder& decoder)
{
  std::vector<CaptionRecord> captions;
  const std::int64_t day_start = recording_start - recording_start % seconds_per_day;
  const std::int64_t start_in_day = recording_start - day_start;
  std::size_t at = 0;
  while (at < file.size()) {
    const std::size_t newline = file.find('\n', at);
    if (newline == std::string_view::npos) break;  // unfinished last line
    const std::string_view line = trim_line_end(file.substr(at, newline - at));
    at = newline + 1;
    if (line.size() < 9 || line[2] != ':' || line[5] != ':' || line[8] != ' ' || !all_digits(line.substr(0, 2)) ||
        !all_digits(line.substr(3, 2)) || !all_digits(line.substr(6, 2)))
      continue;
    const int hour = number(line.substr(0, 2)), minute = number(line.substr(3, 2)), second = number(line.substr(6, 2));
    if (hour > 23 || minute > 59 || second > 59) continue;
    std::int64_t in_day = hour * 3600 + minute * 60 + second;
    // A recording of 23:50 has lines of 00:0x of the next day, and one of 00:00
    // may begin with lines of 23:59 of the day before.
    if (in_day < start_in_day - seconds_per_day / 2) in_day += seconds_per_day;
    else if (in_day > start_in_day + seconds_per_day / 2) in_day -= seconds_per_day;
    const std::string_view text = line.substr(9);
    std::string utf8 = decoder.to_utf8(text.substr(0, longest_caption_bytes));
    // A character cut in two at the bound is left out, not shown as broken.
    if (text.size() > longest_caption_bytes && utf8.ends_with("\xEF\xBF\xBD")) utf8.resize(utf8.size() - 3);
    captions.push_back({day_start + in_day, std::move(utf8)});
  }
  return captions;
}

std::vector<ListingEntry> parse_listing(std::string_view file, EucJpDecoder& decoder)
{
  std::vector<ListingEntry> entries;
  ListingEntry current;
  bool open = false;
  std::size_t at = 0;
  while (at < file.size()) {
    std::size_t newline = file.find('\n', at);
    if (newline == std::string_view::npos) newline = file.size();
    const std::string_view line = trim_line_end(file.substr(at, newline - at));
    at = newline + 1;
    if (line == "-") {
      if (open) entries.push_back(std::move(current));
      current = {};
      open = false;
      continue;
    }
    const std::size_t colon = line.find(": ");
    if (colon == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, colon);
    const std::string value = decoder.to_utf8(line.substr(colon + 2));
    open = true;
    if (key == "StartTime") current.start = parse_listing_time(value);
    else if (key == "Duration") current.duration_s = parse_duration(value);
    else if (key == "ProviderName") current.provider = value;
    else if (key == "EventName") current.title = value;
    else if (key == "EventDesc") current.description = value;
    else if (key == "ContentNibble") current.genres = trim_leading_spaces(value);
  }
  return entries;
}

std::optional<std::string> read_whole_file(const fs::path& path)
{
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> content;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    content.emplace();
    char buffer[1 << 16];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) content->append(buffer, static_cast<std::size_t>(n));
    if (n < 0) content.reset();
  }
  ::close(fd);
  return content;
}

std::int64_t mtime_ns(const struct stat& info)
{
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

std::chrono::system_clock::time_point as_system_time(std::int64_t mtime_ns)
{
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(mtime_ns)));
}

}  // namespace oneseg::archive
