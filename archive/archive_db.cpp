#include "archive_db.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <system_error>
#include <utility>

#include "bigram_tokenizer.h"
#include "match_sql.h"
#include "user_tables.h"

namespace oneseg::archive {

namespace {

[[noreturn]] void fail(sqlite3* db, const std::string& what)
{
  throw DbError(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

// Caption rows carry their own ordering key (caption_keys.h); a recording
// notes the range of its rows instead of an index over them. The full-text
// table holds only the index (without the column sizes, which only ranking
// needs); the text lives in captions, and the indexer changes both in the
// same transaction, a whole batch of rows per statement (row by row, the
// index would write a segment of its own for every row).
constexpr const char* schema_sql = R"sql(
CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS roots(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  path TEXT NOT NULL,
  available INTEGER NOT NULL,
  mount_point INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS recordings(
  id INTEGER PRIMARY KEY,
  root INTEGER NOT NULL,
  day TEXT NOT NULL,
  name TEXT NOT NULL,
  channel INTEGER NOT NULL,
  station TEXT NOT NULL,
  start INTEGER NOT NULL,
  end INTEGER NOT NULL,
  fingerprint TEXT NOT NULL,
  ts_size INTEGER NOT NULL,
  ts_mtime INTEGER NOT NULL,
  has_ts INTEGER NOT NULL, has_idx INTEGER NOT NULL, has_sub INTEGER NOT NULL,
  has_eit INTEGER NOT NULL, has_html INTEGER NOT NULL,
  thumbnails TEXT NOT NULL,
  health_measured INTEGER NOT NULL,
  packets INTEGER NOT NULL, continuity_errors INTEGER NOT NULL,
  transport_errors INTEGER NOT NULL, sync_losses INTEGER NOT NULL,
  first_time INTEGER, last_time INTEGER, longest_gap INTEGER NOT NULL,
  health TEXT NOT NULL,
  caption_count INTEGER NOT NULL DEFAULT 0,
  caption_first INTEGER NOT NULL DEFAULT 0,
  caption_last INTEGER NOT NULL DEFAULT -1,
  UNIQUE(name, root));
CREATE INDEX IF NOT EXISTS recordings_by_day ON recordings(day, start, channel);
CREATE INDEX IF NOT EXISTS recordings_by_channel ON recordings(channel, root, name);
CREATE INDEX IF NOT EXISTS recordings_by_station ON recordings(station, channel);
CREATE INDEX IF NOT EXISTS recordings_by_channel_station ON recordings(channel, station);
CREATE TABLE IF NOT EXISTS captions(
  id INTEGER PRIMARY KEY,
  recording INTEGER NOT NULL,
  time INTEGER,
  text TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS programmes(
  recording INTEGER NOT NULL,
  start INTEGER NOT NULL,
  duration INTEGER NOT NULL,
  title TEXT NOT NULL,
  description TEXT NOT NULL,
  genres TEXT NOT NULL,
  title_key TEXT NOT NULL DEFAULT '',
  genres_key TEXT NOT NULL DEFAULT '');
CREATE INDEX IF NOT EXISTS programmes_by_recording ON programmes(recording, start, duration, title_key, genres_key);
CREATE VIEW IF NOT EXISTS caption_content AS
  SELECT c.id AS id, c.text AS text, )sql" ONESEG_CHANNEL_TOKEN("r.channel") R"sql( AS meta
  FROM captions AS c JOIN recordings AS r ON r.id = c.recording;
CREATE VIRTUAL TABLE IF NOT EXISTS caption_index USING fts5(
  text, meta, content='caption_content', content_rowid='id', tokenize='oneseg_bigram', columnsize=0);
)sql";

// The files are the source of truth: a database of an older schema is
// emptied and filled again by the next index run. The users' own tables
// (user_tables.h) are not the index's and are never named here.
constexpr const char* drop_sql = R"sql(
DROP TABLE IF EXISTS caption_index; DROP VIEW IF EXISTS caption_content; DROP TABLE IF EXISTS captions; DROP TABLE IF EXISTS programmes;
DROP TABLE IF EXISTS recordings; DROP TABLE IF EXISTS roots; DROP TABLE IF EXISTS schema_version;
)sql";

// Merging the full-text segments less eagerly than by default makes building
// a year's index half again as fast, for about 1% more space.
constexpr int usual_automerge = 8, usual_crisismerge = 16, usual_hashsize = 1 << 20;
// A whole build merges nothing after each write and only 64 segments at a
// time (each line is rewritten once or twice, not at every level), and
// writes a batch as one segment, not one per megabyte; merge_index then
// merges all once.
constexpr int bulk_automerge = 0, bulk_crisismerge = 64, bulk_hashsize = 64 << 20;

std::int64_t index_setting(ArchiveDb& db, const char* name, std::int64_t fallback)
{
  Statement s = db.prepare("SELECT v FROM caption_index_config WHERE k = ?1");
  s.bind(1, std::string_view(name));
  return s.step() ? s.integer(0) : fallback;
}

void set_index_setting(ArchiveDb& db, const char* name, std::int64_t value)
{
  db.prepare("INSERT INTO caption_index(caption_index, rank) VALUES (?1, ?2)")
      .bind(1, std::string_view(name)).bind(2, value).run();
}

std::int64_t stored_version(ArchiveDb& db)
{
  Statement exists = db.prepare("SELECT 1 FROM sqlite_schema WHERE name = 'schema_version'");
  if (!exists.step()) return 0;
  Statement version = db.prepare("SELECT max(version) FROM schema_version");
  return version.step() ? version.integer(0) : 0;
}

void create_schema(ArchiveDb& db)
{
  ArchiveDb::Transaction t(db);
  const std::int64_t version = stored_version(db);
  if (version > schema_version)
    throw DbError("the database was written by a newer oneseg-archive (schema " + std::to_string(version) + ")");
  if (version < schema_version) {
    db.exec(drop_sql);
    db.exec(schema_sql);
    db.prepare("INSERT INTO schema_version(version) VALUES (?1)").bind(1, schema_version).run();
    set_index_setting(db, "automerge", usual_automerge);
  }
  db.exec(user_tables_sql);
  t.commit();
}

}  // namespace

void set_bulk_merging(ArchiveDb& db, bool bulk)
{
  const std::pair<const char*, int> settings[] = {{"automerge", bulk ? bulk_automerge : usual_automerge},
                                                  {"crisismerge", bulk ? bulk_crisismerge : usual_crisismerge},
                                                  {"hashsize", bulk ? bulk_hashsize : usual_hashsize}};
  // Most index runs find little to do: they write nothing here either.
  if (std::all_of(std::begin(settings), std::end(settings),
                  [&](const auto& s) { return index_setting(db, s.first, -1) == s.second; }))
    return;
  ArchiveDb::Transaction t(db);
  for (const auto& [name, value] : settings) set_index_setting(db, name, value);
  t.commit();
}

void merge_index(ArchiveDb& db)
{
  db.exec("INSERT INTO caption_index(caption_index) VALUES ('optimize')");
  // The merged segment was written beside the old ones; the file gives back
  // what they held (a database made before auto_vacuum was set keeps it free).
  db.exec("PRAGMA incremental_vacuum");
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db)
{
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr) != SQLITE_OK)
    fail(db, "cannot prepare a statement");
}

Statement::Statement(Statement&& other) noexcept
    : db_(other.db_), statement_(std::exchange(other.statement_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept
{
  if (this != &other) {
    sqlite3_finalize(statement_);
    db_ = other.db_;
    statement_ = std::exchange(other.statement_, nullptr);
  }
  return *this;
}

Statement::~Statement() { sqlite3_finalize(statement_); }

Statement& Statement::bind(int index, std::int64_t value)
{
  if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK) fail(db_, "cannot bind");
  return *this;
}

Statement& Statement::bind(int index, double value)
{
  if (sqlite3_bind_double(statement_, index, value) != SQLITE_OK) fail(db_, "cannot bind");
  return *this;
}

Statement& Statement::bind(int index, std::string_view text)
{
  if (sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) !=
      SQLITE_OK)
    fail(db_, "cannot bind");
  return *this;
}

Statement& Statement::bind_pointer(int index, const void* pointer, const char* type)
{
  if (sqlite3_bind_pointer(statement_, index, const_cast<void*>(pointer), type, nullptr) != SQLITE_OK)
    fail(db_, "cannot bind");
  return *this;
}

Statement& Statement::bind_null(int index)
{
  if (sqlite3_bind_null(statement_, index) != SQLITE_OK) fail(db_, "cannot bind");
  return *this;
}

bool Statement::step()
{
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  const std::string message = sqlite3_errmsg(db_);
  sqlite3_reset(statement_);
  throw DbError(message);
}

void Statement::run()
{
  while (step()) {
  }
  reset();
}

bool Statement::try_run()
{
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
    reset();
    return true;
  }
  const std::string message = sqlite3_errmsg(db_);
  reset();
  if ((rc & 0xFF) == SQLITE_CONSTRAINT) return false;
  throw DbError(message);
}

