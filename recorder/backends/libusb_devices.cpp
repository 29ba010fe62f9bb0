#include "libusb_devices.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "devices.h"

namespace brannock {
namespace {

constexpr std::size_t kReceiveQueueLimit = 8u << 20;  // bytes kept while nobody reads
constexpr int kReaderChunk = 16384;
constexpr unsigned kReaderTimeoutMs = 100;
constexpr unsigned kPipeTimeoutMs = 1000;

// Claims interface 0 (taking it from a kernel driver if need be) and returns
// its endpoints in descriptor order.
bool ClaimInterface0(libusb_device_handle* usb, std::vector<unsigned char>& endpoints) {
  libusb_set_auto_detach_kernel_driver(usb, 1);
  if (libusb_claim_interface(usb, 0) != LIBUSB_SUCCESS) return false;
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(libusb_get_device(usb), &config) != LIBUSB_SUCCESS) return false;
  if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
    const libusb_interface_descriptor& alt = config->interface[0].altsetting[0];
    for (int e = 0; e < alt.bNumEndpoints; ++e) endpoints.push_back(alt.endpoint[e].bEndpointAddress);
  }
  libusb_free_config_descriptor(config);
  return true;
}

SI_STATUS WriteStatus(int result) {
  if (result == LIBUSB_SUCCESS) return SI_SUCCESS;
  return result == LIBUSB_ERROR_TIMEOUT ? SI_WRITE_TIMED_OUT : SI_WRITE_ERROR;
}

}  // namespace

UsbContext::UsbContext() {
  if (libusb_init(&context_) != LIBUSB_SUCCESS) context_ = nullptr;
}

UsbContext::~UsbContext() {
  if (context_ != nullptr) libusb_exit(context_);
}

std::vector<libusb_device*> UsbContext::Find(const UsbIds& ids) const {
  std::vector<libusb_device*> found;
  if (context_ == nullptr) return found;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(list[i], &d) != LIBUSB_SUCCESS) continue;
    if (std::find(ids.begin(), ids.end(), std::make_pair(d.idVendor, d.idProduct)) != ids.end())
      found.push_back(libusb_ref_device(list[i]));
  }
  if (count >= 0) libusb_free_device_list(list, 1);
  return found;
}

// --- USBXpress bridges ---

LibusbUsbXpress::LibusbUsbXpress(std::shared_ptr<UsbContext> context, UsbIds ids)
    : context_(std::move(context)), ids_(std::move(ids)) {}

LibusbUsbXpress::~LibusbUsbXpress() {
  while (!open_.empty()) SI_Close(open_.begin()->first);
  ReleaseEnumeration();
}

void LibusbUsbXpress::ReleaseEnumeration() {
  for (libusb_device* device : enumerated_) libusb_unref_device(device);
  enumerated_.clear();
}

SI_STATUS LibusbUsbXpress::SI_GetNumDevices(std::uint32_t& count) {
  std::lock_guard<std::mutex> guard(tables_);
  ReleaseEnumeration();
  enumerated_ = context_->Find(ids_);
  count = static_cast<std::uint32_t>(enumerated_.size());
  return SI_SUCCESS;
}

SI_STATUS LibusbUsbXpress::SI_GetProductString(std::uint32_t device, char* buffer, std::uint32_t flags) {
  std::lock_guard<std::mutex> guard(tables_);
  if (device >= enumerated_.size()) return SI_DEVICE_NOT_FOUND;
  libusb_device_descriptor d{};
  if (libusb_get_device_descriptor(enumerated_[device], &d) != LIBUSB_SUCCESS) return SI_DEVICE_NOT_FOUND;
  const std::uint8_t index = flags == SI_RETURN_DESCRIPTION ? d.iProduct : d.iSerialNumber;
  libusb_device_handle* usb = nullptr;
  if (libusb_open(enumerated_[device], &usb) != LIBUSB_SUCCESS) return SI_DEVICE_NOT_FOUND;
  unsigned char text[SI_MAX_DEVICE_STRLEN] = {};
  const int length = index != 0 ? libusb_get_string_descriptor_ascii(usb, index, text, sizeof text - 1) : 0;
  libusb_close(usb);
  if (length < 0) return SI_SYSTEM_ERROR_CODE;
  std::memcpy(buffer, text, static_cast<std::size_t>(length));
  buffer[length] = '\0';
  return SI_SUCCESS;
}

