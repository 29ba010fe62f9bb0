// Kind recognition, tuner identities and the discovery pass.
#include <gtest/gtest.h>

#include "engine_fakes.h"
#include "ini.h"

namespace brannock::test {
namespace {

TEST(KindRecognition, ModelStrings) {
  EXPECT_EQ(ClassifyProduct("PCTV-hiwasa Mini"), UsbXpressMini);
  EXPECT_EQ(ClassifyProduct("Mini PCTV-hiwasa 2"), UsbXpressMini);
  EXPECT_EQ(ClassifyProduct("PCTV-hiwasa"), UsbXpressA);
  EXPECT_EQ(ClassifyProduct("UOT-100"), UsbXpressA);
  EXPECT_EQ(ClassifyProduct("UOT-100 Mini"), UsbXpressA);
  EXPECT_EQ(ClassifyProduct("pctv-hiwasa mini"), UnknownKind);
  EXPECT_EQ(ClassifyProduct("uot-100"), UnknownKind);
  EXPECT_EQ(ClassifyProduct("CP2102 USB to UART"), UnknownKind);
  EXPECT_EQ(ClassifyProduct(""), UnknownKind);
  EXPECT_EQ(UnitSizeForKind(UsbXpressA), 197);
  EXPECT_EQ(UnitSizeForKind(UsbXpressMini), 196);
  EXPECT_EQ(UnitSizeForKind(IsdbtDriverKind), 188);
}

TEST(TunerIdentity, AmpersandAndBackslashBecomeUnderscores) {
  EXPECT_EQ(MakeTunerID("AB&CD\\EF&\\"), "AB_CD_EF__");
  EXPECT_EQ(MakeTunerID("\\\\.\\ISDBT"), "__._ISDBT");
  EXPECT_EQ(TunerSection(MakeTunerID("\\\\.\\ISDBT")), "Tuner__._ISDBT");
}

TEST(Discovery, NewTunersTakeTheirSectionAndKind) {
  EngineRig rig;
  oneseg::ini_write_string(rig.ConfigPath(), "TunerS_1_2", "Channel", "27");
  oneseg::ini_write_string(rig.ConfigPath(), "TunerS_1_2", "FriendlyName", "Living room");
  rig.usb.devices = {{"PCTV-hiwasa Mini", "S&1\\2"}, {"Some UART", "X"}, {"UOT-100", "T2"}};
  rig.driver.present = true;
  rig.engine.ScanTuners();
  ASSERT_EQ(rig.engine.Tuners.size(), 3u);
  const TOneSegTuner& mini = *rig.engine.Tuners[0];
  EXPECT_EQ(mini.TunerID, "S_1_2");
  EXPECT_EQ(mini.Kind, UsbXpressMini);
  EXPECT_EQ(mini.UnitSize, 196);
  EXPECT_EQ(mini.Channel, 27);
  EXPECT_EQ(mini.FriendlyName, "Living room");
  EXPECT_EQ(mini.Status, "I/F初期化中");
  EXPECT_EQ(mini.State, NotInitialized);
  TOneSegTuner& uot = *rig.engine.Tuners[1];
  EXPECT_EQ(uot.Channel, -1);
  EXPECT_EQ(uot.FriendlyName, "T2");
  EXPECT_EQ(uot.UsbParam()->DeviceNumber, 2);
  TOneSegTuner& driver = *rig.engine.Tuners[2];
  EXPECT_EQ(driver.TunerID, "__._ISDBT");
  EXPECT_EQ(driver.Kind, IsdbtDriverKind);
  EXPECT_EQ(driver.UnitSize, 188);
  EXPECT_NE(driver.EzParam(), nullptr);
  EXPECT_EQ(rig.listener.events.back(), "list changed");
}

TEST(Discovery, DisabledTunerIsListedButNeverDriven) {
  EngineRig rig;
  oneseg::ini_write_string(rig.ConfigPath(), "TunerOFF", "Disable", "1");
  rig.usb.devices = {{"PCTV-hiwasa", "OFF"}};
  rig.engine.ScanTuners();
  ASSERT_EQ(rig.engine.Tuners.size(), 1u);
  EXPECT_EQ(rig.engine.Tuners[0]->Status, "無効");
  EXPECT_EQ(rig.engine.Tuners[0]->State, Disabled);
  for (int tick = 0; tick < 5; ++tick) rig.engine.ProbeTimerTimer();
  rig.engine.RecordTimerTimer();
  EXPECT_TRUE(rig.ops.calls.empty());
  EXPECT_EQ(rig.engine.EnabledTunerCount(), 0);
  for (const std::string& e : rig.listener.events) EXPECT_NE(e, "added OFF");
}

TEST(Discovery, TwoDevicesWithOneSerialShareARecordWithTheHigherIndex) {
  EngineRig rig;
  rig.usb.devices = {{"PCTV-hiwasa", "SAME"}, {"PCTV-hiwasa Mini", "SAME"}};
  rig.engine.ScanTuners();
  ASSERT_EQ(rig.engine.Tuners.size(), 1u);
  EXPECT_EQ(rig.engine.Tuners[0]->UsbParam()->DeviceNumber, 1);
  EXPECT_EQ(rig.engine.Tuners[0]->Kind, UsbXpressA);  // the first sighting made the record
}

TEST(Discovery, VanishedTunerIsReleasedAndRemovedAndComesBackAfresh) {
  EngineRig rig;
  TOneSegTuner& tuner = rig.StreamingTuner("A1", 27);
  ASSERT_EQ(tuner.State, Streaming);
  rig.listener.events.clear();
  rig.ops.calls.clear();
  rig.usb.devices.front().serialFails = true;  // unreadable serial: absent in this pass
  rig.engine.ScanTuners();
  EXPECT_TRUE(rig.engine.Tuners.empty());
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Stop A1", "Close A1"}));
  EXPECT_EQ(rig.listener.events, (std::vector<std::string>{"removing A1", "list changed"}));
  rig.usb.devices.front().serialFails = false;
  rig.engine.ScanTuners();
  ASSERT_EQ(rig.engine.Tuners.size(), 1u);
  EXPECT_EQ(rig.engine.Tuners[0]->State, NotInitialized);
}

TEST(Discovery, FailedDeviceCountRemovesEveryUsbTunerButNotTheDriverTuner) {
  EngineRig rig;
  rig.usb.devices = {{"PCTV-hiwasa", "A"}, {"UOT-100", "B"}};
  rig.driver.present = true;
  rig.engine.ScanTuners();
  ASSERT_EQ(rig.engine.Tuners.size(), 3u);
  rig.usb.countFails = true;
  rig.engine.ScanTuners();
  ASSERT_EQ(rig.engine.Tuners.size(), 1u);
  EXPECT_EQ(rig.engine.Tuners[0]->TunerID, "__._ISDBT");
  rig.listener.events.clear();
  rig.engine.ScanTuners();
  EXPECT_EQ(rig.listener.events, (std::vector<std::string>{"refresh"}));
}

TEST(Discovery, FindTunerByIdIsExactAndPrefersTheLast) {
  EngineRig rig;
  rig.usb.devices = {{"PCTV-hiwasa", "abc"}};
  rig.engine.ScanTuners();
  EXPECT_NE(rig.engine.FindTunerById("abc"), nullptr);
  EXPECT_EQ(rig.engine.FindTunerById("ABC"), nullptr);
  rig.engine.Tuners.push_back(std::make_unique<TOneSegTuner>());
  rig.engine.Tuners.back()->TunerID = "abc";
  EXPECT_EQ(rig.engine.FindTunerById("abc"), rig.engine.Tuners.back().get());
}

}  // namespace
}  // namespace brannock::test
