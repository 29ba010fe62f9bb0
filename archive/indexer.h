#pragma once
// Keeps the index equal to the recording folder: what is new or changed (by
// size and modification time) is read again, what retention deleted goes.
// One recording is one transaction.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive_db.h"
#include "process_starter.h"

namespace oneseg::archive {

struct IndexReport {
  int added = 0;
  int updated = 0;
  int removed = 0;
  int unchanged = 0;
  std::int64_t captions = 0;          // caption lines written
  std::vector<std::string> errors;    // one line per recording that could not be read
};

struct IndexOptions {
  bool health = true;   // read each new or grown .ts for its health figures
  // Set from outside to end a long run (a year's first index) between day
  // folders; what was indexed so far stays.
  const std::atomic<bool>* stop = nullptr;
};

IndexReport index_root(ArchiveDb& db, const std::filesystem::path& root, const IndexOptions& options = {});

// Indexes (or re-indexes) the recordings of one day folder only; recordings of
// that day that are gone are removed.
IndexReport index_day(ArchiveDb& db, const std::filesystem::path& root, const std::string& day,
                      const IndexOptions& options = {});

// Follows the recorder and the page builder: each tick looks again at the day
// folders that changed and at recordings that are still growing, starts the
// analyser on a finished recording that lacks its .sub or .eit (once), and
// indexes what changed. The first tick indexes the whole root.
class Follower {
 public:
  struct Options {
    std::string skerrow = "skerrow";   // program to start
    std::chrono::seconds finished_after{20};  // unchanged this long = finished
    std::chrono::minutes full_scan_every{60};
    IndexOptions index;
  };
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  Follower(ArchiveDb& db, std::filesystem::path root, ProcessStarter& starter, Options options,
           Clock clock = [] { return std::chrono::system_clock::now(); });

  // Throws when the index cannot be written; the next tick then looks again
  // at everything this one had not finished.
  IndexReport tick();

 private:
  bool analyse_finished(const std::string& day, std::chrono::system_clock::time_point now);

  ArchiveDb& db_;
  std::filesystem::path root_;
  ProcessStarter& starter_;
  Options options_;
  Clock clock_;
  std::map<std::string, std::filesystem::file_time_type> day_times_;
  std::set<std::string> analysed_;    // recordings the analyser was started on
  std::set<std::string> active_days_; // days with files that changed within the hour
  std::chrono::system_clock::time_point last_full_scan_{};
  bool scanned_ = false;
};

// Finds the analyser: beside this program first, then on PATH.
std::string find_skerrow();

}  // namespace oneseg::archive
