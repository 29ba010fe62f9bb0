#include "av_source.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace oneseg::synth {

H264Reader::H264Reader(const std::filesystem::path& file, int frames_per_second)
    : in_(file, std::ios::binary), fps_(frames_per_second) {
  if (!in_) throw std::runtime_error("cannot read " + file.string());
}

bool H264Reader::fill() {
  if (pos_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(pos_));
    pos_ = 0;
  }
  const std::size_t old = buffer_.size();
  buffer_.resize(old + (1 << 20));
  in_.read(reinterpret_cast<char*>(buffer_.data() + old), 1 << 20);
  buffer_.resize(old + static_cast<std::size_t>(in_.gcount()));
  return buffer_.size() > old;
}

namespace {
// Whether an access unit holds an IDR slice (NAL unit type 5).
bool holds_idr(const Bytes& b) {
  for (std::size_t i = 0; i + 3 < b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && (b[i + 3] & 0x1F) == 5) return true;
  return false;
}

// Position of the next access unit delimiter (00 00 01 09) at or after `from`.
std::size_t find_aud(const Bytes& b, std::size_t from) {
  for (std::size_t i = from; i + 3 < b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && (b[i + 3] & 0x1F) == 9) return i;
  return b.size();
}
}  // namespace

std::optional<AccessUnit> H264Reader::next() {
  std::size_t search = pos_ + 4, end = 0;
  for (;;) {
    end = find_aud(buffer_, search);
    if (end < buffer_.size()) break;
    // Resume the search where it stopped; fill() moves the unit to the front.
    const std::size_t resume = buffer_.size() >= pos_ + 3 ? buffer_.size() - 3 - pos_ : 0;
    if (!fill()) {
      end = buffer_.size();
      break;
    }
    search = std::max<std::size_t>(4, resume);
  }
  if (pos_ >= buffer_.size()) return std::nullopt;
  // Keep the zero byte of a four-byte start code with the unit it opens.
  if (end < buffer_.size() && end > pos_ && buffer_[end - 1] == 0) --end;
  AccessUnit au;
  au.pts90 = frame_++ * 90000 / static_cast<std::uint64_t>(fps_);
  au.data.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(pos_), buffer_.begin() + static_cast<std::ptrdiff_t>(end));
  au.random_access = holds_idr(au.data);
  pos_ = end;
  return au;
}

AdtsReader::AdtsReader(const std::filesystem::path& file) : in_(file, std::ios::binary) {
  if (!in_) throw std::runtime_error("cannot read " + file.string());
}

std::optional<AccessUnit> AdtsReader::next() {
  static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
  AccessUnit au;
  au.data.resize(7);
  if (!in_.read(reinterpret_cast<char*>(au.data.data()), 7)) return std::nullopt;
  const Bytes& h = au.data;
  if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0) throw std::runtime_error("audio stream lost ADTS sync");
  const int rate_index = (h[2] >> 2) & 0x0F;
  if (rate_index > 12) throw std::runtime_error("ADTS frame with a reserved sampling rate");
  const std::size_t length = static_cast<std::size_t>((h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5);
  if (length < 7) throw std::runtime_error("ADTS frame shorter than its header");
  au.data.resize(length);
  if (!in_.read(reinterpret_cast<char*>(au.data.data() + 7), static_cast<std::streamsize>(length - 7)))
    return std::nullopt;
  au.pts90 = samples_ * 90000 / static_cast<std::uint64_t>(kRates[rate_index]);
  au.random_access = true;
  samples_ += 1024;
  return au;
}

int PosixProcessRunner::run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> ffmpeg_command(const AvRequest& r) {
  const std::string d = std::to_string(r.duration_s);
  const std::string clock = (r.work_dir / "clock.txt").string(), name = (r.work_dir / "station.txt").string();
  const std::string box = ":fontsize=22:box=1:boxcolor=black:boxborderw=3:x=6";
  const std::string filter = "drawtext=fontfile=" + r.font + ":textfile=" + clock + ":fontcolor=white" + box +
                             ":y=6,drawtext=fontfile=" + r.font + ":textfile=" + name +
                             ":expansion=none:fontcolor=yellow" + box + ":y=h-th-6";
  return {r.ffmpeg, "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
          "-f", "lavfi", "-i", "testsrc2=size=320x180:rate=" + std::to_string(kFramesPerSecond) + ":duration=" + d,
          "-f", "lavfi", "-i", "sine=frequency=660:beep_factor=2:sample_rate=48000:duration=" + d,
          "-filter:v", filter,
          "-map", "0:v", "-c:v", "libx264", "-preset", "veryfast", "-profile:v", "baseline", "-g", "30",
          "-b:v", "180k", "-maxrate", "200k", "-bufsize", "200k", "-x264-params", "aud=1",
          "-f", "h264", (r.work_dir / "video.h264").string(),
          "-map", "1:a", "-c:a", "aac", "-b:a", "48k", "-ac", "2", "-f", "adts", (r.work_dir / "audio.aac").string()};
}

namespace {
void write_text(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}
}  // namespace

AvFiles encode_av(const AvRequest& r, ProcessRunner& runner) {
  if (!std::filesystem::exists(r.font)) throw std::runtime_error("font not found: " + r.font);
  // drawtext's gmtime expansion shows the broadcast clock: the epoch handed
  // to it is the Japan time of the first picture read as if it were UTC.
  write_text(r.work_dir / "clock.txt", "%{pts:gmtime:" + std::to_string(r.clock_start) + ":%Y/%m/%d %H\\:%M\\:%S}");
  write_text(r.work_dir / "station.txt", r.station_name);
  const int status = runner.run(ffmpeg_command(r));
  if (status != 0)
    throw std::runtime_error(status < 0 ? "cannot start " + r.ffmpeg
                                        : r.ffmpeg + " failed with exit status " + std::to_string(status));
  return {r.work_dir / "video.h264", r.work_dir / "audio.aac"};
}

}  // namespace oneseg::synth
