#include "station_stream.h"

#include <fstream>
#include <iterator>

#include "crc32.h"

namespace oneseg::sim {
namespace {

constexpr std::uint8_t kSync = 0x47;
constexpr std::uint8_t kTdt = 0x70;
constexpr std::uint8_t kTot = 0x73;

bool IsTimePid(const std::uint8_t* p) { return p[0] == kSync && (p[1] & 0x1F) == 0 && p[2] == 0x14; }

// Calls `visit(offset, tableId)` for each time section lying wholly inside
// the packet; sections follow the pointer field until stuffing.
template <typename Visit>
void ForEachTimeSection(const std::uint8_t* p, Visit visit) {
  if (!IsTimePid(p)) return;
  std::size_t i = 5 + static_cast<std::size_t>(p[4]);
  while (i + 3 <= kPacketSize && p[i] != 0xFF) {
    const std::size_t length = static_cast<std::size_t>((p[i + 1] & 0x0F) << 8 | p[i + 2]);
    const std::size_t end = i + 3 + length;
    const bool timeTable = p[i] == kTdt || p[i] == kTot;
    if (end > kPacketSize) return;
    if (timeTable && length >= 5) visit(i, p[i], end);
    i = end;
  }
}

double Seconds(const CivilTime& t) {
  return date_to_mjd(t.year, t.month, t.day) * 86400.0 + t.hour * 3600 + t.minute * 60 + t.second;
}

}  // namespace

bool StationStream::Load(const std::string& file, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot read stream " + file;
    return false;
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t first = 0;
  while (first < bytes.size() && bytes[first] != kSync) ++first;
  const std::size_t whole = (bytes.size() - first) / kPacketSize * kPacketSize;
  if (whole == 0) {
    error = "no transport packets in " + file;
    return false;
  }
  Assign(std::vector<std::uint8_t>(bytes.begin() + first, bytes.begin() + first + whole));
  return true;
}

void StationStream::Assign(std::vector<std::uint8_t> packets) {
  data_ = std::move(packets);
  data_.resize(data_.size() / kPacketSize * kPacketSize);
}

double StationStream::EstimateBitrate() const {
  bool found = false;
  double firstTime = 0, lastTime = 0;
  std::size_t firstIndex = 0, lastIndex = 0;
  for (std::size_t i = 0; i < PacketCount(); ++i) {
    CivilTime t;
    if (!ReadPacketTime(Packet(i), t)) continue;
    if (!found) firstTime = Seconds(t), firstIndex = i, found = true;
    lastTime = Seconds(t), lastIndex = i;
  }
  if (!found || lastTime <= firstTime) return kDefaultBitrate;
  return (lastIndex - firstIndex) * kPacketSize * 8.0 / (lastTime - firstTime);
}

bool RestampTimePacket(std::uint8_t* packet, const CivilTime& time) {
  bool stamped = false;
  ForEachTimeSection(packet, [&](std::size_t i, std::uint8_t tableId, std::size_t end) {
    encode_jst_time(time, packet + i + 3);
    if (tableId == kTot && end - i >= 3 + 5 + 2 + 4) {
      const std::uint32_t crc = crc32_mpeg2(packet + i, end - i - 4);
      for (int b = 0; b < 4; ++b) packet[end - 4 + b] = static_cast<std::uint8_t>(crc >> (24 - 8 * b));
    }
    stamped = true;
  });
  return stamped;
}

bool ReadPacketTime(const std::uint8_t* packet, CivilTime& time) {
  bool found = false;
  ForEachTimeSection(packet, [&](std::size_t i, std::uint8_t, std::size_t) {
    if (!found) found = decode_jst_time(packet + i + 3, time);
  });
  return found;
}

}  // namespace oneseg::sim
