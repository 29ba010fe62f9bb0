// The ISDBT driver back end against the simulated EZ-USB tuner.
#include <gtest/gtest.h>

#include "devices.h"
#include "driver_backend.h"
#include "driver_device.h"
#include "test_streams.h"

namespace brannock {
namespace {

using oneseg::sim::DriverBlock;
using oneseg::sim::testing::Rig;
using oneseg::sim::testing::SimpleStream;
using oneseg::sim::testing::TempDir;

class DriverBackendTest : public ::testing::Test {
 protected:
  void Build(const std::string& deviceFields) {
    dir_.Write("s.ts", SimpleStream(20, 10, {2008, 12, 6, 0, 0, 0}));
    rig_ = std::make_unique<Rig>(R"({"stations": [{"channel": 13, "stream": "s.ts"}, {"channel": 62, "stream": "s.ts"}],
                                     "devices": [{"model": "driver")" + deviceFields + "}]}",
                                 dir_);
    ops_ = MakeTunerOperations(*rig_->usb, *rig_->driver, rig_->clock);
    tuner_.Kind = IsdbtDriverKind;
    tuner_.Param = TEZUSBParam{};
    tuner_.UnitSize = 188;
  }
  oneseg::sim::DriverDevice& device() { return *rig_->hw->driverDevice(); }
  void OpenAndBoot() {
    ASSERT_EQ(0, ops_->Tuner_Initialize(tuner_));
    ASSERT_EQ(0, ops_->Bootup(tuner_));
  }
  std::vector<std::uint8_t> Codes() {
    std::vector<std::uint8_t> codes;
    for (const DriverBlock& b : device().blocks()) codes.push_back(b[0]);
    return codes;
  }

  TempDir dir_;
  std::unique_ptr<Rig> rig_;
  std::unique_ptr<TunerOperations> ops_;
  TOneSegTuner tuner_;
};

TEST(ChannelFrequency, CentreFrequenciesInKHz) {
  EXPECT_EQ(473143u, ChannelFrequencyKHz(13));
  EXPECT_EQ(767143u, ChannelFrequencyKHz(62));
}

TEST_F(DriverBackendTest, BootSendsBothPairsAndTuningSendsTheFrequencyBlocks) {
  Build("");
  ASSERT_EQ(0, ops_->Tuner_Initialize(tuner_));
  const long long before = rig_->clock.sleptMs();
  ASSERT_EQ(0, ops_->Bootup(tuner_));
  EXPECT_EQ(20, rig_->clock.sleptMs() - before);
  EXPECT_EQ((std::vector<std::uint8_t>{0x9F, 0x43}), Codes());
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 13));
  EXPECT_EQ((DriverBlock{0x10, 0x04, 0x00, 0x07, 0x38, 0x37, 0, 0, 0, 0}), device().blocks()[2]);
  EXPECT_EQ(13, device().TunedChannel());
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 62));
  EXPECT_EQ((DriverBlock{0x10, 0x04, 0x00, 0x0B, 0xB4, 0xA7, 0, 0, 0, 0}), device().blocks()[5]);
  EXPECT_EQ((DriverBlock{0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0}), device().blocks()[6]);
  EXPECT_EQ((DriverBlock{0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0}), device().blocks()[7]);
  EXPECT_EQ(62, device().TunedChannel());
  EXPECT_TRUE(device().streaming());
}

TEST_F(DriverBackendTest, LockOnTheThirdPollAfterTwoWaits) {
  Build(R"(, "lock_polls": 3)");
  OpenAndBoot();
  const long long before = rig_->clock.sleptMs();
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 13));
  EXPECT_EQ(200, rig_->clock.sleptMs() - before);
  EXPECT_EQ((std::vector<std::uint8_t>{0x9F, 0x43, 0x10, 0x11, 0x11, 0x11, 0x20}), Codes());
}

TEST_F(DriverBackendTest, NoLockInSixPollsGivesSixWithoutStart) {
  Build(R"(, "signal": {"13": 0})");
  OpenAndBoot();
  const long long before = rig_->clock.sleptMs();
  EXPECT_EQ(6, ops_->SetChannel(tuner_, 13));
  EXPECT_EQ(600, rig_->clock.sleptMs() - before);
  EXPECT_EQ((std::vector<std::uint8_t>{0x9F, 0x43, 0x10, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11}), Codes());
  // A channel outside the band is sent all the same; nothing answers it.
  EXPECT_EQ(6, ops_->SetChannel(tuner_, -1));
  EXPECT_EQ(-1, device().TunedChannel());
}

TEST_F(DriverBackendTest, RefusedRequestsAndClosedDeviceGiveSix) {
  Build(R"(, "faults": [{"type": "short_write", "at": 1, "duration": 1}, {"type": "open_fail", "at": 3, "duration": 1}])");
  EXPECT_EQ(6, ops_->Bootup(tuner_));
  EXPECT_EQ(6, ops_->SetChannel(tuner_, 13));
  EXPECT_EQ(6, ops_->StopStream(tuner_));
  ASSERT_EQ(0, ops_->Tuner_Initialize(tuner_));
  rig_->clock.Advance(1);
  const long long before = rig_->clock.sleptMs();
  EXPECT_EQ(6, ops_->Bootup(tuner_));  // both pairs are tried
  EXPECT_EQ(20, rig_->clock.sleptMs() - before);
  EXPECT_EQ(6, ops_->StopStream(tuner_));
  EXPECT_EQ(0, ops_->CloseDevice(tuner_));
  EXPECT_EQ(0u, tuner_.EzParam()->DeviceHandle);
  rig_->clock.Advance(2);
  EXPECT_EQ(6, ops_->Tuner_Initialize(tuner_));
  EXPECT_EQ(0u, tuner_.EzParam()->DeviceHandle);
  EXPECT_TRUE(rig_->driver->Probe());  // present, just not openable
}

TEST_F(DriverBackendTest, StreamPathReportsNothing) {
  Build("");
  OpenAndBoot();
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 13));
  rig_->clock.Advance(5);
  std::uint32_t waiting = 77, read = 77;
  std::uint8_t buffer[188];
  EXPECT_EQ(0, ops_->CheckRxQueue(tuner_, waiting));
  EXPECT_EQ(0u, waiting);
  EXPECT_EQ(0, ops_->ReadStream(tuner_, buffer, sizeof buffer, read));
  EXPECT_EQ(0u, read);
  const long long before = rig_->clock.sleptMs();
  EXPECT_EQ(0, ops_->StopStream(tuner_));
  EXPECT_EQ(10, rig_->clock.sleptMs() - before);
  EXPECT_FALSE(device().streaming());
}

}  // namespace
}  // namespace brannock
