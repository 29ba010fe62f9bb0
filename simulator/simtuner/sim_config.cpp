#include "sim_config.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace oneseg::sim {
namespace {

using nlohmann::json;

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

std::string Resolve(const std::string& path, const std::string& base) {
  if (path.empty() || std::filesystem::path(path).is_absolute()) return path;
  return (std::filesystem::path(base) / path).string();
}

void Fail(const std::string& message) { throw std::runtime_error(message); }

FaultConfig ParseFault(const json& j) {
  FaultConfig fault;
  const std::string name = j.at("type").get<std::string>();
  bool known = false;
  for (const FaultName& row : kFaultNames)
    if (name == row.name) fault.type = row.type, known = true;
  if (!known) Fail("unknown fault type \"" + name + "\"");
  fault.at = j.value("at", 0.0);
  fault.duration = j.value("duration", 0.0);
  if (fault.at < 0 || fault.duration < 0) Fail("fault times must not be negative");
  return fault;
}

DeviceConfig ParseDevice(const json& j, const std::string& base, std::size_t index) {
  DeviceConfig device;
  const std::string model = j.value("model", std::string("A"));
  bool known = false;
  for (const ModelName& row : kModelNames)
    if (model == row.name) device.model = row.model, device.description = row.description, known = true;
  if (!known) Fail("unknown device model \"" + model + "\"");
  device.description = j.value("description", device.description);
  device.serial = j.value("serial", "SIM" + std::to_string(index));
  if (j.contains("signal"))
    for (const auto& [channel, level] : j.at("signal").items()) device.signal[std::stoi(channel)] = level.get<double>();
  device.replyStrayBytes = j.value("reply_stray_bytes", 0);
  device.lockPolls = j.value("lock_polls", 1);
  device.queueBytes = j.value("queue_bytes", device.queueBytes);
  device.deliveryLog = Resolve(j.value("delivery_log", std::string()), base);
  if (device.replyStrayBytes < 0 || device.replyStrayBytes > 4096) Fail("reply_stray_bytes must be 0..4096");
  if (device.queueBytes < 4096) Fail("queue_bytes must be at least 4096");
  if (j.contains("faults"))
    for (const json& fault : j.at("faults")) device.faults.push_back(ParseFault(fault));
  return device;
}

StationConfig ParseStation(const json& j, const std::string& base) {
  StationConfig station;
  station.channel = j.at("channel").get<int>();
  station.stream = Resolve(j.at("stream").get<std::string>(), base);
  station.signal = j.value("signal", station.signal);
  station.bitrate = j.value("bitrate", 0.0);
  if (station.channel < 13 || station.channel > 62) Fail("station channel must be 13..62");
  if (station.bitrate < 0) Fail("bitrate must not be negative");
  return station;
}

}  // namespace

bool ParseSimConfig(const std::string& text, const std::string& baseFolder, SimConfig& config, std::string& error) {
  try {
    const json j = json::parse(text);
    SimConfig parsed;
    parsed.speed = j.value("speed", 1.0);
    if (!(parsed.speed > 0 && parsed.speed <= 100000)) Fail("speed must be above 0");
    parsed.start = j.value("start", std::string());
    if (j.contains("stations"))
      for (const json& station : j.at("stations")) parsed.stations.push_back(ParseStation(station, baseFolder));
    if (j.contains("devices"))
      for (const json& device : j.at("devices"))
        parsed.devices.push_back(ParseDevice(device, baseFolder, parsed.devices.size()));
    config = std::move(parsed);
    return true;
  } catch (const std::exception& e) {
    error = std::string("simulated tuners: ") + e.what();
    return false;
  }
}

bool LoadSimConfig(const std::string& file, SimConfig& config, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "simulated tuners: cannot read " + file;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseSimConfig(text.str(), std::filesystem::path(file).parent_path().string(), config, error);
}

}  // namespace oneseg::sim
