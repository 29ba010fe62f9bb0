#pragma once
// The archive's SQLite database: one connection, opened in WAL mode with the
// schema in place and the caption tokenizer registered.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace oneseg::archive {

class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// There is no database at the path given: nothing to read.
class NoDatabase : public DbError {
 public:
  using DbError::DbError;
};

// A prepared statement. Columns and parameters count from 0 and 1 as in
// SQLite itself.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  Statement(Statement&& other) noexcept;
  Statement& operator=(Statement&& other) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  Statement& bind(int index, std::int64_t value);
  Statement& bind(int index, int value) { return bind(index, std::int64_t{value}); }
  Statement& bind(int index, double value);
  Statement& bind(int index, std::string_view text);
  Statement& bind_null(int index);
  // A pointer only a function of this program reads (sqlite3_bind_pointer);
  // it must outlive the statement's use.
  Statement& bind_pointer(int index, const void* pointer, const char* type);

  // True while a row is there; false when done. Throws DbError.
  bool step();
  // Runs a statement that returns no rows, then resets it.
  void run();
  // Like run(), but false (and nothing done) when a uniqueness rule refused the row.
  bool try_run();
  void reset();

  std::int64_t integer(int column) const;
  double real(int column) const;
  std::string text(int column) const;
  bool is_null(int column) const;

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
};

class ArchiveDb {
 public:
  // Opens or creates the database (and its folder). Throws DbError when it
  // cannot be opened or was written by a newer schema.
  static ArchiveDb open(const std::filesystem::path& db_file);
  // Opens an existing database for reading only: creates nothing, writes
  // nothing. Throws NoDatabase when there is none, DbError when it cannot be
  // read or has another schema. A database in a folder this user cannot
  // write (a read-only copy) is read as one that nobody changes.
  static ArchiveDb open_to_read(const std::filesystem::path& db_file);
  // Whether this user may write the database and the folder it is in (or,
  // for one still to be made, the nearest folder there is).
  static bool writable(const std::filesystem::path& db_file);

  ArchiveDb(ArchiveDb&& other) noexcept;
  ArchiveDb& operator=(ArchiveDb&& other) noexcept;
  ArchiveDb(const ArchiveDb&) = delete;
  ArchiveDb& operator=(const ArchiveDb&) = delete;
  ~ArchiveDb();

  Statement prepare(std::string_view sql) { return Statement(db_, sql); }
  void exec(const char* sql);
  std::int64_t last_insert_id() const;
  int changes() const;  // rows the last statement changed
  sqlite3* handle() const { return db_; }

  // All or nothing: rolled back unless commit() is called.
  class Transaction {
   public:
    explicit Transaction(ArchiveDb& db);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();
    void commit();

   private:
    ArchiveDb& db_;
    bool open_ = true;
  };

 private:
  explicit ArchiveDb(sqlite3* db) : db_(db) {}
  sqlite3* db_ = nullptr;
};

inline constexpr int schema_version = 6;

// The full-text index's merging: usual (a little after every write), or bulk
// (none until merge_index, for a whole build; cheaper by far in all). A
// build cut short leaves bulk merging set; setting it usual again lets the
// next writes merge what was left.
void set_bulk_merging(ArchiveDb& db, bool bulk);
// Merges the index into one segment, in a transaction of its own.
void merge_index(ArchiveDb& db);

// $XDG_DATA_HOME/oneseg/archive-<hash of the canonical root>.sqlite
// (~/.local/share/oneseg/ without XDG_DATA_HOME): one database per recording
// folder, and never inside it, where retention deletes.
std::filesystem::path default_db_path(const std::filesystem::path& root);

}  // namespace oneseg::archive
