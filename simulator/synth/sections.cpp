#include "sections.h"

#include <stdexcept>

#include "crc32.h"

namespace oneseg::synth {

void put16(Bytes& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void put24(Bytes& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value >> 16));
  put16(out, value & 0xFFFF);
}

void put32(Bytes& out, std::uint32_t value) {
  put16(out, value >> 16);
  put16(out, value & 0xFFFF);
}

void append(Bytes& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void put_loop(Bytes& out, std::span<const std::uint8_t> bytes) {
  if (bytes.size() > 0x0FFF) throw std::length_error("descriptor loop longer than 4095 bytes");
  put16(out, 0xF000 | static_cast<unsigned>(bytes.size()));
  append(out, bytes);
}

void refresh_crc(std::span<std::uint8_t> section) {
  if (section.size() < 4) return;
  const std::uint32_t crc = crc32_mpeg2(section.data(), section.size() - 4);
  for (int i = 0; i < 4; ++i)
    section[section.size() - 4 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
}

namespace {
Bytes finish(Bytes s, bool syntax, bool with_crc) {
  const std::size_t length = s.size() - 3 + (with_crc ? 4 : 0);
  if (length > 4093) throw std::length_error("section longer than 4096 bytes");
  s[1] = static_cast<std::uint8_t>((syntax ? 0xB0 : 0x70) | (length >> 8));
  s[2] = static_cast<std::uint8_t>(length & 0xFF);
  if (with_crc) {
    s.resize(s.size() + 4);
    refresh_crc(s);
  }
  return s;
}
}  // namespace

Bytes build_section(const SectionHeader& h, std::span<const std::uint8_t> body) {
  Bytes s{h.table_id, 0, 0};
  put16(s, h.table_id_extension);
  s.push_back(static_cast<std::uint8_t>(0xC1 | (h.version & 0x1F) << 1));
  s.push_back(h.section_number);
  s.push_back(h.last_section_number);
  append(s, body);
  return finish(std::move(s), true, true);
}

Bytes build_short_section(std::uint8_t table_id, std::span<const std::uint8_t> body, bool with_crc) {
  Bytes s{table_id, 0, 0};
  append(s, body);
  return finish(std::move(s), false, with_crc);
}

Bytes descriptor(std::uint8_t tag, std::span<const std::uint8_t> body) {
  if (body.size() > 255) throw std::length_error("descriptor longer than 255 bytes");
  Bytes d{tag, static_cast<std::uint8_t>(body.size())};
  append(d, body);
  return d;
}

}  // namespace oneseg::synth
