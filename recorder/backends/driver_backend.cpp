#include "driver_backend.h"

#include "frame_layer.h"

namespace brannock {
namespace {

constexpr std::uint8_t kFirstStartup = 0x9F;
constexpr std::uint8_t kSecondStartup = 0x43;
constexpr std::uint8_t kSetFrequency = 0x10;
constexpr std::uint8_t kLockQuery = 0x11;
constexpr std::uint8_t kStartStream = 0x20;
constexpr std::uint8_t kStopStream = 0x21;
constexpr int kLockPolls = 6;

CommandBlock Block(std::uint8_t code) {
  CommandBlock block{};
  block[0] = code;
  return block;
}

}  // namespace

std::uint32_t ChannelFrequencyKHz(int channel) {
  return static_cast<std::uint32_t>((473 + 6 * (channel - 13)) * 1000 + 143);
}

bool DriverBackend::BulkWrite(IsdbtHandle handle, CommandBlock& block) {
  const std::uint8_t pipe[4] = {0, 0, 0, 0};
  std::uint32_t returned = 0;
  return driver_.DeviceIoControl(handle, IOCTL_ISDBT_BULK_WRITE, pipe, sizeof pipe, block.data(), block.size(),
                                 returned);
}

bool DriverBackend::BulkRead(IsdbtHandle handle, CommandBlock& block, std::uint32_t length) {
  const std::uint8_t pipe[4] = {1, 0, 0, 0};
  std::uint32_t returned = 0;
  return driver_.DeviceIoControl(handle, IOCTL_ISDBT_BULK_READ, pipe, sizeof pipe, block.data(), length, returned);
}

bool DriverBackend::RequestPair(IsdbtHandle handle, std::uint8_t code, std::uint32_t replyLength) {
  CommandBlock block = Block(code);
  return BulkWrite(handle, block) && BulkRead(handle, block, replyLength);
}

int DriverBackend::Tuner_Initialize(TEZUSBParam& param) {
  param.DeviceHandle = driver_.Open();
  return param.DeviceHandle != 0 ? 0 : kBadArgument;
}

int DriverBackend::Bootup(TEZUSBParam& param) {
  if (param.DeviceHandle == 0) return kBadArgument;
  const bool first = RequestPair(param.DeviceHandle, kFirstStartup, 3);
  clock_.Sleep(10);
  const bool second = RequestPair(param.DeviceHandle, kSecondStartup, 4);
  clock_.Sleep(10);
  return first && second ? 0 : kBadArgument;
}

int DriverBackend::SetChannel(TEZUSBParam& param, int channel) {
  if (param.DeviceHandle == 0) return kBadArgument;
  const std::uint32_t f = ChannelFrequencyKHz(channel);
  CommandBlock block = {kSetFrequency, 0x04, static_cast<std::uint8_t>(f >> 24), static_cast<std::uint8_t>(f >> 16),
                        static_cast<std::uint8_t>(f >> 8), static_cast<std::uint8_t>(f), 0, 0, 0, 0};
  BulkWrite(param.DeviceHandle, block);
  bool locked = false;
  block = Block(0);
  for (int poll = 0; poll < kLockPolls && !locked; ++poll) {
    block[0] = kLockQuery;
    BulkWrite(param.DeviceHandle, block);
    BulkRead(param.DeviceHandle, block, 1);
    locked = block[0] == 1;
    if (!locked) clock_.Sleep(100);
  }
  if (!locked) return kBadArgument;
  block = Block(kStartStream);
  BulkWrite(param.DeviceHandle, block);
  return 0;
}

int DriverBackend::StopStream(TEZUSBParam& param) {
  if (param.DeviceHandle == 0) return kBadArgument;
  CommandBlock block = Block(kStopStream);
  const bool accepted = BulkWrite(param.DeviceHandle, block);
  clock_.Sleep(10);
  return accepted ? 0 : kBadArgument;
}

int DriverBackend::CloseDevice(TEZUSBParam& param) {
  if (param.DeviceHandle != 0) driver_.Close(param.DeviceHandle);
  param.DeviceHandle = 0;
  clock_.Sleep(100);
  return 0;
}

int DriverBackend::CheckRxQueue(TEZUSBParam&, std::uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  return 0;
}

int DriverBackend::ReadStream(TEZUSBParam&, std::uint8_t*, std::uint32_t, std::uint32_t& bytesRead) {
  bytesRead = 0;
  return 0;
}

}  // namespace brannock
