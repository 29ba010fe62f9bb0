#pragma once
// The simulated EZ-USB tuner behind the ISDBT driver: command blocks on pipe
// 0, short replies on pipe 1. Like the driver path itself, it carries no stream.
#include <array>
#include <cstdint>
#include <vector>

#include "sim_config.h"
#include "sim_hardware.h"

namespace oneseg::sim {

using DriverBlock = std::array<std::uint8_t, 10>;

class DriverDevice {
 public:
  DriverDevice(SimHardware& hw, DeviceConfig config) : hw_(hw), config_(std::move(config)), faults_(config_.faults) {}

  const DeviceConfig& config() const { return config_; }
  bool Present();
  std::uint64_t generation() const { return generation_; }
  bool Fault(FaultType type) { return faults_.Active(type, hw_.Elapsed()); }

  // Pipe 0: one command block (bytes beyond 10 are ignored, missing ones are 0).
  void Write(const std::uint8_t* data, std::size_t length);
  // Pipe 1: the pending reply, cut to `length`; false when none is pending.
  bool Read(std::uint8_t* out, std::size_t length);

  const std::vector<DriverBlock>& blocks() const { return blocks_; }
  std::uint32_t frequencyKHz() const { return frequency_; }
  int TunedChannel() const;
  bool streaming() const { return streaming_; }

 private:
  bool Receivable();

  SimHardware& hw_;
  DeviceConfig config_;
  FaultSchedule faults_;
  bool present_ = true;
  std::uint64_t generation_ = 0;
  std::vector<DriverBlock> blocks_;
  std::vector<std::uint8_t> reply_;
  std::uint32_t frequency_ = 0;
  int pollsSinceTune_ = 0;
  bool streaming_ = false;
};

}  // namespace oneseg::sim
