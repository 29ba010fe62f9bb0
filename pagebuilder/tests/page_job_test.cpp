#include "page_job.h"

#include <gtest/gtest.h>

#include <sstream>

#include "batch_mode.h"
#include "fakes.h"

namespace pellatt::testing {
namespace {

class PageJobTest : public ::testing::Test {
 protected:
  TempFolder dir;
  FakeSettings settings;
  FakeStarter starter;
  FakeClock clock;
  FakeUi ui;
  PageJob job{settings, starter, clock, ui};

  // By default the recordings' ten minutes are over (14:30 to 14:50 are used).
  PageJobTest() { clock.start = local_time(2008, 12, 6, 15, 0, 2); }

  std::string rec(const std::string& name) const { return dir / name; }
  // A recording of `size` bytes with its .sub already made.
  std::string recording(const std::string& base, long size = 1000000, bool with_sub = true) {
    write_sized(rec(base + ".ts"), size);
    if (with_sub) write_file(rec(base + ".sub"), "");
    return rec(base + ".ts");
  }
  std::vector<int> thumbnail_seconds() const {
    std::vector<int> seconds;
    for (const auto& call : starter.of("ffmpeg")) seconds.push_back(std::stoi(call.args[6]));
    return seconds;
  }
  int count_logged(const std::string& text) const {
    return static_cast<int>(std::count_if(ui.logs.begin(), ui.logs.end(),
                                          [&](const std::string& l) { return l.find(text) != std::string::npos; }));
  }
};

TEST_F(PageJobTest, ContinuousModeFollowsTheTenMinuteRecordings) {
  recording("081206143_Ch27");
  recording("081206144_Ch27");
  settings.s.to = "10";
  const JobOutcome outcome = job.run(rec("081206143_Ch27.ts"));
  EXPECT_EQ(outcome.recordings, 2);
  EXPECT_EQ(outcome.pages_written, 2);
  EXPECT_TRUE(exists(rec("081206143_Ch27.html")));
  EXPECT_TRUE(exists(rec("081206144_Ch27.html")));
  EXPECT_EQ(count_logged("の処理開始"), 2);
  EXPECT_TRUE(ui.logged(rec("081206144_Ch27.ts") + "の処理開始"));
  // One unchanged size per recording ends its size wait.
  EXPECT_EQ(clock.count(8000), 2);
  // The final question opens the first page of a continuous run.
  ui.answer = true;
  job.run(rec("081206143_Ch27.ts"));
  ASSERT_EQ(ui.opened.size(), 1u);
  EXPECT_EQ(ui.opened[0], rec("081206143_Ch27.html"));
}

TEST_F(PageJobTest, SizeWaitLastsUntilTheSizeStaysTheSame) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.cont = true;
  settings.s.to = "5";
  int grows = 2;
  clock.on_sleep = [&](int ms) {
    if (ms == 8000 && grows-- > 0) write_sized(ts, 1000000 + 1000 * (3 - grows));
  };
  job.run(ts);
  EXPECT_EQ(clock.count(8000), 3);
  EXPECT_EQ(ui.statuses.front(), ts + "のサイズを調べています");
  EXPECT_EQ(std::count(ui.statuses.begin(), ui.statuses.end(), ts + "の作成を待っています"), 3);
}

TEST_F(PageJobTest, ContinuousModeGoesOnInTheNextDayFolderAndEndsWhereNothingFollows) {
  ::mkdir((dir / "081231").c_str(), 0777);
  ::mkdir((dir / "090101").c_str(), 0777);
  recording("081231/081231235_Ch27");
  recording("090101/090101000_Ch27");
  recording("081231/081231000_Ch27");  // the same day's 00:00 is not the next one
  clock.start = local_time(2009, 1, 2, 0, 0, 0);
  settings.s.to = "5";
  const JobOutcome outcome = job.run(rec("081231/081231235_Ch27.ts"));
  EXPECT_EQ(outcome.recordings, 2);
  EXPECT_EQ(outcome.pages_written, 2);
  EXPECT_TRUE(ui.logged(rec("090101/090101000_Ch27.ts") + "の処理開始"));
  EXPECT_FALSE(exists(rec("081231/081231000_Ch27.html")));
  EXPECT_NE(read_file(rec("090101/090101000_Ch27.html")).find("<a href='../081231/081231235_Ch27.html'>back</a>"),
            std::string::npos);
}

// A drop-out of the signal stops the recording's growth for a while; only the
// next recording, or the end of its ten minutes with a steady size, ends the wait.
TEST_F(PageJobTest, PausedGrowthDoesNotEndTheRecording) {
  const std::string ts = recording("081206150_Ch27");
  settings.s.to = "5";
  int waits = 0;
  auto grow_with_a_pause = [&](int ms) {
    if (ms != 8000) return;
    ++waits;
    if (waits <= 2 || (waits >= 6 && waits <= 7)) write_sized(ts, 1000000 + 1000 * waits);  // 24 s pause between
  };
  clock.on_sleep = grow_with_a_pause;
  job.run(ts);
  EXPECT_EQ(clock.count(8000), 75);  // 15:00:02 + 75 x 8 s passes 15:10:00
  EXPECT_GE(clock.now(), local_time(2008, 12, 6, 15, 10, 0));
  EXPECT_EQ(count_logged("の作成終わり"), 1);

  // The next recording appearing ends the wait at once, pause or not.
  clock.sleeps.clear();
  clock.elapsed_ms = 0;
  waits = 0;
  clock.on_sleep = [&](int ms) {
    grow_with_a_pause(ms);
    if (waits == 4) recording("081206151_Ch27");
  };
  job.run(ts);
  EXPECT_TRUE(ui.logged("2008/12/06 15:00:34" + ts + "の作成終わり"));  // after 4 x 8 s

  // The wait can be left with the abort button: no page for an unfinished recording.
  ::unlink(rec("081206151_Ch27.ts").c_str());
  ::unlink(rec("081206150_Ch27.html").c_str());
  clock.sleeps.clear();
  clock.elapsed_ms = 0;
  ui.on_events = [&] { job.abort(); };
  const JobOutcome outcome = job.run(ts);
  EXPECT_EQ(clock.count(8000), 1);
  EXPECT_EQ(outcome.pages_written, 0);
  EXPECT_FALSE(exists(rec("081206150_Ch27.html")));
  EXPECT_TRUE(ui.logged("ループ抜けて中止します"));
}

TEST_F(PageJobTest, TheStartedAnalyserIsWaitedForBeforeThePage) {
  const std::string ts = recording("081206143_Ch27", 1000000, false);
  settings.s.cont = false;
  settings.s.to = "5";
  starter.running_polls = 4;  // still writing the .sub it has created
  size_t thumbnails_at = 0;
  starter.on_start = [&](const StartCall& call) {
    if (call.program == "ffmpeg" && thumbnails_at == 0) thumbnails_at = clock.sleeps.size();
  };
  job.run(ts);
  EXPECT_EQ(clock.count(100), 4);
  EXPECT_EQ(std::count(clock.sleeps.begin(), clock.sleeps.begin() + thumbnails_at, 100), 4);
}

TEST_F(PageJobTest, ChoosingTheSubTakesItsRecording) {
  const std::string ts = recording("081206143_Ch27", 1000000, false);
  settings.s.cont = false;
  settings.s.to = "5";
  job.run(rec("081206143_Ch27.sub"));
  ASSERT_FALSE(ui.logs.empty());
  EXPECT_EQ(ui.logs[0], "2008/12/06 15:00:02" + ts + "が最初のTSファイル");
  const auto analyser = starter.of("skerrow");
  ASSERT_EQ(analyser.size(), 1u);
  EXPECT_EQ(analyser[0].args, std::vector<std::string>{ts});
  EXPECT_FALSE(analyser[0].visible);
  EXPECT_TRUE(ui.logged(rec("081206143_Ch27.sub") + "作成します"));
  EXPECT_TRUE(exists(rec("081206143_Ch27.html")));
}

TEST_F(PageJobTest, AnExistingSubIsUsedWithoutTheAnalyser) {
  recording("081206143_Ch27");
  settings.s.cont = false;
  settings.s.to = "5";
  job.run(rec("081206143_Ch27.ts"));
  EXPECT_TRUE(starter.of("skerrow").empty());
  EXPECT_EQ(clock.count(1000), 0);
  EXPECT_TRUE(ui.logged("字幕作成終了"));
}

TEST_F(PageJobTest, SubAppearingLaterEndsThePoll) {
  const std::string ts = recording("081206143_Ch27", 1000000, false);
  settings.s.cont = false;
  settings.s.to = "5";
  starter.skerrow_writes = false;
  int polls = 0;
  clock.on_sleep = [&](int ms) {
    if (ms == 1000 && ++polls == 3) write_file(rec("081206143_Ch27.sub"), "");
  };
  job.run(ts);
  EXPECT_EQ(clock.count(1000), 3);
  EXPECT_TRUE(exists(rec("081206143_Ch27.html")));
}

TEST_F(PageJobTest, AnalyserTimeOutSkipsThePageAndGoesOn) {
  recording("081206143_Ch27", 1000000, false);
  recording("081206144_Ch27");
  settings.s.to = "5";
  starter.skerrow_writes = false;
  const JobOutcome outcome = job.run(rec("081206143_Ch27.ts"));
  EXPECT_EQ(clock.count(1000), 30);
  EXPECT_NE(std::find(ui.logs.begin(), ui.logs.end(), rec("081206143_Ch27.sub") + "字幕作成タイムアウト（30秒）"),
            ui.logs.end());
  EXPECT_FALSE(exists(rec("081206143_Ch27.html")));
  EXPECT_TRUE(exists(rec("081206144_Ch27.html")));
  EXPECT_EQ(outcome.recordings, 2);
  EXPECT_EQ(outcome.pages_written, 1);
  // Only the second recording got thumbnails.
  for (const auto& call : starter.of("ffmpeg")) EXPECT_NE(call.args[2].find("144"), std::string::npos);
}

TEST_F(PageJobTest, ThumbnailScheduleFollowsTheEstimatedLength) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.cont = false;
  job.run(ts);
  EXPECT_EQ(thumbnail_seconds(), (std::vector<int>{5, 10, 15}));
  const auto first = starter.of("ffmpeg").at(0);
  EXPECT_EQ(first.args, (std::vector<std::string>{"-y", "-i", "file:" + ts, "-f", "image2", "-ss", "5", "-r", "1",
                                                  "-frames:v", "1", "-an", "-update", "1",
                                                  "file:" + rec("081206143_Ch27thm/5.jpg")}));
  // position x Edit3 ms after each start
  EXPECT_EQ(clock.count(20), 1);
  EXPECT_EQ(clock.count(40), 1);
  EXPECT_EQ(clock.count(60), 1);
  EXPECT_NE(std::find(ui.statuses.begin(), ui.statuses.end(), "15秒目のサムネイル作成中"), ui.statuses.end());
  EXPECT_EQ(ui.statuses.back(), "最後のサムネイルが作成されました" + rec("081206143_Ch27thm/15.jpg"));
  EXPECT_TRUE(ui.logged("サムネイル作成発行終了"));
}

