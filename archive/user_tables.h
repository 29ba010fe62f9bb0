#pragma once
// Tables of what users made in the archive (saved searches and their
// alerts, saved clips). The index tables are rebuilt from the recording folder after a
// schema upgrade, so that upgrade drops them; these have no other copy, so
// they are never named in its drop list and are created, if missing, at
// every open. A change to one is a new table or an ALTER TABLE here, never a
// drop. Their rows never hold the number of an index row (those change at
// every re-index): they name a recording and a time instead.
namespace oneseg::archive {

inline constexpr const char* user_tables_sql = R"sql(
CREATE TABLE IF NOT EXISTS watches(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  query TEXT NOT NULL,
  station TEXT NOT NULL,
  label TEXT NOT NULL,
  created INTEGER NOT NULL,
  from_time INTEGER);
CREATE TABLE IF NOT EXISTS alerts(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  watch INTEGER NOT NULL,
  recording TEXT NOT NULL,
  time INTEGER NOT NULL,
  text TEXT NOT NULL,
  channel INTEGER NOT NULL,
  station TEXT NOT NULL,
  programme TEXT NOT NULL,
  offset INTEGER NOT NULL,
  made INTEGER NOT NULL,
  UNIQUE(watch, recording, time, text));
CREATE TABLE IF NOT EXISTS saved_clips(
  id INTEGER PRIMARY KEY,
  root TEXT NOT NULL,
  day TEXT NOT NULL,
  name TEXT NOT NULL,
  from_s INTEGER NOT NULL,
  to_s INTEGER NOT NULL,
  title TEXT NOT NULL,
  note TEXT NOT NULL,
  station TEXT NOT NULL,
  start INTEGER NOT NULL,
  created INTEGER NOT NULL,
  kept_file TEXT NOT NULL DEFAULT '');
)sql";

}  // namespace oneseg::archive
