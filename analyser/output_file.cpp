#include "output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace skerrow {

namespace {

constexpr int most_creation_attempts = 100;

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The descriptor still is what `path` names: a cleaner of dead temporaries
// may have taken the file between its creation and its locking.
bool still_named(int fd, const std::string& path) {
  struct stat opened {}, named {};
  return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && same_file(opened, named);
}

// Nothing, or a regular file, may be replaced by an output.
bool replaceable(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

bool all_digits(const std::string& text, std::size_t from, std::size_t to) {
  if (from >= to) return false;
  for (std::size_t i = from; i < to; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  return true;
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A temporary whose lock can be taken belongs to no live run.
void remove_if_dead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      still_named(fd, path))
    ::unlink(path.c_str());
  ::close(fd);
}

}  // namespace

bool is_symbolic_link(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool is_temporary_of(const std::string& name, const std::string& final_name) {
  const std::size_t prefix = final_name.size() + 1;
  if (name.size() < prefix + 7 || name.compare(0, final_name.size(), final_name) != 0 ||
      name[final_name.size()] != '.' || name.compare(name.size() - 4, 4, ".tmp") != 0)
    return false;
  const std::string middle = name.substr(prefix, name.size() - 4 - prefix);  // "<pid>.<n>"
  const std::size_t dot = middle.find('.');
  return dot != std::string::npos && all_digits(middle, 0, dot) && all_digits(middle, dot + 1, middle.size());
}

void remove_dead_temporaries(const std::string& final_path) {
  const std::string folder = folder_of(final_path);
  const std::string final_name = name_of(final_path);
  DIR* handle = ::opendir(folder.c_str());
  if (handle == nullptr) return;
  std::vector<std::string> found;
  while (const dirent* entry = ::readdir(handle))
    if (is_temporary_of(entry->d_name, final_name)) found.push_back(entry->d_name);
  ::closedir(handle);
  for (const std::string& name : found) remove_if_dead(folder + "/" + name);
}

bool pending_output::create(const std::string& final_path) {
  discard();
  if (!replaceable(final_path)) return false;
  const std::string stem = final_path + "." + std::to_string(::getpid()) + ".";
  for (int n = 0; n < most_creation_attempts; ++n) {
    const std::string path = stem + std::to_string(n) + ".tmp";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;  // a dead run of the same process ID left it
      return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && still_named(fd, path)) {
      final_path_ = final_path;
      temporary_path_ = path;
      fd_ = fd;
      return true;
    }
    ::close(fd);  // taken by a cleaner: it removes it, another name is tried
  }
  return false;
}

bool pending_output::commit(const timespec* modified) {
  if (fd_ < 0) return false;
  bool done = ::fsync(fd_) == 0;
  if (done && modified != nullptr) {
    const timespec times[2] = {{0, UTIME_OMIT}, *modified};
    done = ::futimens(fd_, times) == 0;
  }
  // Checked again just before the rename: a link planted during the
  // analysis is refused, not silently replaced.
  done = done && replaceable(final_path_) && ::rename(temporary_path_.c_str(), final_path_.c_str()) == 0;
  if (!done) {
    discard();
    return false;
  }
  close_descriptor();
  temporary_path_.clear();
  return true;
}

void pending_output::discard() {
  if (fd_ < 0) return;
  ::unlink(temporary_path_.c_str());  // while still locked, so no cleaner races for it
  close_descriptor();
  temporary_path_.clear();
}

void pending_output::close_descriptor() {
  ::close(fd_);
  fd_ = -1;
}

}  // namespace skerrow
