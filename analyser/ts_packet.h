#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace skerrow {

constexpr int ts_packet_size = 188;
constexpr std::uint8_t ts_sync_byte = 0x47;

// One transport packet with its decoded header. The read loop creates it,
// and ownership passes with every hand-over: whoever ends its life (a
// handler, a section queue) gives it back with release_packet().
struct ts_packet {
  ts_packet* next = nullptr;      // link inside a section queue
  std::int32_t PID = 0;
  std::int32_t offset = 4;        // first byte not yet consumed; may exceed 188 on bad input
  std::uint32_t continuity_counter = 0;
  std::uint32_t unit_start = 0;
  std::uint32_t priority = 0;
  std::uint32_t scrambling = 0;
  std::uint32_t has_adaptation = 0;
  std::uint32_t has_payload = 0;
  std::uint8_t data[ts_packet_size];
};

// Packet records are recycled through a free list: the read loop creates one
// record per packet, and going to the heap each time would cost more than
// decoding the header.
class packet_pool {
 public:
  packet_pool() = default;
  packet_pool(const packet_pool&) = delete;
  packet_pool& operator=(const packet_pool&) = delete;

  ts_packet* acquire();            // nullptr when no memory is left
  void release(ts_packet* packet); // the record goes back to the free list
  std::size_t records_in_use() const { return in_use_; }

 private:
  std::vector<std::unique_ptr<ts_packet[]>> chunks_;
  ts_packet* free_ = nullptr;
  std::size_t in_use_ = 0;
};

}  // namespace skerrow
