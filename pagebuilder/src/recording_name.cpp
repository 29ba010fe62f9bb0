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

namespace {

constexpr int kMinutesPerDay = 1440;

struct Date {
  int year, month, day;
};

bool read_date(const std::string& yymmdd, Date& date) {
  if (yymmdd.size() != 6 || yymmdd.find_first_not_of("0123456789") != std::string::npos) return false;
  const auto two = [&](size_t at) { return (yymmdd[at] - '0') * 10 + (yymmdd[at + 1] - '0'); };
  date = {2000 + two(0), two(2), two(4)};
  return date.month >= 1 && date.month <= 12 && date.day >= 1 && date.day <= days_in_month(date.year, date.month);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (Howard Hinnant's algorithms).
long days_from_civil(Date d) {
  const int y = d.month <= 2 ? d.year - 1 : d.year;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (d.month + (d.month > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Date civil_from_days(long z) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {static_cast<int>(yoe + era * 400) + (month <= 2 ? 1 : 0), month, day};
}

std::string hhm_of(int minutes) {
  char hhmm[8];
  std::snprintf(hhmm, sizeof hhmm, "%02d%02d", minutes / 60, minutes % 60);
  return std::string(hhmm, 3);
}

// Minutes and whole days of a shifted start time (floor division: before midnight is the day before).
void split_minutes(int total, int& minutes, int& days) {
  minutes = (total % kMinutesPerDay + kMinutesPerDay) % kMinutesPerDay;
  days = (total - minutes) / kMinutesPerDay;
}

}  // namespace

int days_in_month(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

std::string shift_date(const std::string& yymmdd, int days) {
  Date date{};
  if (!read_date(yymmdd, date)) return yymmdd;
  const Date moved = civil_from_days(days_from_civil(date) + days);
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", moved.year % 100, moved.month, moved.day);
  return text;
}

std::string neighbour_base(const std::string& base_path, int start_minutes, int delta_minutes) {
  const std::string name = file_name_of(base_path);
  const std::string date = name.substr(0, 6);
  int minutes = 0, days = 0;
  split_minutes(start_minutes + delta_minutes, minutes, days);
  const std::string new_date = shift_date(date, days);
  const std::string suffix = base_path.size() >= 5 ? base_path.substr(base_path.size() - 5) : base_path;
  std::string folder = folder_of(base_path);
  // A recording in its day folder has its neighbour of another day in that day's folder.
  if (new_date != date && folder.size() > 1 && file_name_of(folder.substr(0, folder.size() - 1)) == date)
    folder = folder_of(folder.substr(0, folder.size() - 1)) + new_date + "/";
  return folder + new_date + hhm_of(minutes) + suffix;
}

std::string neighbour_link(const std::string& base_path, int start_minutes, int delta_minutes) {
  const std::string neighbour = neighbour_base(base_path, start_minutes, delta_minutes);
  const std::string folder = folder_of(neighbour);
  if (folder == folder_of(base_path)) return file_name_of(neighbour);
  return "../" + file_name_of(folder.substr(0, folder.size() - 1)) + "/" + file_name_of(neighbour);
}

std::time_t broadcast_period_end(const std::string& base_name) {
  Date date{};
  if (base_name.size() < 9 || !read_date(base_name.substr(0, 6), date)) return -1;
  int start = 0;
  try {
    start = start_minutes_of(base_name);
  } catch (const JobError&) {
    return -1;
  }
  constexpr long kJapanOffset = 9 * 3600;
  return static_cast<std::time_t>(days_from_civil(date) * 86400L + (start + 10) * 60L - kJapanOffset);
}

}  // namespace pellatt
