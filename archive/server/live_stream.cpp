#include "live_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace oneseg::archive::web {
namespace {

constexpr std::int64_t packet_size = 188;
constexpr std::size_t feed_chunk = 64 * 1024;

}  // namespace

LiveFeed::LiveFeed(std::filesystem::path recording, std::int64_t behind_bytes, Following following)
    : following_(std::move(following)) {
  open(recording, behind_bytes);
}

LiveFeed::~LiveFeed() {
  if (fd_ >= 0) ::close(fd_);
}

bool LiveFeed::open(const std::filesystem::path& path, std::int64_t behind_bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  path_ = path;
  struct stat status {};
  const std::int64_t size = ::fstat(fd, &status) == 0 ? status.st_size : 0;
  // On a packet boundary, as the recorder writes whole packets.
  offset_ = std::max<std::int64_t>(0, size - behind_bytes) / packet_size * packet_size;
  return true;
}

long LiveFeed::read(char* destination, std::size_t n) {
  if (fd_ < 0) return -1;
  for (int switches = 0; switches < 2; ++switches) {
    ssize_t got;
    do {
      got = ::pread(fd_, destination, n, offset_);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return -1;
    if (got > 0) {
      offset_ += got;
      return static_cast<long>(got);
    }
    // At the end: the recorder writes on, or has begun the next recording
    // (and then the old one is complete; it is read to its end first).
    const auto next = following_(path_);
    if (!next) return 0;
    struct stat status {};
    if (::fstat(fd_, &status) == 0 && status.st_size > offset_) continue;  // its last bytes came meanwhile
    if (!open(*next, std::numeric_limits<std::int64_t>::max())) return 0;  // from its start
  }
  return 0;
}

LivePump::LivePump(std::unique_ptr<LiveFeed> feed, std::unique_ptr<Child> ffmpeg, Clock clock)
    : feed_(std::move(feed)), ffmpeg_(std::move(ffmpeg)), clock_(std::move(clock)), last_input_(clock_()) {}

long LivePump::next(char* destination, std::size_t n, std::chrono::milliseconds wait) {
  if (pending_at_ == pending_.size()) {
    pending_.resize(feed_chunk);
    const long got = feed_->read(pending_.data(), pending_.size());
    pending_.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    pending_at_ = 0;
    if (got > 0) last_input_ = clock_();
    // Unreadable, or silent too long: the station has stopped.
    if (got < 0 || clock_() - last_input_ > live_silence_limit) return 0;
  }
  if (pending_at_ < pending_.size()) {
    const long put = ffmpeg_->write_input(pending_.data() + pending_at_, pending_.size() - pending_at_);
    if (put < 0) return 0;  // ffmpeg is gone
    pending_at_ += static_cast<std::size_t>(put);
  }
  return ffmpeg_->read_output(destination, n, wait);
}

void LivePump::finish() { ffmpeg_->finish(); }

}  // namespace oneseg::archive::web
