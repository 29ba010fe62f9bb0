#include "clip_media.h"

#include <system_error>

#include "captions_vtt.h"
#include "ffmpeg_commands.h"

namespace oneseg::archive::web {
namespace {

// Enough for a day of moments asked for; forgotten all at once beyond it.
constexpr std::size_t remembered_origins = 4096;
// An export is answered again for an hour, then made anew when asked for.
constexpr auto export_kept = std::chrono::hours(1);

void remove_stale_exports(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const auto now = fs::file_time_type::clock::now();
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (now - it->last_write_time(ignored) > export_kept) fs::remove(it->path(), ignored);
  }
}

}  // namespace

ClipMedia::Origin ClipMedia::origin(const ClipSource& source, int moment) {
  // A recording still being written may gain the next one: the key holds both.
  const auto key = std::make_tuple(source.recording.string(), source.next.string(), moment);
  {
    std::lock_guard lock(mutex_);
    if (const auto known = origins_.find(key); known != origins_.end()) return {Outcome::done, known->second};
  }
  auto slot = slots_.acquire(std::chrono::seconds(5));
  if (!slot) return {Outcome::busy, 0};
  std::string output;
  const int status = run_to_end(starter_, clip_origin_command(source.recording, source.next, moment),
                                std::chrono::seconds(20), &output);
  const auto seconds = status == 0 ? parse_clip_origin(output) : std::nullopt;
  if (!seconds) return {Outcome::failed, 0};
  std::lock_guard lock(mutex_);
  if (origins_.size() >= remembered_origins) origins_.clear();
  origins_[key] = *seconds;
  return {Outcome::done, *seconds};
}

ClipMedia::Export ClipMedia::export_range(const ClipSource& source, const std::string& name, int from_s, int to_s) {
  namespace fs = std::filesystem;
  const fs::path folder = work_folder_ / "exports";
  const fs::path file = folder / (name + "_" + std::to_string(from_s) + "_" + std::to_string(to_s) + ".mp4");
  std::error_code error;
  if (fs::is_regular_file(file, error)) return {Outcome::done, file};
  auto slot = slots_.acquire(std::chrono::seconds(5));
  if (!slot) return {Outcome::busy, {}};
  fs::create_directories(folder, error);
  remove_stale_exports(folder);
  // Ten minutes are copied, not encoded: seconds, even on a small machine.
  const bool made = run_into_file(
      starter_, [&](const fs::path& partial) { return export_command(source.recording, source.next, from_s, to_s, partial); },
      file, std::chrono::minutes(2));
  if (!made) return {Outcome::failed, {}};
  return {Outcome::done, file};
}

std::optional<std::string> ClipMedia::keep(const std::filesystem::path& exported, std::int64_t clip_id) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(kept_folder(), error);
  const std::string name = std::to_string(clip_id) + ".mp4";
  fs::remove(kept_folder() / name, error);
  fs::create_hard_link(exported, kept_folder() / name, error);
  if (error) fs::copy_file(exported, kept_folder() / name, fs::copy_options::overwrite_existing, error);
  if (error) return std::nullopt;
  return name;
}

}  // namespace oneseg::archive::web
