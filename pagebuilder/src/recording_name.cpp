#include "recording_name.h"

#include <cstdio>

#include "job_settings.h"

namespace pellatt {

std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string file_name_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string strip_ext(const std::string& path) {
  const auto dot = path.rfind('.');
  const auto slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

std::string change_ext(const std::string& path, const std::string& ext) { return strip_ext(path) + ext; }

int start_minutes_of(const std::string& base_name) {
  const std::string hhm = base_name.size() > 6 ? base_name.substr(6, 3) : std::string();
  if (hhm.size() != 3 || hhm.find_first_not_of("0123456789") != std::string::npos)
    throw JobError("'" + hhm + "' is not a valid integer value");
  const int h = (hhm[0] - '0') * 10 + (hhm[1] - '0');
  const int m = (hhm[2] - '0') * 10;
  if (h > 23 || m > 59) throw JobError("Invalid argument to time encode");
  return h * 60 + m;
}

std::string neighbour_base(const std::string& base_path, int start_minutes, int delta_minutes) {
  const std::string name = file_name_of(base_path);
  const int shifted = ((start_minutes + delta_minutes) % 1440 + 1440) % 1440;
  char hhmm[8];
  std::snprintf(hhmm, sizeof hhmm, "%02d%02d", shifted / 60, shifted % 60);
  const std::string suffix = base_path.size() >= 5 ? base_path.substr(base_path.size() - 5) : base_path;
  return folder_of(base_path) + name.substr(0, 6) + std::string(hhmm, 3) + suffix;
}

}  // namespace pellatt
