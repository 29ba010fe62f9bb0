#pragma once
// The single-instance guard: an advisory lock on a file named after the
// recorder's mutex in $XDG_RUNTIME_DIR (else the temp folder). The kernel
// drops the lock when the process ends, however it ends.
#include <string>

namespace brannock {

constexpr const char* kInstanceLockName = "WexcombeMutex";

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  // False only when another process holds the lock. A lock file that cannot
  // be made at all does not stop the recorder.
  bool Acquire();
  static std::string LockPath();

 private:
  int fd_ = -1;
};

}  // namespace brannock
