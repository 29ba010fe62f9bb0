#pragma once
// A clock that moves only when slept on or set: tests drive the simulated
// hardware and the recorder's waits with it, at no cost in real time.
#include "clock.h"

namespace oneseg::sim {

class ManualClock final : public brannock::Clock {
 public:
  explicit ManualClock(brannock::TDateTime start = 39788.5) : now_(start) {}  // 2008-12-06 12:00
  brannock::TDateTime Now() override { return now_; }
  double Monotonic() override { return now_ * 86400.0; }
  void Sleep(int ms) override {
    now_ += ms / 86400000.0;
    sleptMs_ += ms;
  }
  void Advance(double seconds) { now_ += seconds / 86400.0; }
  long long sleptMs() const { return sleptMs_; }

 private:
  brannock::TDateTime now_;
  long long sleptMs_ = 0;
};

}  // namespace oneseg::sim