TEST_F(PageJobTest, ExistingThumbnailsAreNotMadeAgain) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.cont = false;
  settings.s.ext = ".png";
  settings.s.wait_factor = "10";
  ::mkdir(rec("081206143_Ch27thm").c_str(), 0777);
  write_file(rec("081206143_Ch27thm/10.png"), "old");
  job.run(ts);
  EXPECT_EQ(thumbnail_seconds(), (std::vector<int>{5, 15}));
  EXPECT_EQ(clock.count(50), 1);
  EXPECT_EQ(clock.count(150), 1);
  EXPECT_EQ(read_file(rec("081206143_Ch27thm/10.png")), "old");
}

TEST_F(PageJobTest, EmptyRangeIssuesNoThumbnailAndDoesNotWait) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.cont = false;
  settings.s.from = "600";
  settings.s.to = "600";
  job.run(ts);
  EXPECT_TRUE(starter.of("ffmpeg").empty());
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_TRUE(exists(rec("081206143_Ch27.html")));
}

TEST_F(PageJobTest, AbortDuringThumbnailsStillWritesThePage) {
  const std::string ts = recording("081206143_Ch27", 10000000);
  recording("081206144_Ch27");
  int events = 0;
  ui.on_events = [&] {
    if (++events == 3) job.abort();
  };
  const JobOutcome outcome = job.run(ts);
  EXPECT_EQ(thumbnail_seconds(), (std::vector<int>{5, 10}));
  EXPECT_TRUE(exists(rec("081206143_Ch27.html")));
  EXPECT_TRUE(ui.logged("ループ抜けて中止します"));
  EXPECT_EQ(outcome.recordings, 1);
  EXPECT_EQ(ui.questions, std::vector<std::string>{"作成完了しました。結果をブラウザで表示しますか？"});
}

