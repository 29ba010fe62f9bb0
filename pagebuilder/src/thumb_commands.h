#pragma once

#include <string>
#include <vector>

namespace pellatt {

// Arguments of the ffmpeg run that writes the picture at `second` to `out_path`.
std::vector<std::string> thumbnail_args(const std::string& ts_path, int second, const std::string& out_path);

struct ThumbTarget {
  int second;
  std::string path;
};

// Arguments of the ffmpeg runs that write every target in one pass each (a
// run takes up to kFastTargetsPerRun targets). Each target gets its own output
// and encoder, fed the first frame at or after its second, so every file is the
// very picture (and the very bytes) that the one-run-per-thumbnail way writes.
constexpr size_t kFastTargetsPerRun = 500;
std::vector<std::vector<std::string>> fast_thumbnail_runs(const std::string& ts_path,
                                                          const std::vector<ThumbTarget>& targets);

}  // namespace pellatt
