// pellatt --batch with the real ffmpeg on a recording with picture.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "fakes.h"
#include "system_env.h"

namespace pellatt::testing {
namespace {

int run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string sh_quote(const std::string& text) { return "'" + text + "'"; }

// A stand-in analyser: writes two captions stamped with broadcast times one
// and five seconds into the recording's period (14:30 by its name).
const char* kFakeAnalyser = R"SH(#!/bin/sh
printf '14:30:01 \244\242\244\244\r\n14:30:05 \264\301\273\372\r\n' > "${1%.ts}.sub"
)SH";

class EndToEnd : public ::testing::Test {
 protected:
  TempFolder work;
  std::string bin = work / "bin";
  std::string recs = work / "rec dir";

  void SetUp() override {
    if (find_program("", "ffmpeg").empty()) GTEST_SKIP() << "ffmpeg not installed";
    ::mkdir(bin.c_str(), 0777);
    ::mkdir(recs.c_str(), 0777);
    ASSERT_EQ(run("cp " + sh_quote(PELLATT_PATH) + " " + sh_quote(bin + "/pellatt")), 0);
    write_file(bin + "/skerrow", kFakeAnalyser);
    ::chmod((bin + "/skerrow").c_str(), 0755);
  }

  // `seconds` of test picture at the bit rate of a one-segment recording.
  void make_recording(const std::string& path, int seconds = 12) {
    ASSERT_EQ(run("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=320x180:rate=15 -t " +
                  std::to_string(seconds) + " -c:v libx264 "
                  "-profile:v baseline -preset ultrafast -pix_fmt yuv420p -b:v 300k -muxrate 420000 -f mpegts " +
                  sh_quote(path)),
              0);
  }

