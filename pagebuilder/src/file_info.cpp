#include "file_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "job_settings.h"
#include "recording_name.h"

namespace pellatt {

std::int64_t file_size(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool entry_exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool is_link(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

void write_new_file(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) throw JobError("Cannot create file \"" + path + "\"");
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 || done < bytes.size()) throw JobError("Cannot write file \"" + path + "\"");
}

std::time_t time_from_name(const std::string& base_name) {
  if (base_name.size() < 9 || base_name.substr(0, 9).find_first_not_of("0123456789") != std::string::npos) return -1;
  const auto two = [&](size_t at) { return (base_name[at] - '0') * 10 + (base_name[at + 1] - '0'); };
  std::tm parts{};
  parts.tm_year = 100 + two(0);
  parts.tm_mon = two(2) - 1;
  parts.tm_mday = two(4);
  parts.tm_hour = two(6);
  parts.tm_min = (base_name[8] - '0') * 10;
  parts.tm_isdst = -1;
  if (parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 1 || parts.tm_mday > 31 || parts.tm_hour > 23 ||
      parts.tm_min > 59)
    return -1;
  return std::mktime(&parts);
}

std::time_t creation_time(const std::string& ts_path) {
  constexpr std::time_t kPeriod = 600;  // a recording spans ten minutes of broadcast time
  const std::time_t named = time_from_name(file_name_of(strip_ext(ts_path)));
  struct statx info {};
  if (::statx(AT_FDCWD, ts_path.c_str(), 0, STATX_BTIME | STATX_MTIME, &info) == 0 && (info.stx_mask & STATX_BTIME) &&
      info.stx_btime.tv_sec != 0) {
    // The recorder creates a recording within its own period. A birth time
    // outside it (a copied or restored file, a clock set wrong) would put
    // every caption outside the page, so the name tells the start instead.
    const auto born = static_cast<std::time_t>(info.stx_btime.tv_sec);
    if (named == -1 || (born >= named && born < named + kPeriod)) return born;
  }
  if (named != -1) return named;
  struct stat st {};
  if (::stat(ts_path.c_str(), &st) == 0) return st.st_mtime;
  throw JobError("Cannot read the creation time of " + ts_path);
}

}  // namespace pellatt
