// Desktop notifications: which events raise one, and the limit of one per
// tuner and cause per ten minutes.
#include <gtest/gtest.h>

#include "datetime.h"
#include "engine_fakes.h"
#include "notice_gate.h"

namespace brannock::test {
namespace {

TEST(NoticeGateTest, OnePerSubjectAndCausePerTenMinutes) {
  NoticeGate gate;
  const TDateTime t0 = EncodeDateTime(2026, 12, 7, 10, 0, 0);
  EXPECT_TRUE(gate.Allow("A", NoticeCause::WriteFailure, t0));
  EXPECT_FALSE(gate.Allow("A", NoticeCause::WriteFailure, EncodeDateTime(2026, 12, 7, 10, 9, 59)));
  EXPECT_TRUE(gate.Allow("A", NoticeCause::TunerError, t0));
  EXPECT_TRUE(gate.Allow("B", NoticeCause::WriteFailure, t0));
  EXPECT_TRUE(gate.Allow("", NoticeCause::RecDaysInvalid, t0));
  EXPECT_TRUE(gate.Allow("A", NoticeCause::WriteFailure, EncodeDateTime(2026, 12, 7, 10, 10, 0)));
  // A clock set back does not silence the tuner until it catches up again.
  EXPECT_TRUE(gate.Allow("A", NoticeCause::WriteFailure, EncodeDateTime(2026, 12, 7, 9, 0, 0)));
  EXPECT_FALSE(gate.Allow("A", NoticeCause::WriteFailure, EncodeDateTime(2026, 12, 7, 9, 5, 0)));
}

struct NoticeListener : RecordingListener {
  std::vector<std::string> notices;
  void Notification(const std::string& text) override { notices.push_back(text); }
};

TEST(Notices, TunerErrorsReinitialisationAndFileFaultsAreRateLimited) {
  EngineRig rig;
  NoticeListener listener;
  rig.engine.SetListener(&listener);
  rig.clock.now = EncodeDateTime(2008, 12, 6, 14, 35, 30);
  rig.ops.scripts["A"].initResult = 5;
  rig.usb.devices = {{"PCTV-hiwasa", "A"}};
  // Each failing step sleeps 0.4 s: a minute of ticks fails about 40 times.
  for (int tick = 0; tick < 40; ++tick) {
    rig.engine.ProbeTimerTimer();
    rig.clock.Advance(1);
  }
  EXPECT_EQ(listener.notices, (std::vector<std::string>{"A：Error:Tuner_Initialize(05)"}));
  rig.clock.Advance(600);
  rig.engine.ProbeTimerTimer();
  EXPECT_EQ(listener.notices.size(), 2u);

  // Another tuner streams, then the watchdog gives up on it.
  rig.usb.devices.clear();
  TOneSegTuner& b = rig.StreamingTuner("B", 27);
  rig.engine.EnableWatchDog = true;
  for (int firing = 0; firing < 5; ++firing) {
    rig.clock.Advance(16);
    rig.engine.ProbeTimerTimer();
  }
  ASSERT_EQ(b.Status, "再初期化");
  EXPECT_EQ(listener.notices.back(), "B：再初期化");

  // A file fault is its own cause, retried (and failing) at every time packet.
  rig.engine.EnableWatchDog = false;
  for (int tick = 0; tick < 4; ++tick) rig.engine.ProbeTimerTimer();
  ASSERT_EQ(b.State, Streaming);
  rig.files.failOpen = true;
  const std::size_t before = listener.notices.size();
  for (int second = 0; second < 3; ++second) {
    AppendUnit(rig.ops.scripts["B"].stream, TotPacket(2008, 12, 6, 14, 35, second), b.UnitSize);
    rig.engine.RecordTimerTimer();
  }
  ASSERT_EQ(listener.notices.size(), before + 1);
  EXPECT_EQ(listener.notices.back(), "B：" + b.Status);
  EXPECT_EQ(b.Status.rfind("Error:録画ファイル書き込み失敗 ", 0), 0u);
}

}  // namespace
}  // namespace brannock::test
