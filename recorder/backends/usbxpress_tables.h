#pragma once
// Register tables of the two USBXpress tuner models: the boot tables and the
// per-channel start values of the gain loop.
#include <cstdint>
#include <span>

namespace brannock {

struct RegisterValue {
  std::uint16_t address;
  std::uint8_t value;
};

constexpr int kFirstChannel = 13;
constexpr int kLastChannel = 62;

// Boot table 1: values of the consecutive registers 0x173 .. 0x1B6.
constexpr std::uint16_t kBootTable1First = 0x173;
std::span<const std::uint8_t> BootTable1();
std::span<const RegisterValue> BootTable2();
std::span<const RegisterValue> BootTable3();
std::span<const RegisterValue> BootTable4();

// Channel tables; `channel` must lie in 13..62.
std::uint8_t StartGain(int channel);
std::uint8_t StartStep(int channel);
std::uint8_t BandByte(int channel);

}  // namespace brannock
