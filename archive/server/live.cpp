#include "live.h"

#include <algorithm>

#include "broadcast_clock.h"
#include "caption_keys.h"
#include "handlers.h"

namespace oneseg::archive::web {
namespace {

// The channels recorded on the newest two days of the index (a station live
// just after midnight has its day before too).
std::vector<int> recent_channels(ArchiveDb& db) {
  Statement newest = db.prepare("SELECT max(day) FROM recordings");
  if (!newest.step() || newest.is_null(0)) return {};
  Statement before = db.prepare("SELECT coalesce(max(day), ?1) FROM recordings WHERE day < ?1");
  before.bind(1, newest.text(0));
  before.step();
  // "+channel": read through the day index, not every recording by channel.
  Statement channels = db.prepare("SELECT DISTINCT +channel FROM recordings WHERE day >= ?1 ORDER BY 1");
  channels.bind(1, before.text(0));
  std::vector<int> out;
  while (channels.step()) out.push_back(static_cast<int>(channels.integer(0)));
  return out;
}

// The listing of the channel's newest recording that has one, up to `name`:
// a recording still being written has no listing of its own yet.
std::vector<Programme> latest_listing(ArchiveDb& db, int channel, const std::string& name) {
  Statement s = db.prepare(
      "SELECT p.start, p.duration, p.title, p.description, p.genres FROM programmes AS p WHERE p.recording ="
      " (SELECT r.id FROM recordings AS r WHERE r.channel = ?1 AND r.name <= ?2 AND"
      " EXISTS (SELECT 1 FROM programmes WHERE recording = r.id) ORDER BY r.name DESC LIMIT 1) ORDER BY p.start");
  s.bind(1, channel).bind(2, name);
  std::vector<Programme> out;
  while (s.step()) {
    out.push_back({format_broadcast_time(s.integer(0)), static_cast<int>(s.integer(1)), s.text(2), s.text(3), s.text(4)});
  }
  return out;
}

// Lines older than the recording before the newest are never live.
std::int64_t oldest_live_key(ArchiveDb& db, int channel) {
  const auto newest = newest_recording(db, channel);
  const auto start = newest ? seconds_of(newest->start) : std::nullopt;
  return start ? first_caption_key(*start - 600) : 0;
}

}  // namespace

std::optional<Programme> programme_at(const std::vector<Programme>& listing, const std::string& at) {
  const auto moment = seconds_of(at);
  if (!moment) return std::nullopt;
  for (const auto& p : listing) {
    const auto begins = seconds_of(p.start);
    if (begins && *begins <= *moment && *moment < *begins + p.duration_s) return p;
  }
  return std::nullopt;
}

std::vector<LiveCaption> live_captions(ArchiveDb& db, int channel, std::optional<std::int64_t> after, int limit) {
  const std::int64_t floor = oldest_live_key(db, channel);
  // Without a cursor, the newest lines; with one, those that follow it.
  Statement s = db.prepare(std::string("SELECT c.id, " ONESEG_CAPTION_TIME ", c.text, r.name FROM captions AS c"
                                       " JOIN recordings AS r ON r.id = c.recording"
                                       " WHERE c.id > ?1 AND r.channel = ?2 ORDER BY c.id ") +
                           (after ? "LIMIT ?3" : "DESC LIMIT ?3"));
  s.bind(1, std::max(floor, after.value_or(0))).bind(2, channel).bind(3, limit);
  std::vector<LiveCaption> out;
  while (s.step()) out.push_back({s.integer(0), format_broadcast_time(s.integer(1)), s.text(2), s.text(3)});
  if (!after) std::reverse(out.begin(), out.end());
  return out;
}

std::vector<LiveStation> live_stations(ArchiveDb& db, const WrittenAt& written_at,
                                       std::chrono::system_clock::time_point now) {
  std::vector<LiveStation> out;
  for (const int channel : recent_channels(db)) {
    auto recording = newest_recording(db, channel);
    if (!recording) continue;
    const auto written = written_at(*recording);
    if (!written || now - *written > live_window) continue;
    LiveStation station{std::move(*recording), std::nullopt, std::nullopt};
    const auto newest = live_captions(db, channel, std::nullopt, 1);
    if (!newest.empty()) station.newest = newest.front();
    // The moment on the air: the newest line, or without one the recording's
    // end (its last time packet once measured).
    const std::string at = station.newest ? station.newest->time : station.recording.end;
    station.programme = programme_at(latest_listing(db, channel, station.recording.name), at);
    out.push_back(std::move(station));
  }
  return out;
}

}  // namespace oneseg::archive::web
