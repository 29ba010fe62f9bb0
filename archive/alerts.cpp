#include "alerts.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "broadcast_clock.h"
#include "caption_keys.h"

namespace oneseg::archive {

namespace {

std::int64_t seconds_now()
{
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// "yyyy-mm-dd hh:mm:ss" as broadcast seconds.
std::optional<std::int64_t> broadcast_time_of(const std::string& text)
{
  int hour = 0, minute = 0, second = 0;
  const auto day = parse_day(text.substr(0, 10));
  if (!day || text.size() != 19 || std::sscanf(text.c_str() + 11, "%2d:%2d:%2d", &hour, &minute, &second) != 3)
    return std::nullopt;
  return *day + hour * 3600 + minute * 60 + second;
}

constexpr const char* alert_columns =
    "a.id, a.watch, CASE WHEN w.label = '' THEN w.query ELSE w.label END, w.query, a.recording, a.time, a.text,"
    " a.channel, a.station, a.programme, a.offset, a.made FROM alerts AS a JOIN watches AS w ON w.id = a.watch";

Alert alert_of(const Statement& s)
{
  Alert a;
  a.id = s.integer(0);
  a.watch = s.integer(1);
  a.watch_name = s.text(2);
  a.query = s.text(3);
  a.name = s.text(4);
  a.day = a.name.substr(0, 6);
  a.time = format_broadcast_time(s.integer(5));
  a.text = s.text(6);
  a.channel = static_cast<int>(s.integer(7));
  a.station = s.text(8);
  a.programme = s.text(9);
  a.offset = static_cast<int>(s.integer(10));
  a.made = s.integer(11);
  return a;
}

std::vector<Alert> alerts_of(Statement& s)
{
  std::vector<Alert> out;
  while (s.step()) out.push_back(alert_of(s));
  return out;
}

Watch watch_of(const Statement& s)
{
  return {s.integer(0), s.text(1), s.text(2), s.text(3), s.integer(4)};
}

// Past the number kept, the oldest alerts go; their watches then look no
// further back than the newest line of those, so a re-index never makes
// them again.
void prune(ArchiveDb& db)
{
  Statement cut = db.prepare("SELECT id FROM alerts ORDER BY id DESC LIMIT 1 OFFSET ?1");
  cut.bind(1, alerts_kept);
  if (!cut.step()) return;
  const std::int64_t last_gone = cut.integer(0);
  db.prepare(
        "UPDATE watches SET from_time = max(coalesce(from_time, 0),"
        " (SELECT max(time) + 1 FROM alerts WHERE watch = watches.id AND id <= ?1))"
        " WHERE id IN (SELECT watch FROM alerts WHERE id <= ?1)")
      .bind(1, last_gone)
      .run();
  db.prepare("DELETE FROM alerts WHERE id <= ?1").bind(1, last_gone).run();
}

}  // namespace

std::int64_t add_watch(ArchiveDb& db, const std::string& query, const std::string& station, const std::string& label)
{
  // Refused as the search refuses it.
  SearchQuery checked;
  checked.text = query;
  checked.station = station;
  parsed_query(checked);
  ArchiveDb::Transaction transaction(db);
  Statement newest = db.prepare("SELECT max(id) FROM captions");
  newest.step();
  Statement add = db.prepare("INSERT INTO watches(query, station, label, created, from_time) VALUES (?1, ?2, ?3, ?4, ?5)");
  add.bind(1, query).bind(2, station).bind(3, label).bind(4, seconds_now());
  if (!newest.is_null(0)) add.bind(5, time_of_caption_key(newest.integer(0)) - alert_spacing_s);
  newest.reset();
  add.run();
  const std::int64_t id = db.last_insert_id();
  transaction.commit();
  return id;
}

std::vector<Watch> list_watches(ArchiveDb& db)
{
  Statement s = db.prepare("SELECT id, query, station, label, created FROM watches ORDER BY id");
  std::vector<Watch> out;
  while (s.step()) out.push_back(watch_of(s));
  return out;
}

std::optional<Watch> find_watch(ArchiveDb& db, std::int64_t id)
{
  Statement s = db.prepare("SELECT id, query, station, label, created FROM watches WHERE id = ?1");
  s.bind(1, id);
  if (!s.step()) return std::nullopt;
  return watch_of(s);
}

bool remove_watch(ArchiveDb& db, std::int64_t id)
{
  ArchiveDb::Transaction transaction(db);
  db.prepare("DELETE FROM alerts WHERE watch = ?1").bind(1, id).run();
  db.prepare("DELETE FROM watches WHERE id = ?1").bind(1, id).run();
  const bool removed = db.changes() > 0;
  transaction.commit();
  return removed;
}

bool rename_watch(ArchiveDb& db, std::int64_t id, const std::string& label)
{
  db.prepare("UPDATE watches SET label = ?2 WHERE id = ?1").bind(1, id).bind(2, label).run();
  return db.changes() > 0;
}

int make_alerts(ArchiveDb& db, const RowWindow& window)
{
  Statement watches = db.prepare("SELECT id, query, station, from_time FROM watches");
  Statement add = db.prepare(
      "INSERT OR IGNORE INTO alerts(watch, recording, time, text, channel, station, programme, offset, made)"
      " SELECT ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9 WHERE NOT EXISTS (SELECT 1 FROM alerts WHERE watch = ?1"
      " AND recording = ?2 AND time > ?3 - ?10 AND time < ?3 + ?10)");
  int made = 0;
  while (watches.step()) {
    SearchQuery query;
    query.text = watches.text(1);
    query.station = watches.text(2);
    query.limit = 10000;
    query.only_rows = window;
    query.context = false;
    SearchResult found;
    try {
      found = search(db, query);
    } catch (const QueryError&) {
      continue;  // saved by an older version that searched otherwise
    }
    // Oldest first, so that the first line of a stretch is the one alerted.
    std::reverse(found.hits.begin(), found.hits.end());
    for (const SearchHit& h : found.hits) {
      const auto time = broadcast_time_of(h.time);
      if (!time || (!watches.is_null(3) && *time < watches.integer(3))) continue;
      add.bind(1, watches.integer(0)).bind(2, h.name).bind(3, *time).bind(4, h.text).bind(5, h.channel);
      add.bind(6, h.station).bind(7, h.programme).bind(8, h.offset).bind(9, seconds_now()).bind(10, alert_spacing_s);
      add.run();
      made += db.changes() > 0;
    }
  }
  if (made > 0) prune(db);
  return made;
}

std::vector<Alert> alerts_after(ArchiveDb& db, std::int64_t after, std::optional<std::int64_t> watch, int limit)
{
  Statement s = db.prepare(std::string("SELECT ") + alert_columns +
                           " WHERE a.id > ?1 AND (?2 IS NULL OR a.watch = ?2) ORDER BY a.id LIMIT ?3");
  s.bind(1, after).bind(3, limit);
  if (watch) s.bind(2, *watch);
  return alerts_of(s);
}

std::vector<Alert> newest_alerts(ArchiveDb& db, std::optional<std::int64_t> watch, int limit)
{
  Statement s = db.prepare(std::string("SELECT ") + alert_columns +
                           " WHERE (?1 IS NULL OR a.watch = ?1) ORDER BY a.id DESC LIMIT ?2");
  s.bind(2, limit);
  if (watch) s.bind(1, *watch);
  return alerts_of(s);
}

std::int64_t last_alert_id(ArchiveDb& db)
{
  Statement s = db.prepare("SELECT coalesce(max(id), 0) FROM alerts");
  s.step();
  return s.integer(0);
}

std::string alert_path(const Alert& a)
{
  return "/recording/" + a.day + "/" + a.name + "?t=" + std::to_string(a.offset);
}

namespace {

nlohmann::ordered_json alert_object(const Alert& a)
{
  return {{"id", a.id}, {"watch", a.watch}, {"watch_name", a.watch_name}, {"time", a.time},
          {"station", a.station}, {"channel", a.channel}, {"programme", a.programme},
          {"recording", a.day + "/" + a.name + ".ts"}, {"offset", a.offset}, {"text", a.text}, {"url", alert_path(a)}};
}

std::string dumped(const nlohmann::ordered_json& j)
{
  // Caption text from the air may hold bytes that are not UTF-8; they are replaced, never fatal.
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::string alert_json(const Alert& alert) { return dumped(alert_object(alert)); }

std::string alerts_json(const std::vector<Alert>& alerts)
{
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Alert& a : alerts) list.push_back(alert_object(a));
  return dumped({{"alerts", std::move(list)}});
}

std::string watches_json(const std::vector<Watch>& watches)
{
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Watch& w : watches)
    list.push_back({{"id", w.id}, {"query", w.query}, {"station", w.station}, {"name", w.label}, {"created", w.created}});
  return dumped({{"watches", std::move(list)}});
}

}  // namespace oneseg::archive
