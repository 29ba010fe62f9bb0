#pragma once
// The read side of the index for browsing: days, recordings, one recording in
// full, and the files the index knows (the only files worth serving).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive_db.h"

namespace oneseg::archive {

struct Programme {
  std::string start;       // "yyyy-mm-dd hh:mm:ss"
  int duration_s = 0;
  std::string title;
  std::string description;
  std::string genres;      // the listing's genre texts
};

struct RecordingSummary {
  std::string root;        // the name of its recording folder
  bool first_root = true;  // the first root's recordings are named without it in links
  bool root_available = true;
  std::string day;         // "261207"
  std::string name;        // "261207180_Ch27"
  std::string path;        // "261207/261207180_Ch27.ts"
  int channel = 0;
  std::string station;
  std::string start;       // "yyyy-mm-dd hh:mm:ss" broadcast time
  std::string end;
  std::int64_t size = 0;   // bytes of the .ts (0 when gone)
  int captions = 0;
  std::string health;      // "要確認" or ""
  bool has_page = false;
  bool has_thumbnails = false;
  std::vector<Programme> programmes;  // those on the air during the recording
};

struct CaptionLine {
  std::string time;        // "yyyy-mm-dd hh:mm:ss"
  int offset = 0;          // seconds into the recording
  std::string text;
};

struct HealthFigures {
  bool measured = false;   // false when there was no .ts to read
  std::int64_t packets = 0;
  std::int64_t continuity_errors = 0;
  std::int64_t transport_errors = 0;
  std::int64_t sync_losses = 0;     // places where bytes had to be skipped to find packets again
  std::string first_time;  // first and last time packet, "yyyy-mm-dd hh:mm:ss" or ""
  std::string last_time;
  int longest_gap_s = 0;   // between time packets
  bool clock_disagrees = false;  // the stream's clock is elsewhere than the name's ten minutes
};

struct RecordingFiles {
  bool ts = false, idx = false, sub = false, eit = false, html = false;
  std::vector<std::string> thumbnails;  // names in the <name>thm/ folder, e.g. "35.jpg"
};

struct RecordingDetail {
  RecordingSummary summary;
  std::vector<CaptionLine> captions;  // those asked for, from the line numbered first_line
  std::int64_t first_line = 0;        // 0: the recording's first; summary.captions lines in all
  HealthFigures health;
  RecordingFiles files;
};

struct ArchiveStats {
  std::int64_t recordings = 0;
  std::int64_t captions = 0;
  std::int64_t programmes = 0;
  std::int64_t days = 0;
  std::int64_t stations = 0;
  std::int64_t needs_checking = 0;
};

// Day folders ("yymmdd") with at least one recording, newest first.
std::vector<std::string> list_days(ArchiveDb& db);

// Recordings of a day in time order, then channel. Each summary carries the
// programmes on the air during the recording (not its station's whole listing).
std::vector<RecordingSummary> recordings_of_day(ArchiveDb& db, const std::string& day);
// The same for the days from first_day to last_day (yymmdd, inclusive), oldest
// day first, read in two statements whatever their number.
std::vector<RecordingSummary> recordings_of_days(ArchiveDb& db, const std::string& first_day,
                                                 const std::string& last_day);

// Which of a recording's caption lines (in time order) to read.
struct LineWindow {
  std::int64_t first = 0;
  std::int64_t count = -1;  // -1: all that follow
};
inline constexpr LineWindow no_lines{0, 0};

// name: "261207180_Ch27"; root: its root's name, "" for the first root.
std::optional<RecordingDetail> recording_detail(ArchiveDb& db, const std::string& name, const std::string& root = "",
                                                LineWindow lines = {});
// How many of the recording's lines come before `offset` seconds into it.
std::int64_t lines_before(ArchiveDb& db, const std::string& name, const std::string& root, int offset);

// The recording of the same channel and root just before or after, when indexed.
std::optional<RecordingSummary> previous_recording(ArchiveDb& db, const std::string& name, const std::string& root = "");
std::optional<RecordingSummary> next_recording(ArchiveDb& db, const std::string& name, const std::string& root = "");

// The channel's newest recording (by name, so by its ten minutes).
std::optional<RecordingSummary> newest_recording(ArchiveDb& db, int channel);

ArchiveStats archive_stats(ArchiveDb& db);

// Whether a path relative to a root names a file the index knows of a
// recording of that root ("" for the first): "261207/261207180_Ch27.ts"
// (.idx .sub .eit .html alike) or "261207/261207180_Ch27thm/35.jpg".
// Anything else, including every path with "..", gives false; the caller
// joins only such a path onto the root.
bool is_known_file(ArchiveDb& db, std::string_view relative_path, const std::string& root = "");

}  // namespace oneseg::archive
