// The retention sweep: removes the recordings, the files the analyser and the
// page builder named after them and their thumbnail folders, once the hour of
// start lies more than RecDays days before a confirmed broadcast time that
// can be trusted (retention_clock.h).
#include <algorithm>
#include <cctype>
#include <optional>

#include "datetime.h"
#include "engine.h"

namespace brannock {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// A time packet confirms the tuner's previous one when it follows it within
// this much broadcast time. A lone time far off (a station's faulty clock)
// is confirmed by no neighbour and so never drives retention.
constexpr std::int64_t kConfirmSeconds = 600;

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

// Seconds since 1899-12-30 at the start of the date yymmdd at the front of
// `name` and of hour `hour`; nullopt when that is no date.
std::optional<std::int64_t> DateAt(const std::string& name, int hour) {
  const int yy = TwoDigits(name, 0), mm = TwoDigits(name, 2), dd = TwoDigits(name, 4);
  if (yy < 0 || mm < 0 || dd < 0 || !ValidDate(2000 + yy, mm, dd)) return std::nullopt;
  return DateTimeSeconds(EncodeDateTime(2000 + yy, mm, dd, hour, 0, 0));
}

struct RecordingName {
  std::string base;  // yymmddhhm_Ch<channel>
  std::int64_t start = 0;
  bool thumbnails = false;  // the page builder's folder base + "thm"
};

// Only names the suite writes: yymmddhhm_Ch<channel> followed by ".ts", ".idx",
// ".sub", ".eit", ".html", or "thm" for the thumbnail folder.
std::optional<RecordingName> ParseRecordingName(const std::string& name) {
  const int hour = TwoDigits(name, 6);
  if (hour < 0 || hour > 23 || name.size() < 13 || name[8] < '0' || name[8] > '5') return std::nullopt;
  if (name.compare(9, 3, "_Ch") != 0) return std::nullopt;
  std::size_t end = name[12] == '-' ? 13 : 12;
  const std::size_t digits = end;
  while (end < name.size() && end < digits + 9 && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
  if (end == digits) return std::nullopt;
  const std::string suffix = name.substr(end);
  static const char* const kSuffixes[] = {".ts", ".idx", ".sub", ".eit", ".html", "thm"};
  if (std::find(std::begin(kSuffixes), std::end(kSuffixes), suffix) == std::end(kSuffixes)) return std::nullopt;
  const std::optional<std::int64_t> start = DateAt(name, hour);
  if (!start) return std::nullopt;
  return RecordingName{name.substr(0, end), *start, suffix == "thm"};
}

// Only the regular files of a thumbnail folder go; anything else in it
// (a link, a sub-folder) stays, and so does the folder.
bool RemoveThumbnailFolder(RecordingFolder& day, const std::string& name) {
  const std::unique_ptr<RecordingFolder> folder = day.OpenFolder(name);
  if (!folder) return false;
  for (const FolderEntry& entry : folder->List()) {
    if (entry.kind == EntryKind::File) folder->RemoveFile(entry.name);
  }
  return day.RemoveFolder(name);
}

struct DaySweep {
  int removed = 0;
  bool keepFolder = false;
};

DaySweep SweepDayFolder(RecordingFolder& day, std::int64_t nowSeconds, std::int64_t keptSeconds,
                        const std::vector<std::string>& openBases) {
  DaySweep result;
  for (const FolderEntry& entry : day.List()) {
    const std::optional<RecordingName> name = ParseRecordingName(entry.name);
    const EntryKind expected = name && name->thumbnails ? EntryKind::Folder : EntryKind::File;
    // Files not named after a recording, links, and anything a tuner still
    // writes to are never ours to delete; a recording dated after now is young.
    if (!name || entry.kind != expected || nowSeconds - name->start <= keptSeconds ||
        std::find(openBases.begin(), openBases.end(), name->base) != openBases.end()) {
      result.keepFolder = true;
      continue;
    }
    const bool removed = name->thumbnails ? RemoveThumbnailFolder(day, entry.name) : day.RemoveFile(entry.name);
    result.removed += removed ? 1 : 0;
  }
  return result;
}

// The sweep itself. It reads nothing of the engine, so that it can run where
// the file system does its work, in order with the opens of recordings.
int SweepRecordingFolder(RecordingFileSystem& files, const std::string& folder, TDateTime now, int recDays,
                         const std::vector<std::string>& openBases) {
  const std::unique_ptr<RecordingFolder> root = files.OpenFolder(folder);
  if (!root) return 0;
  const std::int64_t nowSeconds = DateTimeSeconds(now);
  const std::int64_t keptSeconds = std::int64_t{recDays} * kSecondsPerDay;
  int removed = 0;
  for (const FolderEntry& entry : root->List()) {
    if (entry.kind != EntryKind::Folder || entry.name.size() != 6) continue;
    const std::optional<std::int64_t> date = DateAt(entry.name, 0);
    // A folder dated after today gives a negative age and is left alone.
    if (!date || nowSeconds / kSecondsPerDay - *date / kSecondsPerDay < recDays) continue;
    const std::unique_ptr<RecordingFolder> day = root->OpenFolder(entry.name);
    if (!day) continue;
    const DaySweep sweep = SweepDayFolder(*day, nowSeconds, keptSeconds, openBases);
    removed += sweep.removed;
    if (!sweep.keepFolder) root->RemoveFolder(entry.name);
  }
  return removed;
}

}  // namespace

void RecorderEngine::SweepWhenDue(TOneSegTuner& tuner, TDateTime t) {
  const std::int64_t gap = DateTimeSeconds(t) - DateTimeSeconds(tuner.LastTotTime);
  const bool confirmed = tuner.LastTotTime != 0 && gap > 0 && gap <= kConfirmSeconds;
  tuner.LastTotTime = t;
  const std::optional<TDateTime> reckoned = ReckonRetentionTime(tuner, t);
  if (!reckoned) return;
  const TDateTime now = *reckoned;
  if (DateTimeSeconds(now) / 3600 == DateTimeSeconds(LastSweepTime) / 3600 || now <= LastSweepTime) return;
  if (!confirmed) {
    if (listener_ != nullptr) listener_->Log(tuner.TunerID + ": 未確認の放送時刻 " + FormatBroadcastTime(t) + " では古い録画を削除しません");
    return;
  }
  LastSweepTime = now;
  if (RetentionHeld()) return;
  // Removing files can wait on a slow disk as long as writing them: the sweep
  // runs where the writes do, and says what it removed once it is done.
  files_.Run([&files = files_, folder = TSFolder, now, days = RecDays, open = OpenBases(), done = sweepsDone_] {
    const int removed = SweepRecordingFolder(files, folder, now, days, open);
    const std::lock_guard lock(done->mutex);
    done->sweeps.emplace_back(now, removed);
  });
  ShowFinishedSweeps();
}

void RecorderEngine::ShowFinishedSweeps() {
  std::vector<std::pair<TDateTime, int>> sweeps;
  {
    const std::lock_guard lock(sweepsDone_->mutex);
    sweeps.swap(sweepsDone_->sweeps);
  }
  if (listener_ == nullptr) return;
  for (const auto& [now, removed] : sweeps) {
    listener_->Log("古い録画を削除：" + FormatBroadcastTime(now) + " 時点 " + std::to_string(removed) + " 件");
  }
}

// Every time packet counts towards the reckoning. A hold is said once, where
// an unusable RecDays is (status line, standard output, notification), and
// its line goes when the broadcast time can be trusted again.
std::optional<TDateTime> RecorderEngine::ReckonRetentionTime(const TOneSegTuner& tuner, TDateTime t) {
  const std::optional<TDateTime> reckoned =
      retentionClock_.Reckon(tuner.Channel, t, pcClock_->Now(), pcClock_->Monotonic());
  const bool wasHeld = !clockHeldText_.empty();
  if (reckoned && wasHeld) {
    clockHeldText_.clear();
    if (listener_ != nullptr) listener_->RetentionHeld(RecDaysFault ? RetentionHeldText(*RecDaysFault) : "");
  } else if (!reckoned && !wasHeld) {
    clockHeldText_ = BroadcastClockHeldText(FormatBroadcastTime(t));
    if (listener_ != nullptr) listener_->RetentionHeld(clockHeldText_);
    Notify("", NoticeCause::BroadcastClockDoubtful, clockHeldText_);
  }
  return reckoned;
}

int RecorderEngine::SweepOldRecordings(TDateTime now) {
  if (RetentionHeld()) return -1;
  return SweepRecordingFolder(files_, TSFolder, now, RecDays, OpenBases());
}

// What a tuner writes to is never swept, whatever its name says.
std::vector<std::string> RecorderEngine::OpenBases() const {
  std::vector<std::string> openBases;
  for (const auto& tuner : Tuners) {
    if (!tuner->OpenFileBase.empty()) openBases.push_back(tuner->OpenFileBase);
  }
  return openBases;
}

}  // namespace brannock
