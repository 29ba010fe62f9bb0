#include "engine_fakes.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "broadcast_time.h"
#include "crc32.h"
#include "ini.h"

namespace brannock::test {

SI_STATUS FakeUsb::SI_GetNumDevices(std::uint32_t& count) {
  if (countFails) return SI_DEVICE_NOT_FOUND;
  count = static_cast<std::uint32_t>(devices.size());
  return SI_SUCCESS;
}

SI_STATUS FakeUsb::SI_GetProductString(std::uint32_t device, char* buffer, std::uint32_t flags) {
  if (device >= devices.size()) return SI_DEVICE_NOT_FOUND;
  const FakeUsbDevice& d = devices[device];
  const bool description = flags == SI_RETURN_DESCRIPTION;
  if (description ? d.descriptionFails : d.serialFails) return SI_DEVICE_NOT_FOUND;
  const std::string& text = description ? d.description : d.serial;
  std::memset(buffer, 0, SI_MAX_DEVICE_STRLEN);
  std::memcpy(buffer, text.data(), std::min<std::size_t>(text.size(), SI_MAX_DEVICE_STRLEN));
  return SI_SUCCESS;
}

int ScriptedOps::CheckRxQueue(TOneSegTuner& t, std::uint32_t& waiting) {
  const std::lock_guard<std::mutex> guard(lock_);
  TunerScript& s = scripts[t.TunerID];
  waiting = static_cast<std::uint32_t>(s.stream.size());
  return s.queueResult;
}

int ScriptedOps::ReadStream(TOneSegTuner& t, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got) {
  const std::lock_guard<std::mutex> guard(lock_);
  TunerScript& s = scripts[t.TunerID];
  std::uint32_t n = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(s.stream.size()));
  if (s.readLimit > 0) n = std::min(n, s.readLimit);
  if (s.readResult != 0 && !s.failedReadsDeliver) n = 0;
  std::copy_n(s.stream.begin(), n, buffer);
  s.stream.erase(s.stream.begin(), s.stream.begin() + n);
  got = n;
  return s.readResult;
}

int ScriptedOps::Count(const std::string& call) const {
  return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

Packet PlainPacket(std::uint16_t pid, std::uint8_t fill) {
  Packet p(188, fill);
  p[0] = 0x47;
  p[1] = static_cast<std::uint8_t>(pid >> 8 & 0x1F);
  p[2] = static_cast<std::uint8_t>(pid);
  p[3] = 0x10;
  return p;
}

namespace {

Packet TimeSection(std::uint8_t tableId, int year, int month, int day, int hour, int minute, int second,
                   bool withLoop) {
  Packet p = PlainPacket(0x14, 0xFF);
  p[1] |= 0x40;
  p[4] = 0;  // pointer field
  oneseg::CivilTime t{year, month, day, hour, minute, second};
  std::uint8_t* s = &p[5];
  s[0] = tableId;
  const int length = withLoop ? 5 + 2 + 4 : 5;
  s[1] = static_cast<std::uint8_t>(0x30 | length >> 8);
  s[2] = static_cast<std::uint8_t>(length);
  oneseg::encode_jst_time(t, s + 3);
  if (withLoop) {
    s[8] = 0xF0;
    s[9] = 0x00;
    const std::uint32_t crc = oneseg::crc32_mpeg2(s, 10);
    for (int b = 0; b < 4; ++b) s[10 + b] = static_cast<std::uint8_t>(crc >> (24 - 8 * b));
  }
  return p;
}

}  // namespace

Packet TotPacket(int year, int month, int day, int hour, int minute, int second, bool badCrc) {
  Packet p = TimeSection(0x73, year, month, day, hour, minute, second, true);
  if (badCrc) p[5 + 13] ^= 0x01;
  return p;
}

Packet TdtPacket(int year, int month, int day, int hour, int minute, int second) {
  return TimeSection(0x70, year, month, day, hour, minute, second, false);
}

void AppendUnit(std::deque<std::uint8_t>& stream, const Packet& packet, std::uint16_t unitSize) {
  stream.insert(stream.end(), packet.begin(), packet.end());
  stream.insert(stream.end(), unitSize - packet.size(), 0xEE);
}

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "engine_test_XXXXXX").string();
  path_ = ::mkdtemp(pattern.data());
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

EngineRig::EngineRig() {
  std::filesystem::create_directories(Recordings());
  oneseg::ini_write_string(ConfigPath(), "Config", "TSFolder", Recordings().string());
  engine.SetListener(&listener);
  engine.FormCreate(folder.str());
}

TOneSegTuner& EngineRig::StreamingTuner(const std::string& serial, int channel, const std::string& description) {
  oneseg::ini_write_string(ConfigPath(), TunerSection(MakeTunerID(serial)), "Channel", std::to_string(channel));
  usb.devices.push_back({description, serial});
  engine.ScanTuners();
  TOneSegTuner* tuner = engine.FindTunerById(MakeTunerID(serial));
  for (int tick = 0; tick < 2 * static_cast<int>(engine.Tuners.size()) && tuner->State != Streaming; ++tick) {
    engine.ProbeTimerTimer();
  }
  return *tuner;
}

}  // namespace brannock::test
