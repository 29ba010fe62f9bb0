#pragma once
#include "clock.h"

namespace brannock {

// The system's local time; sleeps shortened by ONESEG_TIME_SCALE.
class SystemClock : public Clock {
 public:
  TDateTime Now() override;
  double Monotonic() override;
  void Sleep(int ms) override;
};

}  // namespace brannock
