#pragma once
// A station played live: the bytes of its growing recording, from a few
// seconds behind the end and on into the recording that follows it, fed
// through ffmpeg's standard input and sent on as fragmented MP4 while it
// comes out.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"

namespace oneseg::archive::web {

// One-segment transport streams run at a fixed 416 kbit/s or so: this many
// bytes are a second of broadcast.
inline constexpr std::int64_t live_bytes_per_second = 52 * 1024;
// Where playing starts: this far behind the newest byte, so the player has a
// few seconds in hand and ffmpeg a keyframe to start at.
inline constexpr int live_delay_s = 6;
// A station that writes nothing for this long (and has no next recording)
// has stopped: its stream ends.
inline constexpr std::chrono::seconds live_silence_limit{30};

// Reads a growing file, and when a following recording is there, what is
// left of the old one and then the new one from its start.
class LiveFeed {
 public:
  // The recording that follows `current`, once there is one.
  using Following = std::function<std::optional<std::filesystem::path>(const std::filesystem::path& current)>;

  LiveFeed(std::filesystem::path recording, std::int64_t behind_bytes, Following following);
  ~LiveFeed();
  LiveFeed(const LiveFeed&) = delete;
  LiveFeed& operator=(const LiveFeed&) = delete;

  // Up to n bytes of the broadcast; 0 when nothing new is there yet, -1 when
  // the recording cannot be read.
  long read(char* destination, std::size_t n);
  const std::filesystem::path& current() const { return path_; }

 private:
  bool open(const std::filesystem::path& path, std::int64_t behind_bytes);

  std::filesystem::path path_;
  Following following_;
  int fd_ = -1;
  std::int64_t offset_ = 0;
};

// The ffmpeg of one live viewer, fed by a LiveFeed.
class LivePump {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  LivePump(std::unique_ptr<LiveFeed> feed, std::unique_ptr<Child> ffmpeg,
           Clock clock = [] { return std::chrono::steady_clock::now(); });

  // Feeds what is new to ffmpeg and returns what it made (as
  // Child::read_output: -1 none yet, 0 the end, also when the station
  // stopped or ffmpeg would take no more).
  long next(char* destination, std::size_t n, std::chrono::milliseconds wait);
  // Ends ffmpeg.
  void finish();

 private:
  std::unique_ptr<LiveFeed> feed_;
  std::unique_ptr<Child> ffmpeg_;
  Clock clock_;
  std::vector<char> pending_;
  std::size_t pending_at_ = 0;
  std::chrono::steady_clock::time_point last_input_;
};

}  // namespace oneseg::archive::web
