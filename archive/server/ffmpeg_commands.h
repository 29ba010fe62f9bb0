#pragma once
// The ffmpeg command lines of the server: clips (stream copy, no re-encoding)
// and single thumbnails. Pure, so the exact arguments are tested.
#include <filesystem>
#include <string>
#include <vector>

namespace oneseg::archive::web {

// A clip of `recording` from the moment `moment_s` seconds into it, or the
// keyframe up to clip_lead_s before it, running on into `next` (the same channel's following recording, when
// there is one) so playback does not stop at the ten-minute boundary.
// Fragmented MP4 on standard output, playable while it is still being written.
std::vector<std::string> clip_command(const std::filesystem::path& recording,
                                      const std::filesystem::path& next, double moment_s);

// A live station: the transport stream on standard input, as fragmented MP4
// on standard output (stream copy; what comes before the first keyframe is
// left out, so the player starts on a whole picture).
std::vector<std::string> live_command();

// A run of ffmpeg that seeks as clip_command does and prints its first
// packets (framecrc) with their times since the start of `recording`: where
// the clip of that moment really begins (parse_clip_origin).
std::vector<std::string> clip_origin_command(const std::filesystem::path& recording,
                                             const std::filesystem::path& next, double moment_s);

// ffmpeg's seek in a transport stream lands on the first keyframe at or after
// the time asked for; asking one group of pictures (two seconds in one-segment
// broadcasts) earlier starts the clip at the keyframe before the moment.
inline constexpr double clip_lead_s = 2.0;

// An ordinary MP4 file of the range FROM..TO seconds of `recording` (running
// on into `next`): stream copy, the index at its front (+faststart) so a
// phone can start it before it has it all, not fragmented.
std::vector<std::string> export_command(const std::filesystem::path& recording, const std::filesystem::path& next,
                                        double from_s, double to_s, const std::filesystem::path& mp4);

// One picture of `recording` at `at_s` seconds, 320 pixels wide, into `jpeg`.
std::vector<std::string> thumbnail_command(const std::filesystem::path& recording, double at_s,
                                           const std::filesystem::path& jpeg);

}  // namespace oneseg::archive::web
