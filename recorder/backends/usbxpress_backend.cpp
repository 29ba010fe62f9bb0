#include "usbxpress_backend.h"

#include <initializer_list>

#include "usbxpress_tables.h"

namespace brannock {
namespace {

constexpr int kGainLoopLimit = 10;
constexpr std::uint8_t kGainLow = 0x86;
constexpr std::uint8_t kGainHigh = 0x8F;

int WriteTable(FrameLayer& frames, std::span<const RegisterValue> table) {
  for (const RegisterValue& pair : table)
    if (const int result = frames.WriteRegister(pair.address, pair.value)) return result;
  return 0;
}

int WriteAll(FrameLayer& frames, std::initializer_list<RegisterValue> pairs) {
  return WriteTable(frames, std::span<const RegisterValue>(pairs.begin(), pairs.size()));
}

// Reads a register whose value the sequence does not need.
int Touch(FrameLayer& frames, std::uint16_t address) {
  std::uint8_t ignored = 0;
  return frames.ReadRegister(address, ignored);
}

bool InBand(int channel) { return channel >= kFirstChannel && channel <= kLastChannel; }

// Band set-up of the kind-1 model: (w, x, y, z) for 0x17A..0x17D. Channels 21
// and 40 take the middle block, whose band byte (0x94) they share.
struct BandSetup {
  std::uint8_t w, x, y, z;
};
BandSetup Kind1BandSetup(int channel) {
  if (channel <= 20) return {0x70, 0x80, 0x77, 0x94};
  if (channel <= 40) return {0x73, 0xC6, 0x77, 0xDC};
  return {0xFB, 0xC6, 0xFF, 0xDC};
}

}  // namespace

std::uint8_t LowerStep(std::uint8_t step) { return static_cast<std::uint8_t>((((step >> 5) - 1) << 5) | 0x10); }
std::uint8_t RaiseStep(std::uint8_t step) { return static_cast<std::uint8_t>((((step >> 5) + 1) << 5) | 0x10); }

SynthValues SynthForKind0(int channel) {
  const int f = 473 + 6 * (channel - 13);
  return {static_cast<std::uint8_t>(f / 16), BandByte(channel), 0x9C, 0xA4, static_cast<std::uint8_t>(f % 16)};
}

SynthValues SynthForKind1(int channel) {
  static constexpr std::uint8_t kFine[3][3] = {{0x18, 0x04, 0x05}, {0x6E, 0x59, 0x0A}, {0xC3, 0xAE, 0x0F}};
  const int r = (channel - 13) % 3;
  return {static_cast<std::uint8_t>((channel - 13) / 3 + 26), BandByte(channel), kFine[r][0], kFine[r][1],
          kFine[r][2]};
}

int RunGainLoop(FrameLayer& frames, int channel, const SynthValues& synth) {
  std::uint8_t gain = StartGain(channel);
  std::uint8_t step = StartStep(channel);
  std::uint8_t lastStep = 0;
  bool settled = false;
  for (int left = kGainLoopLimit; !settled && left > 0; --left) {
    const int written =
        step != lastStep
            ? WriteAll(frames, {{0x178, 0x83}, {0x175, gain}, {0x182, step}, {0x184, synth.n184},
                                {0x185, synth.band}, {0x186, synth.v186}, {0x187, synth.v187},
                                {0x188, synth.v188}, {0x183, 0x0B}, {0x183, 0x09}})
            : WriteAll(frames, {{0x175, gain}, {0x182, step}});
    if (written) return written;
    lastStep = step;
    std::uint8_t level = 0;
    if (const int result = frames.ReadRegister(0x170, level)) return result;
    level >>= 4;
    if (level < 3) {
      --gain;
      if (gain < kGainLow) step = LowerStep(step);
    } else if (level > 12) {
      ++gain;
      if (gain > kGainHigh) step = RaiseStep(step);
    } else {
      settled = true;
    }
  }
  return 0;
}

int UsbXpressBackend::Tuner_Initialize(TUSBXPressParam& param) {
  if (usb_.SI_Open(static_cast<std::uint32_t>(param.DeviceNumber), param.DeviceHandle) != SI_SUCCESS ||
      usb_.SI_FlushBuffers(param.DeviceHandle, 1, 1) != SI_SUCCESS || usb_.SI_SetTimeouts(500, 500) != SI_SUCCESS)
    return kOpenFailed;
  return 0;
}

int UsbXpressBackend::Bootup(TUSBXPressParam& param, int kind) {
  FrameLayer frames = Frames(param);
  return kind == UsbXpressMini ? BootupKind1(frames) : BootupKind0(frames);
}

int UsbXpressBackend::BootupKind0(FrameLayer& frames) {
  std::uint16_t address = kBootTable1First;
  for (const std::uint8_t value : BootTable1())
    if (const int result = frames.WriteRegister(address++, value)) return result;
  if (const int result = WriteAll(frames, {{0x1A2, 0x00}, {0x1A3, 0x48}})) return result;
  if (const int result = Touch(frames, 0x17F)) return result;
  if (const int result = frames.WriteRegister(0x17F, 0x70)) return result;
  if (const int result = Touch(frames, 0x168)) return result;
  if (const int result = WriteTable(frames, BootTable2())) return result;
  clock_.Sleep(90);
  return WriteTable(frames, BootTable3());
}

int UsbXpressBackend::BootupKind1(FrameLayer& frames) {
  std::uint8_t identity = 0;
  if (const int result = frames.Identify(identity)) return result;
  if (const int result = WriteTable(frames, BootTable4())) return result;
  if (const int result = WriteAll(frames, {{0x178, 0x83}, {0x175, 0x89}, {0x182, 0x30}, {0x184, 0x1A},
                                           {0x185, 0x8C}, {0x186, 0x55}, {0x187, 0x55}, {0x188, 0x09},
                                           {0x183, 0x0B}, {0x183, 0x09}}))
    return result;
  if (const int result = Touch(frames, 0x170)) return result;
  if (const int result = Touch(frames, 0x17F)) return result;
  if (const int result = frames.WriteRegister(0x17F, 0x50)) return result;
  if (const int result = Touch(frames, 0x168)) return result;
  return WriteAll(frames, {{0x17F, 0x90}, {0x174, 0x80}});
}

int UsbXpressBackend::SetChannel(TUSBXPressParam& param, int kind, int channel) {
  if (!InBand(channel)) return kBadArgument;
  FrameLayer frames = Frames(param);
  return kind == UsbXpressMini ? SetChannelKind1(frames, channel) : SetChannelKind0(frames, channel);
}

int UsbXpressBackend::SetChannelKind0(FrameLayer& frames, int channel) {
  if (const int result = RunGainLoop(frames, channel, SynthForKind0(channel))) return result;
  if (const int result = Touch(frames, 0x169)) return result;
  if (const int result = frames.WriteRegister(0x001, 0x02)) return result;
  if (const int result = Touch(frames, 0x032)) return result;
  return frames.Start();
}

int UsbXpressBackend::SetChannelKind1(FrameLayer& frames, int channel) {
  const BandSetup b = Kind1BandSetup(channel);
  if (const int result = WriteAll(frames, {{0x173, 0x00}, {0x176, 0xC3}, {0x177, 0x24}, {0x178, 0x83},
                                           {0x17A, b.w}, {0x17B, b.x}, {0x17C, b.y}, {0x17D, b.z},
                                           {0x195, 0x72}}))
    return result;
  if (const int result = RunGainLoop(frames, channel, SynthForKind1(channel))) return result;
  if (const int result = Touch(frames, 0x169)) return result;
  if (const int result = WriteAll(frames, {{0x047, 0x80}, {0x001, 0x40}})) return result;
  std::uint8_t v = 0;
  if (const int result = frames.ReadRegister(0x080, v)) return result;
  if ((v >> 4) != 0) {
    std::uint8_t u = 0;
    if (const int result = frames.ReadRegister(0x0B0, u)) return result;
    if (u & 0x01)
      if (const int result = frames.WriteRegister(0x001, 0x40)) return result;
    if (const int result = Touch(frames, 0x080)) return result;
  }
  if (const int result = Touch(frames, 0x0B0)) return result;
  return frames.Start();
}

int UsbXpressBackend::StopStream(TUSBXPressParam& param) {
  if (const int result = Frames(param).Stop()) return result;
  clock_.Sleep(100);
  return usb_.SI_FlushBuffers(param.DeviceHandle, 1, 1);
}

int UsbXpressBackend::CloseDevice(TUSBXPressParam& param) {
  const int result = usb_.SI_Close(param.DeviceHandle);
  param.DeviceHandle = 0;
  return result;
}

int UsbXpressBackend::CheckRxQueue(TUSBXPressParam& param, std::uint32_t& bytesWaiting) {
  std::uint32_t queueStatus = 0;
  return usb_.SI_CheckRXQueue(param.DeviceHandle, bytesWaiting, queueStatus);
}

int UsbXpressBackend::ReadStream(TUSBXPressParam& param, std::uint8_t* buffer, std::uint32_t count,
                                 std::uint32_t& bytesRead) {
  return usb_.SI_Read(param.DeviceHandle, buffer, count, bytesRead);
}

}  // namespace brannock
