// Which broadcast times retention reckons with: the PC's clock right or far
// off, one channel or two, long runs of wrong time packets, a suspend.
#include <gtest/gtest.h>

#include "datetime.h"
#include "engine_fakes.h"
#include "retention_clock.h"

namespace brannock::test {
namespace {

constexpr double kDay = 86400;

class RetentionClockTest : public ::testing::Test {
 protected:
  void SetUp() override { pc.now = truth; }
  // A time packet `offset` seconds off the true time, on `channel`.
  std::optional<TDateTime> Packet(int channel, double offset = 0) {
    return reckoning.Reckon(channel, truth + offset / kDay, pc.now, pc.monotonic);
  }
  // True and PC time (and the monotonic clock) move on.
  void Pass(double seconds) {
    truth += seconds / kDay;
    pc.Advance(seconds);
  }
  static double Seconds(TDateTime t) { return static_cast<double>(DateTimeSeconds(t)); }

  RetentionClock reckoning;
  FakeClock pc;
  TDateTime truth = EncodeDateTime(2026, 12, 7, 15, 0, 0);
};

TEST_F(RetentionClockTest, WrongStationClocksNeverRunAheadOfTheTruth) {
  EXPECT_EQ(Packet(27), truth);
  // Three years ahead, for a day of time packets: never taken.
  for (int k = 0; k < 17280; ++k, Pass(5)) ASSERT_FALSE(Packet(27, 94608000)) << k;
  EXPECT_EQ(Packet(27), truth);
  // Just under the PC bound ahead, for two hours: never more than the margin ahead.
  for (int k = 0; k < 1440; ++k, Pass(5)) {
    const auto taken = Packet(27, RetentionClock::kPcAgreement - 60);
    ASSERT_TRUE(taken);
    ASSERT_LE(Seconds(*taken), Seconds(truth) + RetentionClock::kMargin) << k;
  }
  // Back on time, and a broadcast clock stepped back is followed back.
  EXPECT_EQ(Packet(27), truth);
  EXPECT_EQ(Packet(27, -3600), truth - 3600 / kDay);
  Pass(5);
  EXPECT_EQ(Packet(27), truth);
  // A suspend: the monotonic clock stood for eight hours while the PC's ran on.
  truth += 8 * 3600 / kDay;
  pc.now = truth;
  EXPECT_EQ(Packet(27), truth);
}

TEST_F(RetentionClockTest, WithThePcFarOffTwoChannelsMustAgree) {
  pc.now = EncodeDateTime(2021, 1, 1, 0, 0, 0);  // a PC whose clock was never set
  EXPECT_FALSE(Packet(27));
  EXPECT_EQ(Packet(22, 2), truth + 2 / kDay);  // agrees with channel 27 within seconds
  EXPECT_EQ(Packet(27), truth);
  EXPECT_FALSE(Packet(35, 3600));  // a third channel an hour off is not taken
  Pass(RetentionClock::kReportAge + 5);
  EXPECT_FALSE(Packet(22));  // the others' time packets are too old to confirm
  EXPECT_EQ(Packet(27), truth);
  // Two channels wrong together still cannot run ahead of the monotonic clock.
  for (int k = 0; k < 720; ++k, Pass(5)) {
    Packet(22, kDay);
    const auto taken = Packet(27, kDay);
    ASSERT_TRUE(taken);
    ASSERT_LE(Seconds(*taken), Seconds(truth) + RetentionClock::kMargin) << k;
  }
}

}  // namespace
}  // namespace brannock::test
