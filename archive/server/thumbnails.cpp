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

ThumbnailCache::Picture ThumbnailCache::picture(const std::filesystem::path& recording, const std::string& day,
                                                const std::string& name, int offset) {
  namespace fs = std::filesystem;
  const fs::path file = folder_ / day / name / (std::to_string(offset) + ".jpg");
  std::error_code error;
  if (fs::is_regular_file(file, error)) return {Outcome::made, file};
  auto slot = slots_.acquire(std::chrono::seconds(10));
  if (!slot) return {Outcome::busy, {}};
  fs::create_directories(file.parent_path(), error);
  const bool made = run_into_file(
      starter_, [&](const fs::path& partial) { return thumbnail_command(recording, offset, partial); }, file,
      std::chrono::seconds(20));
  if (!made) return {Outcome::failed, {}};
  return {Outcome::made, file};
}

}  // namespace oneseg::archive::web
