// The supervisor: open and boot steps, the one-step-per-tick rule, the
// watchdog and the channel change.
#include <gtest/gtest.h>

#include "engine_fakes.h"
#include "ini.h"

namespace brannock::test {
namespace {

TEST(Supervisor, OpenAndBootTakeOneTickEach) {
  EngineRig rig;
  oneseg::ini_write_string(rig.ConfigPath(), "TunerA", "Channel", "27");
  rig.usb.devices = {{"PCTV-hiwasa", "A"}};
  rig.engine.ScanTuners();
  TOneSegTuner& tuner = *rig.engine.Tuners[0];
  rig.engine.ProbeTimerTimer();
  EXPECT_EQ(tuner.State, InterfaceOpen);
  EXPECT_EQ(tuner.Status, "チューナ初期化");
  rig.clock.now = 40000.5;
  rig.engine.ProbeTimerTimer();
  EXPECT_EQ(tuner.State, Streaming);
  EXPECT_EQ(tuner.Status, "初期化完了");
  EXPECT_EQ(tuner.LastTimeStamp, 40000.5);
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Init A", "Stop A", "Bootup A", "SetChannel A 27"}));
}

TEST(Supervisor, TunerWithoutChannelBootsWithoutTuning) {
  EngineRig rig;
  TOneSegTuner& tuner = rig.StreamingTuner("A", -1);
  EXPECT_EQ(tuner.Status, "初期化完了");
  EXPECT_EQ(tuner.State, Streaming);
  EXPECT_EQ(rig.ops.Count("SetChannel A -1"), 0);
}

TEST(Supervisor, FailuresShowTheOperationAndCodeAndRetry) {
  EngineRig rig;
  rig.ops.scripts["A"].initResult = 5;
  oneseg::ini_write_string(rig.ConfigPath(), "TunerA", "Channel", "27");
  rig.usb.devices = {{"PCTV-hiwasa", "A"}};
  rig.engine.ScanTuners();
  TOneSegTuner& tuner = *rig.engine.Tuners[0];
  rig.engine.ProbeTimerTimer();
  EXPECT_EQ(tuner.Status, "Error:Tuner_Initialize(05)");
  EXPECT_EQ(tuner.State, NotInitialized);
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Init A", "Stop A", "Close A"}));
  EXPECT_EQ(rig.clock.sleptMs, 400);

  rig.ops.scripts["A"].initResult = 0;
  rig.ops.scripts["A"].bootResult = 0x2;
  rig.engine.ProbeTimerTimer();
  rig.engine.ProbeTimerTimer();
  EXPECT_EQ(tuner.Status, "Error:Bootup(02)");
  EXPECT_EQ(tuner.State, NotInitialized);

  rig.ops.scripts["A"].bootResult = 0;
  rig.ops.scripts["A"].setChannelResult = 0xAB;
  rig.engine.ProbeTimerTimer();
  rig.engine.ProbeTimerTimer();
  EXPECT_EQ(tuner.Status, "Error:SetChannel(AB)");
  EXPECT_EQ(tuner.State, NotInitialized);
  EXPECT_EQ(rig.ops.calls.back(), "Close A");
}

TEST(Supervisor, FailingTunersTakeTurnsWithTheOthers) {
  EngineRig rig;
  // A hand-edited channel the device refuses: every boot of A fails.
  for (const char* id : {"A", "B", "C"}) oneseg::ini_write_string(rig.ConfigPath(), std::string("Tuner") + id, "Channel", "27");
  rig.ops.scripts["A"].setChannelResult = 6;
  rig.usb.devices = {{"PCTV-hiwasa", "A"}, {"PCTV-hiwasa", "B"}, {"PCTV-hiwasa", "C"}};
  for (int tick = 0; tick < 6; ++tick) rig.engine.ProbeTimerTimer();
  EXPECT_EQ(rig.engine.Tuners[1]->State, Streaming);
  EXPECT_EQ(rig.engine.Tuners[2]->State, Streaming);
  EXPECT_EQ(rig.engine.Tuners[0]->Status, "Error:SetChannel(06)");
  EXPECT_EQ(rig.ops.Count("Bootup A"), 1);
  // The others need nothing: A alone is served, once per tick.
  rig.engine.ProbeTimerTimer();
  rig.engine.ProbeTimerTimer();
  EXPECT_EQ(rig.ops.Count("Init A"), 2);
  EXPECT_EQ(rig.ops.Count("Bootup A"), 2);
}

TEST(Supervisor, TwoTunersFailingToOpenAlternate) {
  EngineRig rig;
  rig.ops.scripts["A"].initResult = 5;
  rig.ops.scripts["B"].initResult = 6;
  rig.usb.devices = {{"PCTV-hiwasa", "A"}, {"PCTV-hiwasa", "B"}};
  for (int tick = 0; tick < 4; ++tick) rig.engine.ProbeTimerTimer();
  EXPECT_EQ(rig.ops.Count("Init A"), 2);
  EXPECT_EQ(rig.ops.Count("Init B"), 2);
  EXPECT_EQ(rig.engine.Tuners[1]->Status, "Error:Tuner_Initialize(06)");
  // The tuner served last went away: the walk goes on with the rest.
  rig.usb.devices.pop_back();
  rig.engine.ProbeTimerTimer();
  EXPECT_EQ(rig.ops.Count("Init A"), 3);
}

class Watchdog : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.engine.EnableWatchDog = true;
    rig.clock.now = 40000.25;
    tuner = &rig.StreamingTuner("W", 27);
    rig.ops.calls.clear();
  }
  void After(double seconds) {
    rig.clock.Advance(seconds);
    rig.engine.ProbeTimerTimer();
  }
  EngineRig rig;
  TOneSegTuner* tuner = nullptr;
};

