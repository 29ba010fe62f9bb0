#pragma once
// Follows in spite of errors: a tick that fails (a full disk, a database
// locked too long) is tried again after a pause that grows up to five
// minutes, the log says so at each failure and once it works again, and the
// next tick that succeeds catches up with everything missed (a failed tick
// leaves the follower to look again at all it had not finished).
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "indexer.h"

namespace oneseg::archive {

// The pause before the next try after `failures` failures in a row:
// 5 s, 10 s, 20 s ... at most 300 s.
std::chrono::seconds retry_pause(int failures);

struct KeepCurrentHooks {
  std::function<void(const IndexReport&)> on_report = [](const IndexReport&) {};
  std::function<void(const std::string&)> log;   // one line, without its end
  // Pauses, returning early once stop is set.
  std::function<void(std::chrono::milliseconds, const std::atomic<bool>& stop)> wait = pause_unless_stopped;

  static void pause_unless_stopped(std::chrono::milliseconds pause, const std::atomic<bool>& stop);
};

// Ticks every period until stop is set.
void keep_current(Follower& follower, const std::atomic<bool>& stop, std::chrono::milliseconds period,
                  const KeepCurrentHooks& hooks);

// Follows every root in a thread and on a database connection of its own,
// so that a root whose share hangs holds up no other; the hooks are called
// one at a time. Returns once stop is set and every root's thread ended.
void keep_roots_current(const std::filesystem::path& db_file, const std::vector<ArchiveRoot>& roots,
                        const Follower::Options& options, const std::atomic<bool>& stop,
                        std::chrono::milliseconds period, const KeepCurrentHooks& hooks);

}  // namespace oneseg::archive
