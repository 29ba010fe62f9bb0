#pragma once

#include <functional>

#include "job_env.h"

namespace pellatt {

// Sleeps on another clock in short slices and runs `between` after each, so
// that a job's long waits (8 s, 30 s, minutes) never stop a window from
// handling its events. Times and totals are those of the other clock.
class SlicedClock : public Clock {
 public:
  static constexpr int kSliceMs = 20;
  SlicedClock(Clock& inner, std::function<void()> between) : inner_(inner), between_(std::move(between)) {}
  void sleep_ms(int ms) override;
  std::time_t now() override { return inner_.now(); }

 private:
  Clock& inner_;
  std::function<void()> between_;
};

}  // namespace pellatt