TEST_F(Watchdog, FifteenSecondsIsNotEnoughSixteenIs) {
  After(15);
  EXPECT_EQ(tuner->Status, "初期化完了");
  EXPECT_TRUE(rig.ops.calls.empty());
  After(0.9);  // 15.9 s: still 15 whole seconds
  EXPECT_TRUE(rig.ops.calls.empty());
  const std::uint8_t partUnit[100] = {0x47};
  tuner->Framer.Feed(partUnit, sizeof partUnit, [](const std::uint8_t*) {});
  After(0.1);
  EXPECT_EQ(tuner->Framer.Carried(), 0u);  // the re-send flushed the device
  EXPECT_EQ(tuner->Status, "コマンド再送信");
  EXPECT_EQ(tuner->RetryCount, 1);
  EXPECT_EQ(tuner->State, Streaming);
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Stop W", "SetChannel W 27"}));
}

TEST_F(Watchdog, FourResendsThenReinitialisationThenIdle) {
  for (int firing = 1; firing <= 4; ++firing) {
    After(16);
    EXPECT_EQ(tuner->Status, "コマンド再送信");
    EXPECT_EQ(tuner->RetryCount, firing);
  }
  EXPECT_EQ(rig.ops.Count("SetChannel W 27"), 4);
  After(16);
  EXPECT_EQ(tuner->Status, "再初期化");
  EXPECT_EQ(tuner->State, NotInitialized);
  EXPECT_EQ(tuner->WatchState, 2);
  EXPECT_EQ(tuner->RetryCount, 5);
  EXPECT_EQ(rig.ops.calls.back(), "Close W");

  After(1);  // re-open
  After(1);  // re-boot
  EXPECT_EQ(tuner->Status, "初期化完了");
  EXPECT_EQ(tuner->RetryCount, 0);
  rig.ops.calls.clear();
  After(100);
  After(100);
  EXPECT_TRUE(rig.ops.calls.empty());  // idle until a broadcast time arrives
  EXPECT_EQ(tuner->Status, "初期化完了");

  // A time packet arms it again.
  AppendUnit(rig.ops.scripts["W"].stream, TotPacket(2008, 12, 6, 14, 35, 7), tuner->UnitSize);
  rig.engine.RecordTimerTimer();
  EXPECT_EQ(tuner->WatchState, 1);
  After(15);
  EXPECT_TRUE(rig.ops.calls.empty());
  After(1);
  EXPECT_EQ(tuner->Status, "コマンド再送信");
}

TEST_F(Watchdog, StepsOfThePcClockFireNothing) {
  rig.clock.now += 1.0;  // a day ahead
  After(1);
  rig.clock.now -= 2.0;  // and back, a day behind
  After(1);
  EXPECT_TRUE(rig.ops.calls.empty());
  After(14.5);
  EXPECT_EQ(tuner->Status, "コマンド再送信");
}

