#pragma once
// PSI/SI sections and the descriptors the one-segment tables carry.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "ts_packets.h"

namespace oneseg::synth {

struct SectionHeader {
  std::uint8_t table_id = 0;
  std::uint16_t table_id_extension = 0;
  std::uint8_t version = 0;  // 0..31
  std::uint8_t section_number = 0;
  std::uint8_t last_section_number = 0;
};

// A long-form section (section_syntax_indicator 1, current_next 1) holding
// `body` after the 8-byte header, closed by its CRC-32/MPEG-2.
Bytes build_section(const SectionHeader& h, std::span<const std::uint8_t> body);

// A short-form section (section_syntax_indicator 0): table_id, length, body,
// and a CRC-32 when `with_crc` (the TOT has one, the TDT not).
Bytes build_short_section(std::uint8_t table_id, std::span<const std::uint8_t> body, bool with_crc);

// Rewrites the CRC_32 at the end of a section after its bytes were changed.
void refresh_crc(std::span<std::uint8_t> section);

// A descriptor: tag, length, body (at most 255 bytes).
Bytes descriptor(std::uint8_t tag, std::span<const std::uint8_t> body);

// Appends big-endian values and byte runs.
void put16(Bytes& out, unsigned value);
void put24(Bytes& out, unsigned value);
void put32(Bytes& out, std::uint32_t value);
void append(Bytes& out, std::span<const std::uint8_t> bytes);
// A 12-bit length with the 4 reserved bits set, then the bytes.
void put_loop(Bytes& out, std::span<const std::uint8_t> bytes);

}  // namespace oneseg::synth
