#include "ts_framer.h"

namespace brannock {
namespace {

// Lock is acquired on this many unit starts in a row that look like packets,
// and lost on two misses in a row.
constexpr int kAcquireStarts = 5;

// A sync byte and an adaptation field control other than the reserved 00,
// which no packet carries: a constant 0x47 in the device framing is followed
// by its counter's zero bytes and so is told apart from a packet start.
bool LooksLikePacket(const std::uint8_t* p) { return p[0] == kSyncByte && (p[3] & 0x30) != 0; }

}  // namespace

void TsFramer::Feed(const std::uint8_t* data, std::size_t length, const PacketSink& sink) {
  pending_.insert(pending_.end(), data, data + length);
  std::size_t at = 0;
  for (;;) {
    const bool wasLocked = locked_;
    const std::size_t next = locked_ ? FrameLocked(at, sink) : Search(at);
    if (next == at && locked_ == wasLocked) break;  // nothing more can be decided
    at = next;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

void TsFramer::Reset() {
  Gap();
  locked_ = true;
}

void TsFramer::Gap() {
  drops_.bytes += static_cast<std::int64_t>(pending_.size());
  pending_.clear();
  locked_ = false;
}

// Every unit is checked. A unit that does not start like a packet (no sync
// byte, or the reserved adaptation field control) costs only itself when
// its successor does; a second miss in a row loses the lock, and the search
// starts again at the byte after the first missed unit's start. A unit is
// decided once it (and, for a miss, the successor's start) is all there.
std::size_t TsFramer::FrameLocked(std::size_t at, const PacketSink& sink) {
  const std::size_t size = pending_.size();
  while (at + unit_ <= size) {
    if (LooksLikePacket(&pending_[at])) {
      sink(&pending_[at]);
      at += unit_;
    } else if (at + unit_ >= size) {
      break;
    } else if (LooksLikePacket(&pending_[at + unit_])) {
      ++drops_.units;
      drops_.bytes += unit_;
      at += unit_;
    } else {
      locked_ = false;
      ++drops_.bytes;
      return at + 1;
    }
  }
  return at;
}

// Byte by byte, until kAcquireStarts packet starts one unit apart are found;
// the search waits for more bytes where too few remain to decide.
std::size_t TsFramer::Search(std::size_t at) {
  const std::size_t span = std::size_t{unit_} * (kAcquireStarts - 1) + kPacketSize;
  for (; at + span <= pending_.size(); ++at, ++drops_.bytes) {
    if (AcquiresAt(at)) {
      locked_ = true;
      break;
    }
  }
  return at;
}

bool TsFramer::AcquiresAt(std::size_t at) const {
  for (int k = 0; k < kAcquireStarts; ++k) {
    if (!LooksLikePacket(&pending_[at + std::size_t{unit_} * k])) return false;
  }
  return true;
}

}  // namespace brannock
