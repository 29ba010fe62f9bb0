#include "read_loop.h"

#include <cerrno>
#include <cstring>

#include "analysis_state.h"
#include "packet_layer.h"

namespace skerrow {

std::size_t file_source::read(std::uint8_t* destination, std::size_t n) {
  return std::fread(destination, 1, n, file_);
}

std::size_t memory_source::read(std::uint8_t* destination, std::size_t n) {
  const std::size_t take = n < size_ - position_ ? n : size_ - position_;
  if (take > 0) std::memcpy(destination, data_ + position_, take);
  position_ += take;
  return take;
}

namespace {

// Moves the first sync byte and what follows it to the start of the buffer.
std::size_t synchronise(std::uint8_t* buffer, std::size_t fill) {
  const void* sync = std::memchr(buffer, ts_sync_byte, fill);
  if (sync == nullptr) return 0;
  const auto skip = static_cast<std::size_t>(static_cast<const std::uint8_t*>(sync) - buffer);
  if (skip > 0) std::memmove(buffer, buffer + skip, fill - skip);
  return fill - skip;
}

// Hands every whole packet of the buffer on; returns the bytes consumed.
std::size_t cut_packets(analysis_state& state, const std::uint8_t* buffer, std::size_t fill) {
  std::size_t at = 0;
  for (; fill - at >= ts_packet_size; at += ts_packet_size) {
    ts_packet* packet = state.packets.acquire();
    if (packet == nullptr) {
      state.stop = true;
      break;
    }
    std::memcpy(packet->data, buffer + at, ts_packet_size);
    packet->PID = (buffer[at + 1] << 8 | buffer[at + 2]) & 0x1FFF;
    handle_packet(state, packet);
  }
  return at;
}

}  // namespace

void read_loop(analysis_state& state, byte_source& source) {
  std::uint8_t buffer[read_buffer_size];
  std::size_t fill = source.read(buffer, read_buffer_size);
  while (fill >= ts_packet_size && !state.stop) {
    fill = synchronise(buffer, fill);
    const std::size_t used = cut_packets(state, buffer, fill);
    if (used > 0) std::memmove(buffer, buffer + used, fill - used);
    fill -= used;
    fill += source.read(buffer + fill, read_buffer_size - fill);
  }
}

}  // namespace skerrow