  int pellatt(const std::string& args, const std::string& log) {
    return run("ONESEG_TIME_SCALE=0.02 " + sh_quote(bin + "/pellatt") + " --batch " + args + " > " + sh_quote(log));
  }
};

TEST_F(EndToEnd, PageListsCaptionsAndThumbnails) {
  const std::string ts = recs + "/081206143_Ch27.ts";
  make_recording(ts);
  ASSERT_EQ(pellatt(sh_quote(ts) + " --interval 2 --to 12", work / "log.txt"), 0) << read_file(work / "log.txt");
  const std::string log = read_file(work / "log.txt");
  EXPECT_NE(log.find("が最初のTSファイル"), std::string::npos);
  // Second 12 lies at the end of a 12-second recording: ffmpeg writes nothing and the job goes on.
  EXPECT_NE(log.find("081206143_Ch27thm/12.jpgは作成されませんでした"), std::string::npos) << log;

  const std::string page = read_file(recs + "/081206143_Ch27.html");
  EXPECT_NE(page.find("\r\n\xa4\xa2\xa4\xa4\r\n"), std::string::npos);
  EXPECT_NE(page.find("\r\n\xb4\xc1\xbb\xfa\r\n"), std::string::npos);
  for (int second = 2; second <= 10; second += 2) {
    const std::string name = "081206143_Ch27thm/" + std::to_string(second) + ".jpg";
    EXPECT_NE(page.find("<img src=\"" + name + "\">"), std::string::npos) << name;
    EXPECT_EQ(read_file(recs + "/" + name).substr(0, 2), "\xff\xd8") << name;
  }
  EXPECT_EQ(page.find("thm/12.jpg"), std::string::npos);
}

TEST_F(EndToEnd, FastThumbnailsAreTheSamePictures) {
  const std::string slow = recs + "/081206143_Ch27.ts";
  ::mkdir((recs + "/fast").c_str(), 0777);
  const std::string fast = recs + "/fast/081206143_Ch27.ts";
  make_recording(slow);
  ASSERT_EQ(run("cp " + sh_quote(slow) + " " + sh_quote(fast)), 0);
  const std::string common = " --no-continue --interval 3 --to 11 --ext .png";
  ASSERT_EQ(pellatt(sh_quote(slow) + common, work / "slow.txt"), 0);
  ASSERT_EQ(pellatt(sh_quote(fast) + common + " --fast-thumbnails", work / "fast.txt"), 0);
  for (int second : {3, 6, 9}) {
    const std::string name = "/081206143_Ch27thm/" + std::to_string(second) + ".png";
    const std::string picture = read_file(recs + name);
    EXPECT_GT(picture.size(), 1000u) << name;
    EXPECT_EQ(picture, read_file(recs + "/fast" + name)) << name;
  }
}

// Folder names that ffmpeg would read as a frame number pattern or a protocol,
// given relative to the working folder, each way of making thumbnails.
TEST_F(EndToEnd, ThumbnailsInFoldersWithPercentOrColon) {
  const std::string recording = work / "source.ts";
  make_recording(recording, 6);
  for (const std::string folder : {"pct%d", "%%", "100%", "%05d", "a:b"}) {
    ::mkdir((recs + "/" + folder).c_str(), 0777);
    for (const std::string mode : {"", " --fast-thumbnails"}) {
      const std::string ts = folder + "/081206143_Ch27.ts";
      ASSERT_EQ(run("cp " + sh_quote(recording) + " " + sh_quote(recs + "/" + ts)), 0);
      const int status = run("cd " + sh_quote(recs) + " && ONESEG_TIME_SCALE=0.02 " + sh_quote(bin + "/pellatt") +
                             " --batch " + sh_quote(ts) + " --no-continue --interval 2 --to 4" + mode + " > " +
                             sh_quote(work / "log.txt"));
      EXPECT_EQ(status, 0) << folder << mode << read_file(work / "log.txt");
      for (const char* second : {"2", "4"}) {
        const std::string thumb = recs + "/" + folder + "/081206143_Ch27thm/" + second + ".jpg";
        EXPECT_EQ(read_file(thumb).substr(0, 2), "\xff\xd8") << thumb << mode;
        ::unlink(thumb.c_str());
      }
    }
  }
}

TEST_F(EndToEnd, MissingFfmpegGivesAFailureStatusButStillThePage) {
  const std::string ts = recs + "/081206143_Ch27.ts";
  make_recording(ts);
  // Nothing but pellatt and the fake analyser on the search path: no ffmpeg.
  const int status =
      run("PATH=" + sh_quote(bin) + " ONESEG_TIME_SCALE=0.02 " + sh_quote(bin + "/pellatt") +
          " --batch " + sh_quote(ts) + " --no-continue --to 6 > " + sh_quote(work / "log.txt"));
  EXPECT_EQ(status, 1);
  EXPECT_NE(read_file(work / "log.txt").find("ffmpegを起動できません"), std::string::npos);
  EXPECT_TRUE(exists(recs + "/081206143_Ch27.html"));
}

// Asking for help or the version needs no display; an option that cannot be
// used stops pellatt before it writes anything.
TEST(CommandLine, HelpVersionAndBadOptionsWriteNothing) {
  TempFolder work;
  const std::string pellatt = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + sh_quote(PELLATT_PATH);
  EXPECT_EQ(run(pellatt + " --help > " + sh_quote(work / "help.txt")), 0);
  EXPECT_NE(read_file(work / "help.txt").find("pellatt --batch FILE.ts|FILE.sub [options]"), std::string::npos);
  EXPECT_EQ(run(pellatt + " --version > " + sh_quote(work / "version.txt")), 0);
  EXPECT_EQ(read_file(work / "version.txt").rfind("pellatt ", 0), 0u);
  write_sized(work / "081206143_Ch27.ts", 1000000);
  write_file(work / "081206143_Ch27.sub", "");
  write_file(work / "081206143_Ch27.html", "earlier page");
  for (const char* bad : {"--columns abc", "--to 86400", "--from -5"}) {
    EXPECT_EQ(run(pellatt + " --batch " + sh_quote(work / "081206143_Ch27.ts") + " --html-only " + bad + " 2> /dev/null"), 2)
        << bad;
    EXPECT_EQ(read_file(work / "081206143_Ch27.html"), "earlier page") << bad;
  }
}

// With the suite's own analyser, where it has been built beside pellatt.
TEST_F(EndToEnd, RealAnalyserMakesTheSubForThePage) {
  const std::string pellatt_path = PELLATT_PATH;
  const std::string analyser = pellatt_path.substr(0, pellatt_path.rfind('/') + 1) + "skerrow";
  if (!exists(analyser)) GTEST_SKIP() << "no skerrow beside pellatt";
  ASSERT_EQ(run("cp " + sh_quote(analyser) + " " + sh_quote(bin + "/skerrow")), 0);
  const std::string ts = recs + "/081206143_Ch27.ts";
  make_recording(ts, 125);  // the analyser takes recordings of 6,240,000 bytes or more
  ASSERT_EQ(pellatt(sh_quote(ts) + " --no-continue --from 100 --to 110", work / "log.txt"), 0)
      << read_file(work / "log.txt");
  EXPECT_TRUE(exists(recs + "/081206143_Ch27.sub"));
  const std::string page = read_file(recs + "/081206143_Ch27.html");
  EXPECT_NE(page.find("<img src=\"081206143_Ch27thm/110.jpg\">"), std::string::npos);
}

}  // namespace
}  // namespace pellatt::testing
