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
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "alerts.h"

struct sd_bus;

namespace oneseg::archive {

using Log = std::function<void(const std::string& line)>;

// Items handed to `threads` threads of their own, at most `most` waiting;
// the items queued are still handled when it goes.
template <typename Item>
class WorkQueue {
 public:
  WorkQueue(int threads, std::size_t most, std::function<void(Item&)> handle) : most_(most), handle_(std::move(handle))
  {
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
  }
  ~WorkQueue()
  {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
  }
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  // false (and nothing queued) when `most` wait already.
  bool push(Item item)
  {
    {
      std::lock_guard lock(mutex_);
      if (items_.size() >= most_) return false;
      items_.push_back(std::move(item));
    }
    wake_.notify_one();
    return true;
  }

 private:
  void work()
  {
    while (true) {
      Item item;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !items_.empty(); });
        if (items_.empty()) return;
        item = std::move(items_.front());
        items_.pop_front();
      }
      handle_(item);
    }
  }

  std::size_t most_;
  std::function<void(Item&)> handle_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> items_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

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

  // url: where the moment plays.
  void run(const Alert& alert, const std::string& url);

 private:
  struct Job {
    Alert alert;
    std::string url;
  };
  void run_one(const Job& job);

  std::string program_;
  Log log_;
  Limits limits_;
  WorkQueue<Job> jobs_;   // last: its threads end, the runs under way with them, before the rest goes
};

// The desktop's notification service; where there is none, the log says so
// once and nothing more is tried.
class DesktopNotifier {
 public:
  explicit DesktopNotifier(Log log);

  void notify(const Alert& alert);

 private:
  void send(const Alert& alert);

  struct BusClose {
    void operator()(sd_bus* bus) const;
  };
  Log log_;
  std::unique_ptr<sd_bus, BusClose> bus_;   // none: no notifications
  WorkQueue<Alert> alerts_;                 // last: its thread ends before the bus goes
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
