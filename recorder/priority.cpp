#include "priority.h"

#include <sys/resource.h>

namespace brannock {

void RaiseRecorderPriority() {
  // Try the strongest first; an unprivileged process may still get a little.
  for (int nice = -20; nice < 0; nice += 5) {
    if (::setpriority(PRIO_PROCESS, 0, nice) == 0) return;
  }
}

}  // namespace brannock
