#pragma once
// Delivers the alerts that follow and serve make: to the desktop's
// notification service (org.freedesktop.Notifications on the session bus,
// as the recorder's notices go) and to the user's --on-alert program. Each
// is fed from a queue of its own, so a slow service or program never holds
// up indexing; an alert a queue cannot take stays in the database and the
// feeds, and the log says so.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alerts.h"

namespace oneseg::archive {

using Log = std::function<void(const std::string& line)>;

// Runs one program per alert, without a shell: ONESEG_ALERT_ID, _WATCH,
// _TIME, _STATION, _TEXT and _URL in its environment and the alert's JSON
// on its standard input; at most `at_once` at a time, each killed after
// `time_limit`. A failure (cannot start, exit status, signal, killed) is
// logged.
class AlertCommand {
 public:
  struct Limits {
    int at_once = 2;
    std::chrono::milliseconds time_limit{30000};
    std::size_t waiting = 1000;   // alerts queued at most
  };
  AlertCommand(std::string program, Log log, Limits limits);
  AlertCommand(std::string program, Log log) : AlertCommand(std::move(program), std::move(log), Limits{}) {}
  ~AlertCommand();   // waits for the runs under way
  AlertCommand(const AlertCommand&) = delete;
  AlertCommand& operator=(const AlertCommand&) = delete;

  // url: where the moment plays.
  void run(const Alert& alert, const std::string& url);

 private:
  struct Job {
    Alert alert;
    std::string url;
  };
  void work();
  void run_one(const Job& job);

  std::string program_;
  Log log_;
  Limits limits_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

// The desktop's notification service; where there is none, the log says so
// once and nothing more is tried.
class DesktopNotifier {
 public:
  explicit DesktopNotifier(Log log);
  ~DesktopNotifier();
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  void notify(const Alert& alert);

 private:
  void work();

  Log log_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Alert> alerts_;
  bool stopping_ = false;
  std::thread worker_;
};

// Hands every alert made after it was started to both.
class AlertDelivery {
 public:
  // base: the server's address for the alerts' links ("" for follow: the
  // links are paths); token added to them when not empty.
  AlertDelivery(ArchiveDb& db, const std::string& on_alert, std::string base, std::string token, Log log);
  // After each look of the follower.
  void deliver_new();

 private:
  ArchiveDb& db_;
  std::string base_, token_;
  std::int64_t delivered_ = 0;
  DesktopNotifier desktop_;
  std::unique_ptr<AlertCommand> command_;
};

}  // namespace oneseg::archive
