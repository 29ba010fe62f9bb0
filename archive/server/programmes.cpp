#include "programmes.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>

#include "broadcast_clock.h"
#include "handlers.h"
#include "text_normalise.h"

namespace oneseg::archive::web {
namespace {

// A listing holds the schedule hours ahead: the programme is looked for in
// the listings of the recordings this near its start.
constexpr std::int64_t listing_reach_s = 6 * 3600;
constexpr std::int64_t recording_span_s = 600;

// "yymmddhhm": the part of a recording name that orders it in time; with "~"
// after it, an upper bound of the names of that slot.
std::string slot_of(std::int64_t seconds) { return minute_name(seconds).substr(0, 9); }

Programme programme_of(const Statement& s, int first) {
  return {format_broadcast_time(s.integer(first)), static_cast<int>(s.integer(first + 1)), s.text(first + 2),
          s.text(first + 3), s.text(first + 4)};
}

// Titles and descriptions compared as caption text is: full-width and
// half-width forms alike.
void normalised_text(sqlite3_context* context, int, sqlite3_value** values) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
  const std::string out = normalise(text ? std::string_view(text, sqlite3_value_bytes(values[0])) : std::string_view());
  sqlite3_result_text(context, out.c_str(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

}  // namespace

std::string minute_name(std::int64_t seconds) {
  const std::string t = format_broadcast_time(seconds);  // "2026-12-07 18:00:00"
  return t.substr(2, 2) + t.substr(5, 2) + t.substr(8, 2) + t.substr(11, 2) + t.substr(14, 2);
}

std::optional<std::int64_t> minute_seconds(const std::string& name) {
  if (name.size() != 10) return std::nullopt;
  return seconds_of("20" + name.substr(0, 2) + "-" + name.substr(2, 2) + "-" + name.substr(4, 2) + " " +
                    name.substr(6, 2) + ":" + name.substr(8, 2) + ":00");
}

bool carries_on(const RecordingSummary& recording, const RecordingSummary& next) {
  const auto end = seconds_of(recording.end);
  const auto next_start = seconds_of(next.start);
  return end && next_start && *next_start - *end <= 5;
}

std::optional<ProgrammeRun> programme_run(ArchiveDb& db, int channel, std::int64_t minute_start) {
  Statement found = db.prepare(
      "SELECT p.start, p.duration, p.title, p.description, p.genres, r.station FROM recordings AS r"
      " JOIN programmes AS p ON p.recording = r.id WHERE r.channel = ?1 AND r.name BETWEEN ?2 AND ?3"
      " AND p.start >= ?4 AND p.start < ?4 + 60 ORDER BY p.start LIMIT 1");
  found.bind(1, channel).bind(2, slot_of(minute_start - listing_reach_s));
  found.bind(3, slot_of(minute_start + listing_reach_s) + "~").bind(4, minute_start);
  if (!found.step()) return std::nullopt;
  ProgrammeRun run{channel, found.text(5), programme_of(found, 0), {}};
  const std::int64_t start = found.integer(0);
  const std::int64_t end = start + std::max<std::int64_t>(0, found.integer(1));

  Statement recordings = db.prepare(
      "SELECT name, start, end FROM recordings WHERE channel = ?1 AND name BETWEEN ?2 AND ?3 ORDER BY name");
  recordings.bind(1, channel).bind(2, slot_of(start - recording_span_s)).bind(3, slot_of(end) + "~");
  const std::string first_line = format_broadcast_time(start), after_last = format_broadcast_time(end);
  while (recordings.step()) {
    const std::int64_t from = recordings.integer(1), to = recordings.integer(2);
    if (to <= start || from >= end) continue;
    auto detail = recording_detail(db, recordings.text(0));
    if (!detail) continue;
    std::erase_if(detail->captions,
                  [&](const CaptionLine& line) { return line.time < first_line || line.time >= after_last; });
    ProgrammePart part{std::move(*detail), static_cast<int>(std::max<std::int64_t>(0, start - from)),
                       static_cast<int>(std::min(to, end) - from), false};
    if (!run.parts.empty()) run.parts.back().joins_next = carries_on(run.parts.back().recording.summary, part.recording.summary);
    run.parts.push_back(std::move(part));
  }
  return run;
}

std::vector<FoundProgramme> find_programmes(ArchiveDb& db, const std::string& text, int limit) {
  sqlite3_create_function(db.handle(), "oneseg_normalise", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                          normalised_text, nullptr, nullptr);
  // Every recording repeats its station's listing: each programme once.
  Statement s = db.prepare(
      "SELECT r.channel, r.station, p.start, p.duration, p.title, p.description, p.genres FROM programmes AS p"
      " JOIN recordings AS r ON r.id = p.recording WHERE instr(oneseg_normalise(p.title || ' ' || p.description), ?1) > 0"
      " GROUP BY r.channel, p.start ORDER BY p.start DESC, r.channel LIMIT ?2");
  s.bind(1, normalise(text)).bind(2, limit);
  std::vector<FoundProgramme> out;
  while (s.step()) out.push_back({static_cast<int>(s.integer(0)), s.text(1), programme_of(s, 2)});
  return out;
}

std::optional<std::string> newest_day(ArchiveDb& db) {
  Statement s = db.prepare("SELECT max(day) FROM recordings");
  if (!s.step() || s.is_null(0)) return std::nullopt;
  return s.text(0);
}

DayGrid day_grid(ArchiveDb& db, const std::string& day) {
  auto recordings = recordings_of_day(db, day);
  DayGrid grid{day, {}, {}, {}};
  Statement previous = db.prepare("SELECT max(day) FROM recordings WHERE day < ?1");
  Statement next = db.prepare("SELECT min(day) FROM recordings WHERE day > ?1");
  for (auto [statement, field] : {std::pair{&previous, &grid.previous}, std::pair{&next, &grid.next}}) {
    statement->bind(1, day);
    if (statement->step() && !statement->is_null(0)) *field = statement->text(0);
  }
  std::map<int, StationDay> stations;
  for (auto& r : recordings) {
    StationDay& station = stations[r.channel];
    station.channel = r.channel;
    if (station.station.empty() || !r.programmes.empty()) station.station = r.station;
    r.programmes.clear();
    station.recordings.push_back(std::move(r));
  }
  // Every recording repeats its station's listing: each programme of the day
  // once (as the day's first recording lists it), in one statement.
  if (const auto day_start = minute_seconds(day + "0000")) {
    Statement listed = db.prepare(
        "SELECT r.channel, p.start, p.duration, p.title, p.description, p.genres, min(r.name) FROM recordings AS r"
        " JOIN programmes AS p ON p.recording = r.id WHERE r.day = ?1 AND p.start < ?3 AND p.start + p.duration > ?2"
        " GROUP BY r.channel, p.start ORDER BY r.channel, p.start");
    listed.bind(1, day).bind(2, *day_start).bind(3, *day_start + seconds_per_day);
    while (listed.step()) {
      if (const auto station = stations.find(static_cast<int>(listed.integer(0))); station != stations.end()) {
        station->second.programmes.push_back(programme_of(listed, 1));
      }
    }
  }
  for (auto& [channel, station] : stations) grid.stations.push_back(std::move(station));
  return grid;
}

}  // namespace oneseg::archive::web
