#pragma once
// The picture of a moment: the page builder's thumbnail when it made one near
// that second, else one ffmpeg makes on demand, kept in a cache folder beside
// the database (never in a day folder, where retention deletes and the page
// builder writes).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "child_process.h"
#include "ffmpeg_commands.h"
#include "ffmpeg_slots.h"

namespace oneseg::archive::web {

// Of the page builder's pictures ("35.jpg": the second into the recording),
// the last one at or before `offset`, if it is at most `tolerance_s` before.
std::optional<std::string> page_builder_picture(const std::vector<std::string>& names, int offset,
                                                int tolerance_s = 10);

// The pictures a cache keeps within its size: once they take more, the
// oldest go first (never the one just kept).
class PictureBudget {
 public:
  explicit PictureBudget(std::uint64_t most_bytes) : most_(most_bytes) {}
  // A picture kept (made, or found in the folder); `made`: any clock that
  // orders pictures by age. The files to remove, oldest first.
  std::vector<std::filesystem::path> keep(const std::filesystem::path& file, std::uint64_t bytes, std::int64_t made);
  std::uint64_t bytes() const { return total_; }

 private:
  struct Kept {
    std::uint64_t bytes;
    std::int64_t made;
  };
  std::uint64_t most_;
  std::uint64_t total_ = 0;
  std::map<std::filesystem::path, Kept> kept_;
  std::set<std::pair<std::int64_t, std::filesystem::path>> by_age_;
};

class ThumbnailCache {
 public:
  // Wait for an ffmpeg slot at most this long, then answer busy.
  static constexpr std::chrono::seconds slot_wait{3};

  ThumbnailCache(std::filesystem::path folder, ChildStarter& starter, FfmpegSlots& slots, std::uint64_t most_bytes)
      : folder_(std::move(folder)), starter_(starter), slots_(slots), budget_(most_bytes) {}

  enum class Outcome { made, busy, failed };
  struct Picture {
    Outcome outcome = Outcome::failed;
    std::filesystem::path file;
  };
  // The cached picture of `name` at `offset`, made from `recording` when missing.
  Picture picture(const std::filesystem::path& recording, const std::string& day, const std::string& name,
                  int offset);

 private:
  // Notes a picture in the budget and removes what it no longer holds; the
  // folder is read once, at the first picture asked for.
  void keep(const std::filesystem::path& file);

  std::filesystem::path folder_;
  ChildStarter& starter_;
  FfmpegSlots& slots_;
  std::mutex mutex_;
  std::atomic<bool> read_folder_{false};
  PictureBudget budget_;
};

}  // namespace oneseg::archive::web
