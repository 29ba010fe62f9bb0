#pragma once
// Time as the recorder sees it, behind an interface so that tests replace it.

namespace brannock {

// A date-time: days since 1899-12-30 00:00, the fraction being the time of day.
using TDateTime = double;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TDateTime Now() = 0;       // local time
  // Seconds from an arbitrary origin on a clock that no setting of the PC's
  // time moves: what waits and silences are measured on.
  virtual double Monotonic() = 0;
  virtual void Sleep(int ms) = 0;    // blocks the calling thread
};

}  // namespace brannock
