#include "thumb_commands.h"

namespace pellatt {

namespace {

// ffmpeg reads a "name:" prefix as a protocol and its image writer reads "%d"
// in a name as a frame number (taking a name with none left literally, so no
// escaping fits every name). The file protocol and the writer's single-file
// mode take every path as it is.
std::string literal(const std::string& path) { return "file:" + path; }

std::vector<std::string> image_output(const std::string& path) { return {"-update", "1", literal(path)}; }

// True for the first frame at or after `second`. The offset, far below one
// 90 kHz tick, makes the floating-point time compare like the exact timestamp
// comparison of ffmpeg's -ss.
std::string first_frame_at(int second) {
  const std::string s = std::to_string(second);
  return "gte(t+0.000001\\," + s + ")*not(gte(prev_t+0.000001\\," + s + "))";
}

// Sum of the terms as a balanced tree: ffmpeg's expression evaluator fails on
// long flat chains.
std::string balanced_sum(const std::vector<ThumbTarget>& targets, size_t begin, size_t end) {
  if (end - begin == 1) return first_frame_at(targets[begin].second);
  const size_t middle = begin + (end - begin) / 2;
  return "(" + balanced_sum(targets, begin, middle) + "+" + balanced_sum(targets, middle, end) + ")";
}

std::vector<std::string> one_pass(const std::string& ts_path, const std::vector<ThumbTarget>& targets) {
  // First keep only the frames some target wants, then give each output its own.
  std::string graph = "[0:v]select='" + balanced_sum(targets, 0, targets.size()) + "',split=" +
                      std::to_string(targets.size());
  for (size_t i = 0; i < targets.size(); ++i) graph += "[a" + std::to_string(i) + "]";
  for (size_t i = 0; i < targets.size(); ++i)
    graph += ";[a" + std::to_string(i) + "]select='" + first_frame_at(targets[i].second) + "'[o" +
             std::to_string(i) + "]";
  // One decoding thread: frame threads cost more than they give on pictures this small.
  std::vector<std::string> args = {"-y", "-threads", "1", "-i", literal(ts_path), "-filter_complex", graph};
  for (size_t i = 0; i < targets.size(); ++i) {
    const std::vector<std::string> output = {"-map", "[o" + std::to_string(i) + "]", "-r", "1", "-frames:v", "1",
                                             "-an", "-f", "image2"};
    args.insert(args.end(), output.begin(), output.end());
    const auto image = image_output(targets[i].path);
    args.insert(args.end(), image.begin(), image.end());
  }
  return args;
}

}  // namespace

std::vector<std::string> thumbnail_args(const std::string& ts_path, int second, const std::string& out_path) {
  // The writer's single-file mode would write every later frame over the first.
  std::vector<std::string> args = {"-y", "-i", literal(ts_path), "-f", "image2", "-ss", std::to_string(second),
                                   "-r", "1", "-frames:v", "1", "-an"};
  const auto image = image_output(out_path);
  args.insert(args.end(), image.begin(), image.end());
  return args;
}

std::vector<std::vector<std::string>> fast_thumbnail_runs(const std::string& ts_path,
                                                          const std::vector<ThumbTarget>& targets) {
  std::vector<std::vector<std::string>> runs;
  for (size_t begin = 0; begin < targets.size(); begin += kFastTargetsPerRun) {
    const size_t end = std::min(targets.size(), begin + kFastTargetsPerRun);
    runs.push_back(one_pass(ts_path, std::vector<ThumbTarget>(targets.begin() + begin, targets.begin() + end)));
  }
  return runs;
}

}  // namespace pellatt
