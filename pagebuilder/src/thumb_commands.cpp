#include "thumb_commands.h"

namespace pellatt {

std::vector<std::string> thumbnail_args(const std::string& ts_path, int second, const std::string& out_path) {
  return {"-y", "-i", ts_path, "-f", "image2", "-ss", std::to_string(second), "-r", "1", "-an", out_path};
}

std::vector<std::string> fast_thumbnail_args(const std::string& ts_path, const std::vector<ThumbTarget>& targets) {
  std::string graph = "[0:v]split=" + std::to_string(targets.size());
  for (size_t i = 0; i < targets.size(); ++i) graph += "[a" + std::to_string(i) + "]";
  for (size_t i = 0; i < targets.size(); ++i) {
    const std::string s = std::to_string(targets[i].second);
    graph += ";[a" + std::to_string(i) + "]select='gte(t\\," + s + ")*not(gte(prev_t\\," + s + "))'[o" +
             std::to_string(i) + "]";
  }
  std::vector<std::string> args = {"-y", "-i", ts_path, "-filter_complex", graph};
  for (size_t i = 0; i < targets.size(); ++i) {
    const std::vector<std::string> output = {"-map", "[o" + std::to_string(i) + "]", "-r", "1", "-frames:v", "1",
                                             "-an", "-f", "image2", targets[i].path};
    args.insert(args.end(), output.begin(), output.end());
  }
  return args;
}

}  // namespace pellatt
