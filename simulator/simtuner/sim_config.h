#pragma once
// The description of the simulated tuner hardware, read from a JSON file.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace oneseg::sim {

// A station on one UHF channel: a transport stream played in a loop.
struct StationConfig {
  int channel = 0;
  std::string stream;     // path of a .ts file (relative paths: from the config file's folder)
  double signal = 8;      // level at neutral gain; <= 0 is too weak to receive
  double bitrate = 0;     // bits per second of broadcast; 0: derived from the stream's time packets
};

enum class FaultType {
  Vanish,           // gone from enumeration; open handles die; comes back reset
  OpenFail,         // opening fails
  ShortWrite,       // writes send only part of the frame
  GarbledReply,     // reply frames have a wrong header
  WrongEcho,        // reply frames echo another command code
  RxQueueFail,      // the receive-queue query fails
  ReadFail,         // reads fail
  SignalLoss,       // no level, no lock, no stream
  CorruptUnits,     // every fifth unit loses its sync byte
  MisalignedUnits,  // stray bytes are slipped in before every tenth unit
  TimeJump,         // the re-stamped TOT/TDT run `offset` seconds off the broadcast clock
};

// A fault active from `at` for `duration` seconds of the recorder's clock,
// counted from the moment the simulation was opened.
struct FaultConfig {
  FaultType type = FaultType::Vanish;
  double at = 0;
  double duration = 0;
  double offset = 0;  // TimeJump: seconds added to the broadcast time
};

enum class DeviceModel { A, Mini, Other, Driver };

struct DeviceConfig {
  DeviceModel model = DeviceModel::A;
  std::string description;  // USBXpress product description
  std::string serial;       // USBXpress serial number
  std::map<int, double> signal;  // per-channel level overriding the station's
  int replyStrayBytes = 0;       // bytes sent before each reply frame
  int lockPolls = 1;             // driver: lock queries until the tuner reports lock
  std::size_t queueBytes = 8u << 20;  // receive-queue capacity
  std::string deliveryLog;       // file receiving every delivered packet, with its sequence number;
                                 // at the end, deliveryLog + ".dropped" holds the units the queue dropped
  std::vector<FaultConfig> faults;
};

struct SimConfig {
  double speed = 1;          // broadcast seconds per second of the recorder's clock
  std::string start;         // broadcast start "yyyy-mm-dd hh:mm:ss"; empty: the clock's time at open
  std::vector<StationConfig> stations;
  std::vector<DeviceConfig> devices;
};

// Parses the JSON text; relative paths are taken from `baseFolder`. Returns
// false with a one-line message in `error` naming the field and its place
// (and, when loading, the file) when the text is not a valid description.
bool ParseSimConfig(const std::string& text, const std::string& baseFolder, SimConfig& config, std::string& error);
bool LoadSimConfig(const std::string& file, SimConfig& config, std::string& error);

}  // namespace oneseg::sim
