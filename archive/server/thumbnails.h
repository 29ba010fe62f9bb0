#pragma once
// The picture of a moment: the page builder's thumbnail when it made one near
// that second, else one ffmpeg makes on demand, kept in a cache folder beside
// the database (never in a day folder, where retention deletes and the page
// builder writes).
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "ffmpeg_commands.h"
#include "ffmpeg_slots.h"

namespace oneseg::archive::web {

// Of the page builder's pictures ("35.jpg": the second into the recording),
// the last one at or before `offset`, if it is at most `tolerance_s` before.
std::optional<std::string> page_builder_picture(const std::vector<std::string>& names, int offset,
                                                int tolerance_s = 10);

class ThumbnailCache {
 public:
  ThumbnailCache(std::filesystem::path folder, ChildStarter& starter, FfmpegSlots& slots)
      : folder_(std::move(folder)), starter_(starter), slots_(slots) {}

  enum class Outcome { made, busy, failed };
  struct Picture {
    Outcome outcome = Outcome::failed;
    std::filesystem::path file;
  };
  // The cached picture of `name` at `offset`, made from `recording` when missing.
  Picture picture(const std::filesystem::path& recording, const std::string& day, const std::string& name,
                  int offset);

 private:
  std::filesystem::path folder_;
  ChildStarter& starter_;
  FfmpegSlots& slots_;
};

}  // namespace oneseg::archive::web
