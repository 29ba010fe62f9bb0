#include "write_queue.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "index_record.h"

namespace brannock {

struct QueuedFileSystem::Target {
  explicit Target(RecordingPlace where) : place(std::move(where)) {}
  const RecordingPlace place;
  // The writer thread's alone: the open file once tried, its length then
  // (the offsets of its index count from there) or what the open failed on.
  bool tried = false;
  std::shared_ptr<RecordingFile> inner;
  std::uint64_t base = 0;
  OpenFault fault;
  // Under the mutex: accepted since the open, less what failed; whether the
  // open failed, and whether a write did. Nothing more is written through a
  // target whose write failed, and no later open shares it: a tuner that took
  // the file over counted its index offsets on bytes that will not come.
  std::uint64_t length = 0;
  bool openFailed = false;
  bool writeFailed = false;
};

struct QueuedFileSystem::FileState {
  std::atomic<bool> failed{false};
  std::atomic<std::uint64_t> failedBytes{0};  // lost and not yet reported by a flush
  std::atomic<int> queuedJobs{0};
  // Set before `failed` when the file's open failed, never after.
  std::optional<OpenFault> openFault;
  // The recording an index points into: its records are never written once
  // a write of the recording failed, and their offsets are made offsets in
  // the file. Set before the index's first flush.
  std::shared_ptr<FileState> guard;
  std::shared_ptr<Target> recording;
  // On the writer thread.
  void Fail(std::size_t bytes, const Target& target) {
    if (!failed && target.openFailed) openFault = target.fault;
    failedBytes += bytes;
    failed = true;
  }
};

struct QueuedFileSystem::Job {
  enum Kind { Open, Write, Task } kind = Write;
  std::shared_ptr<Target> target;    // none for a task
  std::shared_ptr<FileState> state;  // none for a task
  std::vector<std::uint8_t> bytes;
  std::function<void()> task;
};

namespace {

class QueuedFile : public RecordingFile {
 public:
  QueuedFile(QueuedFileSystem& fs, std::shared_ptr<QueuedFileSystem::Target> target,
             std::shared_ptr<QueuedFileSystem::FileState> state)
      : fs_(fs), target_(std::move(target)), state_(std::move(state)) {}
  // The last reference to the open file is let go of on the writer thread:
  // closing it may wait on the disk too.
  ~QueuedFile() override {
    Flush();
    fs_.Run([target = std::move(target_)] {});
  }
  void Append(const std::uint8_t* data, std::size_t size) override { pending_.insert(pending_.end(), data, data + size); }
  std::uint64_t Length() const override { return fs_.LengthOf(*target_) + pending_.size(); }
  std::size_t Pending() const override { return pending_.size(); }
  void DropPending() override { pending_.clear(); }
  // Once a write of this file failed, every later flush is refused: its
  // bytes would follow a hole.
  std::size_t Flush() override {
    std::vector<std::uint8_t> bytes;
    bytes.swap(pending_);
    const std::size_t size = bytes.size();
    const bool refused = size > 0 && !fs_.Submit({QueuedFileSystem::Job::Write, target_, state_, std::move(bytes), {}});
    return fs_.TakeFailed(*state_) + (refused ? size : 0);
  }
  bool Settled() const override { return state_->queuedJobs == 0 && state_->failedBytes == 0; }
  void IndexOf(RecordingFile& recording) override {
    if (auto* queued = dynamic_cast<QueuedFile*>(&recording)) {
      state_->guard = queued->state_;
      state_->recording = queued->target_;
    }
  }
  std::optional<OpenFault> OpenFailed() const override {
    return state_->failed ? state_->openFault : std::nullopt;
  }

