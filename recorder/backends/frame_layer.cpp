#include "frame_layer.h"

#include <algorithm>

namespace brannock {

int FrameLayer::SendFrame(std::uint8_t code, std::uint16_t address, std::uint8_t value, std::uint8_t last) {
  if (handle_ == 0) return kNotWrittenWhole;
  const std::uint8_t frame[5] = {code, static_cast<std::uint8_t>(address >> 8),
                                 static_cast<std::uint8_t>(address & 0xFF), value, last};
  std::uint32_t written = 0;
  const SI_STATUS status = usb_.SI_Write(handle_, frame, sizeof frame, written);
  if (written < sizeof frame) return kNotWrittenWhole;
  return status;
}

int FrameLayer::WriteRegister(std::uint16_t address, std::uint8_t value) {
  const int result = SendFrame(kRegisterWrite, address, value, 0x00);
  clock_.Sleep(7);
  return result;
}

int FrameLayer::ReadRegister(std::uint16_t address, std::uint8_t& value) {
  if (handle_ == 0) {
    clock_.Sleep(50);
    return kNotWrittenWhole;
  }
  const int sent = SendFrame(kRegisterRead, address, 0xFF, 0xFF);
  clock_.Sleep(10);
  if (sent != 0) {
    clock_.Sleep(50);
    return sent;
  }
  int status = 0;
  const int reply = ReadReply(kRegisterRead, value, status);
  if (reply != 0) return reply;
  clock_.Sleep(50);
  return status;
}

int FrameLayer::Identify(std::uint8_t& value) {
  const int sent = SendFrame(kIdentifyCommand);
  if (sent != 0) return sent;
  int status = 0;
  const int reply = ReadReply(kIdentifyCommand, value, status);
  return reply != 0 ? reply : status;
}

int FrameLayer::ReadReply(std::uint8_t code, std::uint8_t& value, int& status) {
  // The hunt counts read calls, not bytes, so a library that keeps answering
  // "success, nothing read" cannot hold the thread forever.
  for (int attempt = 0; attempt < kMarkerHuntLimit; ++attempt) {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    const SI_STATUS result = usb_.SI_Read(handle_, &byte, 1, got);
    if (result != SI_SUCCESS) return result;
    if (got == 1 && byte == kReplyMarker) break;
  }
  std::uint8_t rest[kReplyLength - 1] = {};
  std::uint32_t got = 0;
  status = usb_.SI_Read(handle_, rest, sizeof rest, got);
  if (got < sizeof rest) return kReplyMismatch;
  const std::uint8_t expected[6] = {0x75, 0x09, 0x15, 0x58, code, code};
  if (!std::equal(expected, expected + 6, rest)) return kReplyMismatch;
  value = rest[6];
  return 0;
}

}  // namespace brannock
