#include "station_stream.h"

#include <filesystem>
#include <fstream>
#include <iterator>


namespace oneseg::sim {
namespace {

constexpr std::uint8_t kSync = 0x47;
constexpr std::uint8_t kTdt = 0x70;
constexpr std::uint8_t kTot = 0x73;

bool IsTimePid(const std::uint8_t* p) { return p[0] == kSync && (p[1] & 0x1F) == 0 && p[2] == 0x14; }

double Seconds(const CivilTime& t) {
  return date_to_mjd(t.year, t.month, t.day) * 86400.0 + t.hour * 3600 + t.minute * 60 + t.second;
}

}  // namespace

bool StationStream::Load(const std::string& file, std::string& error) {
  // A directory makes the stream buffer throw on reading, a FIFO blocks: only files are played.
  std::error_code ec;
  std::ifstream in;
  if (std::filesystem::is_regular_file(file, ec)) in.open(file, std::ios::binary);
  if (!in.is_open()) {
    error = "cannot read stream " + file + (std::filesystem::exists(file, ec) ? " (not a regular file)" : "");
    return false;
  }
  std::vector<std::uint8_t> bytes;
  try {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::exception& e) {
    error = "cannot read stream " + file + ": " + e.what();
    return false;
  }
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

bool ReadPacketTime(const std::uint8_t* packet, CivilTime& time) {
  if (!IsTimePid(packet)) return false;
  // Sections follow the pointer field until stuffing.
  for (std::size_t i = 5 + static_cast<std::size_t>(packet[4]); i + 3 <= kPacketSize && packet[i] != 0xFF;) {
    const std::size_t end = i + 3 + static_cast<std::size_t>((packet[i + 1] & 0x0F) << 8 | packet[i + 2]);
    if (end > kPacketSize) return false;
    if ((packet[i] == kTdt || packet[i] == kTot) && end - i >= 3 + 5) return decode_jst_time(packet + i + 3, time);
    i = end;
  }
  return false;
}

}  // namespace oneseg::sim
