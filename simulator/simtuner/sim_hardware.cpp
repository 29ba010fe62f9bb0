#include "sim_hardware.h"

#include <cmath>
#include <cstdio>

#include "driver_device.h"
#include "usb_device.h"

namespace oneseg::sim {
namespace {

constexpr int kMjdOf18991230 = 15018;

bool ParseStart(const std::string& text, brannock::TDateTime& out) {
  CivilTime t;
  char tail = 0;
  const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%*[ T]%2d:%2d:%2d%c", &t.year, &t.month, &t.day, &t.hour,
                                 &t.minute, &t.second, &tail);
  if (fields != 6 || t.year < 1901 || t.year > 2099 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 ||
      t.hour > 23 || t.minute > 59 || t.second > 59)
    return false;
  out = ToDateTime(t);
  return true;
}

}  // namespace

brannock::TDateTime ToDateTime(const CivilTime& t) {
  return (date_to_mjd(t.year, t.month, t.day) - kMjdOf18991230) + (t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
}

std::int64_t ToJstSeconds(brannock::TDateTime t) {
  constexpr double kDaysTo1970 = 25569;
  // A microsecond of slack keeps whole seconds whole after floating sums.
  return static_cast<std::int64_t>(std::floor((t - kDaysTo1970) * 86400.0 + 1e-6));
}

std::shared_ptr<SimHardware> SimHardware::Create(const SimConfig& config, brannock::Clock& clock,
                                                 std::string& error) {
  std::shared_ptr<SimHardware> hw(new SimHardware(clock, config.speed));
  hw->opened_ = clock.Now();
  hw->broadcastStart_ = hw->opened_;
  if (!config.start.empty() && !ParseStart(config.start, hw->broadcastStart_)) {
    error = "simulated tuners: start must be \"yyyy-mm-dd hh:mm:ss\"";
    return nullptr;
  }
  for (const StationConfig& sc : config.stations) {
    Station& station = hw->stations_[sc.channel];
    std::string why;
    if (!station.stream.Load(sc.stream, why)) {
      error = "simulated tuners: " + why;
      return nullptr;
    }
    station.bitrate = sc.bitrate > 0 ? sc.bitrate : station.stream.EstimateBitrate();
    station.signal = sc.signal;
  }
  for (const DeviceConfig& dc : config.devices) {
    if (dc.model != DeviceModel::Driver) {
      hw->usb_.push_back(std::make_unique<UsbDevice>(*hw, dc));
    } else if (!hw->driver_) {
      hw->driver_ = std::make_unique<DriverDevice>(*hw, dc);
    } else {
      error = "simulated tuners: only one driver tuner can exist";
      return nullptr;
    }
  }
  return hw;
}

SimHardware::SimHardware(brannock::Clock& clock, double speed) : clock_(clock), speed_(speed) {}

SimHardware::~SimHardware() = default;

double SimHardware::Elapsed() { return (clock_.Now() - opened_) * 86400.0; }

brannock::TDateTime SimHardware::BroadcastNow() { return broadcastStart_ + (clock_.Now() - opened_) * speed_; }

const Station* SimHardware::FindStation(int channel) const {
  const auto it = stations_.find(channel);
  return it != stations_.end() ? &it->second : nullptr;
}

}  // namespace oneseg::sim
