#pragma once
// Transport packets out of a tuner's byte stream. The device delivers units
// of a fixed size: a 188-byte packet, then (on some models) framing bytes of
// its own, which may hold any value, 0x47 included, for minutes on end.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "time_packet.h"

namespace brannock {

// The unit sizes the framer takes: a whole packet, and at most this much.
constexpr std::uint16_t kMaxUnitSize = 200;

// What framing threw away since the framer was made.
struct FramingDrops {
  std::int64_t units = 0;  // whole units dropped in lock: no sync byte at their start
  // Every byte dropped: those units', those passed over in a search, those
  // carried when the device was flushed or bytes went missing.
  std::int64_t bytes = 0;
};

class TsFramer {
 public:
  using PacketSink = std::function<void(const std::uint8_t* packet)>;

  // A fresh framer stands at a unit start (a device delivers whole units from
  // a flush on) and so begins in lock.
  // Inline: the tuner back ends make tuner records without the engine.
  explicit TsFramer(std::uint16_t unitSize = kPacketSize) : unit_(unitSize) {}

  // Frames `data` behind the bytes carried from earlier reads and hands every
  // packet (188 bytes, the first the sync byte) to `sink`, in order. What
  // cannot be decided yet is carried to the next call.
  void Feed(const std::uint8_t* data, std::size_t length, const PacketSink& sink);
  // The device was flushed: the carried bytes are dropped and the next byte
  // fed is a unit start.
  void Reset();
  // Bytes between the last call and the next were lost: the carried bytes are
  // dropped and the stride is searched for anew.
  void Gap();

  std::uint16_t UnitSize() const { return unit_; }
  std::size_t Carried() const { return pending_.size(); }
  bool Locked() const { return locked_; }
  const FramingDrops& Drops() const { return drops_; }

 private:
  // Consumes from `at` as far as can be decided; returns where it stopped.
  std::size_t FrameLocked(std::size_t at, const PacketSink& sink);
  std::size_t Search(std::size_t at);
  bool AcquiresAt(std::size_t at) const;

  std::uint16_t unit_;
  bool locked_ = true;
  std::vector<std::uint8_t> pending_;  // carried bytes, then the bytes being framed
  FramingDrops drops_;
};

}  // namespace brannock
