#include "recording_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace brannock {
namespace {

class PosixRecordingFile : public RecordingFile {
 public:
  PosixRecordingFile(int fd, std::uint64_t length) : fd_(fd), written_(length) { pending_.reserve(65536); }
  ~PosixRecordingFile() override {
    Flush();
    ::close(fd_);
  }
  void Append(const std::uint8_t* data, std::size_t size) override { pending_.insert(pending_.end(), data, data + size); }
  std::uint64_t Length() const override { return written_ + pending_.size(); }
  std::size_t Pending() const override { return pending_.size(); }
  void DropPending() override { pending_.clear(); }
  std::size_t Flush() override {
    std::size_t done = 0;
    while (done < pending_.size()) {
      const ssize_t n = ::pwrite(fd_, pending_.data() + done, pending_.size() - done,
                                 static_cast<off_t>(written_ + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    const bool ok = done == pending_.size();
    if (!ok && done > 0 && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
      written_ += done;  // could not cut back: the bytes are there, count them
    } else if (ok) {
      written_ += done;
    }
    const std::size_t lost = ok ? 0 : pending_.size();
    pending_.clear();
    return lost;
  }

 private:
  int fd_;
  std::uint64_t written_;
  std::vector<std::uint8_t> pending_;
};

// Holds appends until flushed, then stores them through the inner file only
// while the shared budget lasts.
class BudgetFile : public RecordingFile {
 public:
  BudgetFile(std::shared_ptr<RecordingFile> inner, std::int64_t& budget) : inner_(std::move(inner)), budget_(budget) {}
  void Append(const std::uint8_t* data, std::size_t size) override { pending_.insert(pending_.end(), data, data + size); }
  std::uint64_t Length() const override { return inner_->Length() + pending_.size(); }
  std::size_t Pending() const override { return pending_.size(); }
  void DropPending() override { pending_.clear(); }
  std::size_t Flush() override {
    const auto size = static_cast<std::int64_t>(pending_.size());
    const bool fits = budget_ < 0 || budget_ >= size;
    if (fits) {
      if (budget_ >= 0) budget_ -= size;
      inner_->Append(pending_.data(), pending_.size());
    }
    pending_.clear();
    const std::size_t lost = inner_->Flush();
    return fits ? lost : lost + static_cast<std::size_t>(size);
  }

 private:
  std::shared_ptr<RecordingFile> inner_;
  std::int64_t& budget_;
  std::vector<std::uint8_t> pending_;
};

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

std::shared_ptr<RecordingFile> RecordingFileSystem::OpenRecording(const RecordingPlace& place, OpenFault& fault) {
  if (!place.root.empty() && !IsFolder(place.root)) {
    fault = {place.root, true};
    return nullptr;
  }
  const std::string folder = FolderOf(place);
  if (!place.day.empty() && !IsFolder(folder) && !MakeFolder(folder)) {
    fault = {folder, false};
    return nullptr;
  }
  const std::string path = PathOf(place);
  auto file = OpenShared(path);
  if (!file) fault = {path, false};
  return file;
}

std::string FolderOf(const RecordingPlace& place) {
  return place.day.empty() ? place.root : JoinPath(place.root, place.day);
}

std::string PathOf(const RecordingPlace& place) { return JoinPath(FolderOf(place), place.name); }

bool PosixFileSystem::IsFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileSystem::MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 || IsFolder(path); }

std::shared_ptr<RecordingFile> PosixFileSystem::OpenShared(const std::string& path) {
  // A link planted in the recording folder would send the recording (and its
  // later extensions) wherever the link points: the last component is never
  // followed, and anything but a regular file is refused (opened without
  // waiting, so a planted FIFO or device cannot block the recording tick).
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_shared<PosixRecordingFile>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::shared_ptr<RecordingFile> FaultInjectingFileSystem::OpenShared(const std::string& path) {
  if (failOpen) return nullptr;
  auto inner = inner_.OpenShared(path);
  return inner ? std::make_shared<BudgetFile>(std::move(inner), writeBudget) : nullptr;
}

}  // namespace brannock
