#include "keep_current.h"

#include <algorithm>
#include <exception>
#include <thread>

namespace oneseg::archive {

std::chrono::seconds retry_pause(int failures)
{
  constexpr std::chrono::seconds first{5}, longest{300};
  const int doublings = std::clamp(failures - 1, 0, 10);
  return std::min(longest, first * (1 << doublings));
}

void KeepCurrentHooks::pause_unless_stopped(std::chrono::milliseconds pause, const std::atomic<bool>& stop)
{
  constexpr std::chrono::milliseconds step{100};
  for (auto waited = std::chrono::milliseconds(0); waited < pause && !stop; waited += step)
    std::this_thread::sleep_for(std::min(step, pause - waited));
}

void keep_current(Follower& follower, const std::atomic<bool>& stop, std::chrono::milliseconds period,
                  const KeepCurrentHooks& hooks)
{
  int failures = 0;
  while (!stop) {
    std::chrono::milliseconds pause = period;
    try {
      const IndexReport report = follower.tick();
      if (failures > 0) hooks.log("the index is kept current again");
      failures = 0;
      hooks.on_report(report);
    } catch (const std::exception& error) {
      ++failures;
      pause = std::max<std::chrono::milliseconds>(period, retry_pause(failures));
      hooks.log(std::string("the index is not kept current: ") + error.what() + "; trying again in " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(pause).count()) + " s");
    }
    hooks.wait(pause, stop);
  }
}

}  // namespace oneseg::archive
