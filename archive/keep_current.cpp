#include "keep_current.h"

#include <algorithm>
#include <exception>
#include <mutex>
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

void keep_roots_current(const std::filesystem::path& db_file, const std::vector<ArchiveRoot>& roots,
                        const Follower::Options& options, const std::atomic<bool>& stop,
                        std::chrono::milliseconds period, const KeepCurrentHooks& hooks)
{
  std::mutex hooks_mutex;
  KeepCurrentHooks one_at_a_time = hooks;
  one_at_a_time.on_report = [&](const IndexReport& r) {
    std::lock_guard lock(hooks_mutex);
    hooks.on_report(r);
  };
  one_at_a_time.log = [&](const std::string& line) {
    std::lock_guard lock(hooks_mutex);
    hooks.log(line);
  };
  std::vector<std::thread> threads;
  for (const ArchiveRoot& root : roots)
    threads.emplace_back([&, root] {
      try {
        ArchiveDb db = ArchiveDb::open(db_file);
        RealProcessStarter starter;
        Follower::Options own = options;
        own.index.stop = &stop;
        Follower follower(db, root, starter, own);
        keep_current(follower, stop, period, one_at_a_time);
      } catch (const std::exception& error) {
        one_at_a_time.log("root " + root.name + ": the index is no longer kept current: " + error.what());
      }
    });
  for (std::thread& t : threads) t.join();
}

}  // namespace oneseg::archive
