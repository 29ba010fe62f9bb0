#pragma once
// Scripted parts for the engine tests: a clock that moves only when told (or
// slept on), USBXpress devices and a driver device with scripted strings and
// presence, tuner operations with scripted results and streams, and transport
// packets (plain, TOT, TDT) built for the purpose.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "clock.h"
#include "engine.h"
#include "isdbt_driver.h"
#include "recording_files.h"
#include "tuner.h"
#include "usbxpress.h"

namespace brannock::test {

// Advance moves both clocks; setting `now` alone plays a step of the PC's clock.
// Tuners' workers sleep on it too; the fields are set while none runs.
class FakeClock : public Clock {
 public:
  TDateTime now = 0;
  double monotonic = 1000;
  long long sleptMs = 0;
  TDateTime Now() override {
    const std::lock_guard<std::mutex> guard(lock_);
    return now;
  }
  double Monotonic() override {
    const std::lock_guard<std::mutex> guard(lock_);
    return monotonic;
  }
  void Sleep(int ms) override {
    const std::lock_guard<std::mutex> guard(lock_);
    sleptMs += ms;
    Move(ms / 1000.0);
  }
  void Advance(double seconds) {
    const std::lock_guard<std::mutex> guard(lock_);
    Move(seconds);
  }

 private:
  void Move(double seconds) {
    now += seconds / 86400.0;
    monotonic += seconds;
  }
  std::mutex lock_;
};

struct FakeUsbDevice {
  std::string description;
  std::string serial;
  bool descriptionFails = false;
  bool serialFails = false;
};

class FakeUsb : public SiUsbXpress {
 public:
  std::vector<FakeUsbDevice> devices;
  bool countFails = false;
  SI_STATUS SI_GetNumDevices(std::uint32_t& count) override;
  SI_STATUS SI_GetProductString(std::uint32_t device, char* buffer, std::uint32_t flags) override;
  SI_STATUS SI_Open(std::uint32_t, SiHandle&) override { return SI_DEVICE_NOT_FOUND; }
  SI_STATUS SI_Close(SiHandle) override { return SI_SUCCESS; }
  SI_STATUS SI_SetTimeouts(std::uint32_t, std::uint32_t) override { return SI_SUCCESS; }
  SI_STATUS SI_FlushBuffers(SiHandle, std::uint8_t, std::uint8_t) override { return SI_SUCCESS; }
  SI_STATUS SI_Write(SiHandle, const void*, std::uint32_t, std::uint32_t&) override { return SI_WRITE_ERROR; }
  SI_STATUS SI_Read(SiHandle, void*, std::uint32_t, std::uint32_t&) override { return SI_READ_ERROR; }
  SI_STATUS SI_CheckRXQueue(SiHandle, std::uint32_t&, std::uint32_t&) override { return SI_INVALID_HANDLE; }
};

class FakeDriver : public IsdbtDriver {
 public:
  bool present = false;
  bool Probe() override { return present; }
  IsdbtHandle Open() override { return 0; }
  void Close(IsdbtHandle) override {}
  bool DeviceIoControl(IsdbtHandle, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                       std::uint32_t&) override {
    return false;
  }
};

// Results and stream of one scripted tuner, by TunerID.
struct TunerScript {
  int initResult = 0;
  int bootResult = 0;
  int setChannelResult = 0;
  int queueResult = 0;
  int readResult = 0;
  std::deque<std::uint8_t> stream;
  // Largest single read handed out (0 = as asked), to split units across reads.
  std::uint32_t readLimit = 0;
  bool failedReadsDeliver = true;  // a failing read still hands over (and takes) its bytes
};

// Called from the engine's thread and from tuners' workers at once; the
// scripts are set, and the calls looked at, while no worker runs.
class ScriptedOps : public TunerOperations {
 public:
  std::map<std::string, TunerScript> scripts;
  std::vector<std::string> calls;  // "Init ID", "Stop ID", "SetChannel ID 27", ...
  // Called at the start of each Bootup, outside the lock (a device that takes its time).
  std::function<void(const TOneSegTuner&)> beforeBootup;

