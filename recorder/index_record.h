#pragma once
// The records of a recording's .idx: for each time packet, its 5-byte JST
// time and its offset in the .ts (32 bits, little endian).
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace brannock {

constexpr std::size_t kIndexRecordSize = 9;

std::array<std::uint8_t, kIndexRecordSize> IndexRecord(const std::uint8_t (&jst)[5], std::uint64_t offset);

// Adds `by` to the offset of every whole record in `records` (offsets counted
// from where an open of the recording began, made offsets in the file).
void ShiftIndexRecords(std::vector<std::uint8_t>& records, std::uint64_t by);

}  // namespace brannock
