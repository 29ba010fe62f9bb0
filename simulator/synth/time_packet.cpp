#include "time_packet.h"

#include "crc32.h"
#include "sections.h"
#include "si_tables.h"

namespace oneseg::synth {

Packet tot_packet(JstSeconds now, ContinuityCounters& cc) {
  const Bytes s = build_tot(now);
  return packetize_sections(kTimePid, std::span(&s, 1), cc).front();
}

Packet tdt_packet(JstSeconds now, ContinuityCounters& cc) {
  const Bytes s = build_tdt(now);
  return packetize_sections(kTimePid, std::span(&s, 1), cc).front();
}

bool restamp_time_packet(Packet& packet, JstSeconds now) {
  if (packet[0] != 0x47 || packet_pid(packet) != kTimePid || !packet_unit_start(packet)) return false;
  const std::size_t payload = payload_offset(packet);
  if (payload >= kPacketSize) return false;
  const std::size_t start = payload + 1 + packet[payload];  // after the pointer_field
  if (start + 8 > kPacketSize) return false;
  const std::uint8_t table_id = packet[start];
  if (table_id != 0x70 && table_id != 0x73) return false;
  const std::size_t length = static_cast<std::size_t>((packet[start + 1] & 0x0F) << 8 | packet[start + 2]);
  const std::size_t end = start + 3 + length;
  if (length < 5 || end > kPacketSize || (table_id == 0x73 && length < 5 + 2 + 4)) return false;
  const std::span<std::uint8_t> section(packet.data() + start, end - start);
  const bool crc_was_good = table_id != 0x73 || crc32_mpeg2(section.data(), section.size()) == 0;
  encode_jst(now, packet.data() + start + 3);
  if (table_id == 0x73 && crc_was_good) refresh_crc(section);
  return true;
}

}  // namespace oneseg::synth
