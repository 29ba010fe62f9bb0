#include "thumbnails.h"

#include <charconv>
#include <system_error>

namespace oneseg::archive::web {

std::optional<std::string> page_builder_picture(const std::vector<std::string>& names, int offset,
                                                int tolerance_s) {
  std::optional<std::string> best;
  int best_second = -1;
  for (const auto& name : names) {
    int second = -1;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), second);
    if (error != std::errc() || end == name.data() || *end != '.') continue;
    if (second <= offset && second > best_second && offset - second <= tolerance_s) {
      best = name;
      best_second = second;
    }
  }
  return best;
}

std::vector<std::filesystem::path> PictureBudget::keep(const std::filesystem::path& file, std::uint64_t bytes,
                                                     std::int64_t made) {
  if (const auto old = kept_.find(file); old != kept_.end()) {
    total_ -= old->second.bytes;
    by_age_.erase({old->second.made, file});
    kept_.erase(old);
  }
  kept_.emplace(file, Kept{bytes, made});
  by_age_.emplace(made, file);
  total_ += bytes;
  std::vector<std::filesystem::path> dropped;
  while (total_ > most_ && by_age_.size() > 1) {
    auto oldest = by_age_.begin();
    if (oldest->second == file) ++oldest;
    const auto gone = kept_.find(oldest->second);
    total_ -= gone->second.bytes;
    dropped.push_back(oldest->second);
    kept_.erase(gone);
    by_age_.erase(oldest);
  }
  return dropped;
}

namespace {

std::int64_t age_of(const std::filesystem::path& file, std::error_code& error) {
  return std::filesystem::last_write_time(file, error).time_since_epoch().count();
}

}  // namespace

void ThumbnailCache::keep(const std::filesystem::path& file) {
  namespace fs = std::filesystem;
  std::error_code error;
  std::vector<fs::path> dropped;
  {
    std::lock_guard lock(mutex_);
    if (!read_folder_) {
      read_folder_ = true;
      for (fs::recursive_directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error) && it->path().extension() == ".jpg" && it->path() != file) {
          const auto more = budget_.keep(it->path(), it->file_size(error), age_of(it->path(), error));
          dropped.insert(dropped.end(), more.begin(), more.end());
        }
      }
    }
    const auto more = budget_.keep(file, fs::file_size(file, error), age_of(file, error));
    dropped.insert(dropped.end(), more.begin(), more.end());
  }
  for (const auto& gone : dropped) {
    fs::remove(gone, error);
    // The recording's and the day's folders go with their last picture.
    fs::remove(gone.parent_path(), error);
    fs::remove(gone.parent_path().parent_path(), error);
  }
}

ThumbnailCache::Picture ThumbnailCache::picture(const std::filesystem::path& recording, const std::string& day,
                                                const std::string& name, int offset) {
  namespace fs = std::filesystem;
  const fs::path file = folder_ / day / name / (std::to_string(offset) + ".jpg");
  std::error_code error;
  if (fs::is_regular_file(file, error)) {
    if (!read_folder_) keep(file);
    return {Outcome::made, file};
  }
  auto slot = slots_.acquire(slot_wait);
  if (!slot) return {Outcome::busy, {}};
  fs::create_directories(file.parent_path(), error);
  const bool made = run_into_file(
      starter_, [&](const fs::path& partial) { return thumbnail_command(recording, offset, partial); }, file,
      std::chrono::seconds(20));
  if (!made) return {Outcome::failed, {}};
  keep(file);
  return {Outcome::made, file};
}

}  // namespace oneseg::archive::web
