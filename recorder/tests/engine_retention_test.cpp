// The retention sweep over real folders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "datetime.h"
#include "engine_fakes.h"
#include "ini.h"
#include "settings.h"

namespace brannock::test {
namespace {

namespace fs = std::filesystem;

class Retention : public ::testing::Test {
 protected:
  void SetUp() override { rig.engine.RecDays = 3; }
  fs::path Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "data";
    return path;
  }
  fs::path Rec() const { return rig.Recordings(); }
  EngineRig rig;
};

TEST_F(Retention, ExampleWithThreeDays) {
  for (int hour = 0; hour < 24; ++hour) {
    char name[32];
    std::snprintf(name, sizeof name, "08120%d%02d3_Ch27", 6, hour);
    for (const char* ext : {".ts", ".idx", ".sub", ".eit", ".html"}) Touch(Rec() / "081206" / (std::string(name) + ext));
  }
  Touch(Rec() / "081205" / "081205233_Ch27.ts");
  Touch(Rec() / "081207" / "081207003_Ch27.ts");  // two days back: not looked into
  Touch(Rec() / "old" / "081101003_Ch27.ts");     // not a day folder
  Touch(Rec() / "0812040" / "081204003_Ch27.ts");
  Touch(Rec() / "081204.ts");                      // a file, not a folder

  rig.engine.SweepOldRecordings(EncodeDateTime(2008, 12, 9, 15, 0, 5));

  for (int hour = 0; hour < 24; ++hour) {
    char name[32];
    std::snprintf(name, sizeof name, "081206%02d3_Ch27", hour);
    for (const char* ext : {".ts", ".idx", ".sub", ".eit", ".html"}) {
      EXPECT_EQ(fs::exists(Rec() / "081206" / (std::string(name) + ext)), hour >= 16) << name << ext;
    }
  }
  EXPECT_TRUE(fs::exists(Rec() / "081206"));
  EXPECT_FALSE(fs::exists(Rec() / "081205"));  // emptied and removed
  EXPECT_TRUE(fs::exists(Rec() / "081207" / "081207003_Ch27.ts"));
  EXPECT_TRUE(fs::exists(Rec() / "old" / "081101003_Ch27.ts"));
  EXPECT_TRUE(fs::exists(Rec() / "0812040" / "081204003_Ch27.ts"));
  EXPECT_TRUE(fs::exists(Rec() / "081204.ts"));
}

TEST_F(Retention, SubFolderIsNeverEnteredAndKeepsItsDayFolder) {
  Touch(Rec() / "081201" / "081201103_Ch27.ts");
  Touch(Rec() / "081201" / "thumbs" / "081201103_Ch27_0010.jpg");
  Touch(Rec() / "081201" / "readme.txt");  // not named after a recording: left alone
  rig.engine.SweepOldRecordings(EncodeDateTime(2008, 12, 9, 15, 0, 5));
  EXPECT_FALSE(fs::exists(Rec() / "081201" / "081201103_Ch27.ts"));
  EXPECT_TRUE(fs::exists(Rec() / "081201" / "thumbs" / "081201103_Ch27_0010.jpg"));
  EXPECT_TRUE(fs::exists(Rec() / "081201" / "readme.txt"));
}

TEST_F(Retention, LinksAreNeverFollowedOutOfTheRecordingFolder) {
  const fs::path outside = rig.folder.path() / "outside";
  const fs::path precious = Touch(outside / "081201103_Ch27.ts");
  fs::create_directory_symlink(outside, Rec() / "081201");  // a day folder that is a link
  Touch(Rec() / "081202" / "081202103_Ch27.ts");
  fs::create_symlink(precious, Rec() / "081202" / "081202113_Ch27.ts");
  rig.engine.SweepOldRecordings(EncodeDateTime(2008, 12, 9, 15, 0, 5));
  EXPECT_TRUE(fs::exists(precious));
  EXPECT_FALSE(fs::exists(Rec() / "081202" / "081202103_Ch27.ts"));
  EXPECT_TRUE(fs::is_symlink(Rec() / "081202" / "081202113_Ch27.ts"));
}

TEST_F(Retention, ImpossibleDatesAreSkippedWithoutStoppingTheSweep) {
  Touch(Rec() / "081399" / "081399103_Ch27.ts");
  Touch(Rec() / "081201" / "08129910_Ch27.ts");
  Touch(Rec() / "081201" / "08120125_Ch27.ts");
  Touch(Rec() / "081202" / "081202103_Ch27.ts");
  rig.engine.SweepOldRecordings(EncodeDateTime(2008, 12, 9, 15, 0, 5));
  EXPECT_TRUE(fs::exists(Rec() / "081399" / "081399103_Ch27.ts"));
  EXPECT_TRUE(fs::exists(Rec() / "081201" / "08129910_Ch27.ts"));
  EXPECT_TRUE(fs::exists(Rec() / "081201" / "08120125_Ch27.ts"));
  EXPECT_FALSE(fs::exists(Rec() / "081202"));
}

TEST_F(Retention, EmptyRecordingFolderMeansTheWorkingFolder) {
  const fs::path work = rig.folder.path() / "work";
  Touch(work / "081201" / "081201103_Ch27.ts");
  const fs::path before = fs::current_path();
  fs::current_path(work);
  rig.engine.TSFolder.clear();
  rig.engine.SweepOldRecordings(EncodeDateTime(2008, 12, 9, 15, 0, 5));
  fs::current_path(before);
  EXPECT_FALSE(fs::exists(work / "081201"));
  EXPECT_TRUE(fs::exists(work));
}

TEST_F(Retention, MissingRecordingFolderIsQuietlyNothing) {
  rig.engine.TSFolder = (rig.folder.path() / "gone").string();
  rig.engine.SweepOldRecordings(EncodeDateTime(2008, 12, 9, 15, 0, 5));
  EXPECT_FALSE(fs::exists(rig.folder.path() / "gone"));
}

TEST(RecordingWithoutFolder, DayFoldersLandInTheWorkingFolder) {
  EngineRig rig;
  const fs::path work = rig.folder.path() / "work";
  fs::create_directories(work);
  const fs::path before = fs::current_path();
  fs::current_path(work);
  rig.engine.SetTSFolder("");
  TOneSegTuner& tuner = rig.StreamingTuner("E", 27);
  AppendUnit(rig.ops.scripts["E"].stream, TotPacket(2008, 12, 6, 14, 35, 7), tuner.UnitSize);
  rig.engine.RecordTimerTimer();
  fs::current_path(before);
  EXPECT_EQ(fs::file_size(work / "081206" / "081206143_Ch27.ts"), 188u);
}

// The sweep at 2026-12-09 15:00:05 with three days looks into 1 to 6 December.
TDateTime SweepTime() { return EncodeDateTime(2026, 12, 9, 15, 0, 5); }

TEST_F(Retention, OnlyTheSuitesOwnNamesGoWithTheirThumbnailFolders) {
  for (const char* ext : {".ts", ".idx", ".sub", ".eit", ".html"}) Touch(Rec() / "261201" / (std::string("261201103_Ch27") + ext));
  Touch(Rec() / "261201" / "261201103_Ch27thm" / "261201103_Ch27_0005.jpg");
  Touch(Rec() / "261201" / "261201104_Ch-1.ts");  // a tuner without a channel
  const char* kept[] = {"26120118_my_notes.txt", "2612011899999.jpg", "261201103_Ch27.ts.bak", "261201103_Ch27.jpg",
                        "261201106_Ch27.ts", "261201103_Ch.ts", "261201103_Ch27thm.txt"};
  for (const char* name : kept) Touch(Rec() / "261201" / name);
  Touch(Rec() / "261202" / "261202103_Ch27.ts");
  Touch(Rec() / "261202" / "261202103_Ch27thm" / "261202103_Ch27_0005.jpg");

  const auto openDescriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  const auto descriptors = openDescriptors();
  EXPECT_EQ(rig.engine.SweepOldRecordings(SweepTime()), 9);
  EXPECT_EQ(openDescriptors(), descriptors);  // every folder the sweep opened is closed again

  for (const char* ext : {".ts", ".idx", ".sub", ".eit", ".html"}) {
    EXPECT_FALSE(fs::exists(Rec() / "261201" / (std::string("261201103_Ch27") + ext))) << ext;
  }
  EXPECT_FALSE(fs::exists(Rec() / "261201" / "261201103_Ch27thm"));
  EXPECT_FALSE(fs::exists(Rec() / "261201" / "261201104_Ch-1.ts"));
  for (const char* name : kept) EXPECT_TRUE(fs::exists(Rec() / "261201" / name)) << name;
  EXPECT_FALSE(fs::exists(Rec() / "261202"));  // its thumbnails no longer keep it
}

TEST_F(Retention, ThumbnailFoldersAreNeverLeftThroughALink) {
  const fs::path outside = rig.folder.path() / "outside";
  const fs::path precious = Touch(outside / "keep.jpg");
  const fs::path thumbs = Rec() / "261201" / "261201103_Ch27thm";
  Touch(thumbs / "261201103_Ch27_0005.jpg");
  fs::create_symlink(precious, thumbs / "261201103_Ch27_0010.jpg");
  fs::create_directory_symlink(outside, Rec() / "261201" / "261201113_Ch27thm");
  Touch(Rec() / "261202" / "261202103_Ch27thm" / "sub" / "261202103_Ch27_0005.jpg");

  rig.engine.SweepOldRecordings(SweepTime());

  EXPECT_TRUE(fs::exists(precious));
  EXPECT_FALSE(fs::exists(thumbs / "261201103_Ch27_0005.jpg"));
  EXPECT_TRUE(fs::is_symlink(thumbs / "261201103_Ch27_0010.jpg"));  // kept, and so its folder
  EXPECT_TRUE(fs::is_symlink(Rec() / "261201" / "261201113_Ch27thm"));
  EXPECT_TRUE(fs::exists(Rec() / "261202" / "261202103_Ch27thm" / "sub" / "261202103_Ch27_0005.jpg"));
}

TEST_F(Retention, DatesAfterTheSweepAreYoungWhateverTheCentury) {
  Touch(Rec() / "991231" / "991231233_Ch27.ts");  // beyond 2038-04-22, where a 16-bit day count wraps
  Touch(Rec() / "381231" / "381231233_Ch27.ts");
  Touch(Rec() / "261201" / "271201103_Ch27.ts");  // an old folder holding a file dated next year
  rig.engine.SweepOldRecordings(SweepTime());
  EXPECT_TRUE(fs::exists(Rec() / "991231" / "991231233_Ch27.ts"));
  EXPECT_TRUE(fs::exists(Rec() / "381231" / "381231233_Ch27.ts"));
  EXPECT_TRUE(fs::exists(Rec() / "261201" / "271201103_Ch27.ts"));
  // The same day count carries a sweep past 2099's last day.
  rig.engine.SweepOldRecordings(EncodeDateTime(2100, 1, 4, 0, 0, 0));
  EXPECT_FALSE(fs::exists(Rec() / "991231"));
}

TEST_F(Retention, PairsATunerHasOpenAreKept) {
  TOneSegTuner& tuner = rig.StreamingTuner("A", 27);
  AppendUnit(rig.ops.scripts["A"].stream, TotPacket(2026, 12, 1, 10, 35, 0), tuner.UnitSize);
  rig.engine.RecordTimerTimer();
  ASSERT_EQ(tuner.OpenFileBase, "261201103_Ch27");
  Touch(Rec() / "261201" / "261201103_Ch27.sub");
  Touch(Rec() / "261201" / "261201093_Ch27.ts");
  rig.engine.SweepOldRecordings(SweepTime());
  EXPECT_TRUE(fs::exists(Rec() / "261201" / "261201103_Ch27.ts"));
  EXPECT_TRUE(fs::exists(Rec() / "261201" / "261201103_Ch27.idx"));
  EXPECT_TRUE(fs::exists(Rec() / "261201" / "261201103_Ch27.sub"));
  EXPECT_FALSE(fs::exists(Rec() / "261201" / "261201093_Ch27.ts"));
}

struct LogLines : RecordingListener {
  std::vector<std::string> lines;
  void Log(const std::string& line) override { lines.push_back(line); }
};

// Time packets through the recording loop decide when the sweep runs.
class SweepTiming : public Retention {
 protected:
  void SetUp() override {
    Retention::SetUp();
    rig.engine.SetListener(&logs);
    tuner = &rig.StreamingTuner("T", 27);
  }
  // The PC's clock (both fake clocks) moves on to `pcNow`, by default `t`.
  void Receive(TDateTime t, std::optional<TDateTime> pcNow = {}) {
    if (rig.clock.now == 0) rig.clock.now = pcNow.value_or(t);
    rig.clock.Advance(std::max(0.0, (pcNow.value_or(t) - rig.clock.now) * 86400));
    const oneseg::CivilTime c = DecodeDateTime(t);
    AppendUnit(rig.ops.scripts["T"].stream, TotPacket(c.year, c.month, c.day, c.hour, c.minute, c.second),
               tuner->UnitSize);
    rig.engine.RecordTimerTimer();
  }
  static TDateTime At(int day, int hour, int minute, int second) {
    return EncodeDateTime(2026, 12, day, hour, minute, second);
  }
  LogLines logs;
  TOneSegTuner* tuner = nullptr;
};

TEST_F(SweepTiming, AFutureTimeNeverDrivesRetention) {
  const fs::path old = Touch(Rec() / "261205" / "261205143_Ch27.ts");
  const fs::path recent = Touch(Rec() / "261208" / "261208143_Ch27.ts");
  Receive(At(9, 15, 0, 0));  // the first time of a run: nothing confirms it yet
  EXPECT_EQ(rig.engine.LastSweepTime, 0);
  EXPECT_TRUE(fs::exists(old));
  Receive(At(9, 15, 0, 5));
  EXPECT_EQ(rig.engine.LastSweepTime, At(9, 15, 0, 5));
  EXPECT_FALSE(fs::exists(old));
  EXPECT_EQ(logs.lines.back(), "古い録画を削除：26/12/09 15:00:05 時点 1 件");

  Receive(EncodeDateTime(2031, 6, 1, 12, 0, 0), At(9, 15, 0, 7));  // intact packets from a faulty clock
  Receive(EncodeDateTime(2031, 6, 1, 12, 0, 5), At(9, 15, 0, 8));
  // Held once, said on the status line and as a notification; over when the time is good again.
  EXPECT_EQ(logs.held, std::vector<std::string>{BroadcastClockHeldText("31/06/01 12:00:00")});
  EXPECT_EQ(logs.notices, logs.held);
  Receive(At(9, 15, 0, 10));
  EXPECT_EQ(logs.held.back(), "");
  Receive(At(9, 15, 0, 15));
  EXPECT_EQ(rig.engine.LastSweepTime, At(9, 15, 0, 5));
  EXPECT_TRUE(fs::exists(recent));
  EXPECT_TRUE(fs::exists(Rec() / "261209" / "261209150_Ch27.ts"));
  EXPECT_NE(std::find(logs.lines.begin(), logs.lines.end(),
                      "T: 未確認の放送時刻 26/12/09 15:00:00 では古い録画を削除しません"),
            logs.lines.end());
  Receive(At(9, 15, 59, 58));  // a gap of an hour confirms nothing either
  Receive(At(9, 16, 0, 3));
  EXPECT_EQ(rig.engine.LastSweepTime, At(9, 16, 0, 3));
}

TEST_F(SweepTiming, AFullDiskAtMidnightIsFreedByTheSweep) {
  const fs::path old = Touch(Rec() / "261206" / "261206233_Ch27.ts");
  Receive(At(9, 23, 59, 55));
  EXPECT_TRUE(fs::exists(old));  // the first time of the run confirms nothing
  rig.files.failMakeFolder = true;  // the new day's folder cannot be made: the disk is full
  Receive(At(10, 0, 0, 0));
  EXPECT_NE(tuner->Status.find("Error:録画ファイル書き込み失敗"), std::string::npos);
  EXPECT_FALSE(fs::exists(old));
  EXPECT_EQ(rig.engine.LastSweepTime, At(10, 0, 0, 0));
  rig.files.failMakeFolder = false;  // the space the sweep freed
  Receive(At(10, 0, 0, 5));
  EXPECT_EQ(tuner->Status, "放送受信：26/12/10 00:00:05");
  EXPECT_TRUE(fs::exists(Rec() / "261210" / "261210000_Ch27.ts"));
}

TEST_F(Retention, AStoredDayCountThatIsNoNumberHoldsRetentionUntilFixed) {
  const fs::path sixDaysOld = Rec() / "261203" / "261203143_Ch27.ts";
  // All of these once read as three days and deleted a six-day-old recording.
  for (const std::string value : {"99999999999", "2147483648", "0", "-5", "abc", "", "12ab"}) {
    Touch(sixDaysOld);
    oneseg::ini_write_string(rig.ConfigPath(), "Config", "RecDays", value);
    rig.listener.held.clear();
    rig.engine.LoadSettings(rig.folder.str());
    rig.engine.SweepOldRecordings(SweepTime());
    EXPECT_TRUE(fs::exists(sixDaysOld)) << value;
    const bool tooLarge = value.size() > 5;
    if (tooLarge) {
      EXPECT_EQ(rig.engine.RecDays, kMaxRecDays) << value;
    }
    EXPECT_EQ(rig.engine.RecDaysFault, tooLarge ? std::nullopt : std::optional<std::string>(value));
    // Shown at start and again at every sweep it holds.
    EXPECT_EQ(rig.listener.held.size(), tooLarge ? 0u : 2u) << value;
  }
  EXPECT_EQ(rig.listener.held.back(), "RecDays=12ab は不正な値のため古い録画を削除しません");
  // The desktop is told too, within the notifications' rate limit.
  EXPECT_EQ(rig.listener.notices, std::vector<std::string>{RetentionHeldText("0")});
  oneseg::ini_write_string(rig.ConfigPath(), "Config", "RecDays", " 5 ");  // mended while running
  EXPECT_EQ(rig.engine.SweepOldRecordings(SweepTime()), 1);
  EXPECT_EQ(rig.engine.RecDays, 5);
  EXPECT_EQ(rig.listener.held.back(), "");

  // A missing key keeps the default of three days.
  std::ofstream(rig.ConfigPath()) << "[Config]\nTSFolder=" << Rec().string() << "\n";
  rig.engine.LoadSettings(rig.folder.str());
  Touch(sixDaysOld);
  rig.engine.SweepOldRecordings(SweepTime());
  EXPECT_FALSE(fs::exists(sixDaysOld));
  EXPECT_EQ(oneseg::ini_read_string(rig.ConfigPath(), "Config", "RecDays", ""), "3");
}

TEST(RecDaysText, DigitsOnlyAndLargeNumbersKeepTheMost) {
  EXPECT_EQ(ParseRecDays(" 7\t"), 7);
  EXPECT_EQ(ParseRecDays("3650"), 3650);
  EXPECT_EQ(ParseRecDays("100000"), kMaxRecDays);
  EXPECT_EQ(ParseRecDays("000000000000000000000000012"), 12);
  EXPECT_EQ(ParseRecDays("+5"), std::nullopt);
  EXPECT_EQ(ParseRecDays("0x10"), std::nullopt);
}

}  // namespace
}  // namespace brannock::test
