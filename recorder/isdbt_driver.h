#pragma once
// The EZ-USB tuner's kernel-driver access: open and close of the device and
// two I/O control requests, a bulk write on pipe 0 and a bulk read on pipe 1.
// Implemented over libusb for real devices and by the simulated tuner hardware.
#include <cstdint>

namespace brannock {

constexpr std::uint32_t IOCTL_ISDBT_BULK_WRITE = 0x222051;
constexpr std::uint32_t IOCTL_ISDBT_BULK_READ = 0x22204E;

using IsdbtHandle = std::uintptr_t;  // 0 = not open

class IsdbtDriver {
 public:
  virtual ~IsdbtDriver() = default;
  // Discovery's probe: open for reading, existing device only, without
  // sharing, and close again at once. True when the open succeeded.
  virtual bool Probe() = 0;
  // Open for writing, sharing write access, existing device only; 0 on failure.
  virtual IsdbtHandle Open() = 0;
  virtual void Close(IsdbtHandle handle) = 0;
  // One device I/O control request. The input buffer holds the 4-byte
  // little-endian pipe number; the output buffer is the data area (sent to the
  // device for a write, filled from it for a read). False when the request failed.
  virtual bool DeviceIoControl(IsdbtHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                               void* out, std::uint32_t outSize, std::uint32_t& returned) = 0;
};

}  // namespace brannock
