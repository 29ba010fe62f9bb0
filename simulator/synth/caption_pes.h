#pragma once
// PES packets, and the caption PES of a one-segment service: ARIB data
// groups holding caption management data or caption statement data.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ts_packets.h"

namespace oneseg::synth {

constexpr std::uint8_t kPrivateStream1 = 0xBD;
constexpr std::uint8_t kStatementBody = 0x20;  // data_unit_parameter of text

// A PES packet with an optional 33-bit PTS (90 kHz). PES_packet_length is 0
// when the packet is longer than 65,535 bytes (allowed for video only).
Bytes build_pes(std::uint8_t stream_id, std::optional<std::uint64_t> pts,
                std::span<const std::uint8_t> payload);

struct DataUnit {
  std::uint8_t parameter = kStatementBody;
  Bytes bytes;
};

// data_unit_loop_length and the units (separator 0x1F, parameter, size).
Bytes build_data_unit_loop(const std::vector<DataUnit>& units);

struct CaptionLanguage {
  std::uint8_t language_tag = 0;  // 0..7
  std::uint8_t dmf = 0;           // display mode, 4 bits
  std::string iso_639 = "jpn";
};

// Caption management data (TMD free) naming the languages; no data units.
Bytes build_caption_management(const std::vector<CaptionLanguage>& languages);
// Caption statement data (TMD free) holding the units.
Bytes build_caption_statement(const std::vector<DataUnit>& units);

// A data group: id (6 bits) and version, link numbers 0, size, data, CRC-16.
Bytes build_data_group(std::uint8_t data_group_id, std::uint8_t version, std::span<const std::uint8_t> data);

// A synchronised caption PES packet (stream_id 0xBD, data_identifier 0x80,
// private_stream_id 0xFF, no PES data packet header) carrying one data group.
Bytes build_caption_pes(std::uint64_t pts, std::span<const std::uint8_t> data_group);

// CRC-16/CCITT (polynomial 0x1021, initial 0) of ARIB data groups.
std::uint16_t crc16_ccitt(std::span<const std::uint8_t> bytes);

}  // namespace oneseg::synth
