#include "caption_pes.h"

#include <stdexcept>

#include "sections.h"

namespace oneseg::synth {

Bytes build_pes(std::uint8_t stream_id, std::optional<std::uint64_t> pts,
                std::span<const std::uint8_t> payload) {
  Bytes pes{0x00, 0x00, 0x01, stream_id, 0, 0, 0x84 /* data_alignment */, 0, 0};
  if (pts) {
    const std::uint64_t p = *pts & 0x1FFFFFFFFull;
    pes[7] = 0x80;
    pes[8] = 5;
    pes.push_back(static_cast<std::uint8_t>(0x21 | (p >> 29 & 0x0E)));
    put16(pes, static_cast<unsigned>((p >> 14 & 0xFFFE) | 1));
    put16(pes, static_cast<unsigned>((p << 1 & 0xFFFE) | 1));
  }
  append(pes, payload);
  const std::size_t length = pes.size() - 6;
  if (length <= 0xFFFF) {
    pes[4] = static_cast<std::uint8_t>(length >> 8);
    pes[5] = static_cast<std::uint8_t>(length);
  }
  return pes;
}

Bytes build_data_unit_loop(const std::vector<DataUnit>& units) {
  Bytes loop;
  for (const DataUnit& u : units) {
    loop.insert(loop.end(), {0x1F, u.parameter});
    put24(loop, static_cast<unsigned>(u.bytes.size()));
    append(loop, u.bytes);
  }
  Bytes out;
  put24(out, static_cast<unsigned>(loop.size()));
  append(out, loop);
  return out;
}

Bytes build_caption_management(const std::vector<CaptionLanguage>& languages) {
  Bytes out{0x3F /* TMD free */, static_cast<std::uint8_t>(languages.size())};
  for (const CaptionLanguage& l : languages) {
    if (l.iso_639.size() != 3) throw std::invalid_argument("ISO 639 language code must have 3 letters");
    out.push_back(static_cast<std::uint8_t>((l.language_tag & 7) << 5 | 0x10 | (l.dmf & 0x0F)));
    if (l.dmf >= 0x0C && l.dmf <= 0x0E) out.push_back(0x00);  // display condition
    out.insert(out.end(), l.iso_639.begin(), l.iso_639.end());
    out.push_back(0x00);  // format, TCS 8-unit code, no roll-up
  }
  append(out, build_data_unit_loop({}));
  return out;
}

Bytes build_caption_statement(const std::vector<DataUnit>& units) {
  Bytes out{0x3F};
  append(out, build_data_unit_loop(units));
  return out;
}

std::uint16_t crc16_ccitt(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (std::uint8_t b : bytes) {
    crc ^= static_cast<std::uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i) crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
  }
  return crc;
}

Bytes build_data_group(std::uint8_t data_group_id, std::uint8_t version, std::span<const std::uint8_t> data) {
  if (data.size() > 0xFFFF) throw std::length_error("data group longer than 65,535 bytes");
  Bytes group{static_cast<std::uint8_t>((data_group_id & 0x3F) << 2 | (version & 3)), 0, 0};
  put16(group, static_cast<unsigned>(data.size()));
  append(group, data);
  put16(group, crc16_ccitt(group));
  return group;
}

Bytes build_caption_pes(std::uint64_t pts, std::span<const std::uint8_t> data_group) {
  Bytes payload{0x80, 0xFF, 0xF0};
  append(payload, data_group);
  return build_pes(kPrivateStream1, pts, payload);
}

}  // namespace oneseg::synth
