#include "sim_config.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "../synth/json_node.h"  // the synthesiser's field reader

namespace oneseg::sim {
namespace {

using nlohmann::json;
using Node = synth::JsonNode<std::runtime_error>;

struct FaultName {
  const char* name;
  FaultType type;
};
constexpr FaultName kFaultNames[] = {
    {"vanish", FaultType::Vanish},           {"open_fail", FaultType::OpenFail},
    {"short_write", FaultType::ShortWrite},  {"garbled_reply", FaultType::GarbledReply},
    {"wrong_echo", FaultType::WrongEcho},    {"rx_queue_fail", FaultType::RxQueueFail},
    {"read_fail", FaultType::ReadFail},      {"signal_loss", FaultType::SignalLoss},
    {"corrupt_units", FaultType::CorruptUnits}, {"misaligned_units", FaultType::MisalignedUnits},
    {"time_jump", FaultType::TimeJump},
};

struct ModelName {
  const char* name;
  DeviceModel model;
  const char* description;
};
constexpr ModelName kModelNames[] = {
    {"A", DeviceModel::A, "PCTV-hiwasa OneSeg"},
    {"Mini", DeviceModel::Mini, "PCTV-hiwasa Mini OneSeg"},
    {"other", DeviceModel::Other, "USB Bridge Controller"},
    {"driver", DeviceModel::Driver, ""},
};

constexpr double kMaxSeconds = 1e9;  // about 31 years, also for a time jump's offset

std::string Resolve(const std::string& path, const std::string& base) {
  if (path.empty() || std::filesystem::path(path).is_absolute()) return path;
  return (std::filesystem::path(base) / path).string();
}

FaultConfig ParseFault(const Node& n) {
  FaultConfig fault;
  const std::string name = n.text("type");
  bool known = false;
  for (const FaultName& row : kFaultNames)
    if (name == row.name) fault.type = row.type, known = true;
  if (!known) n.fail("type", "unknown fault type \"" + name + "\"");
  fault.at = n.number("at", 0, kMaxSeconds, 0.0);
  fault.duration = n.number("duration", 0, kMaxSeconds, 0.0);
  if (fault.type == FaultType::TimeJump) fault.offset = n.number("offset", -kMaxSeconds, kMaxSeconds, 0.0);
  return fault;
}

// Per-channel levels: {"27": 3}.
void ParseSignals(const Node& n, std::map<int, double>& signal) {
  const json& levels = n.at("signal");
  if (!levels.is_object()) n.fail("signal", "expected an object of channel: level");
  for (const auto& [key, level] : levels.items()) {
    const std::string place = "signal.\"" + key + "\"";
    char* end = nullptr;
    errno = 0;
    const long channel = std::strtol(key.c_str(), &end, 10);
    if (key.empty() || *end != '\0' || errno != 0 || channel < 13 || channel > 62)
      n.fail(place, "expected a channel number 13..62 as the key");
    if (!level.is_number()) n.fail(place, "expected a number");
    signal[static_cast<int>(channel)] = level.get<double>();
  }
}

DeviceConfig ParseDevice(const Node& n, const std::string& base, std::size_t index) {
  DeviceConfig device;
  const std::string model = n.text("model", "A");
  bool known = false;
  for (const ModelName& row : kModelNames)
    if (model == row.name) device.model = row.model, device.description = row.description, known = true;
  if (!known) n.fail("model", "unknown device model \"" + model + "\"");
  device.description = n.text("description", device.description);
  device.serial = n.text("serial", "SIM" + std::to_string(index));
  if (n.has("signal")) ParseSignals(n, device.signal);
  device.replyStrayBytes = static_cast<int>(n.integer("reply_stray_bytes", 0, 4096, 0));
  device.lockPolls = static_cast<int>(n.integer("lock_polls", 0, 1000000, 1));
  device.queueBytes = static_cast<std::size_t>(n.integer("queue_bytes", 4096, std::int64_t{1} << 40,
                                                          static_cast<std::int64_t>(device.queueBytes)));
  device.deliveryLog = Resolve(n.text("delivery_log", ""), base);
  for (const Node& fault : n.array("faults")) device.faults.push_back(ParseFault(fault));
  return device;
}

StationConfig ParseStation(const Node& n, const std::string& base) {
  StationConfig station;
  station.channel = static_cast<int>(n.integer("channel", 13, 62));
  station.stream = Resolve(n.text("stream"), base);
  station.signal = n.number("signal", -1e6, 1e6, station.signal);
  station.bitrate = n.number("bitrate", 0, 1e9, 0.0);
  return station;
}

SimConfig Parse(const json& j, const std::string& baseFolder) {
  if (!j.is_object()) throw std::runtime_error("expected a JSON object");
  const Node root(j, "");
  SimConfig parsed;
  parsed.speed = root.number("speed", 0, 100000, 1.0);
  if (!(parsed.speed > 0)) root.fail("speed", "must be above 0");
  parsed.start = root.text("start", "");
  for (const Node& station : root.array("stations")) parsed.stations.push_back(ParseStation(station, baseFolder));
  for (const Node& device : root.array("devices"))
    parsed.devices.push_back(ParseDevice(device, baseFolder, parsed.devices.size()));
  return parsed;
}

}  // namespace

bool ParseSimConfig(const std::string& text, const std::string& baseFolder, SimConfig& config, std::string& error) {
  try {
    config = Parse(json::parse(text), baseFolder);
    return true;
  } catch (const json::parse_error& e) {
    error = std::string("simulated tuners: not valid JSON (") + e.what() + ")";
  } catch (const std::exception& e) {
    error = std::string("simulated tuners: ") + e.what();
  }
  return false;
}

bool LoadSimConfig(const std::string& file, SimConfig& config, std::string& error) {
  // A directory or a FIFO would make the stream throw or block, not fail.
  std::error_code ec;
  std::ifstream in;
  if (std::filesystem::is_regular_file(file, ec)) in.open(file, std::ios::binary);
  if (!in.is_open()) {
    const bool exists = std::filesystem::exists(file, ec);
    error = "simulated tuners: " + file + (exists ? ": not a regular file" : ": cannot be read");
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseSimConfig(text.str(), std::filesystem::path(file).parent_path().string(), config, error);
}

}  // namespace oneseg::sim
