#pragma once
// The rate limit of the recorder's desktop notifications: a recorder that runs
// unattended for weeks must not bury the desktop under the same complaint
// every few seconds (a full disk is retried at every time packet).
#include <map>
#include <string>
#include <utility>

#include "clock.h"

namespace brannock {

enum class NoticeCause { TunerError, WriteFailure, FolderMissing, Reinitialised, RecDaysInvalid, BroadcastClockDoubtful };

class NoticeGate {
 public:
  // True when a notification for this subject (a TunerID, or empty for the
  // recorder as a whole) and cause may go out at `now`, which then counts as
  // its last one. At most one per subject and cause per ten minutes; a clock
  // set back before the last one does not hold notifications back.
  bool Allow(const std::string& subject, NoticeCause cause, TDateTime now);

 private:
  std::map<std::pair<std::string, NoticeCause>, TDateTime> last_;
};

}  // namespace brannock
