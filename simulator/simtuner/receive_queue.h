#pragma once
// A device's bounded receive queue. It holds stream units (remembered with
// their sequence numbers, so that a fully read unit can be reported as
// delivered) and loose bytes (reply frames, stray bytes).
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

namespace oneseg::sim {

constexpr std::size_t kMaxChunk = 200;

struct QueueChunk {
  std::array<std::uint8_t, kMaxChunk> bytes{};
  std::size_t length = 0;
  std::size_t pos = 0;  // bytes already read
  bool unit = false;
  std::uint64_t seq = 0;
};

class ReceiveQueue {
 public:
  explicit ReceiveQueue(std::size_t capacity) : capacity_(capacity) {}

  // Adds a chunk of at most kMaxChunk bytes; when it does not fit, it is
  // dropped and counted.
  bool Push(const std::uint8_t* data, std::size_t length, bool unit = false, std::uint64_t seq = 0);
  // Counts `units` dropped without building them.
  void CountDropped(std::uint64_t units) { dropped_ += units; }
  // Moves up to `count` bytes out; `delivered` is called for each unit read to its end.
  std::size_t Pop(std::uint8_t* out, std::size_t count, const std::function<void(const QueueChunk&)>& delivered);
  void Clear();

  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return capacity_; }
  std::uint64_t Dropped() const { return dropped_; }

 private:
  std::size_t capacity_;
  std::size_t size_ = 0;
  std::uint64_t dropped_ = 0;
  std::deque<QueueChunk> chunks_;
};

}  // namespace oneseg::sim
