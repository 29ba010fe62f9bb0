#pragma once
// Recording files whose opens and writes are done by a thread of their own,
// in the order they were asked for, so that a disk held up by another
// program's writes (or frozen) never holds up the reading of the tuners: an
// open returns a file at once, and what the open meets (a missing folder, a
// refused file) is reported by the file's next Flush like a failed write.
// What waits is bounded in bytes: a flush that does not fit is refused (the
// caller shows and counts it as a failed write), and nothing else is ever
// lost to the queue.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "recording_files.h"

namespace brannock {

// About 30 s of eight tuners at the one-segment rate, with room to spare.
constexpr std::size_t kDefaultWriteQueueBytes = 16u << 20;

class QueuedFileSystem : public RecordingFileSystem {
 public:
  explicit QueuedFileSystem(RecordingFileSystem& inner, std::size_t maxQueuedBytes = kDefaultWriteQueueBytes);
  // Writes everything still queued before it returns.
  ~QueuedFileSystem() override;
  QueuedFileSystem(const QueuedFileSystem&) = delete;
  QueuedFileSystem& operator=(const QueuedFileSystem&) = delete;

  bool IsFolder(const std::string& path) override { return inner_.IsFolder(path); }
  bool MakeFolder(const std::string& path) override { return inner_.MakeFolder(path); }
  std::shared_ptr<RecordingFile> OpenShared(const std::string& path) override;
  // Never null: the open waits in the queue (`fault` is left alone).
  std::shared_ptr<RecordingFile> OpenRecording(const RecordingPlace& place, OpenFault& fault) override;
  std::unique_ptr<RecordingFolder> OpenFolder(const std::string& path) override { return inner_.OpenFolder(path); }
  void Run(std::function<void()> task) override;

  // Blocks until every queued write is done (tests and shutdown).
  void Drain();

  struct Target;
  struct FileState;
  struct Job;
  // False when the queue has no room for the job's bytes, or the job writes
  // a file whose earlier write failed (through this open or another).
  bool Submit(Job job);
  // The bytes of `state`'s file that failed since the last call.
  std::size_t TakeFailed(FileState& state);
  std::uint64_t LengthOf(const Target& target);

 private:
  void Run();
  void Open(Job& job);
  void Write(Job& job);
  void FailTarget(const Target& target);

  RecordingFileSystem& inner_;
  const std::size_t maxQueued_;
  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<Job> jobs_;
  std::size_t queued_ = 0;
  bool busy_ = false;
  bool stop_ = false;
  // Every open of a path while its writes wait shares one target, so that
  // a reopen continues where the queued writes will end (an open that
  // failed is never shared: the next one tries afresh).
  std::map<std::string, std::weak_ptr<Target>> targets_;
  std::thread thread_;
};

}  // namespace brannock
