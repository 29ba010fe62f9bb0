#pragma once
// Builders of transport packets, PSI/SI sections and caption PES packets for
// the analyser's tests, benchmark and fuzz seeds.
#include <cstdint>
#include <string>
#include <vector>

namespace skerrow::testing {

using bytes = std::vector<std::uint8_t>;

struct packet_spec {
  int pid = 0;
  int counter = 0;
  bool unit_start = false;
  bool payload = true;
  int adaptation_length = -1;  // -1: no adaptation field
  std::uint8_t adaptation_flags = 0;
  bytes adaptation_body;       // bytes after the flags byte (e.g. a PCR)
  bytes payload_bytes;         // padded with 0xFF to the end of the packet
};

// One 188-byte packet.
bytes make_packet(const packet_spec& spec);

// A section (table_id, section_syntax_indicator set, table_id_extension,
// version/current, section numbers, body, CRC_32).
bytes make_section(int table_id, int extension, const bytes& body, int version = 1);

// Splits sections into packets of one PID: the first section starts after a
// pointer_field of 0, the last packet is stuffed with 0xFF. `counter` is
// advanced for every packet.
std::vector<bytes> packetize(int pid, int& counter, const std::vector<bytes>& sections);

// Body of an event information section with one event.
struct event_spec {
  int event_id = 1;
  std::uint16_t mjd = 0xD8F0;           // 2010-12-06
  std::uint8_t hour = 0x12, minute = 0x00, second = 0x00;
  std::uint8_t duration[3] = {0x01, 0x30, 0x00};
  bytes descriptors;
};
bytes eit_body(const std::vector<event_spec>& events);

// A service descriptor naming the station (alphanumeric ARIB text).
bytes service_descriptor(const std::string& name);
// SDT body with one service whose service descriptor names the station.
bytes sdt_body(const std::string& station);
bytes short_event_descriptor(const std::string& name, const std::string& text);

// PMT body with a video, an audio and a caption stream (stream identifier 0x87).
bytes pmt_body(int caption_pid);

// The packet of a TOT section carrying the given BCD time of day.
bytes tot_packet(int counter, std::uint16_t mjd, std::uint8_t h, std::uint8_t m, std::uint8_t s);

// A caption statement PES (data group 1) whose body is the given EUC-JP text.
bytes caption_pes(const bytes& euc_text);

// A realistic recording: `seconds` of stream at about 52 kB/s with video and
// audio PES packets, PCRs, PMT, NIT, SDT, EIT and TOT repeated, and a
// caption every 3 seconds.
bytes make_recording(int seconds);

}  // namespace skerrow::testing
