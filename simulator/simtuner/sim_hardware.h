#pragma once
// The simulated tuner hardware as a whole: the broadcast clock, the stations
// on the air and the attached devices. The recorder reaches it from several
// threads (reads on one, each tuner's steps on its own): every call through
// the two interfaces holds `lock`. Every device catches up with the clock
// when it is used.
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clock.h"
#include "sim_config.h"
#include "station_stream.h"

namespace oneseg::sim {

class UsbDevice;
class DriverDevice;

struct Station {
  StationStream stream;
  double bitrate = kDefaultBitrate;
  double signal = 8;
};

class FaultSchedule {
 public:
  explicit FaultSchedule(std::vector<FaultConfig> faults) : faults_(std::move(faults)) {}
  bool Active(FaultType type, double seconds) const {
    for (const FaultConfig& f : faults_)
      if (f.type == type && seconds >= f.at && seconds < f.at + f.duration) return true;
    return false;
  }
  // Seconds the active time jumps add to the broadcast time.
  double TimeOffset(double seconds) const {
    double offset = 0;
    for (const FaultConfig& f : faults_)
      if (f.type == FaultType::TimeJump && seconds >= f.at && seconds < f.at + f.duration) offset += f.offset;
    return offset;
  }

 private:
  std::vector<FaultConfig> faults_;
};

class SimHardware {
 public:
  // Loads the stations' streams; nullptr with a message when one is unusable.
  static std::shared_ptr<SimHardware> Create(const SimConfig& config, brannock::Clock& clock, std::string& error);
  ~SimHardware();

  brannock::Clock& clock() { return clock_; }
  // Seconds of the recorder's clock since the hardware was opened (fault schedule).
  double Elapsed();
  // Broadcast time now, in days since 1899-12-30 (local time).
  brannock::TDateTime BroadcastNow();
  brannock::TDateTime BroadcastStart() const { return broadcastStart_; }
  double speed() const { return speed_; }
  const Station* FindStation(int channel) const;

  std::vector<std::unique_ptr<UsbDevice>>& usbDevices() { return usb_; }
  DriverDevice* driverDevice() { return driver_.get(); }

  // The library-wide read time-out of the USBXpress calls, in ms.
  std::uint32_t readTimeoutMs = 500;
  std::mutex lock;

 private:
  SimHardware(brannock::Clock& clock, double speed);

  brannock::Clock& clock_;
  double speed_;
  brannock::TDateTime opened_ = 0;
  brannock::TDateTime broadcastStart_ = 0;
  std::map<int, Station> stations_;
  std::vector<std::unique_ptr<UsbDevice>> usb_;
  std::unique_ptr<DriverDevice> driver_;
};

// Days since 1899-12-30 of a broadcast date-time, and the whole seconds since
// 1970-01-01 of such a value (the stream synthesiser's time scale).
brannock::TDateTime ToDateTime(const CivilTime& t);
std::int64_t ToJstSeconds(brannock::TDateTime t);

}  // namespace oneseg::sim