 private:
  QueuedFileSystem& fs_;
  std::shared_ptr<QueuedFileSystem::Target> target_;
  std::shared_ptr<QueuedFileSystem::FileState> state_;
  std::vector<std::uint8_t> pending_;
};

}  // namespace

QueuedFileSystem::QueuedFileSystem(RecordingFileSystem& inner, std::size_t maxQueuedBytes)
    : inner_(inner), maxQueued_(maxQueuedBytes), thread_([this] { Run(); }) {}

QueuedFileSystem::~QueuedFileSystem() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

std::shared_ptr<RecordingFile> QueuedFileSystem::OpenShared(const std::string& path) {
  OpenFault unused;
  return OpenRecording({"", "", path}, unused);
}

std::shared_ptr<RecordingFile> QueuedFileSystem::OpenRecording(const RecordingPlace& place, OpenFault& /*fault*/) {
  const std::string path = PathOf(place);
  std::shared_ptr<Target> target;
  {
    const std::lock_guard lock(mutex_);
    std::erase_if(targets_, [](const auto& entry) { return entry.second.expired(); });
    if (const auto found = targets_.find(path); found != targets_.end()) target = found->second.lock();
    if (!target || target->openFailed || target->writeFailed) {
      target = std::make_shared<Target>(place);
      targets_[path] = target;
    }
  }
  auto state = std::make_shared<FileState>();
  Submit({Job::Open, target, state, {}, {}});  // takes no room: never refused
  return std::make_shared<QueuedFile>(*this, std::move(target), std::move(state));
}

// Under the mutex, as every failure is counted: a failure and the writes it
// fails with it are taken together.
std::size_t QueuedFileSystem::TakeFailed(FileState& state) {
  const std::lock_guard lock(mutex_);
  return state.failedBytes.exchange(0);
}

std::uint64_t QueuedFileSystem::LengthOf(const Target& target) {
  const std::lock_guard lock(mutex_);
  return target.length;
}

bool QueuedFileSystem::Submit(Job job) {
  {
    const std::lock_guard lock(mutex_);
    const bool failed = job.kind == Job::Write && (job.state->failed || job.target->writeFailed);
    if (failed || queued_ + job.bytes.size() > maxQueued_) return false;
    queued_ += job.bytes.size();
    if (job.target) job.target->length += job.bytes.size();
    if (job.state) ++job.state->queuedJobs;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void QueuedFileSystem::Run(std::function<void()> task) {
  Submit({Job::Task, nullptr, nullptr, {}, std::move(task)});  // takes no room: never refused
}

void QueuedFileSystem::Drain() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

void QueuedFileSystem::Run() {
  for (;;) {
    // Let go of outside the lock: it may hold the last reference to an open file.
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping, and everything is written
      job = std::move(jobs_.front());
      jobs_.pop_front();
      busy_ = true;
    }
    if (job.kind == Job::Open) Open(job);
    if (job.kind == Job::Write) Write(job);
    if (job.kind == Job::Task) job.task();
    const std::lock_guard lock(mutex_);
    if (job.state) --job.state->queuedJobs;
    busy_ = false;
    queued_ -= job.bytes.size();
    if (jobs_.empty()) idle_.notify_all();
  }
}

// On the writer thread. The first open of a target opens the file; every
// later one shares what that found.
void QueuedFileSystem::Open(Job& job) {
  Target& target = *job.target;
  if (!target.tried) {
    target.tried = true;
    target.inner = inner_.OpenRecording(target.place, target.fault);
    if (target.inner) target.base = target.inner->Length();
  }
  if (target.inner) return;
  const std::lock_guard lock(mutex_);
  target.openFailed = true;
  job.state->Fail(0, target);
  FailTarget(target);
}

// On the writer thread. A failed write cuts its file back (the inner layer
// does) and fails every write still queued for the same file, whichever open
// queued it, so that a later open never counts on bytes that will not come.
void QueuedFileSystem::Write(Job& job) {
  const std::size_t size = job.bytes.size();
  const FileState& state = *job.state;
  bool ok = job.target->inner && !state.failed && !(state.guard && state.guard->failed);
  if (ok) {
    if (state.recording) ShiftIndexRecords(job.bytes, state.recording->base);
    job.target->inner->Append(job.bytes.data(), size);
    ok = job.target->inner->Flush() == 0;
  }
  if (ok) return;
  const std::lock_guard lock(mutex_);
  job.state->Fail(size, *job.target);
  job.target->length -= size;
  job.target->writeFailed = true;
  FailTarget(*job.target);
}

// Under the mutex.
void QueuedFileSystem::FailTarget(const Target& target) {
  std::erase_if(jobs_, [&](const Job& other) {
    if (other.target.get() != &target || other.kind != Job::Write) return false;
    other.state->Fail(other.bytes.size(), target);
    other.target->length -= other.bytes.size();
    queued_ -= other.bytes.size();
    --other.state->queuedJobs;
    return true;
  });
}

}  // namespace brannock
