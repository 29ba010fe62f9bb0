#include "ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
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
            "; my notes\n[Config]\nTSFolder=/new\nRecDays=3\nEnableWatchDog=1\n\n[Tuner1]\nChannel=27\n\n"
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

// One line not in UTF-8 once made the whole file Shift-JIS, and the write
// back turned every UTF-8 name into lasting mojibake.
TEST_F(IniTest, EachLineKeepsItsOwnEncodingAndAWriteTouchesOnlyItsValue) {
  const std::string sjisName = "\x8b\x8f\x8a\xd4";  // "居間" in Shift-JIS
  const std::string head = "; stray \xFF byte\n[TunerA]\nFriendlyName=居間\r\nChannel = 27\n";
  const std::string tail = "[TunerB]\nFriendlyName=" + sjisName + "\nChannel=20";
  Write(head + tail);
  EXPECT_EQ(oneseg::ini_read_string(path_, "TunerA", "FriendlyName", ""), "居間");
  EXPECT_EQ(oneseg::ini_read_string(path_, "TunerB", "FriendlyName", ""), "居間");

  ASSERT_TRUE(oneseg::ini_write_string(path_, "tunera", "channel", "31"));
  EXPECT_EQ(Read(), "; stray \xFF byte\n[TunerA]\nFriendlyName=居間\r\nChannel = 31\n" + tail);

  // Written back in the encoding it was read in, unless Shift-JIS lacks a character.
  ASSERT_TRUE(oneseg::ini_write_string(path_, "TunerB", "FriendlyName", "寝室"));
  EXPECT_NE(Read().find("FriendlyName=\x90Q\x8e\xba\nChannel=20"), std::string::npos);
  ASSERT_TRUE(oneseg::ini_write_string(path_, "TunerB", "FriendlyName", "寝室\xF0\x9F\x93\xBA"));
  EXPECT_EQ(oneseg::ini_read_string(path_, "TunerB", "FriendlyName", ""), "寝室\xF0\x9F\x93\xBA");

  // A new key is UTF-8, after a last line that had no line end.
  ASSERT_TRUE(oneseg::ini_write_string(path_, "TunerB", "Disable", "1"));
  EXPECT_EQ(Read(), "; stray \xFF byte\n[TunerA]\nFriendlyName=居間\r\nChannel = 31\n"
                    "[TunerB]\nFriendlyName=寝室\xF0\x9F\x93\xBA\nChannel=20\nDisable=1\n");
}

TEST_F(IniTest, ValuesThatNeedQuotesKeepThem) {
  Write("\xEF\xBB\xBF[Config]\nTSFolder=\"/rec \"\nName=plain\n");
  EXPECT_EQ(oneseg::ini_read_string(path_, "Config", "TSFolder", ""), "/rec ");
  ASSERT_TRUE(oneseg::ini_write_string(path_, "Config", "TSFolder", "/rec "));
  ASSERT_TRUE(oneseg::ini_write_string(path_, "Config", "Name", " both "));
  ASSERT_TRUE(oneseg::ini_write_string(path_, "Config", "Quoted", "\"q\""));
  EXPECT_EQ(Read(), "\xEF\xBB\xBF[Config]\nTSFolder=\"/rec \"\nName=\" both \"\nQuoted=\"\"q\"\"\n");
  EXPECT_EQ(oneseg::ini_read_string(path_, "Config", "Name", ""), " both ");
  EXPECT_EQ(oneseg::ini_read_string(path_, "Config", "Quoted", ""), "\"q\"");
  // A line break would smuggle a line (or a section) into the file.
  EXPECT_FALSE(oneseg::ini_write_string(path_, "Config", "TSFolder", "/a\n[Tuner1]\nDisable=1"));
  EXPECT_EQ(oneseg::ini_read_string(path_, "Config", "TSFolder", ""), "/rec ");
}

TEST_F(IniTest, OnlyRegularFilesAreReadOrReplaced) {
  EXPECT_EQ(oneseg::ini_check_file(path_), oneseg::ini_file_status::absent);
  ASSERT_EQ(::mkfifo(path_.c_str(), 0644), 0);
  // Without a writer, a blocking open of the FIFO would never return.
  EXPECT_EQ(oneseg::ini_check_file(path_), oneseg::ini_file_status::not_regular);
  EXPECT_EQ(oneseg::ini_read_int(path_, "Config", "RecDays", 3), 3);
  EXPECT_FALSE(oneseg::ini_write_string(path_, "Config", "RecDays", "4"));
  EXPECT_TRUE(std::filesystem::is_fifo(path_));
  EXPECT_EQ(oneseg::ini_check_file("/dev/null"), oneseg::ini_file_status::not_regular);

  // A link is read through but replaced, never written through.
  std::filesystem::remove(path_);
  const auto target = dir_ / "elsewhere.ini";
  std::ofstream(target) << "[Config]\nRecDays=5\n";
  std::filesystem::create_symlink(target, path_);
  EXPECT_EQ(oneseg::ini_read_int(path_, "Config", "RecDays", 3), 5);
  ASSERT_TRUE(oneseg::ini_write_string(path_, "Config", "RecDays", "6"));
  EXPECT_FALSE(std::filesystem::is_symlink(path_));
  EXPECT_EQ(Read(), "[Config]\nRecDays=6\n");
  EXPECT_EQ(oneseg::ini_read_int(target.string(), "Config", "RecDays", 3), 5);
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
