// The retention sweep: removes recordings (and every file named after them)
// whose hour of start lies more than RecDays days before the broadcast time.
#include <cctype>

#include "datetime.h"
#include "engine.h"

namespace brannock {
namespace {

// Two decimal digits at `at`; -1 otherwise.
int TwoDigits(const std::string& name, std::size_t at) {
  if (name.size() < at + 2) return -1;
  const auto a = static_cast<unsigned char>(name[at]), b = static_cast<unsigned char>(name[at + 1]);
  if (!std::isdigit(a) || !std::isdigit(b)) return -1;
  return (a - '0') * 10 + (b - '0');
}

bool ValidDate(int year, int month, int day) {
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month != 2 || day <= 28 || leap;
}

constexpr std::int64_t kSecondsPerDay = 86400;

}  // namespace

void RecorderEngine::SweepOldRecordings(TDateTime now) {
  const std::int64_t nowSeconds = DateTimeSeconds(now);
  const std::int64_t today = nowSeconds / kSecondsPerDay;
  for (const FolderEntry& entry : files_.List(TSFolder)) {
    if (entry.kind != EntryKind::Folder || entry.name.size() != 6) continue;
    const int yy = TwoDigits(entry.name, 0), mm = TwoDigits(entry.name, 2), dd = TwoDigits(entry.name, 4);
    if (yy < 0 || mm < 0 || dd < 0 || !ValidDate(2000 + yy, mm, dd)) continue;
    const std::int64_t folderDay = DateTimeSeconds(EncodeDateTime(2000 + yy, mm, dd, 0, 0, 0)) / kSecondsPerDay;
    if (today - folderDay < RecDays) continue;
    SweepDayFolder(JoinPath(TSFolder, entry.name), now);
  }
}

void RecorderEngine::SweepDayFolder(const std::string& folder, TDateTime now) {
  const std::int64_t nowSeconds = DateTimeSeconds(now);
  bool keepFolder = false;
  for (const FolderEntry& entry : files_.List(folder)) {
    // Sub-folders (a thumbnail folder) and links are never entered or followed.
    if (entry.kind != EntryKind::File) {
      keepFolder = true;
      continue;
    }
    const int yy = TwoDigits(entry.name, 0), mm = TwoDigits(entry.name, 2), dd = TwoDigits(entry.name, 4),
              hh = TwoDigits(entry.name, 6);
    if (yy < 0 || mm < 0 || dd < 0 || hh < 0 || hh > 23 || !ValidDate(2000 + yy, mm, dd)) {
      keepFolder = true;  // not named after a recording: never ours to delete
      continue;
    }
    const std::int64_t start = DateTimeSeconds(EncodeDateTime(2000 + yy, mm, dd, hh, 0, 0));
    if (nowSeconds - start <= RecDays * kSecondsPerDay) {
      keepFolder = true;
      continue;
    }
    files_.RemoveFile(JoinPath(folder, entry.name));
  }
  if (!keepFolder) files_.RemoveFolder(folder);
}

}  // namespace brannock
