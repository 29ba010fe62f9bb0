#pragma once
// Picture and sound: ffmpeg encodes a test picture with the broadcast clock
// and the station name burned in, plus a tone, into elementary streams that
// the multiplexer reads access unit by access unit.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "jst_clock.h"
#include "ts_packets.h"

namespace oneseg::synth {

struct AccessUnit {
  std::uint64_t pts90 = 0;  // presentation time from the start of the stream, 90 kHz
  Bytes data;
  bool random_access = false;  // decoding can start here (an IDR picture; every audio frame)
};

class AccessUnitReader {
 public:
  virtual ~AccessUnitReader() = default;
  virtual std::optional<AccessUnit> next() = 0;
};

// An H.264 Annex B file whose access units begin with an access unit
// delimiter, at a constant frame rate.
class H264Reader : public AccessUnitReader {
 public:
  H264Reader(const std::filesystem::path& file, int frames_per_second);
  std::optional<AccessUnit> next() override;

 private:
  bool fill();
  std::ifstream in_;
  Bytes buffer_;
  std::size_t pos_ = 0;
  std::uint64_t frame_ = 0;
  int fps_;
};

// An AAC file of ADTS frames (1024 samples each).
class AdtsReader : public AccessUnitReader {
 public:
  explicit AdtsReader(const std::filesystem::path& file);
  std::optional<AccessUnit> next() override;

 private:
  std::ifstream in_;
  std::uint64_t samples_ = 0;
};

// Starts a program and waits for it; the one seam the tests may replace.
class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;
  // Exit status, or -1 when the program could not be started.
  virtual int run(const std::vector<std::string>& argv) = 0;
};

class PosixProcessRunner : public ProcessRunner {
 public:
  int run(const std::vector<std::string>& argv) override;
};

struct AvRequest {
  JstSeconds clock_start = 0;  // broadcast time of the first picture
  int duration_s = 0;
  std::string station_name;
  std::filesystem::path work_dir;  // receives video.h264 and audio.aac
  std::string ffmpeg = "ffmpeg";
  std::string font = "/usr/share/fonts/opentype/ipafont-gothic/ipagp.ttf";
};

constexpr int kFramesPerSecond = 15;

struct AvFiles {
  std::filesystem::path video, audio;
};

// Runs ffmpeg once; throws std::runtime_error when it fails.
AvFiles encode_av(const AvRequest& request, ProcessRunner& runner);

// The ffmpeg command line encode_av uses.
std::vector<std::string> ffmpeg_command(const AvRequest& request);

}  // namespace oneseg::synth
