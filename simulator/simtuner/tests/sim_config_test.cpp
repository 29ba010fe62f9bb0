#include <gtest/gtest.h>

#include <filesystem>

#include "devices.h"
#include "manual_clock.h"
#include "sim_config.h"
#include "sim_hardware.h"

namespace oneseg::sim {
namespace {

TEST(SimConfig, ExampleFileDescribesEveryKindOfDevice) {
  SimConfig config;
  std::string error;
  ASSERT_TRUE(LoadSimConfig(std::string(ONESEG_SIMTUNER_DIR) + "/example.json", config, error)) << error;
  ASSERT_EQ(2u, config.stations.size());
  EXPECT_EQ(std::filesystem::path(ONESEG_SIMTUNER_DIR) / "ch27.ts", std::filesystem::path(config.stations[0].stream));
  EXPECT_EQ(416000, config.stations[1].bitrate);
  EXPECT_EQ(0, config.stations[0].bitrate);  // derived from the stream
  ASSERT_EQ(4u, config.devices.size());
  EXPECT_EQ(DeviceModel::A, config.devices[0].model);
  EXPECT_EQ("PCTV-hiwasa OneSeg", config.devices[0].description);
  EXPECT_EQ(DeviceModel::Mini, config.devices[1].model);
  EXPECT_NE(std::string::npos, config.devices[1].description.find("Mini"));
  EXPECT_EQ("M0001&2\\3", config.devices[1].serial);
  EXPECT_EQ(7, config.devices[1].signal.at(22));
  ASSERT_EQ(2u, config.devices[1].faults.size());
  EXPECT_EQ(FaultType::SignalLoss, config.devices[1].faults[1].type);
  EXPECT_EQ(300, config.devices[1].faults[1].at);
  EXPECT_EQ(DeviceModel::Other, config.devices[2].model);
  EXPECT_EQ(std::string::npos, config.devices[2].description.find("PCTV-hiwasa"));
  EXPECT_EQ(DeviceModel::Driver, config.devices[3].model);
  EXPECT_EQ(2, config.devices[3].lockPolls);
}

TEST(SimConfig, BadDescriptionsGiveOneLineMessages) {
  const char* bad[] = {
      "{",                                                         // not JSON
      R"({"speed": 0})",                                           // no time would pass
      R"({"stations": [{"channel": 12, "stream": "a.ts"}]})",      // outside UHF 13..62
      R"({"stations": [{"channel": 20}]})",                        // no stream
      R"({"devices": [{"model": "B"}]})",                          // unknown model
      R"({"devices": [{"faults": [{"type": "meteor"}]}]})",        // unknown fault
      R"({"devices": [{"queue_bytes": 10}]})",                     // queue too small
      R"({"devices": [{"faults": [{"type": "vanish", "at": -1}]}]})",
  };
  for (const char* text : bad) {
    SimConfig config;
    std::string error;
    EXPECT_FALSE(ParseSimConfig(text, "/tmp", config, error)) << text;
    EXPECT_EQ(0u, error.find("simulated tuners: ")) << error;
    EXPECT_EQ(std::string::npos, error.find('\n')) << error;
  }
  // Wrong types and keys name the field and its place, never a bare library word.
  const std::pair<const char*, const char*> placed[] = {
      {R"({"devices": [{}, {"signal": {"abc": 3}}]})", "devices[1].signal.\"abc\": expected a channel number"},
      {R"({"devices": [{"signal": {"27": "x"}}]})", "devices[0].signal.\"27\": expected a number"},
      {R"({"devices": [{"queue_bytes": "big"}]})", "devices[0].queue_bytes: expected an integer"},
      {R"({"stations": [{"channel": 27, "stream": 5}]})", "stations[0].stream: expected a string"},
      {R"({"devices": [{"faults": [{"type": "time_jump", "offset": "soon"}]}]})",
       "devices[0].faults[0].offset: expected a number"},
      {R"({"speed": "fast"})", "speed: expected a number"},
  };
  for (const auto& [text, message] : placed) {
    SimConfig config;
    std::string error;
    EXPECT_FALSE(ParseSimConfig(text, "/tmp", config, error)) << text;
    EXPECT_NE(std::string::npos, error.find(message)) << error;
  }
}

TEST(SimConfig, OpeningAMissingOrUnusableDescriptionYieldsNoDevices) {
  ManualClock clock;
  std::string error;
  brannock::DeviceAccess access = brannock::OpenSimulatedDevices("/nonexistent/sim.json", clock, error);
  EXPECT_FALSE(access.usb);
  EXPECT_FALSE(access.driver);
  EXPECT_NE(std::string::npos, error.find("/nonexistent/sim.json"));
  // The example's streams are not committed: opening it names the missing stream.
  error.clear();
  access = brannock::OpenSimulatedDevices(std::string(ONESEG_SIMTUNER_DIR) + "/example.json", clock, error);
  EXPECT_FALSE(access.usb);
  EXPECT_NE(std::string::npos, error.find("ch27.ts"));
  // A folder where a file belongs is refused with its name, as description and as stream.
  const std::string folder = std::filesystem::temp_directory_path().string();
  error.clear();
  access = brannock::OpenSimulatedDevices(folder, clock, error);
  EXPECT_FALSE(access.usb);
  EXPECT_NE(std::string::npos, error.find(folder + ": not a regular file")) << error;
  SimConfig config;
  ASSERT_TRUE(ParseSimConfig(R"({"stations": [{"channel": 27, "stream": "."}]})", folder, config, error)) << error;
  error.clear();
  EXPECT_FALSE(SimHardware::Create(config, clock, error));
  EXPECT_NE(std::string::npos, error.find("not a regular file")) << error;
}

}  // namespace
}  // namespace oneseg::sim
