#include "index_record.h"

#include <algorithm>

namespace brannock {
namespace {

constexpr std::size_t kOffsetAt = 5;

void PutOffset(std::uint8_t* at, std::uint64_t offset) {
  for (int b = 0; b < 4; ++b) at[b] = static_cast<std::uint8_t>(offset >> (8 * b));
}

std::uint32_t GetOffset(const std::uint8_t* at) {
  std::uint32_t offset = 0;
  for (int b = 0; b < 4; ++b) offset |= static_cast<std::uint32_t>(at[b]) << (8 * b);
  return offset;
}

}  // namespace

std::array<std::uint8_t, kIndexRecordSize> IndexRecord(const std::uint8_t (&jst)[5], std::uint64_t offset) {
  std::array<std::uint8_t, kIndexRecordSize> record{};
  std::copy(std::begin(jst), std::end(jst), record.begin());
  PutOffset(record.data() + kOffsetAt, offset);
  return record;
}

// The offsets keep their low 32 bits, as records written at once do.
void ShiftIndexRecords(std::vector<std::uint8_t>& records, std::uint64_t by) {
  for (std::size_t at = 0; at + kIndexRecordSize <= records.size(); at += kIndexRecordSize) {
    std::uint8_t* offset = records.data() + at + kOffsetAt;
    PutOffset(offset, GetOffset(offset) + by);
  }
}

}  // namespace brannock
