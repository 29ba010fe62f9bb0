#include "indexer.h"

#include <unistd.h>

#include "recording_files.h"

namespace oneseg::archive {

namespace fs = std::filesystem;

namespace {

std::chrono::system_clock::time_point as_system_time(std::int64_t mtime_ns)
{
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(mtime_ns)));
}

// A day where the recorder or page builder worked within the hour is looked
// at on every tick, since a growing file or a new thumbnail does not change
// the day folder's own time.
constexpr std::chrono::hours activity_window{1};

}  // namespace

Follower::Follower(ArchiveDb& db, fs::path root, ProcessStarter& starter, Options options, Clock clock)
    : db_(db), root_(std::move(root)), starter_(starter), options_(std::move(options)), clock_(std::move(clock)) {}

IndexReport Follower::tick()
{
  const auto now = clock_();
  IndexReport report;
  const auto merge = [&report](const IndexReport& r) {
    report.added += r.added;
    report.updated += r.updated;
    report.removed += r.removed;
    report.unchanged += r.unchanged;
    report.captions += r.captions;
    report.errors.insert(report.errors.end(), r.errors.begin(), r.errors.end());
  };

  std::vector<std::string> to_look_at;
  std::map<std::string, fs::file_time_type> day_times;
  for (const std::string& day : list_day_folders(root_)) {
    std::error_code ec;
    day_times[day] = fs::last_write_time(root_ / day, ec);
    const auto known = day_times_.find(day);
    if (!scanned_ || known == day_times_.end() || known->second != day_times[day] || active_days_.count(day))
      to_look_at.push_back(day);
  }
  const bool full = !scanned_ || now - last_full_scan_ >= options_.full_scan_every;
  if (full) {
    merge(index_root(db_, root_, options_.index));
    last_full_scan_ = now;
    scanned_ = true;
  } else {
    for (const auto& [day, time] : day_times_)
      if (!day_times.count(day)) merge(index_day(db_, root_, day, options_.index));  // removed folder
    for (const std::string& day : to_look_at) merge(index_day(db_, root_, day, options_.index));
  }
  day_times_ = std::move(day_times);

  active_days_.clear();
  for (const std::string& day : to_look_at)
    if (analyse_finished(day, now)) merge(index_day(db_, root_, day, options_.index));
  return report;
}

// Starts the analyser on the day's finished recordings that lack a caption
// file or listing (once each); returns whether it ran. Notes the day as
// active when anything in it changed lately.
bool Follower::analyse_finished(const std::string& day, std::chrono::system_clock::time_point now)
{
  bool ran = false;
  for (const RecordingOnDisk& r : scan_day(root_ / day, day)) {
    const auto newest = std::max({r.ts.mtime_ns, r.sub.mtime_ns, r.eit.mtime_ns, r.thumbnails_mtime_ns});
    if (now - as_system_time(newest) < activity_window) active_days_.insert(day);
    const bool finished = r.ts.exists && now - as_system_time(r.ts.mtime_ns) >= options_.finished_after;
    if (!finished || (r.sub.exists && r.eit.exists) || !analysed_.insert(r.id.name).second) continue;
    starter_.run(options_.skerrow, {(root_ / day / (r.id.name + ".ts")).string()});
    ran = true;
  }
  return ran;
}

std::string find_skerrow()
{
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    const fs::path beside = fs::path(std::string(self, static_cast<std::size_t>(n))).parent_path() / "skerrow";
    std::error_code ec;
    if (fs::is_regular_file(beside, ec) && ::access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  return "skerrow";
}

}  // namespace oneseg::archive
