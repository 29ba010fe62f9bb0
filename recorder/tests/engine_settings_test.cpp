// Settings at start-up, the channel list texts, the settings folder, the
// single-instance lock and the file layer's own failure handling.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine_fakes.h"
#include "ini.h"
#include "instance_lock.h"
#include "settings.h"
#include "usb_ids.h"

namespace brannock::test {
namespace {

namespace fs = std::filesystem;

struct FolderListener : RecordingListener {
  std::vector<std::string> folders;
  void TSFolderChanged(const std::string& folder) override { folders.push_back(folder); }
};

TEST(StartUp, StoredValuesAreValidatedAndWrittenBack) {
  TempFolder folder;
  const std::string config = (folder.path() / "OneSeg_Config.ini").string();
  oneseg::ini_write_string(config, "Config", "TSFolder", (folder.path() / "deleted").string());
  oneseg::ini_write_string(config, "Config", "RecDays", "0");
  oneseg::ini_write_string(config, "Config", "EnableWatchDog", "7");
  std::ofstream(folder.path() / "OneSeg_Channels.ini") << "[stationID]\nA=27\nB=20\nC=27\n";
  FakeClock clock;
  FakeUsb usb;
  FakeDriver driver;
  ScriptedOps ops;
  PosixFileSystem files;
  RecorderEngine engine({clock, usb, driver, ops, files});
  FolderListener listener;
  engine.SetListener(&listener);
  bool raised = false;
  engine.RaisePriority = [&] { raised = true; };
  engine.FormCreate(folder.str());
  EXPECT_EQ(engine.ConfigPath, config);
  // A folder not there (yet) is kept: a disk may be mounted late.
  const std::string deleted = (folder.path() / "deleted").string();
  EXPECT_EQ(engine.TSFolder, deleted);
  EXPECT_EQ(oneseg::ini_read_string(config, "Config", "TSFolder", "missing"), deleted);
  EXPECT_EQ(listener.folders, (std::vector<std::string>{deleted}));
  EXPECT_EQ(engine.RecDays, 3);
  EXPECT_EQ(oneseg::ini_read_int(config, "Config", "RecDays", 9), 0);  // kept as stored
  EXPECT_TRUE(engine.EnableWatchDog);
  EXPECT_TRUE(raised);
  const auto items = ChannelListItems(engine.StationList);
  ASSERT_EQ(items.size(), 51u);
  EXPECT_EQ(items[0], "未設定");
  EXPECT_EQ(items[1], "13");
  EXPECT_EQ(items[ItemForChannel(27)], "27 (C)");
  EXPECT_EQ(items[ItemForChannel(20)], "20 (B)");
  EXPECT_EQ(items[50], "62");
}

// A hand-edited file with one line in Shift-JIS: the start-up writes keep
// every byte, and the UTF-8 folder name is still found.
TEST(StartUp, SettingsInMixedEncodingsSurviveTheStartUpWrites) {
  EngineRig rig;
  const fs::path recordings = rig.folder.path() / "録画";
  fs::create_directory(recordings);
  const std::string text = "[Config]\r\nTSFolder=" + recordings.string() + "\r\nRecDays=5\r\n"
                           "; \x83\x81\x83\x82\r\n[TunerS1]\r\nFriendlyName=居間\r\n";
  std::ofstream(rig.ConfigPath(), std::ios::binary) << text;
  rig.engine.LoadSettings(rig.folder.str());
  EXPECT_EQ(rig.engine.TSFolder, recordings.string());
  EXPECT_EQ(rig.engine.RecDays, 5);
  const auto bytes = ReadWholeFile(rig.ConfigPath());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text);
}

TEST(StartUp, FolderLosesOneTrailingSlashAndDaysBelowOneAreIgnored) {
  EngineRig rig;
  rig.engine.SetTSFolder(rig.Recordings().string() + "/");
  EXPECT_EQ(rig.engine.TSFolder, rig.Recordings().string());
  EXPECT_EQ(TSFolderLabelText(rig.engine.TSFolder), "保存先：" + rig.Recordings().string());
  EXPECT_EQ(TSFolderLabelText(""), "保存先：未設定");
  rig.engine.SetRecDays(7);
  rig.engine.SetRecDays(0);
  EXPECT_EQ(rig.engine.RecDays, 7);
  EXPECT_EQ(oneseg::ini_read_int(rig.ConfigPath(), "Config", "RecDays", 0), 7);
}

TEST(StartUp, UnwritableSettingsAreReported) {
  EngineRig rig;
  rig.engine.ConfigPath = (rig.folder.path() / "no" / "such" / "OneSeg_Config.ini").string();
  rig.listener.events.clear();
  rig.engine.SetRecDays(5);
  EXPECT_EQ(rig.listener.events, (std::vector<std::string>{"write failed " + rig.engine.ConfigPath}));
  EXPECT_EQ(WriteFailedText("/x/OneSeg_Config.ini"), "/x/OneSeg_Config.ini に書き込めません");
}

TEST(ChannelList, ItemsAndChannels) {
  EXPECT_EQ(ChannelForItem(0), -1);
  EXPECT_EQ(ChannelForItem(1), 13);
  EXPECT_EQ(ChannelForItem(50), 62);
  EXPECT_EQ(ItemForChannel(-1), 0);
  EXPECT_EQ(ItemForChannel(-5), 0);
  EXPECT_EQ(ItemForChannel(13), 1);
  EXPECT_EQ(ItemForChannel(62), 50);
  EXPECT_EQ(ItemForChannel(12), -1);
  EXPECT_EQ(ItemForChannel(63), -1);
}

TEST(SettingsFolder, OverrideThenProgramFolderThenXdg) {
  TempFolder folder;
  const std::string over = (folder.path() / "cfg" / "deep").string();
  EXPECT_EQ(ChooseSettingsFolder(over, "/nonexistent"), over);
  EXPECT_TRUE(fs::is_directory(over));
  EXPECT_EQ(ChooseSettingsFolder("", folder.str()), folder.str());
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", (folder.path() / "xdg").c_str(), 1);
  EXPECT_EQ(ChooseSettingsFolder("", "/nonexistent/program"), (folder.path() / "xdg" / "oneseg").string());
  EXPECT_TRUE(fs::is_directory(folder.path() / "xdg" / "oneseg"));
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
}

TEST(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  TempFolder folder;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  ::setenv("XDG_RUNTIME_DIR", folder.str().c_str(), 1);
  EXPECT_EQ(InstanceLock::LockPath(), folder.str() + "/WexcombeMutex");
  {
    InstanceLock first;
    ASSERT_TRUE(first.Acquire());
    InstanceLock second;
    EXPECT_FALSE(second.Acquire());
  }
  InstanceLock third;
  EXPECT_TRUE(third.Acquire());
  // A link in the lock file's place is neither followed nor locked through.
  const fs::path lockPath = InstanceLock::LockPath();
  fs::remove(lockPath);
  fs::create_symlink(folder.path() / "target", lockPath);
  InstanceLock linked;
  EXPECT_TRUE(linked.Acquire());
  EXPECT_FALSE(fs::exists(folder.path() / "target"));
  if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1); else ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(UsbIdSettings, ListedIdsAreAddedToTheBuiltInOnes) {
  UsbIdList ids{{0x10C4, 0xEA61}};
  const auto rejected = AddUsbIds(" 04b4:1004,10C4:EA61  0547:2235,, 12345:1 xyz 04b4: :0001", ids);
  EXPECT_EQ(ids, (UsbIdList{{0x10C4, 0xEA61}, {0x04B4, 0x1004}, {0x0547, 0x2235}}));
  EXPECT_EQ(rejected, (std::vector<std::string>{"12345:1", "xyz", "04b4:", ":0001"}));

  TempFolder folder;
  const std::string config = (folder.path() / "OneSeg_Config.ini").string();
  std::vector<std::string> bad;
  RealDeviceIds none = DeviceIdsFromSettings(config, bad);
  EXPECT_EQ(none.usbXpress, (UsbIdList{{0x10C4, 0xEA61}}));
  EXPECT_TRUE(none.ezUsb.empty());
  oneseg::ini_write_string(config, "Config", "UsbXpressIds", "10c4:ea60");
  oneseg::ini_write_string(config, "Config", "IsdbtDriverIds", "04b4:1004 oops");
  const RealDeviceIds listed = DeviceIdsFromSettings(config, bad);
  EXPECT_EQ(listed.usbXpress, (UsbIdList{{0x10C4, 0xEA61}, {0x10C4, 0xEA60}}));
  EXPECT_EQ(listed.ezUsb, (UsbIdList{{0x04B4, 0x1004}}));
  EXPECT_EQ(bad, (std::vector<std::string>{"IsdbtDriverIds: oops"}));
}

// A real short write: the file-size limit stops the write part-way, and the
// file must be cut back to whole packets.
TEST(PosixFiles, ShortWriteIsReportedAndCutBack) {
  TempFolder folder;
  PosixFileSystem files;
  const std::string path = (folder.path() / "a.ts").string();
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old {};
  ::getrlimit(RLIMIT_FSIZE, &old);
  bool firstOk = false, secondOk = true;
  std::uint64_t length = 0;
  {
    auto file = files.OpenShared(path);
    ASSERT_TRUE(file);
    const std::vector<std::uint8_t> packet(188, 0x47);
    file->Append(packet.data(), packet.size());
    firstOk = file->Flush() == 0;
    rlimit small = old;
    small.rlim_cur = 300;
    ::setrlimit(RLIMIT_FSIZE, &small);
    file->Append(packet.data(), packet.size());
    secondOk = file->Flush() == 0;
    ::setrlimit(RLIMIT_FSIZE, &old);
    length = file->Length();
  }
  std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_TRUE(firstOk);
  EXPECT_FALSE(secondOk);
  EXPECT_EQ(length, 188u);
  EXPECT_EQ(fs::file_size(path), 188u);
  // Reopening extends at the end.
  auto again = files.OpenShared(path);
  EXPECT_EQ(again->Length(), 188u);
  EXPECT_FALSE(files.OpenShared(folder.str()));  // a folder is no recording file
}

}  // namespace
}  // namespace brannock::test
