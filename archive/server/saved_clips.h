#pragma once
// Clips the users keep: a range of a recording with a title and a note, in
// the archive's database (user_tables.h: kept through schema upgrades). The
// station and time are copied in, so a clip whose recording retention has
// deleted is still listed, as lost, with what it was.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "archive_db.h"
#include "request.h"

namespace oneseg::archive::web {

inline constexpr int longest_clip_s = 600;
inline constexpr std::size_t longest_clip_title = 200;   // bytes
inline constexpr std::size_t longest_clip_note = 2000;   // bytes

// A range of a recording: whole seconds on its timeline, FROM before TO, at
// most longest_clip_s long (it may run on into the next recording).
struct ClipRange {
  int from_s = 0;
  int to_s = 0;
};
// The "from" and "to" parameters, or a message for the user.
std::variant<ClipRange, std::string> clip_range(const Parameters& parameters);

struct SavedClip {
  std::int64_t id = 0;
  std::string root;          // the recording's root, "" for the first
  std::string day, name;     // the recording
  ClipRange range;
  std::string title, note;
  std::string station;
  std::string start;         // "yyyy-mm-dd hh:mm:ss" of FROM
  bool recording_kept = false;  // its .ts is still in the index
  std::string kept_file;     // the exported copy kept beside the database, or ""
};

// The parameters root, day, name, from, to, title, note of a new clip, checked;
// the recording must be in the index. The clip's id, or a message.
std::variant<std::int64_t, std::string> save_clip(ArchiveDb& db, const Parameters& parameters);

// Newest first.
std::vector<SavedClip> saved_clips(ArchiveDb& db);
std::optional<SavedClip> saved_clip(ArchiveDb& db, std::int64_t id);
bool remove_saved_clip(ArchiveDb& db, std::int64_t id);
void set_kept_file(ArchiveDb& db, std::int64_t id, const std::string& file);

// "ひばりテレビ_20261207_181225.mp4" for a range starting at that broadcast
// time, as a Content-Disposition with an ASCII name for old clients
// ("Ch27_20261207_181225.mp4") and the UTF-8 one (RFC 6266, RFC 5987).
std::string export_disposition(const std::string& station, int channel, const std::string& start);

}  // namespace oneseg::archive::web
