#pragma once
// What the recording folder holds: day folders "yymmdd", recordings
// "yymmddhhm_ChNN.ts" with the analyser's .sub captions and .eit listing, the
// recorder's .idx, the page builder's .html and "<name>thm/" thumbnails.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct stat;

namespace oneseg::archive {

class EucJpDecoder;

struct RecordingName {
  std::string name;         // "261207180_Ch27"
  std::string day;          // "261207"
  int channel = 0;
  std::int64_t start = 0;   // broadcast seconds of the ten minutes the name stands for
};

// nullopt unless stem is a recording name with a real date and time.
std::optional<RecordingName> parse_recording_name(std::string_view stem);

bool is_day_folder_name(std::string_view name);

// A file's modification time as FileStamp keeps it, and back as a point of the system clock.
std::int64_t mtime_ns(const struct stat& info);
std::chrono::system_clock::time_point as_system_time(std::int64_t mtime_ns);

struct FileStamp {
  bool exists = false;
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;   // system clock
};

struct RecordingOnDisk {
  RecordingName id;
  FileStamp ts, sub, eit;
  bool idx = false;
  bool html = false;
  std::vector<std::string> thumbnails;   // picture names in "<name>thm/", sorted by second
  std::int64_t thumbnails_mtime_ns = 0;

  // Changes whenever a file the index reads changes.
  std::string fingerprint() const;
};

// The recordings of one day folder: every name with a .ts, .sub or .eit that
// is a regular file (a symbolic link counts as no file).
std::vector<RecordingOnDisk> scan_day(const std::filesystem::path& day_folder, const std::string& day);

// Day folder names under root, sorted.
std::vector<std::string> list_day_folders(const std::filesystem::path& root);

// The same, but nullopt when the root cannot be read to its end (gone, a
// share that is down): nothing can be concluded from it.
std::optional<std::vector<std::string>> read_day_folders(const std::filesystem::path& root);

// scan_day, but nullopt when the folder exists and cannot be read to its end;
// a folder that is gone holds no recording.
std::optional<std::vector<RecordingOnDisk>> read_day(const std::filesystem::path& day_folder, const std::string& day);

struct CaptionRecord {
  std::int64_t time = 0;    // broadcast seconds
  std::string text;         // UTF-8
};

// The .sub lines "HH:MM:SS text" with CR LF; the date is the one of the
// recording's ten minutes, or the next or previous day where the time of day
// says the line crossed midnight. A last line without its line end (still
// being written) and lines without a valid time are left out.
// A line's text is cut after longest_caption_bytes: a caption is a few dozen
// characters, and a broken or hostile file's one line of megabytes would
// otherwise cost the index its size many times over.
inline constexpr std::size_t longest_caption_bytes = 1024;
std::vector<CaptionRecord> parse_captions(std::string_view euc_file, std::int64_t recording_start, EucJpDecoder& decoder);

struct ListingEntry {
  std::optional<std::int64_t> start;   // broadcast seconds
  int duration_s = 0;
  std::string provider;
  std::string title;
  std::string description;
  std::string genres;
};

// The .eit blocks (StartTime, Duration, ProviderName, EventName, EventDesc,
// ContentNibble, "-"), in UTF-8.
std::vector<ListingEntry> parse_listing(std::string_view euc_file, EucJpDecoder& decoder);

// The whole regular file, or nullopt when it cannot be read or is a symbolic link.
std::optional<std::string> read_whole_file(const std::filesystem::path& path);

}  // namespace oneseg::archive
