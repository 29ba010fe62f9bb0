#include "settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace oneseg {
namespace {

bool read_all(int fd, std::string& bytes) {
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

bool write_all(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool missing(int error) { return error == ENOENT || error == ENOTDIR; }

// The rename is only durable once the folder's entry is on disk too.
void sync_folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

ini_file_status read_settings_file(const std::string& path, std::string& bytes, mode_t& mode) {
  // Looking first means a device is never even opened (opening some has
  // effects of its own); the check after opening catches a swap in between.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return missing(errno) ? ini_file_status::absent : ini_file_status::unreadable;
  if (!S_ISREG(info.st_mode)) return ini_file_status::not_regular;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return missing(errno) ? ini_file_status::absent : ini_file_status::unreadable;
  ini_file_status status = ini_file_status::regular;
  if (::fstat(fd, &info) != 0) {
    status = ini_file_status::unreadable;
  } else if (!S_ISREG(info.st_mode)) {
    status = ini_file_status::not_regular;
  } else {
    std::string content;
    if (read_all(fd, content)) {
      bytes = std::move(content);
      mode = info.st_mode & 07777;
    } else {
      status = ini_file_status::unreadable;
    }
  }
  ::close(fd);
  return status;
}

bool replace_settings_file(const std::string& path, const std::string& data, mode_t mode) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::fchmod(fd, mode) == 0 && write_all(fd, data) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  sync_folder_of(path);
  return true;
}

}  // namespace oneseg
