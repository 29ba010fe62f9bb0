#include "recordings.h"

#include "broadcast_clock.h"
#include "caption_keys.h"
#include "health.h"
#include "recording_files.h"

namespace oneseg::archive {

namespace {

constexpr const char* summary_columns =
    "r.id, r.day, r.name, r.channel, r.station, r.start, r.end, r.ts_size, r.health, r.has_html, r.thumbnails,"
    " r.caption_count";

std::vector<Programme> programmes_of(ArchiveDb& db, std::int64_t recording)
{
  Statement s = db.prepare(
      "SELECT start, duration, title, description, genres FROM programmes WHERE recording = ?1 ORDER BY start");
  s.bind(1, recording);
  std::vector<Programme> out;
  while (s.step())
    out.push_back({format_broadcast_time(s.integer(0)), static_cast<int>(s.integer(1)), s.text(2), s.text(3), s.text(4)});
  return out;
}

RecordingSummary summary_of(ArchiveDb& db, const Statement& s)
{
  RecordingSummary r;
  r.day = s.text(1);
  r.name = s.text(2);
  r.path = r.day + "/" + r.name + ".ts";
  r.channel = static_cast<int>(s.integer(3));
  r.station = s.text(4);
  r.start = format_broadcast_time(s.integer(5));
  r.end = format_broadcast_time(s.integer(6));
  r.size = s.integer(7);
  r.health = s.text(8);
  r.has_page = s.integer(9) != 0;
  r.has_thumbnails = !s.text(10).empty();
  r.captions = static_cast<int>(s.integer(11));
  r.programmes = programmes_of(db, s.integer(0));
  return r;
}

std::optional<RecordingSummary> first_summary(ArchiveDb& db, const std::string& sql, const std::string& name)
{
  Statement s = db.prepare(sql);
  s.bind(1, name);
  if (!s.step()) return std::nullopt;
  return summary_of(db, s);
}

std::vector<std::string> split_lines(const std::string& text)
{
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    out.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

}  // namespace

std::vector<std::string> list_days(ArchiveDb& db)
{
  Statement s = db.prepare("SELECT DISTINCT day FROM recordings ORDER BY day DESC");
  std::vector<std::string> days;
  while (s.step()) days.push_back(s.text(0));
  return days;
}

std::vector<RecordingSummary> recordings_of_day(ArchiveDb& db, const std::string& day)
{
  Statement s = db.prepare(std::string("SELECT ") + summary_columns +
                           " FROM recordings AS r WHERE r.day = ?1 ORDER BY r.name, r.channel");
  s.bind(1, day);
  std::vector<RecordingSummary> out;
  while (s.step()) out.push_back(summary_of(db, s));
  return out;
}

std::optional<RecordingDetail> recording_detail(ArchiveDb& db, const std::string& name)
{
  Statement s = db.prepare(std::string("SELECT ") + summary_columns +
                           ", r.has_ts, r.has_idx, r.has_sub, r.has_eit, r.health_measured, r.packets,"
                           " r.continuity_errors, r.transport_errors, r.sync_losses, r.first_time, r.last_time,"
                           " r.longest_gap FROM recordings AS r WHERE r.name = ?1");
  s.bind(1, name);
  if (!s.step()) return std::nullopt;
  RecordingDetail d;
  d.summary = summary_of(db, s);
  d.files = {s.integer(12) != 0, s.integer(13) != 0, s.integer(14) != 0, s.integer(15) != 0, d.summary.has_page,
             split_lines(s.text(10))};
  d.health.measured = s.integer(16) != 0;
  d.health.packets = s.integer(17);
  d.health.continuity_errors = s.integer(18);
  d.health.transport_errors = s.integer(19);
  d.health.sync_losses = s.integer(20);
  if (!s.is_null(21)) {
    d.health.first_time = format_broadcast_time(s.integer(21));
    const auto named = parse_recording_name(d.summary.name);
    d.health.clock_disagrees = named && clock_disagrees_with_name(s.integer(21), named->start);
  }
  if (!s.is_null(22)) d.health.last_time = format_broadcast_time(s.integer(22));
  d.health.longest_gap_s = static_cast<int>(s.integer(23));

  const std::int64_t start = s.integer(5);
  Statement lines = db.prepare(
      "SELECT " ONESEG_CAPTION_TIME ", c.text FROM captions AS c"
      " WHERE id BETWEEN (SELECT caption_first FROM recordings WHERE id = ?1)"
      " AND (SELECT caption_last FROM recordings WHERE id = ?1) AND recording = ?1 ORDER BY id");
  lines.bind(1, s.integer(0));
  while (lines.step())
    d.captions.push_back({format_broadcast_time(lines.integer(0)),
                          static_cast<int>(std::max<std::int64_t>(0, lines.integer(0) - start)), lines.text(1)});
  return d;
}

std::optional<RecordingSummary> previous_recording(ArchiveDb& db, const std::string& name)
{
  return first_summary(db, std::string("SELECT ") + summary_columns +
                               " FROM recordings AS r, recordings AS this WHERE this.name = ?1 AND"
                               " r.channel = this.channel AND r.name < this.name ORDER BY r.name DESC LIMIT 1",
                       name);
}

std::optional<RecordingSummary> next_recording(ArchiveDb& db, const std::string& name)
{
  return first_summary(db, std::string("SELECT ") + summary_columns +
                               " FROM recordings AS r, recordings AS this WHERE this.name = ?1 AND"
                               " r.channel = this.channel AND r.name > this.name ORDER BY r.name LIMIT 1",
                       name);
}

std::optional<RecordingSummary> newest_recording(ArchiveDb& db, int channel)
{
  return first_summary(db, std::string("SELECT ") + summary_columns +
                               " FROM recordings AS r WHERE r.channel = CAST(?1 AS INTEGER) ORDER BY r.name DESC LIMIT 1",
                       std::to_string(channel));
}

// Counting the caption rows themselves reads the whole table (a second over a
// year); each recording keeps its count.
ArchiveStats archive_stats(ArchiveDb& db)
{
  Statement s = db.prepare(
      "SELECT (SELECT count(*) FROM recordings), (SELECT coalesce(sum(caption_count), 0) FROM recordings),"
      " (SELECT count(*) FROM programmes),"
      " (SELECT count(DISTINCT day) FROM recordings), (SELECT count(DISTINCT station) FROM recordings),"
      " (SELECT count(*) FROM recordings WHERE health <> '')");
  s.step();
  return {s.integer(0), s.integer(1), s.integer(2), s.integer(3), s.integer(4), s.integer(5)};
}

bool is_known_file(ArchiveDb& db, std::string_view relative_path)
{
  // "<day>/<name>.<ext>" or "<day>/<name>thm/<picture>", nothing else.
  const std::size_t slash = relative_path.find('/');
  if (slash == std::string_view::npos || relative_path.find("..") != std::string_view::npos) return false;
  const std::string day(relative_path.substr(0, slash));
  const std::string_view rest = relative_path.substr(slash + 1);
  const std::size_t second_slash = rest.find('/');
  std::string name;
  std::string column;
  std::string picture;
  if (second_slash == std::string_view::npos) {
    const std::size_t dot = rest.rfind('.');
    if (dot == std::string_view::npos) return false;
    name = rest.substr(0, dot);
    const std::string_view ext = rest.substr(dot + 1);
    if (ext == "ts" || ext == "idx" || ext == "sub" || ext == "eit" || ext == "html") column = "has_" + std::string(ext);
    else return false;
  } else {
    const std::string_view folder = rest.substr(0, second_slash);
    picture = rest.substr(second_slash + 1);
    if (!folder.ends_with("thm") || picture.empty() || picture.find('/') != std::string_view::npos) return false;
    name = folder.substr(0, folder.size() - 3);
  }
  const auto id = parse_recording_name(name);
  if (!id || id->day != day) return false;
  Statement s = db.prepare("SELECT " + (column.empty() ? std::string("thumbnails") : column) +
                           " FROM recordings WHERE name = ?1 AND day = ?2");
  s.bind(1, name).bind(2, day);
  if (!s.step()) return false;
  if (!column.empty()) return s.integer(0) != 0;
  for (const std::string& t : split_lines(s.text(0)))
    if (t == picture) return true;
  return false;
}

}  // namespace oneseg::archive