void Statement::reset()
{
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(statement_, column); }
double Statement::real(int column) const { return sqlite3_column_double(statement_, column); }
bool Statement::is_null(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

std::string Statement::text(int column) const
{
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  return p == nullptr ? std::string() : std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

namespace {

// "file:" + the path with the characters a URI gives meaning to escaped.
std::string immutable_uri(const std::filesystem::path& db_file)
{
  std::string uri = "file:";
  for (const char c : std::filesystem::absolute(db_file).string()) {
    if (c == '%' || c == '?' || c == '#') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      uri += escaped;
    } else {
      uri += c;
    }
  }
  return uri + "?immutable=1";
}

sqlite3* open_handle(const std::filesystem::path& db_file, int flags)
{
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(db_file.c_str(), &handle, flags, nullptr) != SQLITE_OK) {
    const std::string message = handle != nullptr ? sqlite3_errmsg(handle) : "out of memory";
    sqlite3_close(handle);
    throw DbError("cannot open " + db_file.string() + ": " + message);
  }
  // Readers (search, the web server) wait for a writer's commit rather than fail.
  sqlite3_busy_timeout(handle, 10000);
  register_bigram_tokenizer(handle);
  register_match_functions(handle);
  return handle;
}

}  // namespace

bool ArchiveDb::writable(const std::filesystem::path& db_file)
{
  // A folder still to be made is made in the nearest one there is.
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::absolute(db_file, ec).parent_path();
  while (!std::filesystem::exists(folder, ec) && folder.has_relative_path()) folder = folder.parent_path();
  return ::access(folder.c_str(), W_OK) == 0 &&
         (!std::filesystem::exists(db_file, ec) || ::access(db_file.c_str(), W_OK) == 0);
}

