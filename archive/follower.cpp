#include "indexer.h"

#include <sys/stat.h>
#include <unistd.h>

#include "growing_recordings.h"
#include "recording_files.h"

namespace oneseg::archive {

namespace fs = std::filesystem;

namespace {

// Picture folders are watched this long after their recording's files last changed.
constexpr std::chrono::hours activity_window{1};

std::int64_t folder_mtime_ns(const fs::path& folder)
{
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return 0;
  return mtime_ns(info);
}

void merge(IndexReport& report, const IndexReport& r)
{
  report.added += r.added;
  report.updated += r.updated;
  report.removed += r.removed;
  report.unchanged += r.unchanged;
  report.captions += r.captions;
  report.errors.insert(report.errors.end(), r.errors.begin(), r.errors.end());
  report.notices.insert(report.notices.end(), r.notices.begin(), r.notices.end());
}

}  // namespace

Follower::Follower(ArchiveDb& db, ArchiveRoot root, ProcessStarter& starter, Options options, Clock clock)
    : db_(db), root_(std::move(root)), starter_(starter), options_(std::move(options)), clock_(std::move(clock)),
      growing_(std::make_unique<GrowingRecordings>(db_, root_))
{
  options_.index.scanned = [this](const std::string& day, const std::vector<RecordingOnDisk>& recordings) {
    scanned(day, recordings);
  };
  options_.index.read_live = [this](const std::string& name) { return growing_->followed(name); };
}

Follower::~Follower() = default;

IndexReport Follower::tick()
{
  now_ = clock_();
  IndexReport report;
  // Each folder's time is taken before the folder is read, so a change made
  // while it is read is seen by the next tick.
  std::map<std::string, fs::file_time_type> times;
  for (const std::string& day : list_day_folders(root_.path)) {
    std::error_code ec;
    times[day] = fs::last_write_time(root_.path / day, ec);
  }
  if (!scanned_ || now_ - last_full_scan_ >= options_.full_scan_every) {
    days_.clear();
    merge(report, index_root(db_, root_, options_.index));
    last_full_scan_ = now_;
    scanned_ = true;
  } else {
    for (auto it = days_.begin(); it != days_.end();) {
      if (times.count(it->first)) {
        ++it;
        continue;
      }
      merge(report, index_day(db_, root_, it->first, options_.index));  // removed folder
      it = days_.erase(it);
    }
    for (const auto& [day, time] : times) {
      const auto known = days_.find(day);
      if (known == days_.end() || known->second.time != time || pictures_changed(day, known->second))
        merge(report, index_day(db_, root_, day, options_.index));
    }
  }
  for (const auto& [day, time] : times) days_[day].time = time;

  const GrowingRecordings::Look look = growing_->look(now_ - options_.finished_after, now_ - options_.given_up_after);
  report.errors.insert(report.errors.end(), look.errors.begin(), look.errors.end());
  for (const std::string& name : look.unchanged)
    if (const auto id = parse_recording_name(name)) analyse(*id);
  return report;
}

bool Follower::pictures_changed(const std::string& day, const Day& d) const
{
  for (const auto& [name, mtime] : d.pictures)
    if (folder_mtime_ns(root_.path / day / (name + "thm")) != mtime) return true;
  return false;
}

// A day folder was read: a recording being written is read on from now on
// (until its .eit marks it analysed), a finished one that lacks the
// analyser's files gets them, and the picture folders of the last hour are
// noted.
void Follower::scanned(const std::string& day, const std::vector<RecordingOnDisk>& recordings)
{
  Day& d = days_[day];
  d.pictures.clear();
  for (const RecordingOnDisk& r : recordings) {
    const auto newest = std::max({r.ts.mtime_ns, r.sub.mtime_ns, r.eit.mtime_ns, r.thumbnails_mtime_ns});
    if (r.thumbnails_mtime_ns != 0 && now_ - as_system_time(newest) < activity_window)
      d.pictures.emplace_back(r.id.name, r.thumbnails_mtime_ns);
    if (r.eit.exists) {
      growing_->forget(r.id.name);
      analysed_.erase(r.id.name);
      continue;
    }
    if (!r.ts.exists) continue;
    if (now_ - as_system_time(r.ts.mtime_ns) < options_.finished_after) growing_->follow(r);
    else analyse(r.id);
  }
}

// The analyser runs to its end (seconds a recording): once a stop is asked
// for, no other is started, so that a backlog never holds up the stop.
void Follower::analyse(const RecordingName& id)
{
  if (options_.index.stop != nullptr && *options_.index.stop) return;
  if (!analysed_.insert(id.name).second) return;
  starter_.run(options_.skerrow, {(root_.path / id.day / (id.name + ".ts")).string()});
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
