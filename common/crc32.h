#pragma once
#include <cstddef>
#include <cstdint>

namespace oneseg {

// CRC-32/MPEG-2 (polynomial 0x04C11DB7, initial value 0xFFFFFFFF, no reflection,
// no final XOR), as carried at the end of PSI/SI sections. A whole section
// including its CRC field yields 0.
std::uint32_t crc32_mpeg2(const std::uint8_t* data, std::size_t length,
                          std::uint32_t crc = 0xFFFFFFFFu);

}  // namespace oneseg
