#include "retention_clock.h"

#include <algorithm>
#include <cmath>

namespace brannock {
namespace {

constexpr double kSecondsPerDay = 86400;

}  // namespace

std::optional<TDateTime> RetentionClock::Reckon(int channel, TDateTime broadcast, TDateTime pcNow,
                                                double monotonic) {
  const Report report{broadcast * kSecondsPerDay - monotonic, monotonic};
  const bool trusted = AnotherChannelAgrees(channel, report);
  latest_[channel] = report;
  const double fromPc = std::fabs(broadcast - pcNow) * kSecondsPerDay;
  if (!trusted && fromPc > kPcAgreement) return std::nullopt;
  if (!projection_ || report.offset <= *projection_ || fromPc <= kMargin) {
    projection_ = report.offset;
    return broadcast;
  }
  // Ahead of the projection: taken up to the margin, and the projection stays.
  if (report.offset <= *projection_ + kMargin) return broadcast;
  return (*projection_ + kMargin + monotonic) / kSecondsPerDay;
}

bool RetentionClock::AnotherChannelAgrees(int channel, const Report& report) const {
  return std::any_of(latest_.begin(), latest_.end(), [&](const auto& entry) {
    const Report& other = entry.second;
    return entry.first != channel && report.at - other.at <= kReportAge &&
           std::fabs(report.offset - other.offset) <= kChannelAgreement;
  });
}

}  // namespace brannock
