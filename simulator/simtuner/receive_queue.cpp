#include "receive_queue.h"

#include <algorithm>
#include <cstring>

namespace oneseg::sim {

bool ReceiveQueue::Push(const std::uint8_t* data, std::size_t length, bool unit, std::uint64_t seq) {
  length = std::min(length, kMaxChunk);
  if (size_ + length > capacity_) {
    ++dropped_;
    return false;
  }
  QueueChunk& chunk = chunks_.emplace_back();
  std::memcpy(chunk.bytes.data(), data, length);
  chunk.length = length;
  chunk.unit = unit;
  chunk.seq = seq;
  size_ += length;
  return true;
}

std::size_t ReceiveQueue::Pop(std::uint8_t* out, std::size_t count,
                              const std::function<void(const QueueChunk&)>& delivered) {
  std::size_t moved = 0;
  while (moved < count && !chunks_.empty()) {
    QueueChunk& chunk = chunks_.front();
    const std::size_t take = std::min(count - moved, chunk.length - chunk.pos);
    std::memcpy(out + moved, chunk.bytes.data() + chunk.pos, take);
    chunk.pos += take;
    moved += take;
    if (chunk.pos == chunk.length) {
      if (chunk.unit && delivered) delivered(chunk);
      chunks_.pop_front();
    }
  }
  size_ -= moved;
  return moved;
}

void ReceiveQueue::Clear() {
  chunks_.clear();
  size_ = 0;
}

}  // namespace oneseg::sim