  int Tuner_Initialize(TOneSegTuner& t) override { return Log("Init", t, &TunerScript::initResult); }
  int Bootup(TOneSegTuner& t) override {
    if (beforeBootup) beforeBootup(t);
    return Log("Bootup", t, &TunerScript::bootResult);
  }
  int SetChannel(TOneSegTuner& t, int channel) override {
    return Log("SetChannel", t, &TunerScript::setChannelResult, " " + std::to_string(channel));
  }
  int StopStream(TOneSegTuner& t) override { return Log("Stop", t, nullptr); }
  int CloseDevice(TOneSegTuner& t) override { return Log("Close", t, nullptr); }
  int CheckRxQueue(TOneSegTuner& t, std::uint32_t& waiting) override;
  int ReadStream(TOneSegTuner& t, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got) override;
  int Count(const std::string& call) const;

 private:
  std::mutex lock_;

  // Logs the call and returns the script's `result` (0 without one).
  int Log(const char* what, const TOneSegTuner& t, int TunerScript::*result, const std::string& extra = "") {
    const std::lock_guard<std::mutex> guard(lock_);
    calls.push_back(std::string(what) + " " + t.TunerID + extra);
    return result != nullptr ? scripts[t.TunerID].*result : 0;
  }
};

// ---- packets
using Packet = std::vector<std::uint8_t>;
Packet PlainPacket(std::uint16_t pid, std::uint8_t fill = 0x11);
// A TOT (0x73) carrying the given broadcast time, optionally with a broken CRC.
Packet TotPacket(int year, int month, int day, int hour, int minute, int second, bool badCrc = false);
// A TDT (0x70) on PID 0x0014 with the given time.
Packet TdtPacket(int year, int month, int day, int hour, int minute, int second);
// Appends a packet as one stream unit of `unitSize` bytes (trailer bytes 0xEE).
void AppendUnit(std::deque<std::uint8_t>& stream, const Packet& packet, std::uint16_t unitSize);

std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& path);

// A fresh folder under the system's temp folder, removed at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Records what the engine tells its holder.
class RecordingListener : public EngineListener {
 public:
  std::vector<std::string> events;
  void TunerAdded(TOneSegTuner& t) override { events.push_back("added " + t.TunerID); }
  void TunerRemoving(TOneSegTuner& t) override { events.push_back("removing " + t.TunerID); }
  void TunerListChanged() override { events.push_back("list changed"); }
  void TunerViewRefresh() override { events.push_back("refresh"); }
  void StatusChanged(TOneSegTuner& t) override { events.push_back("status " + t.TunerID + " " + t.Status); }
  void SettingsWriteFailed(const std::string& path) override { events.push_back("write failed " + path); }
  std::vector<std::string> held;  // every RetentionHeld text
  void RetentionHeld(const std::string& text) override { held.push_back(text); }
  std::vector<std::string> notices;
  void Notification(const std::string& text) override { notices.push_back(text); }
};

// An engine over scripted parts with its settings and recordings in a temp folder.
struct EngineRig {
  TempFolder folder;
  FakeClock clock;
  FakeUsb usb;
  FakeDriver driver;
  ScriptedOps ops;
  PosixFileSystem realFiles;
  FaultInjectingFileSystem files{realFiles};
  RecorderEngine engine{{clock, usb, driver, ops, files}};
  RecordingListener listener;

  EngineRig();
  std::string ConfigPath() const { return (folder.path() / "OneSeg_Config.ini").string(); }
  std::filesystem::path Recordings() const { return folder.path() / "rec"; }
  // A streaming tuner with serial `serial` on `channel` (kind by description).
  TOneSegTuner& StreamingTuner(const std::string& serial, int channel,
                               const std::string& description = "PCTV-hiwasa");
};

}  // namespace brannock::test
