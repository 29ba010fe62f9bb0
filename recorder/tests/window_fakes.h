#pragma once
// Scripted tuner hardware and clock for the window tests: USBXpress devices
// that tests attach and detach, a driver device that is never there, tuner
// operations that succeed and record the channels they were asked to tune.
#include <cstring>
#include <string>
#include <vector>

#include "clock.h"
#include "isdbt_driver.h"
#include "tuner.h"
#include "usbxpress.h"

namespace brannock::test {

struct ScriptedDevice {
  std::string description;
  std::string serial;
};

class ScriptedUsb : public SiUsbXpress {
 public:
  std::vector<ScriptedDevice> devices;
  int countQueries = 0;

  SI_STATUS SI_GetNumDevices(std::uint32_t& count) override {
    ++countQueries;
    count = static_cast<std::uint32_t>(devices.size());
    return SI_SUCCESS;
  }
  SI_STATUS SI_GetProductString(std::uint32_t device, char* buffer, std::uint32_t flags) override {
    if (device >= devices.size()) return SI_DEVICE_NOT_FOUND;
    const std::string& text =
        flags == SI_RETURN_SERIAL_NUMBER ? devices[device].serial : devices[device].description;
    std::strncpy(buffer, text.c_str(), SI_MAX_DEVICE_STRLEN);
    return SI_SUCCESS;
  }
  SI_STATUS SI_Open(std::uint32_t, SiHandle& handle) override {
    handle = 1;
    return SI_SUCCESS;
  }
  SI_STATUS SI_Close(SiHandle) override { return SI_SUCCESS; }
  SI_STATUS SI_SetTimeouts(std::uint32_t, std::uint32_t) override { return SI_SUCCESS; }
  SI_STATUS SI_FlushBuffers(SiHandle, std::uint8_t, std::uint8_t) override { return SI_SUCCESS; }
  SI_STATUS SI_Write(SiHandle, const void*, std::uint32_t count, std::uint32_t& written) override {
    written = count;
    return SI_SUCCESS;
  }
  SI_STATUS SI_Read(SiHandle, void*, std::uint32_t, std::uint32_t& read) override {
    read = 0;
    return SI_SUCCESS;
  }
  SI_STATUS SI_CheckRXQueue(SiHandle, std::uint32_t& bytes, std::uint32_t& status) override {
    bytes = 0;
    status = 0;
    return SI_SUCCESS;
  }
};

class AbsentDriver : public IsdbtDriver {
 public:
  bool Probe() override { return false; }
  IsdbtHandle Open() override { return 0; }
  void Close(IsdbtHandle) override {}
  bool DeviceIoControl(IsdbtHandle, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                       std::uint32_t&) override {
    return false;
  }
};

class RecordingOps : public TunerOperations {
 public:
  std::vector<int> tunedChannels;

  int Tuner_Initialize(TOneSegTuner&) override { return 0; }
  int Bootup(TOneSegTuner&) override { return 0; }
  int SetChannel(TOneSegTuner&, int channel) override {
    tunedChannels.push_back(channel);
    return 0;
  }
  int StopStream(TOneSegTuner&) override { return 0; }
  int CloseDevice(TOneSegTuner&) override { return 0; }
  int CheckRxQueue(TOneSegTuner&, std::uint32_t& bytesWaiting) override {
    bytesWaiting = 0;
    return 0;
  }
  int ReadStream(TOneSegTuner&, std::uint8_t*, std::uint32_t, std::uint32_t& bytesRead) override {
    bytesRead = 0;
    return 0;
  }
};

// 2008-12-06 14:30 local time; waits only move the clock on.
class SteppingClock : public Clock {
 public:
  TDateTime now = 39788.0 + 14.5 / 24.0;
  TDateTime Now() override { return now; }
  void Sleep(int ms) override { now += ms / 86400000.0; }
};

}  // namespace brannock::test
