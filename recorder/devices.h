#pragma once
// Where the recorder's devices come from: real USB devices through libusb, or
// simulated tuner hardware described by a file. Either way the recorder sees
// the same two platform interfaces and the same tuner operation set.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "clock.h"
#include "isdbt_driver.h"
#include "tuner.h"
#include "usbxpress.h"

namespace brannock {

struct DeviceAccess {
  std::unique_ptr<SiUsbXpress> usb;
  std::unique_ptr<IsdbtDriver> driver;
  // The clock that stands for the PC's where broadcast times are judged (a
  // simulation's broadcast clock); none for real devices.
  std::unique_ptr<Clock> pcClock;
};

// USB vendor/product ids of the devices taken as tuners (settings may add ids).
struct RealDeviceIds {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> usbXpress{{0x10C4, 0xEA61}};
  std::vector<std::pair<std::uint16_t, std::uint16_t>> ezUsb;
};

DeviceAccess OpenRealDevices(const RealDeviceIds& ids);

// Reads the simulated-hardware description; on failure returns empty members
// and a one-line message in `error`.
DeviceAccess OpenSimulatedDevices(const std::string& configFile, Clock& clock, std::string& error);

// The operation set dispatching on the tuner's kind to the USBXpress and the
// driver back ends (a kind outside 0..2 yields 6).
std::unique_ptr<TunerOperations> MakeTunerOperations(SiUsbXpress& usb, IsdbtDriver& driver, Clock& clock);

}  // namespace brannock