TEST_F(PageJobTest, LastThumbnailThatNeverComesEndsTheWait) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.cont = false;
  starter.ffmpeg_writes = false;
  starter.running_polls = 3;
  const JobOutcome outcome = job.run(ts);
  EXPECT_EQ(clock.count(1000), 3);
  EXPECT_TRUE(ui.logged(rec("081206143_Ch27thm/15.jpg") + "は作成されませんでした"));
  EXPECT_TRUE(exists(rec("081206143_Ch27.html")));
  EXPECT_EQ(outcome.thumbs_due, 3);
  EXPECT_EQ(outcome.thumbs_present, 0);
}

TEST_F(PageJobTest, MissingFfmpegIsLoggedAndTheJobGoesOn) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.cont = false;
  starter.fail = true;
  job.run(ts);
  EXPECT_EQ(count_logged("ffmpegを起動できません"), 3);
  EXPECT_TRUE(exists(rec("081206143_Ch27.html")));
}

TEST_F(PageJobTest, BatchStatusTellsMissingThumbnailsAndPages) {
  recording("081206143_Ch27");
  BatchOptions options;
  options.file = rec("081206143_Ch27.ts");
  options.settings.cont = false;
  std::ostringstream out, err;
  EXPECT_EQ(run_batch(options, starter, clock, out, err), 0);
  EXPECT_NE(out.str().find("合成終了"), std::string::npos);
  EXPECT_NE(out.str().find("-> no"), std::string::npos);
  starter.fail = true;
  ::system(("rm -rf '" + rec("081206143_Ch27thm") + "'").c_str());
  EXPECT_EQ(run_batch(options, starter, clock, out, err), 1);
  options.settings.interval = "x";
  EXPECT_EQ(run_batch(options, starter, clock, out, err), 2);
  EXPECT_NE(err.str().find("'x' is not a valid integer value"), std::string::npos);
}

