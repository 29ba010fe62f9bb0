#pragma once
// Real tuners through libusb-1.0: the USBXpress library's calls over the
// bridge's bulk endpoints, and the ISDBT driver's pipe requests over the
// EZ-USB device's endpoints.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "isdbt_driver.h"
#include "usbxpress.h"

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace brannock {

using UsbIds = std::vector<std::pair<std::uint16_t, std::uint16_t>>;

// One libusb context shared by both interfaces; nullptr when libusb cannot start.
class UsbContext {
 public:
  UsbContext();
  ~UsbContext();
  UsbContext(const UsbContext&) = delete;
  UsbContext& operator=(const UsbContext&) = delete;
  libusb_context* get() const { return context_; }
  // The attached devices whose vendor/product pair is in `ids`, in bus order, referenced.
  std::vector<libusb_device*> Find(const UsbIds& ids) const;

 private:
  libusb_context* context_ = nullptr;
};

class LibusbUsbXpress final : public SiUsbXpress {
 public:
  LibusbUsbXpress(std::shared_ptr<UsbContext> context, UsbIds ids);
  ~LibusbUsbXpress() override;

  SI_STATUS SI_GetNumDevices(std::uint32_t& count) override;
  SI_STATUS SI_GetProductString(std::uint32_t device, char* buffer, std::uint32_t flags) override;
  SI_STATUS SI_Open(std::uint32_t device, SiHandle& handle) override;
  SI_STATUS SI_Close(SiHandle handle) override;
  SI_STATUS SI_SetTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) override;
  SI_STATUS SI_FlushBuffers(SiHandle handle, std::uint8_t flushTransmit, std::uint8_t flushReceive) override;
  SI_STATUS SI_Write(SiHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written) override;
  SI_STATUS SI_Read(SiHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) override;
  SI_STATUS SI_CheckRXQueue(SiHandle handle, std::uint32_t& bytesInQueue, std::uint32_t& queueStatus) override;

 private:
  // An open bridge: a reader thread keeps the receive queue filled from the IN endpoint.
  struct OpenBridge {
    libusb_device_handle* usb = nullptr;
    unsigned char in = 0, out = 0;
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<std::uint8_t> queue;
    bool failed = false;  // the device stopped answering (unplugged)
    bool stop = false;
    std::thread reader;
  };
  void ReadLoop(OpenBridge& bridge);
  OpenBridge* Find(SiHandle handle);
  void ReleaseEnumeration();

  std::shared_ptr<UsbContext> context_;
  UsbIds ids_;
  // Discovery and the tuners' steps and reads come from several threads: the
  // tables are shared, a bridge is used by one thread at a time.
  std::mutex tables_;
  std::vector<libusb_device*> enumerated_;
  std::map<SiHandle, std::unique_ptr<OpenBridge>> open_;
  SiHandle nextHandle_ = 1;
  std::atomic<std::uint32_t> readTimeoutMs_ = 500;
  std::atomic<std::uint32_t> writeTimeoutMs_ = 500;
};

class LibusbIsdbtDriver final : public IsdbtDriver {
 public:
  LibusbIsdbtDriver(std::shared_ptr<UsbContext> context, UsbIds ids);
  ~LibusbIsdbtDriver() override;

  bool Probe() override;
  IsdbtHandle Open() override;
  void Close(IsdbtHandle handle) override;
  bool DeviceIoControl(IsdbtHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                       std::uint32_t outSize, std::uint32_t& returned) override;

 private:
  struct OpenDevice {
    libusb_device_handle* usb = nullptr;
    std::vector<unsigned char> pipes;  // endpoint addresses of interface 0, in descriptor order
  };
  libusb_device_handle* OpenFirst();

  std::shared_ptr<UsbContext> context_;
  UsbIds ids_;
  std::mutex tables_;  // as for the bridges
  std::map<IsdbtHandle, OpenDevice> open_;
  IsdbtHandle nextHandle_ = 1;
};

}  // namespace brannock
