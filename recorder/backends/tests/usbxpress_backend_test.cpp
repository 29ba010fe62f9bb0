// The USBXpress back ends against the simulated tuner firmware.
#include <gtest/gtest.h>

#include <algorithm>

#include "devices.h"
#include "frame_layer.h"
#include "test_streams.h"
#include "usb_device.h"
#include "usbxpress_backend.h"
#include "usbxpress_tables.h"

namespace brannock {
namespace {

using oneseg::sim::Frame;
using oneseg::sim::UsbDevice;
using oneseg::sim::testing::Rig;
using oneseg::sim::testing::SimpleStream;
using oneseg::sim::testing::TempDir;

std::string Config(const std::string& deviceFields, const std::string& stationFields = "") {
  return R"({"start": "2008-12-06 14:35:00", "stations": [
      {"channel": 13, "stream": "s.ts", "bitrate": 150400)" + stationFields + R"(},
      {"channel": 21, "stream": "s.ts", "bitrate": 150400)" + stationFields + R"(},
      {"channel": 27, "stream": "s.ts", "bitrate": 150400)" + stationFields + R"(},
      {"channel": 62, "stream": "s.ts", "bitrate": 150400)" + stationFields + R"(}],
    "devices": [{)" + deviceFields + "}]}";
}

class UsbXpressBackendTest : public ::testing::Test {
 protected:
  void Build(const std::string& deviceFields, const std::string& stationFields = "") {
    dir_.Write("s.ts", SimpleStream(100, 10, {2008, 12, 6, 0, 0, 0}));
    rig_ = std::make_unique<Rig>(Config(deviceFields, stationFields), dir_);
    ops_ = MakeTunerOperations(*rig_->usb, *rig_->driver, rig_->clock);
    tuner_.Param = TUSBXPressParam{};
    tuner_.Kind = rig_->hw->usbDevices()[0]->config().model == oneseg::sim::DeviceModel::Mini ? UsbXpressMini
                                                                                                : UsbXpressA;
    tuner_.UnitSize = tuner_.Kind == UsbXpressMini ? 196 : 197;
  }
  UsbDevice& device() { return *rig_->hw->usbDevices()[0]; }
  const std::vector<Frame>& frames() { return device().frames(); }
  FrameLayer Frames() { return FrameLayer(*rig_->usb, rig_->clock, tuner_.UsbParam()->DeviceHandle); }
  void OpenAndBoot() {
    ASSERT_EQ(0, ops_->Tuner_Initialize(tuner_));
    ASSERT_EQ(0, ops_->Bootup(tuner_));
    device().ClearFrames();
  }
  // Values written to `address`, in order.
  std::vector<std::uint8_t> Written(std::uint16_t address) {
    std::vector<std::uint8_t> values;
    for (const Frame& f : frames())
      if (f[0] == 0x00 && (f[1] << 8 | f[2]) == address) values.push_back(f[3]);
    return values;
  }
  int Count(std::uint8_t code, int address = -1) {
    return static_cast<int>(std::count_if(frames().begin(), frames().end(), [&](const Frame& f) {
      return f[0] == code && (address < 0 || (f[1] << 8 | f[2]) == address);
    }));
  }

  TempDir dir_;
  std::unique_ptr<Rig> rig_;
  std::unique_ptr<TunerOperations> ops_;
  TOneSegTuner tuner_;
};

TEST(GainSteps, WrapInEightBits) {
  EXPECT_EQ(0x10, LowerStep(0x30));
  EXPECT_EQ(0xF0, LowerStep(0x10));
  EXPECT_EQ(0x50, LowerStep(0x70));
  EXPECT_EQ(0xD0, RaiseStep(0xB0));
  EXPECT_EQ(0x10, RaiseStep(0xF0));
}