SI_STATUS LibusbUsbXpress::SI_Open(std::uint32_t device, SiHandle& handle) {
  std::lock_guard<std::mutex> guard(tables_);
  if (device >= enumerated_.size()) return SI_DEVICE_NOT_FOUND;
  auto bridge = std::make_unique<OpenBridge>();
  if (libusb_open(enumerated_[device], &bridge->usb) != LIBUSB_SUCCESS) return SI_DEVICE_NOT_FOUND;
  std::vector<unsigned char> endpoints;
  if (ClaimInterface0(bridge->usb, endpoints)) {
    for (unsigned char ep : endpoints) ((ep & LIBUSB_ENDPOINT_IN) ? bridge->in : bridge->out) = ep;
  }
  if (bridge->in == 0 || bridge->out == 0) {
    libusb_close(bridge->usb);
    return SI_DEVICE_NOT_FOUND;
  }
  OpenBridge& b = *bridge;
  b.reader = std::thread([this, &b] { ReadLoop(b); });
  handle = nextHandle_++;
  open_[handle] = std::move(bridge);
  return SI_SUCCESS;
}

void LibusbUsbXpress::ReadLoop(OpenBridge& bridge) {
  std::vector<unsigned char> chunk(kReaderChunk);
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(bridge.lock);
      if (bridge.stop) return;
    }
    int got = 0;
    const int result = libusb_bulk_transfer(bridge.usb, bridge.in, chunk.data(), kReaderChunk, &got, kReaderTimeoutMs);
    std::lock_guard<std::mutex> guard(bridge.lock);
    const std::size_t keep = std::min(static_cast<std::size_t>(std::max(got, 0)),
                                      kReceiveQueueLimit - std::min(kReceiveQueueLimit, bridge.queue.size()));
    bridge.queue.insert(bridge.queue.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(keep));
    if (result != LIBUSB_SUCCESS && result != LIBUSB_ERROR_TIMEOUT && result != LIBUSB_ERROR_OVERFLOW) {
      bridge.failed = true;
      bridge.arrived.notify_all();
      return;
    }
    if (keep > 0) bridge.arrived.notify_all();
  }
}

LibusbUsbXpress::OpenBridge* LibusbUsbXpress::Find(SiHandle handle) {
  std::lock_guard<std::mutex> guard(tables_);
  const auto it = open_.find(handle);
  return it != open_.end() ? it->second.get() : nullptr;
}

SI_STATUS LibusbUsbXpress::SI_Close(SiHandle handle) {
  std::unique_ptr<OpenBridge> bridge;
  {
    std::lock_guard<std::mutex> guard(tables_);
    const auto it = open_.find(handle);
    if (it == open_.end()) return SI_INVALID_HANDLE;
    bridge = std::move(it->second);
    open_.erase(it);
  }
  {
    std::lock_guard<std::mutex> guard(bridge->lock);
    bridge->stop = true;
  }
  bridge->reader.join();
  libusb_release_interface(bridge->usb, 0);
  libusb_close(bridge->usb);
  return SI_SUCCESS;
}

SI_STATUS LibusbUsbXpress::SI_SetTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) {
  readTimeoutMs_ = readTimeoutMs;
  writeTimeoutMs_ = writeTimeoutMs;
  return SI_SUCCESS;
}

SI_STATUS LibusbUsbXpress::SI_FlushBuffers(SiHandle handle, std::uint8_t, std::uint8_t flushReceive) {
  OpenBridge* bridge = Find(handle);
  if (bridge == nullptr) return SI_INVALID_HANDLE;
  std::lock_guard<std::mutex> guard(bridge->lock);
  if (flushReceive) bridge->queue.clear();
  return SI_SUCCESS;
}

SI_STATUS LibusbUsbXpress::SI_Write(SiHandle handle, const void* buffer, std::uint32_t count, std::uint32_t& written) {
  written = 0;
  OpenBridge* bridge = Find(handle);
  if (bridge == nullptr) return SI_INVALID_HANDLE;
  int sent = 0;
  const int result = libusb_bulk_transfer(bridge->usb, bridge->out,
                                          static_cast<unsigned char*>(const_cast<void*>(buffer)),
                                          static_cast<int>(count), &sent, writeTimeoutMs_);
  written = static_cast<std::uint32_t>(std::max(sent, 0));
  return WriteStatus(result);
}

SI_STATUS LibusbUsbXpress::SI_Read(SiHandle handle, void* buffer, std::uint32_t count, std::uint32_t& read) {
  read = 0;
  OpenBridge* bridge = Find(handle);
  if (bridge == nullptr) return SI_INVALID_HANDLE;
  std::unique_lock<std::mutex> guard(bridge->lock);
  bridge->arrived.wait_for(guard, std::chrono::milliseconds(readTimeoutMs_),
                           [&] { return bridge->queue.size() >= count || bridge->failed; });
  const std::size_t take = std::min<std::size_t>(count, bridge->queue.size());
  std::copy_n(bridge->queue.begin(), take, static_cast<std::uint8_t*>(buffer));
  bridge->queue.erase(bridge->queue.begin(), bridge->queue.begin() + static_cast<std::ptrdiff_t>(take));
  read = static_cast<std::uint32_t>(take);
  if (read == count) return SI_SUCCESS;
  return bridge->failed ? SI_READ_ERROR : SI_READ_TIMED_OUT;
}

