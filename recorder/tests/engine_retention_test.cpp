// The retention sweep over real folders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "datetime.h"
#include "engine_fakes.h"

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

}  // namespace
}  // namespace brannock::test