TEST(ChannelTables, BoundariesAndCompleteBootTables) {
  EXPECT_EQ(0x88, StartGain(13));
  EXPECT_EQ(0x8F, StartGain(29));
  EXPECT_EQ(0x86, StartGain(30));
  EXPECT_EQ(0x8A, StartGain(40));
  EXPECT_EQ(0x8B, StartGain(41));
  EXPECT_EQ(0x89, StartGain(61));
  EXPECT_EQ(0x8A, StartGain(62));
  EXPECT_EQ(0x30, StartStep(29));
  EXPECT_EQ(0x70, StartStep(30));
  EXPECT_EQ(0x70, StartStep(52));
  EXPECT_EQ(0xB0, StartStep(53));
  EXPECT_EQ(0x8C, BandByte(20));
  EXPECT_EQ(0x94, BandByte(21));
  // A table typed short would end in zero-filled entries.
  ASSERT_EQ(68u, BootTable1().size());
  EXPECT_EQ(0x21, BootTable1()[66]);
  EXPECT_EQ(0x02, BootTable1()[67]);
  for (auto table : {BootTable2(), BootTable3(), BootTable4()})
    for (const RegisterValue& rv : table) EXPECT_NE(0, rv.address);
  EXPECT_EQ(0x1A3, BootTable4().back().address);
  EXPECT_EQ(0x48, BootTable4().back().value);
  EXPECT_EQ(0x001, BootTable2().back().address);
}

TEST_F(UsbXpressBackendTest, InitializeOpensFlushesAndMapsEveryFailureToFive) {
  Build(R"("model": "A", "faults": [{"type": "open_fail", "at": 10, "duration": 5}])");
  EXPECT_EQ(0, ops_->Tuner_Initialize(tuner_));
  EXPECT_NE(0u, tuner_.UsbParam()->DeviceHandle);
  EXPECT_EQ(500u, rig_->hw->readTimeoutMs);
  EXPECT_EQ(0, ops_->CloseDevice(tuner_));
  EXPECT_EQ(0u, tuner_.UsbParam()->DeviceHandle);
  rig_->clock.Advance(11);
  EXPECT_EQ(5, ops_->Tuner_Initialize(tuner_));
  rig_->clock.Advance(5);
  tuner_.UsbParam()->DeviceNumber = 3;  // no such device
  EXPECT_EQ(5, ops_->Tuner_Initialize(tuner_));
}

TEST_F(UsbXpressBackendTest, RegisterReadFindsMarkerBehindStrayBytes) {
  Build(R"("model": "A", "reply_stray_bytes": 1000)");
  ASSERT_EQ(0, ops_->Tuner_Initialize(tuner_));
  FrameLayer frames = Frames();
  ASSERT_EQ(0, frames.WriteRegister(0x17F, 0x5C));
  std::uint8_t value = 0;
  const long long before = rig_->clock.sleptMs();
  EXPECT_EQ(0, frames.ReadRegister(0x17F, value));
  EXPECT_EQ(0x5C, value);
  EXPECT_EQ(60, rig_->clock.sleptMs() - before);
  EXPECT_EQ(0u, rig_->hw->usbDevices()[0]->Waiting());
}

TEST_F(UsbXpressBackendTest, MarkerBeyond1024BytesGivesReplyMismatch) {
  Build(R"("model": "A", "reply_stray_bytes": 1100)");
  ASSERT_EQ(0, ops_->Tuner_Initialize(tuner_));
  std::uint8_t value = 0;
  EXPECT_EQ(2, Frames().ReadRegister(0x17F, value));
}

TEST_F(UsbXpressBackendTest, WrongEchoOrGarbledReplyGivesTwoAndShortWriteGivesFour) {
  Build(R"("model": "Mini", "faults": [{"type": "wrong_echo", "at": 0, "duration": 1},
                                     {"type": "garbled_reply", "at": 2, "duration": 1},
                                     {"type": "short_write", "at": 4, "duration": 1}])");
  ASSERT_EQ(0, ops_->Tuner_Initialize(tuner_));
  std::uint8_t value = 0;
  EXPECT_EQ(2, Frames().ReadRegister(0x170, value));
  rig_->clock.Advance(2.5);
  EXPECT_EQ(2, Frames().Identify(value));
  EXPECT_EQ(2, ops_->Bootup(tuner_));  // the identify command fails first
  rig_->clock.Advance(2);
  EXPECT_EQ(4, Frames().WriteRegister(0x175, 0x89));
  EXPECT_EQ(4, ops_->Bootup(tuner_));
  EXPECT_EQ(4, ops_->SetChannel(tuner_, 27));
}

