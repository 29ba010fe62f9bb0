#include "sim_interfaces.h"

#include <cstring>

#include "devices.h"
#include "driver_device.h"
#include "usb_device.h"

namespace oneseg::sim {

using namespace brannock;

UsbDevice* SimUsbXpress::Enumerated(std::uint32_t index) {
  for (const auto& device : hw_->usbDevices())
    if (device->Present() && index-- == 0) return device.get();
  return nullptr;
}

UsbDevice* SimUsbXpress::Live(SiHandle handle) {
  const auto it = open_.find(handle);
  if (it == open_.end()) return nullptr;
  UsbDevice* device = it->second.device;
  return device->Present() && device->generation() == it->second.generation ? device : nullptr;
}

SI_STATUS SimUsbXpress::SI_GetNumDevices(std::uint32_t& count) {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  count = 0;
  for (const auto& device : hw_->usbDevices()) count += device->Present() ? 1 : 0;
  return SI_SUCCESS;
}

SI_STATUS SimUsbXpress::SI_GetProductString(std::uint32_t index, char* buffer, std::uint32_t flags) {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  UsbDevice* device = Enumerated(index);
  if (device == nullptr) return SI_DEVICE_NOT_FOUND;
  const std::string& text = flags == SI_RETURN_DESCRIPTION ? device->config().description : device->config().serial;
  const std::size_t length = std::min<std::size_t>(text.size(), SI_MAX_DEVICE_STRLEN - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return SI_SUCCESS;
}

SI_STATUS SimUsbXpress::SI_Open(std::uint32_t index, SiHandle& handle) {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  UsbDevice* device = Enumerated(index);
  if (device == nullptr || device->Fault(FaultType::OpenFail)) return SI_DEVICE_NOT_FOUND;
  handle = nextHandle_++;
  open_[handle] = {device, device->generation()};
  return SI_SUCCESS;
}

SI_STATUS SimUsbXpress::SI_Close(SiHandle handle) {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  return open_.erase(handle) != 0 ? SI_SUCCESS : SI_INVALID_HANDLE;
}

SI_STATUS SimUsbXpress::SI_SetTimeouts(std::uint32_t readTimeoutMs, std::uint32_t) {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  hw_->readTimeoutMs = readTimeoutMs;
  return SI_SUCCESS;
}

SI_STATUS SimUsbXpress::SI_FlushBuffers(SiHandle handle, std::uint8_t, std::uint8_t flushReceive) {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  UsbDevice* device = Live(handle);
  if (device == nullptr) return SI_INVALID_HANDLE;
  if (flushReceive) device->Flush();
  return SI_SUCCESS;
}

SI_STATUS SimUsbXpress::SI_Write(SiHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written) {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  written = 0;
  UsbDevice* device = Live(handle);
  if (device == nullptr) return SI_INVALID_HANDLE;
  if (device->Fault(FaultType::ShortWrite)) {
    written = count / 2;  // the firmware never sees a whole frame
    return SI_WRITE_TIMED_OUT;
  }
  device->Write(static_cast<const std::uint8_t*>(buffer), count);
  written = count;
  return SI_SUCCESS;
}

SI_STATUS SimUsbXpress::SI_Read(SiHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) {
  std::unique_lock<std::mutex> guard(hw_->lock);
  read = 0;
  UsbDevice* device = Live(handle);
  if (device == nullptr) return SI_INVALID_HANDLE;
  if (device->Fault(FaultType::ReadFail)) return SI_READ_ERROR;
  if (device->Waiting() < count) {
    // The library waits out its read time-out for the rest, letting the
    // other tuners' calls through meanwhile.
    const int timeout = static_cast<int>(hw_->readTimeoutMs);
    guard.unlock();
    hw_->clock().Sleep(timeout);
    guard.lock();
    if ((device = Live(handle)) == nullptr) return SI_INVALID_HANDLE;
    device->Waiting();
  }
  read = static_cast<std::uint32_t>(device->Read(static_cast<std::uint8_t*>(buffer), count));
  return read < count ? SI_READ_TIMED_OUT : SI_SUCCESS;
}

SI_STATUS SimUsbXpress::SI_CheckRXQueue(SiHandle handle, std::uint32_t& bytesInQueue, std::uint32_t& queueStatus) {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  bytesInQueue = 0;
  queueStatus = 0;
  UsbDevice* device = Live(handle);
  if (device == nullptr) return SI_INVALID_HANDLE;
  if (device->Fault(FaultType::RxQueueFail)) return SI_DEVICE_IO_FAILED;
  bytesInQueue = static_cast<std::uint32_t>(device->Waiting());
  queueStatus = bytesInQueue > 0 ? 0x02 : 0x00;  // RX ready / RX empty
  return SI_SUCCESS;
}

DriverDevice* SimIsdbtDriver::Live(IsdbtHandle handle) {
  DriverDevice* device = hw_->driverDevice();
  const auto it = open_.find(handle);
  if (device == nullptr || it == open_.end() || !device->Present() || device->generation() != it->second)
    return nullptr;
  return device;
}

bool SimIsdbtDriver::Probe() {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  DriverDevice* device = hw_->driverDevice();
  return device != nullptr && device->Present();
}

IsdbtHandle SimIsdbtDriver::Open() {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  DriverDevice* device = hw_->driverDevice();
  if (device == nullptr || !device->Present() || device->Fault(FaultType::OpenFail)) return 0;
  const IsdbtHandle handle = nextHandle_++;
  open_[handle] = device->generation();
  return handle;
}

void SimIsdbtDriver::Close(IsdbtHandle handle) {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  open_.erase(handle);
}

bool SimIsdbtDriver::DeviceIoControl(IsdbtHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                                     void* out, std::uint32_t outSize, std::uint32_t& returned) {
  const std::lock_guard<std::mutex> guard(hw_->lock);
  returned = 0;
  DriverDevice* device = Live(handle);
  if (device == nullptr || in == nullptr || inSize < 4 || out == nullptr) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(in);
  const std::uint32_t pipe = static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) |
                             static_cast<std::uint32_t>(bytes[3]) << 24;
  if (device->Fault(FaultType::ShortWrite)) return false;
  if (code == IOCTL_ISDBT_BULK_WRITE && pipe == 0) {
    device->Write(static_cast<const std::uint8_t*>(out), outSize);
    returned = outSize;
    return true;
  }
  if (code == IOCTL_ISDBT_BULK_READ && pipe == 1 && device->Read(static_cast<std::uint8_t*>(out), outSize)) {
    returned = outSize;
    return true;
  }
  return false;
}

}  // namespace oneseg::sim

namespace brannock {

DeviceAccess OpenSimulatedDevices(const std::string& configFile, Clock& clock, std::string& error) {
  oneseg::sim::SimConfig config;
  if (!oneseg::sim::LoadSimConfig(configFile, config, error)) return {};
  std::shared_ptr<oneseg::sim::SimHardware> hw = oneseg::sim::SimHardware::Create(config, clock, error);
  if (!hw) return {};
  return {std::make_unique<oneseg::sim::SimUsbXpress>(hw), std::make_unique<oneseg::sim::SimIsdbtDriver>(hw),
          std::make_unique<oneseg::sim::SimPcClock>(hw)};
}

}  // namespace brannock
