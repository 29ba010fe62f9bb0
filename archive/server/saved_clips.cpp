#include "saved_clips.h"

#include <algorithm>
#include <chrono>

#include "broadcast_clock.h"
#include "handlers.h"
#include "html_text.h"
#include "recordings.h"

namespace oneseg::archive::web {
namespace {

constexpr const char* clip_columns =
    "c.id, c.day, c.name, c.from_s, c.to_s, c.title, c.note, c.station, c.start, c.kept_file,"
    " coalesce((SELECT r.has_ts FROM recordings AS r WHERE r.name = c.name AND"
    " r.root = (SELECT id FROM roots WHERE name = c.root OR (c.root = '' AND id = (SELECT min(id) FROM roots)))), 0), c.root";

SavedClip clip_of(const Statement& s) {
  SavedClip c;
  c.id = s.integer(0);
  c.day = s.text(1);
  c.name = s.text(2);
  c.range = {static_cast<int>(s.integer(3)), static_cast<int>(s.integer(4))};
  c.title = s.text(5);
  c.note = s.text(6);
  c.station = s.text(7);
  c.start = format_broadcast_time(s.integer(8) + c.range.from_s);
  c.kept_file = s.text(9);
  c.recording_kept = s.integer(10) != 0;
  c.root = s.text(11);
  return c;
}

// Characters a file name may hold on every system the file may be saved to.
bool safe_in_file_name(unsigned char c) { return c >= 0x80 || std::isalnum(c) || c == '-' || c == '_'; }

}  // namespace

std::variant<ClipRange, std::string> clip_range(const Parameters& parameters) {
  const auto from = moment_parameter(parameters("from"));
  const auto to = moment_parameter(parameters("to"));
  if (!from || !to) return std::string("from と to は録画の先頭からの秒数で指定してください");
  if (*to <= *from) return std::string("to は from より後にしてください");
  if (*to - *from > longest_clip_s) return std::string("切り出せるのは 10 分までです");
  return ClipRange{*from, *to};
}

std::variant<std::int64_t, std::string> save_clip(ArchiveDb& db, const Parameters& parameters) {
  const auto range = clip_range(parameters);
  if (const auto* message = std::get_if<std::string>(&range)) return *message;
  const std::string root = parameters("root"), day = parameters("day"), name = parameters("name");
  const std::string title = parameters("title"), note = parameters("note");
  if (title.size() > longest_clip_title || note.size() > longest_clip_note) return std::string("題名かメモが長すぎます");
  if (!is_day(day) || !is_recording_name(name) || !name.starts_with(day)) return std::string("録画の名前が正しくありません");
  const auto detail = recording_detail(db, name, root);
  const auto start = detail ? seconds_of(detail->summary.start) : std::nullopt;
  if (!detail || !start) return std::string("その録画はありません");
  // Text goes in as valid UTF-8, so every page and list shows it as typed.
  Statement s = db.prepare(
      "INSERT INTO saved_clips(day, name, from_s, to_s, title, note, station, start, created, root)"
      " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  const auto& r = std::get<ClipRange>(range);
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch());
  s.bind(1, day).bind(2, name).bind(3, r.from_s).bind(4, r.to_s).bind(5, valid_utf8(title)).bind(6, valid_utf8(note))
      .bind(7, detail->summary.station).bind(8, static_cast<std::int64_t>(*start)).bind(9, static_cast<std::int64_t>(now.count())).bind(10, root);
  s.run();
  return db.last_insert_id();
}

std::vector<SavedClip> saved_clips(ArchiveDb& db) {
  Statement s = db.prepare(std::string("SELECT ") + clip_columns + " FROM saved_clips AS c ORDER BY c.id DESC");
  std::vector<SavedClip> clips;
  while (s.step()) clips.push_back(clip_of(s));
  return clips;
}

std::optional<SavedClip> saved_clip(ArchiveDb& db, std::int64_t id) {
  Statement s = db.prepare(std::string("SELECT ") + clip_columns + " FROM saved_clips AS c WHERE c.id = ?1");
  s.bind(1, id);
  if (!s.step()) return std::nullopt;
  return clip_of(s);
}

bool remove_saved_clip(ArchiveDb& db, std::int64_t id) {
  if (!saved_clip(db, id)) return false;
  db.prepare("DELETE FROM saved_clips WHERE id = ?1").bind(1, id).run();
  return true;
}

void set_kept_file(ArchiveDb& db, std::int64_t id, const std::string& file) {
  db.prepare("UPDATE saved_clips SET kept_file = ?2 WHERE id = ?1").bind(1, id).bind(2, file).run();
}

std::string export_disposition(const std::string& station, int channel, const std::string& start) {
  // "2026-12-07 18:12:25" -> "20261207_181225"
  std::string stamp;
  for (const char c : start) {
    if (c >= '0' && c <= '9') stamp += c;
    else if (c == ' ') stamp += '_';
  }
  std::string name;
  for (const char c : valid_utf8(station)) name += safe_in_file_name(static_cast<unsigned char>(c)) ? c : '_';
  if (name.empty()) name = "Ch" + std::to_string(channel);
  const std::string ascii = "Ch" + std::to_string(channel) + "_" + stamp + ".mp4";
  return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + url_encode(name + "_" + stamp + ".mp4");
}

}  // namespace oneseg::archive::web