TEST_F(UsbXpressBackendTest, FramesOnAClosedDeviceGiveFourAfterTheirWaits) {
  Build(R"("model": "A")");
  std::uint8_t value = 0;
  EXPECT_EQ(4, Frames().WriteRegister(0x175, 0x89));
  EXPECT_EQ(7, rig_->clock.sleptMs());
  EXPECT_EQ(4, Frames().ReadRegister(0x170, value));
  EXPECT_EQ(57, rig_->clock.sleptMs());
  // StopStream on a closed device fails at once, without its 100 ms wait.
  EXPECT_NE(0, ops_->StopStream(tuner_));
  EXPECT_EQ(57, rig_->clock.sleptMs());
  EXPECT_EQ(4, ops_->Bootup(tuner_));
}

TEST_F(UsbXpressBackendTest, MissingReplyPassesTheLibraryTimeoutOn) {
  Build(R"("model": "other", "description": "PCTV-hiwasa")");  // firmware that never answers
  ASSERT_EQ(0, ops_->Tuner_Initialize(tuner_));
  std::uint8_t value = 0;
  EXPECT_EQ(SI_READ_TIMED_OUT, Frames().ReadRegister(0x170, value));
}

TEST_F(UsbXpressBackendTest, Kind0BootWritesTablesInOrderWithItsWaits) {
  Build(R"("model": "A")");
  ASSERT_EQ(0, ops_->Tuner_Initialize(tuner_));
  const long long before = rig_->clock.sleptMs();
  ASSERT_EQ(0, ops_->Bootup(tuner_));
  ASSERT_EQ(105u, frames().size());  // 68 + 2 + read + 1 + read + 26 + 6
  for (int i = 0; i < 68; ++i) {
    EXPECT_EQ(0x00, frames()[i][0]);
    EXPECT_EQ(0x173 + i, frames()[i][1] << 8 | frames()[i][2]);
    EXPECT_EQ(BootTable1()[i], frames()[i][3]);
  }
  EXPECT_EQ((Frame{0x01, 0x01, 0x7F, 0xFF, 0xFF}), frames()[70]);
  EXPECT_EQ((Frame{0x00, 0x01, 0x7F, 0x70, 0x00}), frames()[71]);
  EXPECT_EQ((Frame{0x01, 0x01, 0x68, 0xFF, 0xFF}), frames()[72]);
  EXPECT_EQ((Frame{0x00, 0x00, 0x01, 0x02, 0x00}), frames()[98]);
  EXPECT_EQ((Frame{0x00, 0x01, 0x7D, 0x14, 0x00}), frames()[104]);
  EXPECT_EQ(103 * 7 + 2 * 60 + 90, rig_->clock.sleptMs() - before);
}

TEST_F(UsbXpressBackendTest, Kind1BootIdentifiesThenWritesTable4) {
  Build(R"("model": "Mini")");
  ASSERT_EQ(0, ops_->Tuner_Initialize(tuner_));
  ASSERT_EQ(0, ops_->Bootup(tuner_));
  ASSERT_EQ(181u, frames().size());  // identify + 164 + 10 + 3 reads + 3 writes
  EXPECT_EQ((Frame{0x06, 0, 0, 0, 0}), frames()[0]);
  EXPECT_EQ((Frame{0x00, 0x00, 0x01, 0x40, 0x00}), frames()[1]);
  EXPECT_EQ((Frame{0x00, 0x01, 0xA3, 0x48, 0x00}), frames()[164]);
  EXPECT_EQ((Frame{0x00, 0x01, 0x83, 0x09, 0x00}), frames()[174]);
  EXPECT_EQ((Frame{0x00, 0x01, 0x74, 0x80, 0x00}), frames()[180]);
  EXPECT_EQ(0x80, device().Register(0x174));
}

TEST_F(UsbXpressBackendTest, Kind0Channels13And62WriteTheSynthesiser) {
  Build(R"("model": "A")");
  OpenAndBoot();
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 13));
  EXPECT_EQ(std::vector<std::uint8_t>{0x1D}, Written(0x184));
  EXPECT_EQ(std::vector<std::uint8_t>{0x09}, Written(0x188));
  EXPECT_EQ(std::vector<std::uint8_t>{0x8C}, Written(0x185));
  EXPECT_EQ(13, device().TunedChannel());
  ASSERT_EQ(0, ops_->StopStream(tuner_));
  device().ClearFrames();
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 62));
  EXPECT_EQ(std::vector<std::uint8_t>{0x2F}, Written(0x184));
  EXPECT_EQ(std::vector<std::uint8_t>{0x0F}, Written(0x188));
  EXPECT_EQ(std::vector<std::uint8_t>{0x94}, Written(0x185));
  EXPECT_EQ((std::vector<std::uint8_t>{0x0B, 0x09}), Written(0x183));
  EXPECT_EQ(62, device().TunedChannel());
  EXPECT_EQ((Frame{0x02, 0, 0, 0, 0}), frames().back());
}

