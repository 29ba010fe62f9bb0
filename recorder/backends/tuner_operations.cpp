// The operation set: each operation picks the back end of the tuner's kind.
#include <memory>

#include "devices.h"
#include "driver_backend.h"
#include "usbxpress_backend.h"

namespace brannock {
namespace {

class DispatchingOperations final : public TunerOperations {
 public:
  DispatchingOperations(SiUsbXpress& usb, IsdbtDriver& driver, Clock& clock)
      : usb_(usb, clock), driver_(driver, clock) {}

  int Tuner_Initialize(TOneSegTuner& tuner) override {
    return Dispatch(tuner, [&](auto& p) { return usb_.Tuner_Initialize(p); },
                    [&](auto& p) { return driver_.Tuner_Initialize(p); });
  }
  int Bootup(TOneSegTuner& tuner) override {
    return Dispatch(tuner, [&](auto& p) { return usb_.Bootup(p, tuner.Kind); },
                    [&](auto& p) { return driver_.Bootup(p); });
  }
  int SetChannel(TOneSegTuner& tuner, int channel) override {
    return Dispatch(tuner, [&](auto& p) { return usb_.SetChannel(p, tuner.Kind, channel); },
                    [&](auto& p) { return driver_.SetChannel(p, channel); });
  }
  int StopStream(TOneSegTuner& tuner) override {
    return Dispatch(tuner, [&](auto& p) { return usb_.StopStream(p); },
                    [&](auto& p) { return driver_.StopStream(p); });
  }
  int CloseDevice(TOneSegTuner& tuner) override {
    return Dispatch(tuner, [&](auto& p) { return usb_.CloseDevice(p); },
                    [&](auto& p) { return driver_.CloseDevice(p); });
  }
  int CheckRxQueue(TOneSegTuner& tuner, std::uint32_t& bytesWaiting) override {
    bytesWaiting = 0;
    return Dispatch(tuner, [&](auto& p) { return usb_.CheckRxQueue(p, bytesWaiting); },
                    [&](auto& p) { return driver_.CheckRxQueue(p, bytesWaiting); });
  }
  int ReadStream(TOneSegTuner& tuner, std::uint8_t* buffer, std::uint32_t count,
                 std::uint32_t& bytesRead) override {
    bytesRead = 0;
    return Dispatch(tuner, [&](auto& p) { return usb_.ReadStream(p, buffer, count, bytesRead); },
                    [&](auto& p) { return driver_.ReadStream(p, buffer, count, bytesRead); });
  }

 private:
  // A kind outside 0..2, or a record whose parameters do not belong to its
  // kind, is a bad argument.
  template <typename UsbCall, typename DriverCall>
  static int Dispatch(TOneSegTuner& tuner, UsbCall usbCall, DriverCall driverCall) {
    switch (tuner.Kind) {
      case UsbXpressA:
      case UsbXpressMini:
        if (TUSBXPressParam* p = tuner.UsbParam()) return usbCall(*p);
        break;
      case IsdbtDriverKind:
        if (TEZUSBParam* p = tuner.EzParam()) return driverCall(*p);
        break;
      default:
        break;
    }
    return kBadArgument;
  }

  UsbXpressBackend usb_;
  DriverBackend driver_;
};

}  // namespace

std::unique_ptr<TunerOperations> MakeTunerOperations(SiUsbXpress& usb, IsdbtDriver& driver, Clock& clock) {
  return std::make_unique<DispatchingOperations>(usb, driver, clock);
}

}  // namespace brannock