TEST_F(Watchdog, EveryDueOneFiresAtTheTickInDeadlineOrderBeforeOtherSteps) {
  rig.clock.Advance(2);
  TOneSegTuner& later = rig.StreamingTuner("V", 27);  // after W in the list
  rig.clock.Advance(1);
  AppendUnit(rig.ops.scripts["W"].stream, TotPacket(2008, 12, 6, 14, 35, 7), tuner->UnitSize);
  rig.engine.RecordTimerTimer();  // W's silence starts a second after V's
  rig.ops.scripts["N"].initResult = 5;  // a tuner that needs a step every tick
  rig.usb.devices.insert(rig.usb.devices.begin(), {"PCTV-hiwasa", "N"});
  rig.clock.Advance(13.5);
  rig.engine.ProbeTimerTimer();
  rig.ops.calls.clear();
  After(3);  // both silences are over 15 s now
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Stop V", "SetChannel V 27", "Stop W", "SetChannel W 27",
                                                     "Init N", "Stop N", "Close N"}));
  EXPECT_EQ(later.Status, "コマンド再送信");
}

TEST_F(Watchdog, SwitchedOffItNeverActs) {
  rig.engine.EnableWatchDog = false;
  After(100);
  After(100);
  EXPECT_TRUE(rig.ops.calls.empty());
  EXPECT_EQ(tuner->Status, "初期化完了");
}

TEST(ChannelChange, WhileStreamingRetunesAndStoresTheSection) {
  EngineRig rig;
  TOneSegTuner& tuner = rig.StreamingTuner("C&1", 27);
  tuner.PacketCount = 99;
  tuner.RetryCount = 3;
  tuner.WatchState = 2;
  rig.ops.calls.clear();
  rig.engine.ChannelComboChange(&tuner, 3);
  EXPECT_EQ(tuner.Channel, 15);
  EXPECT_EQ(tuner.Status, "チャンネル変更");
  EXPECT_EQ(tuner.State, Streaming);
  EXPECT_EQ(tuner.PacketCount, 0);
  EXPECT_EQ(tuner.RetryCount, 0);
  EXPECT_EQ(tuner.WatchState, 1);
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Stop C_1", "Stop C_1", "SetChannel C_1 15"}));
  EXPECT_EQ(oneseg::ini_read_int(rig.ConfigPath(), "TunerC_1", "Channel", 0), 15);
  EXPECT_EQ(oneseg::ini_read_string(rig.ConfigPath(), "TunerC_1", "Disable", ""), "0");
  EXPECT_EQ(oneseg::ini_read_string(rig.ConfigPath(), "TunerC_1", "FriendlyName", ""), "C_1");

  rig.ops.calls.clear();
  rig.engine.ChannelComboChange(&tuner, 3);  // the channel it has: nothing
  EXPECT_TRUE(rig.ops.calls.empty());
  rig.engine.ChannelComboChange(&tuner, 0);  // not set: stop without tuning
  EXPECT_EQ(tuner.Channel, -1);
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Stop C_1", "Stop C_1"}));
  EXPECT_EQ(oneseg::ini_read_int(rig.ConfigPath(), "TunerC_1", "Channel", 0), -1);
}

TEST(ChannelChange, WhileInitialisingOrWithoutTunerDoesNothing) {
  EngineRig rig;
  rig.ops.scripts["I"].initResult = 5;
  rig.usb.devices = {{"PCTV-hiwasa", "I"}};
  rig.engine.ScanTuners();
  TOneSegTuner& tuner = *rig.engine.Tuners[0];
  rig.engine.ChannelComboChange(&tuner, 10);
  rig.engine.ProbeTimerTimer();
  rig.engine.ChannelComboChange(&tuner, 10);
  rig.engine.ChannelComboChange(nullptr, 10);
  EXPECT_EQ(tuner.Channel, -1);
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Init I", "Stop I", "Close I"}));
  EXPECT_EQ(oneseg::ini_read_string(rig.ConfigPath(), "TunerI", "Channel", "none"), "none");
}

TEST(Shutdown, FormDestroyReleasesEveryTunerASecondApart) {
  EngineRig rig;
  rig.StreamingTuner("A", 27);
  rig.StreamingTuner("B", 20);
  rig.ops.calls.clear();
  rig.clock.sleptMs = 0;
  rig.engine.FormDestroy();
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Stop A", "Close A", "Stop B", "Close B"}));
  EXPECT_EQ(rig.clock.sleptMs, 2 * (400 + 1000));
  EXPECT_TRUE(rig.engine.Tuners.empty());
}

}  // namespace
}  // namespace brannock::test