TEST_F(UsbXpressBackendTest, Kind1Channels13And62WriteTheSynthesiser) {
  Build(R"("model": "Mini")");
  OpenAndBoot();
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 13));
  EXPECT_EQ(std::vector<std::uint8_t>{0x1A}, Written(0x184));
  EXPECT_EQ(std::vector<std::uint8_t>{0x18}, Written(0x186));
  EXPECT_EQ(std::vector<std::uint8_t>{0x04}, Written(0x187));
  EXPECT_EQ(std::vector<std::uint8_t>{0x05}, Written(0x188));
  EXPECT_EQ(std::vector<std::uint8_t>{0x70}, Written(0x17A));
  ASSERT_EQ(0, ops_->StopStream(tuner_));
  device().ClearFrames();
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 62));
  EXPECT_EQ(std::vector<std::uint8_t>{0x2A}, Written(0x184));
  EXPECT_EQ(std::vector<std::uint8_t>{0x6E}, Written(0x186));
  EXPECT_EQ(std::vector<std::uint8_t>{0x59}, Written(0x187));
  EXPECT_EQ(std::vector<std::uint8_t>{0x0A}, Written(0x188));
  EXPECT_EQ(std::vector<std::uint8_t>{0xFB}, Written(0x17A));
  EXPECT_EQ(62, device().TunedChannel());
  EXPECT_EQ((Frame{0x02, 0, 0, 0, 0}), frames().back());
}

TEST_F(UsbXpressBackendTest, Kind1Channels21And40TakeTheMiddleBandBlock) {
  Build(R"("model": "Mini")");
  OpenAndBoot();
  for (int channel : {21, 40}) {
    ASSERT_EQ(0, ops_->StopStream(tuner_));
    device().ClearFrames();
    ASSERT_EQ(0, ops_->SetChannel(tuner_, channel));
    EXPECT_EQ((std::vector<std::uint8_t>{0x73, 0xC6, 0x77, 0xDC}),
              (std::vector<std::uint8_t>{Written(0x17A)[0], Written(0x17B)[0], Written(0x17C)[0], Written(0x17D)[0]}));
  }
}

TEST_F(UsbXpressBackendTest, Kind1ChecksRegister0B0WhenTheDemodulatorReportsState) {
  Build(R"("model": "Mini")");
  OpenAndBoot();
  ASSERT_EQ(0, Frames().WriteRegister(0x080, 0x30));
  ASSERT_EQ(0, Frames().WriteRegister(0x0B0, 0x01));
  device().ClearFrames();
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 27));
  // After the gain loop: 0x169 read, 0x047, 0x001, 0x080 read, 0x0B0 read, 0x001 again, 0x080, 0x0B0, start.
  const std::vector<Frame> tail(frames().end() - 9, frames().end());
  EXPECT_EQ((Frame{0x01, 0x01, 0x69, 0xFF, 0xFF}), tail[0]);
  EXPECT_EQ((Frame{0x00, 0x00, 0x01, 0x40, 0x00}), tail[2]);
  EXPECT_EQ((Frame{0x01, 0x00, 0xB0, 0xFF, 0xFF}), tail[4]);
  EXPECT_EQ((Frame{0x00, 0x00, 0x01, 0x40, 0x00}), tail[5]);
  EXPECT_EQ((Frame{0x01, 0x00, 0x80, 0xFF, 0xFF}), tail[6]);
  EXPECT_EQ((Frame{0x02, 0, 0, 0, 0}), tail[8]);
}

TEST_F(UsbXpressBackendTest, StrongStationSettlesAtOnce) {
  Build(R"("model": "A")");
  OpenAndBoot();
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 27));
  EXPECT_EQ(1, Count(0x01, 0x170));
  EXPECT_EQ(std::vector<std::uint8_t>{0x8E}, Written(0x175));
}

