#include "ini.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "ini_test_XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    path_ = (dir_ / "settings.ini").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Read() {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(IniTest, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(oneseg::ini_read_string(path_, "Config", "TSFolder", "none"), "none");
  EXPECT_EQ(oneseg::ini_read_int(path_, "Config", "RecDays", 3), 3);
  EXPECT_TRUE(oneseg::ini_read_section(path_, "stationID").empty());
  Write("[Config]\nRecDays=5\n");
  EXPECT_EQ(oneseg::ini_read_int(path_, "Other", "RecDays", 3), 3);
  EXPECT_EQ(oneseg::ini_read_int(path_, "Config", "Missing", 7), 7);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "never.ini"));
}

TEST_F(IniTest, NamesCompareWithoutCaseAndValuesAreTrimmed) {
  Write("[CONFIG]\n  tsfolder =  /data/rec  \nRecDays=\"4\"\n");
  EXPECT_EQ(oneseg::ini_read_string(path_, "Config", "TSFolder", ""), "/data/rec");
  EXPECT_EQ(oneseg::ini_read_int(path_, "config", "RECDAYS", 3), 4);
}

TEST_F(IniTest, ProfileIntRules) {
  EXPECT_EQ(oneseg::ini_parse_int("0x1F", 0), 31);
  EXPECT_EQ(oneseg::ini_parse_int("12abc", 0), 12);
  EXPECT_EQ(oneseg::ini_parse_int("-1", 0), -1);
  EXPECT_EQ(oneseg::ini_parse_int("abc", 9), 9);
  EXPECT_EQ(oneseg::ini_parse_int("", 9), 9);
  EXPECT_EQ(oneseg::ini_parse_int("0x", 9), 9);
  EXPECT_EQ(oneseg::ini_parse_int("99999999999", 0), -1);  // clamped to 32 bits, as the profile calls wrap
}

TEST_F(IniTest, FirstWriteCreatesTheFileAndLaterWritesKeepEverythingElse) {
  ASSERT_TRUE(oneseg::ini_write_string(path_, "Config", "TSFolder", "/rec"));
  EXPECT_EQ(Read(), "[Config]\nTSFolder=/rec\n");
  Write("; my notes\n[Config]\nTSFolder=/old\nRecDays=3\n\n[Tuner1]\nChannel=27\n");
  ASSERT_TRUE(oneseg::ini_write_string(path_, "config", "tsfolder", "/new"));
  ASSERT_TRUE(oneseg::ini_write_string(path_, "Config", "EnableWatchDog", "1"));
  ASSERT_TRUE(oneseg::ini_write_string(path_, "Tuner2", "Channel", "-1"));
  EXPECT_EQ(Read(),
            "; my notes\n[Config]\ntsfolder=/new\nRecDays=3\nEnableWatchDog=1\n\n[Tuner1]\nChannel=27\n\n"
            "[Tuner2]\nChannel=-1\n");
}

TEST_F(IniTest, CrLfFilesStayCrLf) {
  Write("[Config]\r\nRecDays=3\r\n");
  ASSERT_TRUE(oneseg::ini_write_string(path_, "Config", "RecDays", "4"));
  EXPECT_EQ(Read(), "[Config]\r\nRecDays=4\r\n");
}

TEST_F(IniTest, ReadSectionListsKeyValueLinesInOrder) {
  Write("[stationID]\n;comment\nNHK=27\nTokyo MX = 20\nnot a pair\n[next]\na=1\n");
  EXPECT_EQ(oneseg::ini_read_section(path_, "STATIONID"), (std::vector<std::string>{"NHK=27", "Tokyo MX=20"}));
}

TEST_F(IniTest, ShiftJisFileIsReadAsUtf8) {
  // "[stationID]\nＮＨＫ総合=27\n" with the station name in Shift-JIS.
  Write("[stationID]\n\x82\x6d\x82\x67\x82\x6a\x91\x8d\x8d\x87=27\n");
  EXPECT_EQ(oneseg::ini_read_section(path_, "stationID"), (std::vector<std::string>{"ＮＨＫ総合=27"}));
  Write("[stationID]\nＮＨＫ=27\n");
  EXPECT_EQ(oneseg::ini_read_section(path_, "stationID"), (std::vector<std::string>{"ＮＨＫ=27"}));
}

TEST_F(IniTest, FailedReplaceLeavesNoTemporaryFileBehind) {
  // A folder in the file's place cannot be replaced by a file.
  std::filesystem::create_directory(path_);
  EXPECT_FALSE(oneseg::ini_write_string(path_, "Config", "RecDays", "9"));
  EXPECT_TRUE(std::filesystem::is_directory(path_));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()), 1);
}

TEST_F(IniTest, WriteIntoMissingFolderFails) {
  EXPECT_FALSE(oneseg::ini_write_string((dir_ / "nope" / "x.ini").string(), "a", "b", "c"));
}

}  // namespace
