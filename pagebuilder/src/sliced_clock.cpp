#include "sliced_clock.h"

#include <algorithm>

namespace pellatt {

void SlicedClock::sleep_ms(int ms) {
  for (int left = ms; left > 0; left -= kSliceMs) {
    inner_.sleep_ms(std::min(left, kSliceMs));
    between_();
  }
}

}  // namespace pellatt
