#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "batch_mode.h"
#include "fakes.h"
#include "file_info.h"
#include "recording_name.h"
#include "thumb_commands.h"

namespace pellatt::testing {
namespace {

TEST(RecordingNames, StartTimeAndNeighbours) {
  EXPECT_EQ(start_minutes_of("081206143_Ch27"), 14 * 60 + 30);
  EXPECT_EQ(start_minutes_of("081206000_Ch27"), 0);
  EXPECT_THROW(start_minutes_of("081206243_Ch27"), JobError);
  EXPECT_THROW(start_minutes_of("081206146_Ch27"), JobError);
  EXPECT_THROW(start_minutes_of("0812061+3_Ch27"), JobError);
  EXPECT_THROW(start_minutes_of("0812061"), JobError);
  EXPECT_EQ(neighbour_base("/r/081206/081206143_Ch27", 870, 10), "/r/081206/081206144_Ch27");
  EXPECT_EQ(neighbour_base("/r/081206/081206143_Ch27", 870, -10), "/r/081206/081206142_Ch27");
}

TEST(RecordingNames, NeighboursAcrossMidnightLieInTheNeighbouringDayFolder) {
  EXPECT_EQ(neighbour_base("/r/081206/081206235_Ch27", 1430, 10), "/r/081207/081207000_Ch27");
  EXPECT_EQ(neighbour_base("/r/081207/081207000_Ch27", 0, -10), "/r/081206/081206235_Ch27");
  EXPECT_EQ(neighbour_base("/r/081231/081231235_Ch27", 1430, 10), "/r/090101/090101000_Ch27");
  EXPECT_EQ(neighbour_base("/r/090101/090101000_Ch27", 0, -10), "/r/081231/081231235_Ch27");
  EXPECT_EQ(neighbour_base("/r/080228/080228235_Ch27", 1430, 10), "/r/080229/080229000_Ch27");
  EXPECT_EQ(neighbour_base("/r/090228/090228235_Ch27", 1430, 10), "/r/090301/090301000_Ch27");
  EXPECT_EQ(neighbour_base("/r/000301/000301000_Ch27", 0, -10), "/r/000229/000229235_Ch27");
  // Recordings kept outside a day folder keep their folder.
  EXPECT_EQ(neighbour_base("/r/x/081206235_Ch27", 1430, 10), "/r/x/081207000_Ch27");
  EXPECT_EQ(neighbour_base("081206000_Ch27", 0, -10), "081205235_Ch27");
  EXPECT_EQ(neighbour_link("/r/081206/081206235_Ch27", 1430, 10), "../081207/081207000_Ch27");
  EXPECT_EQ(neighbour_link("/r/081206/081206235_Ch27", 1430, -10), "081206234_Ch27");
  EXPECT_EQ(neighbour_link("/r/x/081206235_Ch27", 1430, 10), "081207000_Ch27");
  EXPECT_EQ(shift_date("081306", 1), "081306");
  // The ten minutes a name stands for are Japan time, whatever the local zone.
  EXPECT_EQ(broadcast_period_end("081206143_Ch27"), 1228542000);  // 2008-12-06 05:40:00 UTC
  EXPECT_EQ(broadcast_period_end("081206235_Ch27"), 1228575600);  // 2008-12-06 15:00:00 UTC
  EXPECT_EQ(broadcast_period_end("081232143_Ch27"), -1);
}

TEST(RecordingNames, PathPieces) {
  EXPECT_EQ(change_ext("/a.b/081206143_Ch27.sub", ".ts"), "/a.b/081206143_Ch27.ts");
  EXPECT_EQ(change_ext("/a.b/rec", ".ts"), "/a.b/rec.ts");
  EXPECT_EQ(folder_of("/a/b.ts"), "/a/");
  EXPECT_EQ(folder_of("b.ts"), "");
  EXPECT_EQ(file_name_of("/a/b.ts"), "b.ts");
}

TEST(RecordingNames, TimeFromName) {
  EXPECT_EQ(time_from_name("081206143_Ch27"), local_time(2008, 12, 6, 14, 30, 0));
  EXPECT_EQ(time_from_name("081306143_Ch27"), -1);
  EXPECT_EQ(time_from_name("x"), -1);
}

TEST(RecordingNames, CreationTimeOutsideTheNamedPeriodGivesWayToTheName) {
  TempFolder folder;
  // Made now, but named for 2008: a copy, or a recording made faster than broadcast.
  write_file(folder / "081206143_Ch27.ts", "x");
  EXPECT_EQ(creation_time(folder / "081206143_Ch27.ts"), local_time(2008, 12, 6, 14, 30, 0));
  // Named for the period it was made in: its own creation time counts.
  char name[32];
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  std::strftime(name, sizeof name, "%y%m%d%H", &parts);
  const std::string base = name + std::to_string(parts.tm_min / 10) + "_Ch27";
  write_file(folder / (base + ".ts"), "x");
  struct statx info {};
  const bool kept = ::statx(AT_FDCWD, (folder / (base + ".ts")).c_str(), 0, STATX_BTIME, &info) == 0 &&
                    (info.stx_mask & STATX_BTIME) && info.stx_btime.tv_sec != 0;
  EXPECT_EQ(creation_time(folder / (base + ".ts")), kept ? info.stx_btime.tv_sec : time_from_name(base));
  EXPECT_THROW(creation_time(folder / "missing.ts"), JobError);
}

TEST(Numbers, ToInt) {
  EXPECT_EQ(to_int("600"), 600);
  EXPECT_EQ(to_int(" -5 "), -5);
  EXPECT_THROW(to_int(""), JobError);
  EXPECT_THROW(to_int("5s"), JobError);
  EXPECT_THROW(to_int("99999999999"), JobError);
  EXPECT_THROW(to_int("+-3"), JobError);
}

TEST(BatchOptions, DefaultsAreThoseOfTheWindow) {
  const BatchOptions o = parse_batch_options({"/r/a.ts"});
  EXPECT_EQ(o.file, "/r/a.ts");
  EXPECT_TRUE(o.settings.cont);
  EXPECT_EQ(o.settings.columns, "4");
  EXPECT_EQ(o.settings.to, "600");
  EXPECT_EQ(o.settings.ext, ".jpg");
  EXPECT_FALSE(o.settings.fast_thumbnails);
  EXPECT_FALSE(o.yes);
}

TEST(BatchOptions, EveryOptionSetsItsSetting) {
  const BatchOptions o = parse_batch_options(
      {"--no-continue", "--html-only", "--columns", "1", "--layout", "2", "--captions-above", "--no-ts-link",
       "--no-thumb-time", "--caption-time", "--ext", ".png", "--interval", "10", "--from", "30", "--to", "90", "--wait",
       "7", "--sub-dialog", "--show-consoles", "--fast-thumbnails", "--yes", "/r/a.sub"});
  EXPECT_FALSE(o.settings.cont);
  EXPECT_TRUE(o.settings.html_only);
  EXPECT_EQ(o.settings.columns, "1");
  EXPECT_EQ(o.settings.one_column_layout, 2);
  EXPECT_FALSE(o.settings.thumb_top);
  EXPECT_FALSE(o.settings.ts_link);
  EXPECT_FALSE(o.settings.thumb_time);
  EXPECT_TRUE(o.settings.caption_time);
  EXPECT_EQ(o.settings.ext, ".png");
  EXPECT_EQ(o.settings.interval, "10");
  EXPECT_EQ(o.settings.from, "30");
  EXPECT_EQ(o.settings.to, "90");
  EXPECT_EQ(o.settings.wait_factor, "7");
  EXPECT_TRUE(o.settings.sub_dialog);
  EXPECT_TRUE(o.settings.show_consoles);
  EXPECT_TRUE(o.settings.fast_thumbnails);
  EXPECT_TRUE(o.yes);
  EXPECT_EQ(o.file, "/r/a.sub");
}

TEST(BatchOptions, BadCommandLines) {
  EXPECT_THROW(parse_batch_options({}), JobError);
  EXPECT_THROW(parse_batch_options({"a.ts", "b.ts"}), JobError);
  EXPECT_THROW(parse_batch_options({"a.ts", "--bogus"}), JobError);
  EXPECT_THROW(parse_batch_options({"a.ts", "--to"}), JobError);
  EXPECT_THROW(parse_batch_options({"a.ts", "--layout", "3"}), JobError);
  EXPECT_THROW(parse_batch_options({"a.ts", "--ext", ".gif"}), JobError);
  // Every setting is checked while parsing, before the job can write anything.
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--columns", "abc"}, {"--columns", "0"},
                                             {"--to", "86400"}, {"--from", "-5"}, {"--interval", "0"}, {"--wait", "-1"}}) {
    std::vector<std::string> args = bad;
    args.push_back("a.ts");
    EXPECT_THROW(parse_batch_options(args), JobError) << bad[0] << " " << bad[1];
  }
  EXPECT_NO_THROW(parse_batch_options({"a.ts", "--from", "0", "--to", "86399"}));
  EXPECT_TRUE(parse_batch_options({"--help"}).help);
  EXPECT_TRUE(parse_batch_options({"--version", "--bogus"}).version);
}

