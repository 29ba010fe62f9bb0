#pragma once
// Helpers of the simulated-hardware tests: small transport streams written to
// a temporary folder, and a rig of simulated devices on a manual clock.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "broadcast_time.h"
#include "crc32.h"
#include "manual_clock.h"
#include "sim_config.h"
#include "sim_hardware.h"
#include "sim_interfaces.h"

namespace oneseg::sim::testing {

// A TOT packet (PID 0x0014) with an empty descriptor loop and a valid CRC.
inline std::vector<std::uint8_t> TotPacket(const CivilTime& t, std::uint8_t cc = 0) {
  std::vector<std::uint8_t> p(188, 0xFF);
  const std::uint8_t head[] = {0x47, 0x40, 0x14, static_cast<std::uint8_t>(0x10 | (cc & 0x0F)), 0x00,
                               0x73, 0x70, 0x0B};
  std::copy(std::begin(head), std::end(head), p.begin());
  encode_jst_time(t, &p[8]);
  p[13] = 0xF0;
  p[14] = 0x00;
  const std::uint32_t crc = crc32_mpeg2(&p[5], 10);
  for (int b = 0; b < 4; ++b) p[15 + b] = static_cast<std::uint8_t>(crc >> (24 - 8 * b));
  return p;
}

// A payload packet on `pid` whose payload starts with a 32-bit number.
inline std::vector<std::uint8_t> NumberedPacket(std::uint16_t pid, std::uint32_t number) {
  std::vector<std::uint8_t> p(188, 0x00);
  p[0] = 0x47;
  p[1] = static_cast<std::uint8_t>(pid >> 8 & 0x1F);
  p[2] = static_cast<std::uint8_t>(pid & 0xFF);
  p[3] = static_cast<std::uint8_t>(0x10 | (number & 0x0F));
  for (int b = 0; b < 4; ++b) p[4 + b] = static_cast<std::uint8_t>(number >> (24 - 8 * b));
  return p;
}

// `packets` packets: a TOT first and then every `totEvery`, numbered packets between.
inline std::vector<std::uint8_t> SimpleStream(int packets, int totEvery, const CivilTime& t) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < packets; ++i) {
    const auto p = i % totEvery == 0 ? TotPacket(t) : NumberedPacket(0x0100, static_cast<std::uint32_t>(i));
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "simtuner-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return file;
  }
  std::string WriteText(const std::string& name, const std::string& text) const {
    return Write(name, std::vector<std::uint8_t>(text.begin(), text.end()));
  }

 private:
  std::string path_;
};

// Simulated hardware built from JSON text; stream paths are taken from `dir`.
struct Rig {
  explicit Rig(const std::string& json, const TempDir& dir) {
    SimConfig config;
    std::string error;
    if (!ParseSimConfig(json, dir.path(), config, error)) throw std::runtime_error(error);
    hw = SimHardware::Create(config, clock, error);
    if (!hw) throw std::runtime_error(error);
    usb = std::make_unique<SimUsbXpress>(hw);
    driver = std::make_unique<SimIsdbtDriver>(hw);
  }
  ManualClock clock;
  std::shared_ptr<SimHardware> hw;
  std::unique_ptr<SimUsbXpress> usb;
  std::unique_ptr<SimIsdbtDriver> driver;
};

}  // namespace oneseg::sim::testing