TEST_F(PageJobTest, RebuildOnlyWritesThePageWithoutProcessesOrWaits) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.html_only = true;
  job.run(ts);
  EXPECT_TRUE(starter.calls.empty());
  EXPECT_TRUE(clock.sleeps.empty());
  EXPECT_TRUE(exists(rec("081206143_Ch27.html")));
  EXPECT_FALSE(ui.logged("の作成終わり"));
}

TEST_F(PageJobTest, SubConfirmationNoSkipsThumbnailsAndPage) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.cont = false;
  settings.s.sub_dialog = true;
  job.run(ts);
  EXPECT_EQ(ui.opened, std::vector<std::string>{rec("081206143_Ch27.sub")});
  ASSERT_EQ(ui.questions.size(), 2u);
  EXPECT_EQ(ui.questions[0], "この字幕でサムネイル作成しますか？");
  EXPECT_TRUE(starter.of("ffmpeg").empty());
  EXPECT_FALSE(exists(rec("081206143_Ch27.html")));
}

TEST_F(PageJobTest, RefilledGapsAreWaitedForThoughTheLastPictureIsThere) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.cont = false;
  settings.s.fast_thumbnails = true;
  ::mkdir(rec("081206143_Ch27thm").c_str(), 0777);
  write_file(rec("081206143_Ch27thm/15.jpg"), "old");
  starter.running_polls = 3;
  job.run(ts);
  ASSERT_EQ(starter.of("ffmpeg").size(), 1u);
  EXPECT_EQ(clock.count(100), 3);
}

