#pragma once

namespace brannock {

// Raises the recorder's scheduling priority as far as the system grants
// without risking the desktop (nice values only, never a real-time class, so
// a busy recorder thread cannot lock the machine up). Failures are ignored.
void RaiseRecorderPriority();

}  // namespace brannock
