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
// delay_moov: the header waits for the first packets, so that it holds the
// sound's configuration (a transport stream's AAC carries it in each packet,
// not before them); Media Source players refuse a header without it.
const std::vector<std::string> fragmented_mp4_output = {
    "-bsf:a", "aac_adtstoasc", "-avoid_negative_ts", "make_zero",
    "-movflags", "frag_keyframe+empty_moov+delay_moov+default_base_moof", "-f", "mp4", "pipe:1"};
const std::vector<std::string> copied_streams = {"-map", "0:v:0?", "-map", "0:a:0?", "-c", "copy"};

std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::vector<std::string> clip_input(const std::filesystem::path& recording, const std::filesystem::path& next,
                                    double seek_s) {
  // Recordings of one channel are cuts of one transport stream, so their bytes
  // joined are one continuous stream (the concat protocol, not the demuxer:
  // timestamps run on across the cut). Recording names hold no '|'.
  std::string input = recording.string();
  if (!next.empty()) input = "concat:" + input + "|" + next.string();
  return with({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error",
               // Before -i: a seek in the input, so nothing before it is read.
               "-ss", seconds_text(seek_s), "-i", input},
              copied_streams);
}

}  // namespace

std::vector<std::string> live_command() {
  // What ffmpeg reads to learn the streams must lie within the bytes a
  // viewer starts behind the air: with its defaults (5 MB, 5 s of streams
  // that may carry no time stamps, such as the captions) it would wait on
  // the growing recording for a minute or more before its first picture.
  return with(with({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-probesize", "200000",
                    "-analyzeduration", "3000000", "-f", "mpegts", "-i", "pipe:0"},
                   copied_streams),
              fragmented_mp4_output);
}

std::vector<std::string> clip_command(const std::filesystem::path& recording,
                                      const std::filesystem::path& next, double moment_s) {
  return with(clip_input(recording, next, moment_s - clip_lead_s), fragmented_mp4_output);
}

std::vector<std::string> clip_origin_command(const std::filesystem::path& recording,
                                             const std::filesystem::path& next, double moment_s) {
  // The same seek, with the input's own times (counted from its start) kept;
  // the first packets are enough.
  auto args = clip_input(recording, next, moment_s - clip_lead_s);
  args.insert(args.begin() + 5, {"-copyts", "-start_at_zero"});
  return with(args, {"-frames:v", "1", "-f", "framecrc", "pipe:1"});
}

std::vector<std::string> export_command(const std::filesystem::path& recording, const std::filesystem::path& next,
                                        double from_s, double to_s, const std::filesystem::path& mp4) {
  // Seeking to FROM itself (no lead): the sound starts at FROM and the
  // picture at the first keyframe after it, so the file lasts the range.
  return with(clip_input(recording, next, from_s), {"-t", seconds_text(to_s - from_s), "-bsf:a", "aac_adtstoasc",
                                                    "-movflags", "+faststart", "-f", "mp4", "-y", mp4.string()});
}

std::vector<std::string> thumbnail_command(const std::filesystem::path& recording, double at_s,
                                           const std::filesystem::path& jpeg) {
  return {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
          "-ss", seconds_text(at_s), "-i", recording.string(),
          "-frames:v", "1", "-vf", "scale=320:-2", "-q:v", "5", "-f", "image2", jpeg.string()};
}

}  // namespace oneseg::archive::web