TEST_F(PageJobTest, LinksAreNeverWrittenThrough) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.cont = false;
  write_file(rec("elsewhere.html"), "not a page");
  ::mkdir(rec("other").c_str(), 0777);
  // A linked thumbnail folder is refused; the page is still written.
  ASSERT_EQ(::symlink(rec("other").c_str(), rec("081206143_Ch27thm").c_str()), 0);
  job.run(ts);
  EXPECT_TRUE(starter.of("ffmpeg").empty());
  EXPECT_TRUE(ui.logged(rec("081206143_Ch27thm") + "はリンクなのでサムネイルを作りません"));
  EXPECT_TRUE(exists(rec("081206143_Ch27.html")));
  // A dangling link in the folder is not a gap to fill.
  ::unlink(rec("081206143_Ch27thm").c_str());
  ::mkdir(rec("081206143_Ch27thm").c_str(), 0777);
  ASSERT_EQ(::symlink(rec("other/x.jpg").c_str(), rec("081206143_Ch27thm/10.jpg").c_str()), 0);
  // A linked page is not followed to its target.
  ::unlink(rec("081206143_Ch27.html").c_str());
  ASSERT_EQ(::symlink(rec("elsewhere.html").c_str(), rec("081206143_Ch27.html").c_str()), 0);
  EXPECT_THROW(job.run(ts), JobError);
  EXPECT_EQ(thumbnail_seconds(), (std::vector<int>{5, 15}));
  EXPECT_EQ(read_file(rec("elsewhere.html")), "not a page");
  EXPECT_FALSE(exists(rec("other/x.jpg")));
}

TEST_F(PageJobTest, FastThumbnailsUseOneRun) {
  const std::string ts = recording("081206143_Ch27");
  settings.s.cont = false;
  settings.s.fast_thumbnails = true;
  job.run(ts);
  const auto runs = starter.of("ffmpeg");
  ASSERT_EQ(runs.size(), 1u);
  const auto& args = runs[0].args;
  for (int second : {5, 10, 15}) {
    const std::string path = "file:" + rec("081206143_Ch27thm/" + std::to_string(second) + ".jpg");
    EXPECT_NE(std::find(args.begin(), args.end(), path), args.end()) << path;
  }
  EXPECT_NE(args[6].find("select='gte(t+0.000001\\,15)*not(gte(prev_t+0.000001\\,15))'"), std::string::npos);
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(PageJobTest, BadNumbersAndNamesStopTheJob) {
  recording("081206143_Ch27");
  settings.s.cont = false;
  // Found before anything is written: the earlier page stays.
  write_file(rec("081206143_Ch27.html"), "earlier page");
  for (const char* to : {"86400", "abc"}) {
    settings.s.to = to;
    EXPECT_THROW(job.run(rec("081206143_Ch27.ts")), JobError) << to;
  }
  settings.s.to = "600";
  settings.s.from = "-5";
  EXPECT_THROW(job.run(rec("081206143_Ch27.ts")), JobError);
  settings.s.from = "0";
  EXPECT_TRUE(starter.calls.empty());
  EXPECT_EQ(read_file(rec("081206143_Ch27.html")), "earlier page");
  settings.s.interval = "abc";
  EXPECT_THROW(job.run(rec("081206143_Ch27.ts")), JobError);
  settings.s.interval = "0";  // would never leave the schedule
  EXPECT_THROW(job.run(rec("081206143_Ch27.ts")), JobError);
  recording("0812061x3_Ch27");
  settings.s.interval = "5";
  try {
    job.run(rec("0812061x3_Ch27.ts"));
    FAIL() << "no error";
  } catch (const JobError& e) {
    EXPECT_STREQ(e.what(), "'1x3' is not a valid integer value");
  }
}

}  // namespace
}  // namespace pellatt::testing
