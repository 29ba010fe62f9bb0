#pragma once
// Saved searches (watches) and the alerts they make: every newly indexed
// caption line that a watch's query finds makes one alert, at most one per
// watch, recording and 60 s of broadcast, never two for the same line (after
// a restart, a re-index, or the swap of lines read live for the .sub's).
// A watch looks ahead: lines said more than a minute before the newest line
// the index held when it was saved make none.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive_db.h"
#include "search.h"

namespace oneseg::archive {

struct Watch {
  std::int64_t id = 0;
  std::string query;
  std::string station;   // "" = all
  std::string label;     // "" = none given
  std::int64_t created = 0;  // system clock, seconds since 1970
};

// Throws QueryError for a query the search refuses; returns the new id.
std::int64_t add_watch(ArchiveDb& db, const std::string& query, const std::string& station, const std::string& label);
std::vector<Watch> list_watches(ArchiveDb& db);
std::optional<Watch> find_watch(ArchiveDb& db, std::int64_t id);
// false when there is no such watch. Removing one removes its alerts.
bool remove_watch(ArchiveDb& db, std::int64_t id);
bool rename_watch(ArchiveDb& db, std::int64_t id, const std::string& label);

inline constexpr int alert_spacing_s = 60;   // per watch and recording
inline constexpr std::int64_t alerts_kept = 10000;

// Matches the lines of `window` (just written, in the transaction that wrote
// them) against every watch; returns the alerts made.
int make_alerts(ArchiveDb& db, const RowWindow& window);

struct Alert {
  std::int64_t id = 0;
  std::int64_t watch = 0;
  std::string watch_name;   // its label, else its query
  std::string query;        // the watch's, to mark the words
  std::string name;         // recording "261207180_Ch27"
  std::string day;          // "261207"
  std::string time;         // "yyyy-mm-dd hh:mm:ss" broadcast time of the line
  std::string text;
  int channel = 0;
  std::string station;
  std::string programme;
  int offset = 0;           // seconds into the recording
  std::int64_t made = 0;    // system clock, seconds since 1970
};

// Alerts with ids above `after`, oldest first (at most limit).
std::vector<Alert> alerts_after(ArchiveDb& db, std::int64_t after, std::optional<std::int64_t> watch, int limit);
// The newest alerts, newest first.
std::vector<Alert> newest_alerts(ArchiveDb& db, std::optional<std::int64_t> watch, int limit);
std::int64_t last_alert_id(ArchiveDb& db);

// {"id", "watch", "watch_name", "time", "station", "channel", "programme",
// "recording", "offset", "text", "url"}; url relative to the server's root.
std::string alert_json(const Alert& alert);
std::string alerts_json(const std::vector<Alert>& alerts);
std::string watches_json(const std::vector<Watch>& watches);
// The page that plays the moment: "/recording/<day>/<name>?t=<offset>".
std::string alert_path(const Alert& alert);

}  // namespace oneseg::archive
