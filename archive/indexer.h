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
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "archive_db.h"
#include "health.h"
#include "process_starter.h"
#include "recording_files.h"
#include "roots.h"
#include "search.h"

namespace oneseg::archive {

struct IndexReport {
  int added = 0;
  int updated = 0;
  int removed = 0;
  int unchanged = 0;
  std::int64_t captions = 0;          // caption lines written
  std::vector<std::string> errors;    // one line per recording that could not be read
  std::vector<std::string> notices;   // a root that became unavailable or available again
};

struct IndexOptions {
  bool health = true;   // read each new or grown .ts for its health figures
  // Set from outside to end a long run (a year's first index) between day
  // folders; what was indexed so far stays.
  const std::atomic<bool>* stop = nullptr;
  // Told each day folder's recordings as they are found, before they are indexed.
  std::function<void(const std::string& day, const std::vector<RecordingOnDisk>& recordings)> scanned = nullptr;
  // Recordings read while they are written (GrowingRecordings): their rows
  // are that reader's until it lets them go.
  std::function<bool(const std::string& name)> read_live = nullptr;
};

// A root that cannot be read is marked unavailable and left as indexed.
IndexReport index_root(ArchiveDb& db, const ArchiveRoot& root, const IndexOptions& options = {});
// One folder, registered as a root of its own named after it.
IndexReport index_root(ArchiveDb& db, const std::filesystem::path& folder, const IndexOptions& options = {});

// Indexes (or re-indexes) the recordings of one day folder only; recordings of
// that day that are gone are removed (unless the whole root cannot be read).
IndexReport index_day(ArchiveDb& db, const ArchiveRoot& root, const std::string& day,
                      const IndexOptions& options = {});

// Removes a root's recordings and its row, in the caller's transaction.
void forget_root(ArchiveDb& db, std::int64_t root);

// The rows of a recording read while the recorder writes it, numbered as
// the indexer numbers them.
class GrowingRecordingWriter {
 public:
  GrowingRecordingWriter(ArchiveDb& db, const ArchiveRoot& root);
  ~GrowingRecordingWriter();
  GrowingRecordingWriter(const GrowingRecordingWriter&) = delete;
  GrowingRecordingWriter& operator=(const GrowingRecordingWriter&) = delete;

  // A fresh row for a recording about to be read from its start (what was
  // indexed of it before goes); returns its number.
  std::int64_t start(const RecordingOnDisk& files);
  // In one transaction: the lines and programmes read since, and the row's
  // files, health and station as they are now. Returns the rows of the new
  // lines (none: nullopt).
  std::optional<RowWindow> append(std::int64_t id, const RecordingOnDisk& files, const std::vector<CaptionRecord>& lines,
                                  const std::vector<ListingEntry>& listing, const StreamHealth& health);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class GrowingRecordings;

// Follows the recorder and the page builder: each tick reads on in the
// recordings being written (growing_recordings.h), looks again at the day
// folders whose own time changed and at the picture folders of recordings
// of the last hour, starts the analyser on a finished recording that lacks
// its .sub or .eit (once), and indexes what changed. The first tick, and
// one an hour, index the whole root.
class Follower {
 public:
  struct Options {
    std::string skerrow = "skerrow";   // program to start
    std::chrono::seconds finished_after{20};  // unchanged this long = finished
    std::chrono::minutes full_scan_every{60};
    std::chrono::minutes given_up_after{10};  // a recording being read that stops growing this long is let go
    IndexOptions index;
  };
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  Follower(ArchiveDb& db, ArchiveRoot root, ProcessStarter& starter, Options options,
           Clock clock = [] { return std::chrono::system_clock::now(); });
  ~Follower();

  // Throws when the index cannot be written; the next tick then looks again
  // at everything this one had not finished.
  IndexReport tick();

 private:
  struct Day {
    std::filesystem::file_time_type time;  // of the folder, before it was read
    // Picture folders of the day's recordings of the last hour, with their
    // times: pictures added do not change the day folder's time.
    std::vector<std::pair<std::string, std::int64_t>> pictures;
  };
  void scanned(const std::string& day, const std::vector<RecordingOnDisk>& recordings);
  bool pictures_changed(const std::string& day, const Day& d) const;
  void analyse(const RecordingName& id);

  ArchiveDb& db_;
  ArchiveRoot root_;
  ProcessStarter& starter_;
  Options options_;
  Clock clock_;
  std::unique_ptr<GrowingRecordings> growing_;
  std::map<std::string, Day> days_;
  std::set<std::string> analysed_;    // recordings the analyser was started on and that lack its files
  std::chrono::system_clock::time_point now_{};  // of the tick under way
  std::chrono::system_clock::time_point last_full_scan_{};
  bool scanned_ = false;
};

// Finds the analyser: beside this program first, then on PATH.
std::string find_skerrow();

}  // namespace oneseg::archive
