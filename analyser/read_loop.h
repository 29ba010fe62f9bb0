#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace skerrow {

struct analysis_state;

// Where the read loop takes the recording's bytes from.
class byte_source {
 public:
  virtual ~byte_source() = default;
  // Up to n bytes into destination; 0 at the end (or on a read error).
  virtual std::size_t read(std::uint8_t* destination, std::size_t n) = 0;
};

class file_source : public byte_source {
 public:
  explicit file_source(std::FILE* file) : file_(file) {}
  std::size_t read(std::uint8_t* destination, std::size_t n) override;

 private:
  std::FILE* file_;
};

class memory_source : public byte_source {
 public:
  memory_source(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t read(std::uint8_t* destination, std::size_t n) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

constexpr std::size_t read_buffer_size = 4096;

// Cuts the recording into 188-byte packets and hands each to handle_packet.
// Synchronises once per buffer fill: everything before the first 0x47 of the
// buffer is dropped. Ends at the end of the source or when a packet record
// cannot be created (state.stop).
void read_loop(analysis_state& state, byte_source& source);

}  // namespace skerrow