ArchiveDb ArchiveDb::open_to_read(const std::filesystem::path& db_file)
{
  std::error_code ec;
  if (!std::filesystem::is_regular_file(db_file, ec)) throw NoDatabase("there is no database " + db_file.string());
  // SQLite reads a database in WAL mode only where it may make the shared
  // memory file beside it, unless told that nobody can change the database.
  ArchiveDb db(writable(db_file) ? open_handle(db_file, SQLITE_OPEN_READONLY)
                                 : open_handle(immutable_uri(db_file), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI));
  const std::int64_t version = stored_version(db);
  if (version != schema_version)
    throw DbError(db_file.string() + " has the layout of " + (version > schema_version ? "a newer" : "an older") +
                  " oneseg-archive; `oneseg-archive index` with this one builds it again");
  return db;
}

ArchiveDb ArchiveDb::open(const std::filesystem::path& db_file)
{
  std::error_code ec;
  if (db_file.has_parent_path()) std::filesystem::create_directories(db_file.parent_path(), ec);
  ArchiveDb db(open_handle(db_file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
  // Takes effect in a new file only, before its first table.
  db.exec("PRAGMA auto_vacuum=INCREMENTAL");
  db.exec("PRAGMA journal_mode=WAL");
  db.exec("PRAGMA synchronous=NORMAL");
  create_schema(db);
  return db;
}

ArchiveDb::ArchiveDb(ArchiveDb&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

ArchiveDb& ArchiveDb::operator=(ArchiveDb&& other) noexcept
{
  if (this != &other) {
    sqlite3_close_v2(db_);
    db_ = std::exchange(other.db_, nullptr);
  }
  return *this;
}

ArchiveDb::~ArchiveDb() { sqlite3_close_v2(db_); }

void ArchiveDb::exec(const char* sql)
{
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    throw DbError(text);
  }
}

std::int64_t ArchiveDb::last_insert_id() const { return sqlite3_last_insert_rowid(db_); }

int ArchiveDb::changes() const { return sqlite3_changes(db_); }

ArchiveDb::Transaction::Transaction(ArchiveDb& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }

ArchiveDb::Transaction::~Transaction()
{
  if (open_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void ArchiveDb::Transaction::commit()
{
  db_.exec("COMMIT");
  open_ = false;
}

std::filesystem::path default_db_path(const std::filesystem::path& root)
{
  std::error_code ec;
  std::filesystem::path canonical = std::filesystem::weakly_canonical(root, ec);
  if (ec) canonical = std::filesystem::absolute(root);
  // FNV-1a: stable across runs and builds, unlike std::hash.
  std::uint64_t hash = 1469598103934665603ull;
  for (const unsigned char c : canonical.string()) hash = (hash ^ c) * 1099511628211ull;
  char name[40];
  std::snprintf(name, sizeof name, "archive-%016llx.sqlite", static_cast<unsigned long long>(hash));

  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/')
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    base = std::filesystem::path(home) / ".local/share";
  else
    base = std::filesystem::temp_directory_path();
  return base / "oneseg" / name;
}

}  // namespace oneseg::archive
