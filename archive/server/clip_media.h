#pragma once
// The ffmpeg runs behind the player's captions and the clip export, under
// the server's limit of ffmpeg runs at once (ffmpeg_slots.h).
#include <filesystem>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

#include "child_process.h"
#include "ffmpeg_slots.h"
#include "handlers.h"

namespace oneseg::archive::web {

class ClipMedia {
 public:
  // `work_folder`: beside the database; exported files are made there.
  ClipMedia(ChildStarter& starter, FfmpegSlots& slots, std::filesystem::path work_folder)
      : starter_(starter), slots_(slots), work_folder_(std::move(work_folder)) {}

  enum class Outcome { done, busy, failed };

  // Where the clip of `moment` (clip_command) begins, in seconds on the
  // recording's timeline. Remembered: a clip's captions and its share link
  // ask for the same moment again.
  struct Origin {
    Outcome outcome = Outcome::failed;
    double seconds = 0;
  };
  Origin origin(const ClipSource& source, int moment);

  // The range of recording `name` as an ordinary MP4 file in the work
  // folder, made once and answered again while it is fresh (a phone's player
  // asks for one file range by range); older ones are removed.
  struct Export {
    Outcome outcome = Outcome::failed;
    std::filesystem::path file;
  };
  Export export_range(const ClipSource& source, const std::string& name, int from_s, int to_s);

  // An exported file linked into the folder of saved clips' files, as the
  // clip's own ("12.mp4"); its name there, or nullopt.
  std::optional<std::string> keep(const std::filesystem::path& exported, std::int64_t clip_id);
  std::filesystem::path kept_folder() const { return work_folder_ / "kept"; }

 private:
  ChildStarter& starter_;
  FfmpegSlots& slots_;
  std::filesystem::path work_folder_;
  std::mutex mutex_;
  std::map<std::tuple<std::string, std::string, int>, double> origins_;
};

}  // namespace oneseg::archive::web
