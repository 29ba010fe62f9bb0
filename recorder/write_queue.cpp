#include "write_queue.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace brannock {

struct QueuedFileSystem::Target {
  std::shared_ptr<RecordingFile> inner;  // used by the writer thread only once opened
  std::uint64_t length = 0;              // on disk and accepted; under the mutex
};

struct QueuedFileSystem::FileState {
  std::atomic<bool> failed{false};
  std::atomic<std::uint64_t> failedBytes{0};  // lost and not yet reported by a flush
  std::atomic<int> queuedJobs{0};
  // The recording an index points into: its records are never written once
  // a write of the recording failed. Set before the index's first flush.
  std::shared_ptr<FileState> guard;
  void Fail(std::size_t bytes) {
    failedBytes += bytes;
    failed = true;
  }
};

struct QueuedFileSystem::Job {
  std::shared_ptr<Target> target;
  std::shared_ptr<FileState> state;
  std::vector<std::uint8_t> bytes;
};

namespace {

class QueuedFile : public RecordingFile {
 public:
  QueuedFile(QueuedFileSystem& fs, std::shared_ptr<QueuedFileSystem::Target> target)
      : fs_(fs), target_(std::move(target)), state_(std::make_shared<QueuedFileSystem::FileState>()) {}
  ~QueuedFile() override { Flush(); }
  void Append(const std::uint8_t* data, std::size_t size) override { pending_.insert(pending_.end(), data, data + size); }
  std::uint64_t Length() const override { return fs_.LengthOf(*target_) + pending_.size(); }
  // Bytes of earlier flushes that failed meanwhile count as pending: the
  // flush that reports their failure reports them as lost too.
  std::size_t Pending() const override { return pending_.size() + state_->failedBytes.load(); }
  void DropPending() override { pending_.clear(); }
  bool Flush() override {
    std::vector<std::uint8_t> bytes;
    bytes.swap(pending_);
    if (state_->failed) return state_->failedBytes.exchange(0) == 0 && bytes.empty();
    return bytes.empty() || fs_.Submit({target_, state_, std::move(bytes)});
  }
  bool Settled() const override { return state_->queuedJobs == 0 && state_->failedBytes == 0; }
  void IndexOf(RecordingFile& recording) override {
    if (auto* queued = dynamic_cast<QueuedFile*>(&recording)) state_->guard = queued->state_;
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
  std::shared_ptr<Target> target;
  {
    const std::lock_guard lock(mutex_);
    std::erase_if(targets_, [](const auto& entry) { return entry.second.expired(); });
    if (const auto found = targets_.find(path); found != targets_.end()) target = found->second.lock();
  }
  if (!target) {
    // Nothing of this path waits: open it afresh (this may be slow on a slow disk, but it is rare).
    auto inner = inner_.OpenShared(path);
    if (!inner) return nullptr;
    target = std::make_shared<Target>();
    target->length = inner->Length();
    target->inner = std::move(inner);
    const std::lock_guard lock(mutex_);
    targets_[path] = target;
  }
  return std::make_shared<QueuedFile>(*this, std::move(target));
}

std::uint64_t QueuedFileSystem::LengthOf(const Target& target) {
  const std::lock_guard lock(mutex_);
  return target.length;
}

bool QueuedFileSystem::Submit(Job job) {
  {
    const std::lock_guard lock(mutex_);
    if (queued_ + job.bytes.size() > maxQueued_) return false;
    queued_ += job.bytes.size();
    job.target->length += job.bytes.size();
    ++job.state->queuedJobs;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
}

void QueuedFileSystem::Drain() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

void QueuedFileSystem::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, and everything is written
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    Write(job);
    lock.lock();
    --job.state->queuedJobs;
    busy_ = false;
    queued_ -= job.bytes.size();
    if (jobs_.empty()) idle_.notify_all();
  }
}

// On the writer thread. A failed write cuts its file back (the inner layer
// does) and fails every write still queued for the same file, whichever open
// queued it, so that a later open never counts on bytes that will not come.
void QueuedFileSystem::Write(Job& job) {
  const std::size_t size = job.bytes.size();
  bool ok = !job.state->failed && !(job.state->guard && job.state->guard->failed);
  if (ok) {
    job.target->inner->Append(job.bytes.data(), size);
    ok = job.target->inner->Flush();
  }
  if (ok) return;
  job.state->Fail(size);
  const std::lock_guard lock(mutex_);
  job.target->length -= size;
  FailTarget(*job.target);
}

// Under the mutex.
void QueuedFileSystem::FailTarget(const Target& target) {
  std::erase_if(jobs_, [&](const Job& other) {
    if (other.target.get() != &target) return false;
    other.state->Fail(other.bytes.size());
    other.target->length -= other.bytes.size();
    queued_ -= other.bytes.size();
    --other.state->queuedJobs;
    return true;
  });
}

}  // namespace brannock
