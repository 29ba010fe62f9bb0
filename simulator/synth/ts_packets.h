#pragma once
// Transport packets as the synthesiser writes them: 188-byte packets, per-PID
// continuity counters, sections carried on a PID (pointer_field rules), PCR.
#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace oneseg::synth {

constexpr std::size_t kPacketSize = 188;
constexpr std::uint16_t kNullPid = 0x1FFF;
using Packet = std::array<std::uint8_t, kPacketSize>;
using Bytes = std::vector<std::uint8_t>;

// The next continuity counter of each PID. Packets without payload keep the
// PID's last counter, as ISO/IEC 13818-1 requires.
class ContinuityCounters {
 public:
  std::uint8_t next(std::uint16_t pid);   // for a packet that carries payload
  std::uint8_t last(std::uint16_t pid) const;
  void skip(std::uint16_t pid) { next(pid); }  // leaves a gap: a continuity error
 private:
  std::map<std::uint16_t, std::uint8_t> next_;
};

// How sections share packets on one PID.
enum class SectionPacking {
  own_packets,  // every section starts a packet (pointer_field 0), rest stuffed with 0xFF
  packed,       // sections back to back: a packet may end one section and start the next
};

// Carries whole sections (each from table_id to its last byte) on `pid`.
// Continuity counters are taken from `cc` in packet order.
std::vector<Packet> packetize_sections(std::uint16_t pid, std::span<const Bytes> sections,
                                       ContinuityCounters& cc,
                                       SectionPacking packing = SectionPacking::own_packets);

// A PES packet (from its start code) split over packets of `pid`; the first
// packet has payload_unit_start set, the last is padded with adaptation-field
// stuffing so that no bytes follow the PES packet. `random_access` sets the
// random_access_indicator of the first packet (a picture decoders can start
// at; players seek by it).
std::vector<Packet> packetize_pes(std::uint16_t pid, std::span<const std::uint8_t> pes,
                                  ContinuityCounters& cc, bool random_access = false);

Packet null_packet();

// An adaptation-field-only packet carrying a PCR (no payload, so the PID's
// counter stays). `pcr_27mhz` is the full 42-bit PCR in 27 MHz units.
Packet pcr_packet(std::uint16_t pid, std::uint64_t pcr_27mhz, const ContinuityCounters& cc);

// Header fields of a packet, for tests and tools.
inline std::uint16_t packet_pid(const Packet& p) {
  return static_cast<std::uint16_t>((p[1] & 0x1F) << 8 | p[2]);
}
inline bool packet_unit_start(const Packet& p) { return (p[1] & 0x40) != 0; }
inline std::uint8_t packet_cc(const Packet& p) { return p[3] & 0x0F; }
inline bool packet_has_payload(const Packet& p) { return (p[3] & 0x10) != 0; }

// Offset of the first payload byte (after any adaptation field); kPacketSize
// when there is none or the adaptation field is malformed.
std::size_t payload_offset(const Packet& p);

}  // namespace oneseg::synth