SI_STATUS LibusbUsbXpress::SI_CheckRXQueue(SiHandle handle, std::uint32_t& bytesInQueue, std::uint32_t& queueStatus) {
  bytesInQueue = 0;
  queueStatus = 0;
  OpenBridge* bridge = Find(handle);
  if (bridge == nullptr) return SI_INVALID_HANDLE;
  std::lock_guard<std::mutex> guard(bridge->lock);
  if (bridge->failed) return SI_DEVICE_IO_FAILED;
  bytesInQueue = static_cast<std::uint32_t>(bridge->queue.size());
  queueStatus = bytesInQueue > 0 ? 0x02 : 0x00;
  return SI_SUCCESS;
}

// --- ISDBT driver tuner ---

LibusbIsdbtDriver::LibusbIsdbtDriver(std::shared_ptr<UsbContext> context, UsbIds ids)
    : context_(std::move(context)), ids_(std::move(ids)) {}

LibusbIsdbtDriver::~LibusbIsdbtDriver() {
  while (!open_.empty()) Close(open_.begin()->first);
}

// The context's device list is libusb's own business: it is safe from any thread.
libusb_device_handle* LibusbIsdbtDriver::OpenFirst() {
  std::vector<libusb_device*> found = context_->Find(ids_);
  libusb_device_handle* usb = nullptr;
  if (!found.empty() && libusb_open(found.front(), &usb) != LIBUSB_SUCCESS) usb = nullptr;
  for (libusb_device* device : found) libusb_unref_device(device);
  return usb;
}

bool LibusbIsdbtDriver::Probe() {
  libusb_device_handle* usb = OpenFirst();
  if (usb == nullptr) return false;
  libusb_close(usb);
  return true;
}

IsdbtHandle LibusbIsdbtDriver::Open() {
  OpenDevice device;
  device.usb = OpenFirst();
  if (device.usb == nullptr) return 0;
  if (!ClaimInterface0(device.usb, device.pipes)) {
    libusb_close(device.usb);
    return 0;
  }
  std::lock_guard<std::mutex> guard(tables_);
  const IsdbtHandle handle = nextHandle_++;
  open_[handle] = std::move(device);
  return handle;
}

void LibusbIsdbtDriver::Close(IsdbtHandle handle) {
  OpenDevice device;
  {
    std::lock_guard<std::mutex> guard(tables_);
    const auto it = open_.find(handle);
    if (it == open_.end()) return;
    device = std::move(it->second);
    open_.erase(it);
  }
  libusb_release_interface(device.usb, 0);
  libusb_close(device.usb);
}

bool LibusbIsdbtDriver::DeviceIoControl(IsdbtHandle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                                        void* out, std::uint32_t outSize, std::uint32_t& returned) {
  returned = 0;
  if (in == nullptr || inSize < 4 || out == nullptr) return false;
  const auto* p = static_cast<const std::uint8_t*>(in);
  const std::uint32_t pipe = static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | std::uint32_t{p[3]} << 24;
  libusb_device_handle* usb = nullptr;
  unsigned char endpoint = 0;
  {
    std::lock_guard<std::mutex> guard(tables_);
    const auto it = open_.find(handle);
    if (it == open_.end() || pipe >= it->second.pipes.size()) return false;
    usb = it->second.usb;
    endpoint = it->second.pipes[pipe];
  }
  const bool toDevice = (endpoint & LIBUSB_ENDPOINT_IN) == 0;
  if ((code == IOCTL_ISDBT_BULK_WRITE) != toDevice || (code != IOCTL_ISDBT_BULK_WRITE && code != IOCTL_ISDBT_BULK_READ))
    return false;
  int moved = 0;
  const int result = libusb_bulk_transfer(usb, endpoint, static_cast<unsigned char*>(out),
                                          static_cast<int>(outSize), &moved, kPipeTimeoutMs);
  returned = static_cast<std::uint32_t>(std::max(moved, 0));
  return result == LIBUSB_SUCCESS;
}

DeviceAccess OpenRealDevices(const RealDeviceIds& ids) {
  auto context = std::make_shared<UsbContext>();
  return {std::make_unique<LibusbUsbXpress>(context, ids.usbXpress),
          std::make_unique<LibusbIsdbtDriver>(context, ids.ezUsb), nullptr};
}

}  // namespace brannock
