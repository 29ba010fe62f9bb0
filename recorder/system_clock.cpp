#include "system_clock.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "datetime.h"
#include "time_scale.h"

namespace brannock {

TDateTime SystemClock::Now() {
  timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local {};
  ::localtime_r(&now.tv_sec, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        local.tm_sec) +
         now.tv_nsec / 1e9 / 86400.0;
}

double SystemClock::Monotonic() {
  timespec now {};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

void SystemClock::Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(oneseg::scaled_ms(ms)));
}

}  // namespace brannock
