#pragma once
// The broadcast time carried by a Time Offset Table on PID 0x0014.
#include <cstdint>

#include "clock.h"

namespace brannock {

constexpr std::size_t kPacketSize = 188;
constexpr std::uint8_t kSyncByte = 0x47;

// True for a packet on PID 0x0014 (sync byte, low five bits of byte 1 zero, byte 2 0x14).
bool IsTimePacketPid(const std::uint8_t* packet);

// Walks the sections of one 188-byte packet from byte 5 and returns the time of
// the last intact TOT (0x73) found, 0 when there is none; a TOT with a bad CRC,
// an impossible time or a body beyond the packet makes the result 0. The five
// JST_time bytes of the TOT used are copied to `jstTime`.
TDateTime ParseTimePacket(const std::uint8_t* packet, std::uint8_t jstTime[5]);

}  // namespace brannock
