// Device steps on the tuners' own workers: a tuner whose device takes its
// time holds up neither the reading of the others nor the supervisor, and
// the step's outcome reaches the tuner afterwards as it would have at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

#include "engine_fakes.h"
#include "ini.h"

namespace brannock::test {
namespace {

class StepsOnWorkers : public ::testing::Test {
 protected:
  void SetUp() override { rig.engine.SetDeviceSteps(threaded); }
  // A tick whose device steps are done and finished.
  void Settle() {
    rig.engine.ProbeTimerTimer();
    rig.engine.WaitForDeviceSteps();
  }
  // A tuner opened on its worker, its boot to come at the next tick.
  TOneSegTuner& Open(const std::string& serial, int channel) {
    oneseg::ini_write_string(rig.ConfigPath(), "Tuner" + serial, "Channel", std::to_string(channel));
    rig.usb.devices.push_back({"PCTV-hiwasa", serial});
    Settle();
    return *rig.engine.FindTunerById(serial);
  }
  // Opened and booted (or failed).
  TOneSegTuner& Add(const std::string& serial, int channel) {
    TOneSegTuner& tuner = Open(serial, channel);
    Settle();
    return tuner;
  }
  // The Bootup of `serial` waits until the gate opens, ten seconds at most: a
  // boot on the engine's thread fails the test instead of hanging it.
  void Hold(const std::string& serial) {
    rig.ops.beforeBootup = [this, serial, opened = gate.get_future().share()](const TOneSegTuner& t) {
      if (t.TunerID == serial && opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) timedOut = true;
    };
  }

  ThreadedSteps threaded;
  EngineRig rig;
  std::promise<void> gate;
  std::atomic<bool> timedOut = false;
};

TEST_F(StepsOnWorkers, AHeldBootLeavesTheOthersReadAndFinishesLater) {
  TOneSegTuner& b = Add("B", 27);
  ASSERT_EQ(b.State, Streaming);
  Hold("A");
  TOneSegTuner& a = Open("A", 27);
  rig.engine.ProbeTimerTimer();  // A's boot starts and stays in its device
  rig.engine.ProbeTimerTimer();
  AppendUnit(rig.ops.scripts["B"].stream, TotPacket(2008, 12, 6, 14, 35, 7), b.UnitSize);
  AppendUnit(rig.ops.scripts["B"].stream, PlainPacket(0x100), b.UnitSize);
  rig.engine.RecordTimerTimer();
  EXPECT_EQ(b.PacketCount, 2);
  EXPECT_EQ(a.State, Working);
  EXPECT_EQ(a.Status, "チューナ初期化");

  gate.set_value();
  rig.engine.WaitForDeviceSteps();
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(a.State, Streaming);
  EXPECT_EQ(a.Status, "初期化完了");
}

TEST_F(StepsOnWorkers, AResendAndAFailedBootFinishWithTheirStatus) {
  rig.engine.EnableWatchDog = true;
  TOneSegTuner& w = Add("W", 27);
  rig.ops.calls.clear();
  rig.clock.Advance(16);
  Settle();
  EXPECT_EQ(w.Status, "コマンド再送信");
  EXPECT_EQ(w.State, Streaming);
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Stop W", "SetChannel W 27"}));

  rig.ops.scripts["F"].bootResult = 2;
  TOneSegTuner& f = Add("F", 20);
  EXPECT_EQ(f.Status, "Error:Bootup(02)");
  EXPECT_EQ(f.State, NotInitialized);
  EXPECT_EQ(rig.listener.notices, (std::vector<std::string>{"F：Error:Bootup(02)"}));
  EXPECT_EQ(rig.ops.calls.back(), "Close F");
}

TEST_F(StepsOnWorkers, ATunerGoneMidStepIsReleasedOnceTheStepIsDone) {
  Hold("A");
  Open("A", 27);
  rig.engine.ProbeTimerTimer();  // its boot is held
  rig.usb.devices.clear();
  rig.engine.ProbeTimerTimer();
  ASSERT_EQ(rig.engine.Tuners.size(), 1u);  // not destroyed under its worker
  gate.set_value();
  rig.engine.WaitForDeviceSteps();
  rig.engine.ProbeTimerTimer();
  EXPECT_TRUE(rig.engine.Tuners.empty());
  rig.engine.WaitForDeviceSteps();
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Init A", "Stop A", "Bootup A", "SetChannel A 27", "Stop A",
                                                     "Close A"}));
}

}  // namespace
}  // namespace brannock::test
