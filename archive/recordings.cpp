#include "recordings.h"

#include <functional>
#include <unordered_map>

#include "broadcast_clock.h"
#include "caption_keys.h"
#include "health.h"
#include "recording_files.h"

namespace oneseg::archive {

namespace {

constexpr const char* summary_columns =
    "r.id, r.day, r.name, r.channel, r.station, r.start, r.end, r.ts_size, r.health, r.has_html, r.thumbnails,"
    " r.caption_count, (SELECT name FROM roots WHERE id = r.root), r.root = (SELECT min(id) FROM roots),"
    " (SELECT available FROM roots WHERE id = r.root)";

// The recording's root: the one named ?2, the first one when ?2 is "".
#define ONESEG_ROOT_NAMED_2                                                                  \
  " r.root = CASE WHEN ?2 = '' THEN (SELECT min(id) FROM roots) ELSE (SELECT id FROM roots" \
  " WHERE name = ?2) END"

// A recording's listing holds its station's whole schedule; only the
// programmes on the air during the recording are read, for a whole set of
// recordings in one statement (`which`: a condition on the recording r).
void add_programmes_on_the_air(ArchiveDb& db, const std::string& which, const std::function<void(Statement&)>& bind,
                               std::vector<RecordingSummary>& recordings, const std::vector<std::int64_t>& ids)
{
  if (recordings.empty()) return;
  std::unordered_map<std::int64_t, std::size_t> at;
  for (std::size_t i = 0; i < ids.size(); ++i) at.emplace(ids[i], i);
  Statement s = db.prepare(
      "SELECT p.recording, p.start, p.duration, p.title, p.description, p.genres FROM recordings AS r"
      " JOIN programmes AS p ON p.recording = r.id WHERE p.start <= r.end AND p.start + p.duration > r.start AND " +
      which + " ORDER BY p.recording, p.start");
  bind(s);
  while (s.step()) {
    const auto found = at.find(s.integer(0));
    if (found == at.end()) continue;
    recordings[found->second].programmes.push_back(
        {format_broadcast_time(s.integer(1)), static_cast<int>(s.integer(2)), s.text(3), s.text(4), s.text(5)});
  }
}

RecordingSummary summary_of(const Statement& s)
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
  r.root = s.text(12);
  r.first_root = s.integer(13) != 0;
  r.root_available = s.integer(14) != 0;
  return r;
}

RecordingSummary with_programmes(ArchiveDb& db, RecordingSummary summary, std::int64_t id)
{
  std::vector<RecordingSummary> one{std::move(summary)};
  add_programmes_on_the_air(db, "r.id = ?1", [id](Statement& s) { s.bind(1, id); }, one, {id});
  return std::move(one.front());
}

std::optional<RecordingSummary> first_summary(ArchiveDb& db, const std::string& sql,
                                              const std::function<void(Statement&)>& bind)
{
  Statement s = db.prepare(sql);
  bind(s);
  if (!s.step()) return std::nullopt;
  return with_programmes(db, summary_of(s), s.integer(0));
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

// Each step seeks the next older day in the index on day, instead of reading
// every recording's entry to find the distinct ones.
constexpr const char* days_sql =
    "WITH RECURSIVE days(day) AS (SELECT max(day) FROM recordings"
    " UNION ALL SELECT (SELECT max(day) FROM recordings WHERE day < days.day) FROM days WHERE days.day IS NOT NULL)"
    " SELECT day FROM days WHERE day IS NOT NULL";

std::vector<std::string> list_days(ArchiveDb& db)
{
  Statement s = db.prepare(days_sql);
  std::vector<std::string> days;
  while (s.step()) days.push_back(s.text(0));
  return days;
}

std::vector<RecordingSummary> recordings_of_days(ArchiveDb& db, const std::string& first_day,
                                                 const std::string& last_day)
{
  Statement s = db.prepare(std::string("SELECT ") + summary_columns +
                           " FROM recordings AS r WHERE r.day BETWEEN ?1 AND ?2 ORDER BY r.day, r.name, r.channel, r.root");
  s.bind(1, first_day).bind(2, last_day);
  std::vector<RecordingSummary> out;
  std::vector<std::int64_t> ids;
  while (s.step()) {
    out.push_back(summary_of(s));
    ids.push_back(s.integer(0));
  }
  add_programmes_on_the_air(
      db, "r.day BETWEEN ?1 AND ?2", [&](Statement& p) { p.bind(1, first_day).bind(2, last_day); }, out, ids);
  return out;
}

std::vector<RecordingSummary> recordings_of_day(ArchiveDb& db, const std::string& day)
{
  return recordings_of_days(db, day, day);
}

std::optional<RecordingDetail> recording_detail(ArchiveDb& db, const std::string& name, const std::string& root,
                                                LineWindow window)
{
  Statement s = db.prepare(std::string("SELECT ") + summary_columns +
                           ", r.has_ts, r.has_idx, r.has_sub, r.has_eit, r.health_measured, r.packets,"
                           " r.continuity_errors, r.transport_errors, r.sync_losses, r.first_time, r.last_time,"
                           " r.longest_gap FROM recordings AS r WHERE r.name = ?1 AND" ONESEG_ROOT_NAMED_2);
  s.bind(1, name).bind(2, root);
  if (!s.step()) return std::nullopt;
  RecordingDetail d;
  d.summary = with_programmes(db, summary_of(s), s.integer(0));
  d.files = {s.integer(15) != 0, s.integer(16) != 0, s.integer(17) != 0, s.integer(18) != 0, d.summary.has_page,
             split_lines(s.text(10))};
  d.health.measured = s.integer(19) != 0;
  d.health.packets = s.integer(20);
  d.health.continuity_errors = s.integer(21);
  d.health.transport_errors = s.integer(22);
  d.health.sync_losses = s.integer(23);
  if (!s.is_null(24)) {
    d.health.first_time = format_broadcast_time(s.integer(24));
    const auto named = parse_recording_name(d.summary.name);
    d.health.clock_disagrees = named && clock_disagrees_with_name(s.integer(24), named->start);
  }
  if (!s.is_null(25)) d.health.last_time = format_broadcast_time(s.integer(25));
  d.health.longest_gap_s = static_cast<int>(s.integer(26));

  if (window.count == 0) return d;
  const std::int64_t start = s.integer(5);
  Statement lines = db.prepare(
      "SELECT " ONESEG_CAPTION_TIME ", c.text FROM captions AS c"
      " WHERE id BETWEEN (SELECT caption_first FROM recordings WHERE id = ?1)"
      " AND (SELECT caption_last FROM recordings WHERE id = ?1) AND recording = ?1 ORDER BY id LIMIT ?3 OFFSET ?2");
  lines.bind(1, s.integer(0)).bind(2, window.first).bind(3, window.count);
  d.first_line = window.first;
  while (lines.step())
    d.captions.push_back({format_broadcast_time(lines.integer(0)),
                          static_cast<int>(std::max<std::int64_t>(0, lines.integer(0) - start)), lines.text(1)});
  return d;
}

std::int64_t lines_before(ArchiveDb& db, const std::string& name, const std::string& root, int offset)
{
  Statement recording = db.prepare("SELECT r.id, r.start, r.caption_first FROM recordings AS r WHERE r.name = ?1 AND"
                                   ONESEG_ROOT_NAMED_2);
  recording.bind(1, name).bind(2, root);
  if (!recording.step()) return 0;
  // Rows are numbered by their time (caption_keys.h).
  Statement s = db.prepare("SELECT count(*) FROM captions WHERE id BETWEEN ?1 AND ?2 - 1 AND recording = ?3");
  s.bind(1, recording.integer(2)).bind(2, first_caption_key(recording.integer(1) + offset)).bind(3, recording.integer(0));
  return s.step() ? s.integer(0) : 0;
}

namespace {

// The recording of the same channel and root just before (or after) the one named.
std::optional<RecordingSummary> neighbour_recording(ArchiveDb& db, const std::string& name, const std::string& root,
                                                    bool later)
{
  return first_summary(db, std::string("SELECT ") + summary_columns +
                               " FROM recordings AS this, recordings AS r WHERE this.name = ?1 AND"
                               " this.root = (SELECT r.root FROM recordings AS r WHERE r.name = ?1 AND" ONESEG_ROOT_NAMED_2 ") AND"
                               " r.channel = this.channel AND r.root = this.root AND " +
                               (later ? "r.name > this.name ORDER BY r.name" : "r.name < this.name ORDER BY r.name DESC") +
                               " LIMIT 1",
                       [&](Statement& s) { s.bind(1, name).bind(2, root); });
}

}  // namespace

std::optional<RecordingSummary> previous_recording(ArchiveDb& db, const std::string& name, const std::string& root)
{
  return neighbour_recording(db, name, root, false);
}

std::optional<RecordingSummary> next_recording(ArchiveDb& db, const std::string& name, const std::string& root)
{
  return neighbour_recording(db, name, root, true);
}

std::optional<RecordingSummary> newest_recording(ArchiveDb& db, int channel)
{
  return first_summary(db, std::string("SELECT ") + summary_columns +
                               " FROM recordings AS r WHERE r.channel = ?1 ORDER BY r.name DESC LIMIT 1",
                       [channel](Statement& s) { s.bind(1, channel); });
}

// Counting the caption rows themselves reads the whole table (a second over a
// year); each recording keeps its count, and the recordings' figures come from
// one pass over them. The days are found by seeking the index on day.
ArchiveStats archive_stats(ArchiveDb& db)
{
  Statement s = db.prepare(
      "SELECT count(*), coalesce(sum(caption_count), 0), count(DISTINCT station), coalesce(sum(health <> ''), 0),"
      " (SELECT count(*) FROM programmes), (SELECT count(*) FROM (" + std::string(days_sql) + ")) FROM recordings");
  s.step();
  return {s.integer(0), s.integer(1), s.integer(4), s.integer(5), s.integer(2), s.integer(3)};
}

bool is_known_file(ArchiveDb& db, std::string_view relative_path, const std::string& root)
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
                           " FROM recordings AS r WHERE r.name = ?1 AND" ONESEG_ROOT_NAMED_2 " AND r.day = ?3");
  s.bind(1, name).bind(2, root).bind(3, day);
  if (!s.step()) return false;
  if (!column.empty()) return s.integer(0) != 0;
  for (const std::string& t : split_lines(s.text(0)))
    if (t == picture) return true;
  return false;
}

}  // namespace oneseg::archive
