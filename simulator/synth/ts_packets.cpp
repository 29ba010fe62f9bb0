#include "ts_packets.h"

#include <algorithm>

namespace oneseg::synth {

std::uint8_t ContinuityCounters::next(std::uint16_t pid) {
  std::uint8_t& n = next_[pid];
  const std::uint8_t value = n;
  n = static_cast<std::uint8_t>((n + 1) & 0x0F);
  return value;
}

std::uint8_t ContinuityCounters::last(std::uint16_t pid) const {
  const auto it = next_.find(pid);
  if (it == next_.end()) return 0x0F;
  return static_cast<std::uint8_t>((it->second + 15) & 0x0F);
}

namespace {

Packet header(std::uint16_t pid, bool unit_start, std::uint8_t afc, std::uint8_t cc) {
  Packet p;
  p.fill(0xFF);
  p[0] = 0x47;
  p[1] = static_cast<std::uint8_t>((unit_start ? 0x40 : 0) | ((pid >> 8) & 0x1F));
  p[2] = static_cast<std::uint8_t>(pid & 0xFF);
  p[3] = static_cast<std::uint8_t>(afc << 4 | (cc & 0x0F));
  return p;
}

// Fills packets of `pid` from a byte stream in which `starts` lists the
// offsets where sections begin; each packet holding a start gets a
// pointer_field naming the first one.
std::vector<Packet> carry_section_stream(std::uint16_t pid, const Bytes& stream,
                                         const std::vector<std::size_t>& starts,
                                         ContinuityCounters& cc) {
  std::vector<Packet> out;
  std::size_t pos = 0, next_start = 0;
  while (pos < stream.size()) {
    while (next_start < starts.size() && starts[next_start] < pos) ++next_start;
    std::size_t room = kPacketSize - 4;
    // A pointer_field leaves 183 bytes, so a section can start at most at the 183rd.
    const bool start_here = next_start < starts.size() && starts[next_start] < pos + room - 1;
    Packet p = header(pid, start_here, 1, cc.next(pid));
    std::size_t at = 4;
    if (start_here) {
      p[at++] = static_cast<std::uint8_t>(starts[next_start] - pos);
      --room;
    }
    std::size_t n = std::min(room, stream.size() - pos);
    // A packet without payload_unit_start must not hold a section's first byte.
    if (!start_here && next_start < starts.size()) n = std::min(n, starts[next_start] - pos);
    std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(pos), n, p.begin() + at);
    pos += n;
    out.push_back(p);
  }
  return out;
}

}  // namespace

std::vector<Packet> packetize_sections(std::uint16_t pid, std::span<const Bytes> sections,
                                       ContinuityCounters& cc, SectionPacking packing) {
  if (packing == SectionPacking::packed) {
    Bytes stream;
    std::vector<std::size_t> starts;
    for (const Bytes& s : sections) {
      starts.push_back(stream.size());
      stream.insert(stream.end(), s.begin(), s.end());
    }
    return carry_section_stream(pid, stream, starts, cc);
  }
  std::vector<Packet> out;
  for (const Bytes& s : sections) {
    const auto part = carry_section_stream(pid, s, {0}, cc);
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

std::vector<Packet> packetize_pes(std::uint16_t pid, std::span<const std::uint8_t> pes,
                                  ContinuityCounters& cc, bool random_access) {
  std::vector<Packet> out;
  std::size_t pos = 0;
  do {
    const bool first = pos == 0;
    const std::size_t flags_needed = first && random_access ? 2 : 0;  // length byte and flags byte
    const std::size_t n = std::min<std::size_t>(pes.size() - pos, kPacketSize - 4 - flags_needed);
    // The adaptation field takes whatever the payload leaves: flags, then 0xFF stuffing.
    const std::size_t af_total = kPacketSize - 4 - n;
    Packet p = header(pid, first, af_total > 0 ? 3 : 1, cc.next(pid));
    if (af_total > 0) {
      p[4] = static_cast<std::uint8_t>(af_total - 1);
      if (af_total > 1) p[5] = flags_needed ? 0x40 : 0x00;
    }
    std::copy_n(pes.begin() + static_cast<std::ptrdiff_t>(pos), n, p.begin() + 4 + static_cast<std::ptrdiff_t>(af_total));
    pos += n;
    out.push_back(p);
  } while (pos < pes.size());
  return out;
}

Packet null_packet() {
  Packet p = header(kNullPid, false, 1, 0);
  return p;
}

Packet pcr_packet(std::uint16_t pid, std::uint64_t pcr_27mhz, const ContinuityCounters& cc) {
  Packet p = header(pid, false, 2, cc.last(pid));
  const std::uint64_t base = (pcr_27mhz / 300) & 0x1FFFFFFFFull;
  const std::uint32_t ext = static_cast<std::uint32_t>(pcr_27mhz % 300);
  p[4] = 183;   // adaptation field fills the packet
  p[5] = 0x10;  // PCR_flag
  p[6] = static_cast<std::uint8_t>(base >> 25);
  p[7] = static_cast<std::uint8_t>(base >> 17);
  p[8] = static_cast<std::uint8_t>(base >> 9);
  p[9] = static_cast<std::uint8_t>(base >> 1);
  p[10] = static_cast<std::uint8_t>((base & 1) << 7 | 0x7E | (ext >> 8));
  p[11] = static_cast<std::uint8_t>(ext & 0xFF);
  return p;
}

std::size_t payload_offset(const Packet& p) {
  const std::uint8_t afc = (p[3] >> 4) & 3;
  if (!(afc & 1)) return kPacketSize;
  if (!(afc & 2)) return 4;
  const std::size_t off = 5 + p[4];
  return off < kPacketSize ? off : kPacketSize;
}

}  // namespace oneseg::synth
