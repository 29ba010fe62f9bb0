// The sweep's folders by descriptor: every step below the recording folder is
// taken relative to an open folder with links refused, so there is no window
// between checking an entry and using it in which a link could be slipped in.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "recording_files.h"

namespace brannock {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

EntryKind KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return EntryKind::Link;
  if (S_ISDIR(mode)) return EntryKind::Folder;
  return S_ISREG(mode) ? EntryKind::File : EntryKind::Other;
}

class PosixFolder : public RecordingFolder {
 public:
  explicit PosixFolder(int fd) : fd_(fd) {}
  ~PosixFolder() override { ::close(fd_); }
  PosixFolder(const PosixFolder&) = delete;
  PosixFolder& operator=(const PosixFolder&) = delete;

  std::vector<FolderEntry> List() override {
    std::vector<FolderEntry> entries;
    // A descriptor of its own: the listing's position is not shared with fd_.
    const int listFd = ::openat(fd_, ".", kFolderFlags);
    if (listFd < 0) return entries;
    DIR* dir = ::fdopendir(listFd);
    if (dir == nullptr) {
      ::close(listFd);
      return entries;
    }
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      struct stat st {};
      if (::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      entries.push_back({name, KindOf(st.st_mode)});
    }
    ::closedir(dir);
    return entries;
  }

  std::unique_ptr<RecordingFolder> OpenFolder(const std::string& name) override {
    const int fd = ::openat(fd_, name.c_str(), kFolderFlags | O_NOFOLLOW);
    return fd < 0 ? nullptr : std::make_unique<PosixFolder>(fd);
  }

  bool RemoveFile(const std::string& name) override { return ::unlinkat(fd_, name.c_str(), 0) == 0; }
  bool RemoveFolder(const std::string& name) override { return ::unlinkat(fd_, name.c_str(), AT_REMOVEDIR) == 0; }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<RecordingFolder> PosixFileSystem::OpenFolder(const std::string& path) {
  const int fd = ::open(path.empty() ? "." : path.c_str(), kFolderFlags);
  return fd < 0 ? nullptr : std::make_unique<PosixFolder>(fd);
}

}  // namespace brannock
