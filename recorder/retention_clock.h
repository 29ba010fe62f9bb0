#pragma once
// The time retention may reckon with. A station's clock can stay wrong for
// minutes or days, every time packet agreeing with the one before, so the
// broadcast time alone never decides what is old: it must agree with the PC's
// clock or with another channel, and it may not run ahead of the monotonic
// clock since the last time taken.
#include <map>
#include <optional>

#include "clock.h"

namespace brannock {

class RetentionClock {
 public:
  // A broadcast time this far from the PC's clock is not taken from one
  // channel alone (a synchronised PC and the broadcast agree within seconds).
  static constexpr double kPcAgreement = 2 * 3600;
  // Two channels confirm each other when their clocks differ by at most this
  // and the other's time packet is at most kReportAge old (monotonic seconds).
  static constexpr double kChannelAgreement = 30;
  static constexpr double kReportAge = 60;
  // How far the time taken may run ahead of the monotonic clock since the
  // last time taken; a broadcast time within this of the PC's clock moves the
  // reckoning to itself (after a suspend, when the monotonic clock stood).
  static constexpr double kMargin = 120;

  // A tuner on `channel` read the broadcast time `broadcast` when the PC's
  // clock said `pcNow` and the monotonic clock `monotonic` (seconds). Returns
  // the time retention may reckon with, nothing while the broadcast time
  // cannot be trusted.
  std::optional<TDateTime> Reckon(int channel, TDateTime broadcast, TDateTime pcNow, double monotonic);

 private:
  // Broadcast seconds minus monotonic seconds, and when it was seen.
  struct Report {
    double offset = 0;
    double at = 0;
  };
  bool AnotherChannelAgrees(int channel, const Report& report) const;

  std::map<int, Report> latest_;  // by channel
  // The offset the reckoning projects from: never ahead of the monotonic clock
  // since it was set, except where the PC's clock vouches for the broadcast.
  std::optional<double> projection_;
};

}  // namespace brannock
