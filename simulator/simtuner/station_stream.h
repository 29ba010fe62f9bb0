#pragma once
// A station's transport stream, held in memory and played in a loop.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "broadcast_time.h"

namespace oneseg::sim {

constexpr std::size_t kPacketSize = 188;
constexpr double kDefaultBitrate = 416000;

class StationStream {
 public:
  // Loads whole packets from the first sync byte on; false with `error` when
  // the file cannot be read or holds no packet.
  bool Load(const std::string& file, std::string& error);
  void Assign(std::vector<std::uint8_t> packets);  // whole 188-byte packets

  std::size_t PacketCount() const { return data_.size() / kPacketSize; }
  // Packet `index` of the endless loop.
  const std::uint8_t* Packet(std::uint64_t index) const {
    return data_.data() + (index % PacketCount()) * kPacketSize;
  }
  // Bits per second implied by the first and the last time packet of the
  // file, or kDefaultBitrate when the file tells none.
  double EstimateBitrate() const;

 private:
  std::vector<std::uint8_t> data_;
};

// The JST_time of the first TDT or TOT section of a PID 0x0014 packet that
// lies wholly inside the packet.
bool ReadPacketTime(const std::uint8_t* packet, CivilTime& time);

}  // namespace oneseg::sim
