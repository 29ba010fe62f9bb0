#pragma once
// The 5-byte command frames and 20-byte reply frames spoken to a USBXpress
// tuner's firmware, with the waits the firmware needs between them. Every
// function returns 0 or a failure code in the USBXpress status-code space.
#include <cstdint>

#include "clock.h"
#include "usbxpress.h"

namespace brannock {

enum FrameCode : std::uint8_t {
  kRegisterWrite = 0x00,
  kRegisterRead = 0x01,
  kStartCommand = 0x02,
  kStopCommand = 0x03,
  kIdentifyCommand = 0x06,
};

constexpr std::uint8_t kReplyMarker = 0x48;
constexpr int kReplyLength = 20;
constexpr int kMarkerHuntLimit = 1024;

// The recorder's own failure codes (shared with the driver back end).
constexpr int kReplyMismatch = 2;
constexpr int kNotWrittenWhole = 4;
constexpr int kOpenFailed = 5;
constexpr int kBadArgument = 6;

class FrameLayer {
 public:
  FrameLayer(SiUsbXpress& usb, Clock& clock, SiHandle handle) : usb_(usb), clock_(clock), handle_(handle) {}

  int SendFrame(std::uint8_t code, std::uint16_t address = 0, std::uint8_t value = 0, std::uint8_t last = 0);
  int WriteRegister(std::uint16_t address, std::uint8_t value);
  int ReadRegister(std::uint16_t address, std::uint8_t& value);
  int Identify(std::uint8_t& value);
  int Start() { return SendFrame(kStartCommand); }
  int Stop() { return SendFrame(kStopCommand); }

 private:
  // Skips bytes up to the marker, then takes the 19 bytes behind it; 2 when
  // they are short or do not echo `code`. `status` is the 19-byte read's result.
  int ReadReply(std::uint8_t code, std::uint8_t& value, int& status);

  SiUsbXpress& usb_;
  Clock& clock_;
  SiHandle handle_;
};

}  // namespace brannock
