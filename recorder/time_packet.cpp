#include "time_packet.h"

#include <cstring>

#include "crc32.h"
#include "datetime.h"

namespace brannock {
namespace {

constexpr std::uint8_t kStuffingTable = 0xFF;
constexpr std::uint8_t kTimeOffsetTable = 0x73;

// Two BCD digits read as high nibble x 10 + low nibble, unchecked.
int LooseBcd(std::uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); }

}  // namespace

bool IsTimePacketPid(const std::uint8_t* packet) {
  return packet[0] == kSyncByte && (packet[1] & 0x1F) == 0 && packet[2] == 0x14;
}

TDateTime ParseTimePacket(const std::uint8_t* packet, std::uint8_t jstTime[5]) {
  TDateTime result = 0;
  std::size_t i = 5;
  while (i + 3 <= kPacketSize) {
    const std::uint8_t tid = packet[i];
    if (tid == kStuffingTable) break;
    const std::size_t length = (packet[i + 1] & 0x0F) << 8 | packet[i + 2];
    if (tid == kTimeOffsetTable) {
      if (i + 9 >= kPacketSize) return 0;
      const std::size_t loop = (packet[i + 8] & 0x0F) << 8 | packet[i + 9];
      const std::size_t sectionSize = loop + 14;
      if (i + sectionSize > kPacketSize) return 0;
      if (oneseg::crc32_mpeg2(packet + i, sectionSize) != 0) return 0;
      const int hour = LooseBcd(packet[i + 5]), minute = LooseBcd(packet[i + 6]), second = LooseBcd(packet[i + 7]);
      if (hour > 23 || minute > 59 || second > 59) return 0;
      const int mjd = packet[i + 3] << 8 | packet[i + 4];
      result = (mjd - kMjdOfDateTimeEpoch) + (hour * 3600 + minute * 60 + second) / 86400.0;
      std::memcpy(jstTime, packet + i + 3, 5);
    }
    i += 3 + length;
  }
  return result;
}

}  // namespace brannock
