#include "ffmpeg_commands.h"

#include <cstdio>

namespace oneseg::archive::web {
namespace {

std::string seconds_text(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", s < 0 ? 0.0 : s);
  return text;
}

// Stream copy into fragments that a media element plays while they come.
const std::vector<std::string> fragmented_mp4_output = {
    "-map", "0:v:0?", "-map", "0:a:0?", "-c", "copy", "-bsf:a", "aac_adtstoasc", "-avoid_negative_ts", "make_zero",
    "-movflags", "frag_keyframe+empty_moov+default_base_moof", "-f", "mp4", "pipe:1"};

std::vector<std::string> with_output(std::vector<std::string> input) {
  input.insert(input.end(), fragmented_mp4_output.begin(), fragmented_mp4_output.end());
  return input;
}

}  // namespace

std::vector<std::string> live_command() {
  // What ffmpeg reads to learn the streams must lie within the bytes a
  // viewer starts behind the air: with its defaults (5 MB, 5 s of streams
  // that may carry no time stamps, such as the captions) it would wait on
  // the growing recording for a minute or more before its first picture.
  return with_output({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-probesize", "200000",
                      "-analyzeduration", "3000000", "-f", "mpegts", "-i", "pipe:0"});
}

std::vector<std::string> clip_command(const std::filesystem::path& recording,
                                      const std::filesystem::path& next, double moment_s) {
  // Recordings of one channel are cuts of one transport stream, so their bytes
  // joined are one continuous stream (the concat protocol, not the demuxer:
  // timestamps run on across the cut). Recording names hold no '|'.
  std::string input = recording.string();
  if (!next.empty()) input = "concat:" + input + "|" + next.string();
  return with_output({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error",
                      // Before -i: a seek in the input, so nothing before it is read.
                      "-ss", seconds_text(moment_s - clip_lead_s), "-i", input});
}

std::vector<std::string> thumbnail_command(const std::filesystem::path& recording, double at_s,
                                           const std::filesystem::path& jpeg) {
  return {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
          "-ss", seconds_text(at_s), "-i", recording.string(),
          "-frames:v", "1", "-vf", "scale=320:-2", "-q:v", "5", "-f", "image2", jpeg.string()};
}

}  // namespace oneseg::archive::web
