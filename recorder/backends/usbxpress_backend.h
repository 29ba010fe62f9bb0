#pragma once
// The tuner operations of the two USBXpress models (kind 0 and kind 1).
#include <cstdint>

#include "clock.h"
#include "frame_layer.h"
#include "tuner.h"
#include "usbxpress.h"

namespace brannock {

// Values the gain loop writes to the tuner's synthesiser registers.
struct SynthValues {
  std::uint8_t n184;
  std::uint8_t band;
  std::uint8_t v186;
  std::uint8_t v187;
  std::uint8_t v188;
};

// The 8-bit step moves of the gain loop: the top three bits count, bit 4 is set.
std::uint8_t LowerStep(std::uint8_t step);
std::uint8_t RaiseStep(std::uint8_t step);

SynthValues SynthForKind0(int channel);
SynthValues SynthForKind1(int channel);

// Runs the gain loop (at most 10 iterations) from the channel's start values.
int RunGainLoop(FrameLayer& frames, int channel, const SynthValues& synth);

class UsbXpressBackend {
 public:
  UsbXpressBackend(SiUsbXpress& usb, Clock& clock) : usb_(usb), clock_(clock) {}

  int Tuner_Initialize(TUSBXPressParam& param);
  int Bootup(TUSBXPressParam& param, int kind);
  int SetChannel(TUSBXPressParam& param, int kind, int channel);
  int StopStream(TUSBXPressParam& param);
  int CloseDevice(TUSBXPressParam& param);
  int CheckRxQueue(TUSBXPressParam& param, std::uint32_t& bytesWaiting);
  int ReadStream(TUSBXPressParam& param, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& bytesRead);

 private:
  FrameLayer Frames(const TUSBXPressParam& param) { return FrameLayer(usb_, clock_, param.DeviceHandle); }
  int BootupKind0(FrameLayer& frames);
  int BootupKind1(FrameLayer& frames);
  int SetChannelKind0(FrameLayer& frames, int channel);
  int SetChannelKind1(FrameLayer& frames, int channel);

  SiUsbXpress& usb_;
  Clock& clock_;
};

}  // namespace brannock
