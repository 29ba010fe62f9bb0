#pragma once
// One simulated USBXpress device: the tuner firmware behind the byte pipe
// (register map, reply frames, the stream after the start command), its
// receive queue and its scheduled faults.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "receive_queue.h"
#include "sim_config.h"
#include "sim_hardware.h"

namespace oneseg::sim {

using Frame = std::array<std::uint8_t, 5>;

class UsbDevice {
 public:
  UsbDevice(SimHardware& hw, DeviceConfig config);
  ~UsbDevice();
  UsbDevice(const UsbDevice&) = delete;
  UsbDevice& operator=(const UsbDevice&) = delete;

  const DeviceConfig& config() const { return config_; }
  // Applies the vanish schedule; a device that vanishes comes back reset.
  bool Present();
  // Changes whenever the device vanishes: handles of an older generation are dead.
  std::uint64_t generation() const { return generation_; }
  bool Fault(FaultType type) { return faults_.Active(type, hw_.Elapsed()); }

  // The byte pipe. `Write` takes one command frame (a 5-byte write).
  void Write(const std::uint8_t* data, std::size_t length);
  std::size_t Read(std::uint8_t* out, std::size_t count);
  std::size_t Waiting();
  void Flush() {
    CatchUp();
    queue_.Clear();
  }

  // What tests look at.
  std::uint16_t unitSize() const { return config_.model == DeviceModel::Mini ? 196 : 197; }
  std::uint8_t Register(std::uint16_t address) const { return registers_[address & 0x1FF]; }
  const std::vector<Frame>& frames() const { return frames_; }
  void ClearFrames() { frames_.clear(); }
  bool streaming() const { return streaming_; }
  // The channel the synthesiser registers select, or -1.
  int TunedChannel() const;
  // The level register 0x170 reports (0..15) for the current gain and step.
  int Level() const;
  std::uint64_t deliveredUnits() const { return delivered_; }
  std::uint64_t droppedUnits() const { return queue_.Dropped(); }

 private:
  void Reset();
  void Reply(std::uint8_t code, std::uint8_t value);
  void StartStream();
  void CatchUp();
  void EmitUnit(const Station& station, std::uint64_t index, bool corrupt, double timeOffset);
  void LogDelivered(const QueueChunk& chunk);
  double SignalOf(int channel, const Station& station) const;
  // The level the tuning registers give, faults aside.
  int ReceivedLevel() const;
  // Units are due at the broadcast times start + index × period.
  double UnitPeriodDays(const Station& station) const;

  SimHardware& hw_;
  DeviceConfig config_;
  FaultSchedule faults_;
  ReceiveQueue queue_;
  std::array<std::uint8_t, 0x200> registers_{};
  std::vector<Frame> frames_;
  bool present_ = true;
  std::uint64_t generation_ = 0;
  bool streaming_ = false;
  int streamChannel_ = -1;
  std::uint64_t nextIndex_ = 0;
  std::uint64_t delivered_ = 0;
  std::FILE* log_ = nullptr;
};

}  // namespace oneseg::sim