TEST_F(UsbXpressBackendTest, WeakStationEndsGainLoopAfterTenIterationsAndStillStarts) {
  for (const char* model : {"A", "Mini"}) {
    SCOPED_TRACE(model);
    Build(std::string(R"("model": ")") + model + R"(", "signal": {"13": -20})");
    OpenAndBoot();
    ASSERT_EQ(0, ops_->SetChannel(tuner_, 13));
    EXPECT_EQ(10, Count(0x01, 0x170));
    // Gain falls from 0x88 by one per iteration; below 0x86 the step falls as well, wrapping.
    EXPECT_EQ((std::vector<std::uint8_t>{0x88, 0x87, 0x86, 0x85, 0x84, 0x83, 0x82, 0x81, 0x80, 0x7F}),
              Written(0x175));
    EXPECT_EQ((std::vector<std::uint8_t>{0x30, 0x30, 0x30, 0x10, 0xF0, 0xD0, 0xB0, 0x90, 0x70, 0x50}),
              Written(0x182));
    // The full block goes out whenever the step changed: at the start and from the fourth iteration on.
    EXPECT_EQ(8u, Written(0x184).size());
    EXPECT_EQ((Frame{0x02, 0, 0, 0, 0}), frames().back());
  }
}

TEST_F(UsbXpressBackendTest, LoudStationRaisesGainAndStepWithoutResettingGain) {
  Build(R"("model": "A", "signal": {"13": 18})");
  OpenAndBoot();
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 13));
  const auto gains = Written(0x175);
  const auto steps = Written(0x182);
  ASSERT_GE(gains.size(), 9u);
  EXPECT_EQ(0x88, gains[0]);
  EXPECT_EQ(0x90, gains[8]);  // above 0x8F: the step rises, the gain is kept
  EXPECT_EQ(0x30, steps[7]);
  EXPECT_EQ(0x50, steps[8]);
  EXPECT_GE(device().Level(), 3);
  EXPECT_LE(device().Level(), 12);
}

TEST_F(UsbXpressBackendTest, ChannelOutOfRangeGivesSixAndSendsNothing) {
  Build(R"("model": "Mini")");
  OpenAndBoot();
  EXPECT_EQ(6, ops_->SetChannel(tuner_, 12));
  EXPECT_EQ(6, ops_->SetChannel(tuner_, 63));
  EXPECT_EQ(6, ops_->SetChannel(tuner_, -1));
  EXPECT_TRUE(frames().empty());
}

TEST_F(UsbXpressBackendTest, StreamUnitsFollowTheClockAndStopStreamFlushes) {
  Build(R"("model": "A")");
  OpenAndBoot();
  ASSERT_EQ(0, ops_->SetChannel(tuner_, 27));
  rig_->clock.Advance(1.0);  // 150400 bit/s = 100 packets a second
  std::uint32_t waiting = 0;
  ASSERT_EQ(0, ops_->CheckRxQueue(tuner_, waiting));
  EXPECT_NEAR(100 * 197, waiting, 2 * 197);
  std::vector<std::uint8_t> buffer(waiting);
  std::uint32_t read = 0;
  ASSERT_EQ(0, ops_->ReadStream(tuner_, buffer.data(), waiting, read));
  ASSERT_EQ(waiting, read);
  for (std::size_t at = 0; at + 197 <= read; at += 197) EXPECT_EQ(0x47, buffer[at]);
  rig_->clock.Advance(1.0);
  const long long before = rig_->clock.sleptMs();
  EXPECT_EQ(0, ops_->StopStream(tuner_));
  EXPECT_EQ(100, rig_->clock.sleptMs() - before);
  ASSERT_EQ(0, ops_->CheckRxQueue(tuner_, waiting));
  EXPECT_EQ(0u, waiting);
  rig_->clock.Advance(1.0);
  ASSERT_EQ(0, ops_->CheckRxQueue(tuner_, waiting));
  EXPECT_EQ(0u, waiting);
}

TEST_F(UsbXpressBackendTest, KindsOutsideTheOperationSetGiveSix) {
  Build(R"("model": "A")");
  tuner_.Kind = UnknownKind;
  EXPECT_EQ(6, ops_->Tuner_Initialize(tuner_));
  tuner_.Kind = UsbXpressA;
  tuner_.Param = TEZUSBParam{};
  EXPECT_EQ(6, ops_->Bootup(tuner_));
  std::uint32_t waiting = 99;
  EXPECT_EQ(6, ops_->CheckRxQueue(tuner_, waiting));
  EXPECT_EQ(0u, waiting);
}

}  // namespace
}  // namespace brannock
