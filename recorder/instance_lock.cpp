#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace brannock {

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string InstanceLock::LockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const char* temp = std::getenv("TMPDIR");
  std::string folder = runtime != nullptr && *runtime != '\0' ? runtime : temp != nullptr && *temp != '\0' ? temp : "/tmp";
  return folder + "/" + kInstanceLockName;
}

bool InstanceLock::Acquire() {
  // Never through a link: it could make the recorder create or lock a file
  // of someone else's choosing.
  fd_ = ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) return true;
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const bool held = errno == EWOULDBLOCK;
    ::close(fd_);
    fd_ = -1;
    return !held;
  }
  return true;
}

}  // namespace brannock
