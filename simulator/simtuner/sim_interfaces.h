#pragma once
// The two platform interfaces over the simulated hardware.
#include <map>
#include <memory>

#include "isdbt_driver.h"
#include "sim_hardware.h"
#include "usbxpress.h"

namespace oneseg::sim {

class SimUsbXpress final : public brannock::SiUsbXpress {
 public:
  explicit SimUsbXpress(std::shared_ptr<SimHardware> hw) : hw_(std::move(hw)) {}

  brannock::SI_STATUS SI_GetNumDevices(std::uint32_t& count) override;
  brannock::SI_STATUS SI_GetProductString(std::uint32_t device, char* buffer, std::uint32_t flags) override;
  brannock::SI_STATUS SI_Open(std::uint32_t device, brannock::SiHandle& handle) override;
  brannock::SI_STATUS SI_Close(brannock::SiHandle handle) override;
  brannock::SI_STATUS SI_SetTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) override;
  brannock::SI_STATUS SI_FlushBuffers(brannock::SiHandle handle, std::uint8_t flushTransmit,
                                      std::uint8_t flushReceive) override;
  brannock::SI_STATUS SI_Write(brannock::SiHandle handle, const void* buffer, std::uint32_t count,
                               std::uint32_t& written) override;
  brannock::SI_STATUS SI_Read(brannock::SiHandle handle, void* buffer, std::uint32_t count,
                              std::uint32_t& read) override;
  brannock::SI_STATUS SI_CheckRXQueue(brannock::SiHandle handle, std::uint32_t& bytesInQueue,
                                      std::uint32_t& queueStatus) override;

 private:
  struct OpenDevice {
    UsbDevice* device;
    std::uint64_t generation;
  };
  // The device at enumeration index `index` among the present ones.
  UsbDevice* Enumerated(std::uint32_t index);
  // The live device of a handle, or nullptr when the handle is unknown or its device vanished.
  UsbDevice* Live(brannock::SiHandle handle);

  std::shared_ptr<SimHardware> hw_;
  std::map<brannock::SiHandle, OpenDevice> open_;
  brannock::SiHandle nextHandle_ = 1;
};

class SimIsdbtDriver final : public brannock::IsdbtDriver {
 public:
  explicit SimIsdbtDriver(std::shared_ptr<SimHardware> hw) : hw_(std::move(hw)) {}

  bool Probe() override;
  brannock::IsdbtHandle Open() override;
  void Close(brannock::IsdbtHandle handle) override;
  bool DeviceIoControl(brannock::IsdbtHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                       void* out, std::uint32_t outSize, std::uint32_t& returned) override;

 private:
  DriverDevice* Live(brannock::IsdbtHandle handle);

  std::shared_ptr<SimHardware> hw_;
  std::map<brannock::IsdbtHandle, std::uint64_t> open_;  // handle -> device generation
  brannock::IsdbtHandle nextHandle_ = 1;
};

// The simulated broadcast clock (without the faults' time jumps), standing for
// the PC's clock of a recorder that runs at the simulation's speed.
class SimPcClock final : public brannock::Clock {
 public:
  explicit SimPcClock(std::shared_ptr<SimHardware> hw) : hw_(std::move(hw)) {}
  brannock::TDateTime Now() override { return hw_->BroadcastNow(); }
  double Monotonic() override { return hw_->clock().Monotonic() * hw_->speed(); }
  void Sleep(int ms) override { hw_->clock().Sleep(ms); }

 private:
  std::shared_ptr<SimHardware> hw_;
};

}  // namespace oneseg::sim
