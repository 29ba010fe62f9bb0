#include "job_settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace pellatt {

int to_int(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  const auto last = text.find_last_not_of(" \t");
  const std::string trimmed = first == std::string::npos ? "" : text.substr(first, last - first + 1);
  const auto digits = trimmed.find_first_not_of("+-") ;
  bool valid = !trimmed.empty() && digits != std::string::npos && digits <= 1 &&
               trimmed.find_first_not_of("0123456789", digits) == std::string::npos;
  long value = 0;
  if (valid) {
    errno = 0;
    value = std::strtol(trimmed.c_str(), nullptr, 10);
    valid = errno == 0 && value >= INT_MIN && value <= INT_MAX;
  }
  if (!valid) throw JobError("'" + text + "' is not a valid integer value");
  return static_cast<int>(value);
}

void check_settings(const JobSettings& s) {
  const int columns = to_int(s.columns);
  const int interval = to_int(s.interval);
  const int from = to_int(s.from);
  const int to = to_int(s.to);
  const int wait = to_int(s.wait_factor);
  if (columns < 1) throw JobError("'" + s.columns + "' is not a valid column count");
  if (interval < 1) throw JobError("'" + s.interval + "' is not a valid thumbnail interval");
  // Seconds of the range become times of day.
  if (from < 0 || to >= 86400) throw JobError("Invalid argument to time encode");
  if (wait < 0) throw JobError("'" + s.wait_factor + "' is not a valid wait");
}

}  // namespace pellatt
