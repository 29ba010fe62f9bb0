#pragma once
// WebVTT captions for a player given a clip: the caption lines of a recording
// (and of the one the clip runs on into), timed against where the clip really
// begins, so the cues meet the picture. Pure; the server finds the clip's
// origin with clip_origin_command and parse_clip_origin.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oneseg::archive::web {

struct TimedLine {
  double at_s = 0;   // seconds on the recording's timeline (0: its first time packet)
  std::string text;  // UTF-8
};

// A line shows from its time until the next line, at most this long.
inline constexpr double longest_cue_s = 8.0;

// Cues of `lines` (in time order) on the clip's own clock, whose 0 is
// `origin_s` on the recording's timeline; lines that ended before the clip
// began are left out and one under way is cut to start at 0.
std::string webvtt(const std::vector<TimedLine>& lines, double origin_s);

// "hh:mm:ss.mmm" of a clip time (negative reads as 0).
std::string vtt_timestamp(double seconds);

// The clip's origin from the probe's framecrc output: the earliest packet
// time, in seconds after the recording's start; nullopt without a packet.
std::optional<double> parse_clip_origin(std::string_view framecrc);

}  // namespace oneseg::archive::web