TEST(ThumbCommands, FastRunHasOneOutputPerTarget) {
  const auto runs = fast_thumbnail_runs("/r/a b.ts", {{5, "/t/5.jpg"}, {10, "/t/10.jpg"}, {15, "/t/15.jpg"}});
  ASSERT_EQ(runs.size(), 1u);
  const std::string at5 = "gte(t+0.000001\\,5)*not(gte(prev_t+0.000001\\,5))";
  const std::string at10 = "gte(t+0.000001\\,10)*not(gte(prev_t+0.000001\\,10))";
  const std::string at15 = "gte(t+0.000001\\,15)*not(gte(prev_t+0.000001\\,15))";
  const std::vector<std::string> expected = {
      "-y", "-threads", "1", "-i", "file:/r/a b.ts", "-filter_complex",
      "[0:v]select='(" + at5 + "+(" + at10 + "+" + at15 + "))',split=3[a0][a1][a2];[a0]select='" + at5 +
          "'[o0];[a1]select='" + at10 + "'[o1];[a2]select='" + at15 + "'[o2]",
      "-map", "[o0]", "-r", "1", "-frames:v", "1", "-an", "-f", "image2", "-update", "1", "file:/t/5.jpg",
      "-map", "[o1]", "-r", "1", "-frames:v", "1", "-an", "-f", "image2", "-update", "1", "file:/t/10.jpg",
      "-map", "[o2]", "-r", "1", "-frames:v", "1", "-an", "-f", "image2", "-update", "1", "file:/t/15.jpg"};
  EXPECT_EQ(runs[0], expected);
}

TEST(ThumbCommands, ManyTargetsAreSplitIntoRuns) {
  std::vector<ThumbTarget> targets;
  for (int second = 1; second <= 1200; ++second) targets.push_back({second, "/t/" + std::to_string(second) + ".jpg"});
  const auto runs = fast_thumbnail_runs("/r/a.ts", targets);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[2].back(), "file:/t/1200.jpg");
  EXPECT_EQ(runs[1][runs[1].size() - 1], "file:/t/1000.jpg");
  for (const auto& run : runs) EXPECT_LT(run[6].size(), 128u * 1024u);  // one argument's limit
}

}  // namespace
}  // namespace pellatt::testing
