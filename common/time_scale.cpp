#include "time_scale.h"

#include <cmath>
#include <cstdlib>

namespace oneseg {

double time_scale() {
  static const double scale = [] {
    const char* text = std::getenv("ONESEG_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return (end != text && std::isfinite(value) && value >= 0.0 && value <= 1000.0) ? value : 1.0;
  }();
  return scale;
}

int scaled_ms(int ms) { return static_cast<int>(std::lround(ms * time_scale())); }

}  // namespace oneseg
