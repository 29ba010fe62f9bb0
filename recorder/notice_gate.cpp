#include "notice_gate.h"

#include <cstdint>

#include "datetime.h"

namespace brannock {
namespace {

constexpr std::int64_t kQuietSeconds = 10 * 60;

}  // namespace

bool NoticeGate::Allow(const std::string& subject, NoticeCause cause, TDateTime now) {
  const auto key = std::make_pair(subject, cause);
  const auto found = last_.find(key);
  if (found != last_.end()) {
    // Whole seconds, so that exactly ten minutes is not lost to rounding.
    const std::int64_t elapsed = DateTimeSeconds(now) - DateTimeSeconds(found->second);
    if (elapsed >= 0 && elapsed < kQuietSeconds) return false;
  }
  last_[key] = now;
  return true;
}

}  // namespace brannock
