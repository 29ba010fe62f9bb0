#pragma once
// Bounds the ffmpeg runs of the server (clips and thumbnails together): a
// crowd of clients must not start a crowd of encoders on a small machine.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace oneseg::archive::web {

class FfmpegSlots {
 public:
  explicit FfmpegSlots(int slots) : free_(slots) {}

  // Held for the life of one run.
  class Slot {
   public:
    explicit Slot(FfmpegSlots* owner) : owner_(owner) {}
    Slot(Slot&& other) noexcept : owner_(other.owner_) { other.owner_ = nullptr; }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    Slot& operator=(Slot&&) = delete;
    ~Slot() {
      if (owner_) owner_->release();
    }
    explicit operator bool() const { return owner_ != nullptr; }

   private:
    FfmpegSlots* owner_;
  };

  // A slot, waiting at most `wait` for one; an empty slot when all stayed busy
  // (the client gets "busy" rather than an ever longer queue).
  Slot acquire(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    if (!freed_.wait_for(lock, wait, [this] { return free_ > 0; })) return Slot(nullptr);
    --free_;
    return Slot(this);
  }

  int free_slots() {
    std::lock_guard lock(mutex_);
    return free_;
  }

 private:
  void release() {
    {
      std::lock_guard lock(mutex_);
      ++free_;
    }
    freed_.notify_one();
  }

  std::mutex mutex_;
  std::condition_variable freed_;
  int free_;
};

}  // namespace oneseg::archive::web
