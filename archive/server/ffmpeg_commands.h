#pragma once
// The ffmpeg command lines of the server: clips (stream copy, no re-encoding)
// and single thumbnails. Pure, so the exact arguments are tested.
#include <filesystem>
#include <string>
#include <vector>

namespace oneseg::archive::web {

// A clip of `recording` from the keyframe at or before `start_s` seconds into
// it, running on into `next` (the same channel's following recording, when
// there is one) so playback does not stop at the ten-minute boundary.
// Fragmented MP4 on standard output, playable while it is still being written.
std::vector<std::string> clip_command(const std::filesystem::path& recording,
                                      const std::filesystem::path& next, double start_s);

// One picture of `recording` at `at_s` seconds, 320 pixels wide, into `jpeg`.
std::vector<std::string> thumbnail_command(const std::filesystem::path& recording, double at_s,
                                           const std::filesystem::path& jpeg);

}  // namespace oneseg::archive::web
