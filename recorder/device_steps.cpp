#include "device_steps.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace brannock {
namespace {

// A step that throws leaves nothing to finish: its tuner stays where the
// step left it, as a failing step on the engine's thread would.
StepFinish RunStep(const DeviceStep& step) {
  try {
    return step();
  } catch (...) {
    return {};
  }
}

class InlineWorker final : public StepWorker {
 public:
  void Post(DeviceStep step) override { finished_.push_back(RunStep(step)); }
  std::vector<StepFinish> TakeFinished() override { return std::exchange(finished_, {}); }
  bool Pending() override { return !finished_.empty(); }
  void Wait() override {}

 private:
  std::vector<StepFinish> finished_;
};

class ThreadWorker final : public StepWorker {
 public:
  ThreadWorker() : thread_([this] { Run(); }) {}
  ~ThreadWorker() override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void Post(DeviceStep step) override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      queue_.push_back(std::move(step));
      ++pending_;
    }
    wake_.notify_all();
  }

  std::vector<StepFinish> TakeFinished() override {
    std::lock_guard<std::mutex> guard(mutex_);
    pending_ -= finished_.size();
    return std::exchange(finished_, {});
  }

  bool Pending() override {
    std::lock_guard<std::mutex> guard(mutex_);
    return pending_ > 0;
  }

  void Wait() override {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return queue_.empty() && !running_; });
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;
      const DeviceStep step = std::move(queue_.front());
      queue_.pop_front();
      running_ = true;
      lock.unlock();
      StepFinish finish = RunStep(step);
      lock.lock();
      finished_.push_back(std::move(finish));
      running_ = false;
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<DeviceStep> queue_;
  std::vector<StepFinish> finished_;
  std::size_t pending_ = 0;
  bool running_ = false;
  bool stop_ = false;
  std::thread thread_;  // last: it starts on the members above
};

}  // namespace

std::unique_ptr<StepWorker> InlineSteps::MakeWorker() { return std::make_unique<InlineWorker>(); }

std::unique_ptr<StepWorker> ThreadedSteps::MakeWorker() { return std::make_unique<ThreadWorker>(); }

}  // namespace brannock
