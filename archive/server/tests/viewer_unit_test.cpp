// The player's pure parts: captions timed against a clip's origin, the origin
// read from ffmpeg, the ranges and file names of exports, and saved clips
// kept through a schema upgrade of the index.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "archive_db.h"
#include "captions_vtt.h"
#include "ffmpeg_commands.h"
#include "request.h"
#include "saved_clips.h"

using namespace oneseg::archive;
using namespace oneseg::archive::web;

TEST(Captions, CuesRunToTheNextLineAtMostEightSecondsOnTheClipsClock) {
  const std::vector<TimedLine> lines{{10, "before the clip"}, {20, "under way <b>&</b>"}, {25, "next"},
                                     {40, "last --> here"}};
  const std::string vtt = webvtt(lines, 23.04);
  EXPECT_TRUE(vtt.starts_with("WEBVTT\n\n"));
  EXPECT_EQ(vtt.find("before the clip"), std::string::npos);  // ended at 18, before the clip began
  EXPECT_NE(vtt.find("00:00:00.000 --> 00:00:01.960\nunder way &lt;b&gt;&amp;&lt;/b&gt;\n\n"), std::string::npos);
  EXPECT_NE(vtt.find("00:00:01.960 --> 00:00:09.960\nnext\n\n"), std::string::npos);  // 8 s, not up to 40
  EXPECT_NE(vtt.find("00:00:16.960 --> 00:00:24.960\nlast --&gt; here\n\n"), std::string::npos);
  EXPECT_EQ(vtt_timestamp(3725.5), "01:02:05.500");
  EXPECT_EQ(webvtt({}, 0), "WEBVTT\n\n");
}

TEST(Captions, TheClipsOriginIsItsEarliestPacketInEachStreamsTimeBase) {
  const std::string framecrc =
      "#software: Lavf59.27.100\n#tb 0: 1/90000\n#media_type 0: video\n#tb 1: 1/1000\n"
      "1,      23040,      23040,       21,      131, 0x713a281b\n"
      "0,    2160000,    2160000,     6000,     7208, 0x9661b066, S=1,        1\n"
      "2,          1,          1,        1,        1, 0x0\n";  // a stream without a time base
  EXPECT_DOUBLE_EQ(*parse_clip_origin(framecrc), 23.04);
  EXPECT_FALSE(parse_clip_origin("#tb 0: 1/90000\n"));
  EXPECT_FALSE(parse_clip_origin("#tb 0: 1/0\n0, 5, 5, 1, 1, 0x0\ngarbage,,\n"));

  // The probe seeks exactly as the clip does, with the input's own times.
  const auto clip = clip_command("/r/a.ts", "/r/b.ts", 25);
  const auto probe = clip_origin_command("/r/a.ts", "/r/b.ts", 25);
  auto after = [](const std::vector<std::string>& args, const char* option) {
    return *(std::find(args.begin(), args.end(), option) + 1);
  };
  EXPECT_EQ(after(probe, "-ss"), after(clip, "-ss"));
  EXPECT_EQ(after(probe, "-i"), after(clip, "-i"));
  EXPECT_NE(std::find(probe.begin(), probe.end(), "-copyts"), probe.end());
  EXPECT_EQ(after(probe, "-f"), "framecrc");
  EXPECT_NE(after(clip, "-movflags").find("delay_moov"), std::string::npos);

  const auto exported = export_command("/r/a.ts", {}, 595, 625, "/tmp/x.mp4");
  EXPECT_EQ(after(exported, "-ss"), "595.000");
  EXPECT_EQ(after(exported, "-t"), "30.000");
  EXPECT_EQ(after(exported, "-movflags"), "+faststart");
  EXPECT_EQ(exported.back(), "/tmp/x.mp4");
}

TEST(Clips, CaptionsAndExportsAreNamedLikeClips) {
  const auto captions = route("/captions/261207/261207180_Ch27.vtt");
  ASSERT_TRUE(captions);
  EXPECT_EQ(captions->page, Page::captions);
  EXPECT_EQ(captions->name, "261207180_Ch27");
  const auto exported = route("/export/home/261207/261207180_Ch27.mp4");
  ASSERT_TRUE(exported);
  EXPECT_EQ(exported->page, Page::export_clip);
  EXPECT_EQ(exported->root, "home");
  for (const char* refused : {"/captions/261207/261207180_Ch27.mp4", "/export/261207/261207180_Ch27.vtt",
                              "/captions/261207/../261207180_Ch27.vtt", "/export/261207/261208180_Ch27.mp4"}) {
    EXPECT_FALSE(route(refused)) << refused;
  }
}

TEST(Clips, RangesAreBoundedAndFileNamesHaveAnAsciiFallback) {
  auto range = [](std::string from, std::string to) {
    return clip_range([&](const char* name) { return std::string(name) == "from" ? from : to; });
  };
  const auto across = range("595", "1195");
  ASSERT_TRUE(std::holds_alternative<ClipRange>(across));
  EXPECT_EQ(std::get<ClipRange>(across).to_s, 1195);
  for (auto [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"10", "10"}, {"20", "10"}, {"0", "601"}, {"", "10"}, {"-1", "10"}, {"1.5", "10"}, {"10", "99999"}}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(range(from, to))) << from << ".." << to;
  }
  EXPECT_EQ(export_disposition("ひばりテレビ", 27, "2026-12-07 18:12:25"),
            "attachment; filename=\"Ch27_20261207_181225.mp4\"; "
            "filename*=UTF-8''%E3%81%B2%E3%81%B0%E3%82%8A%E3%83%86%E3%83%AC%E3%83%93_20261207_181225.mp4");
  // Quotes, slashes and a broken byte never reach the name.
  const auto hostile = export_disposition("a\"/\\b\xff", 5, "2026-12-07 00:00:00");
  EXPECT_NE(hostile.find("filename=\"Ch5_20261207_000000.mp4\""), std::string::npos);
  EXPECT_NE(hostile.find("filename*=UTF-8''a___b%EF%BF%BD_20261207_000000.mp4"), std::string::npos);
}

TEST(Clips, SavedClipsSurviveASchemaUpgradeOfTheIndex) {
  const auto file = std::filesystem::temp_directory_path() / ("viewer_clips_" + std::to_string(::getpid()) + ".sqlite");
  std::filesystem::remove(file);
  {
    ArchiveDb db = ArchiveDb::open(file);
    db.exec("INSERT INTO roots(name, path, available) VALUES ('rec', '/srv/rec', 1)");
    db.exec("INSERT INTO recordings(root, day, name, channel, station, start, end, fingerprint, ts_size, ts_mtime, has_ts,"
            " has_idx, has_sub, has_eit, has_html, thumbnails, health_measured, packets, continuity_errors,"
            " transport_errors, sync_losses, longest_gap, health) VALUES (1, '261207', '261207180_Ch27', 27,"
            " 'ひばりテレビ', 1796666400, 1796667000, '', 0, 0, 1, 0, 1, 0, 0, '', 0, 0, 0, 0, 0, 0, '')");
    std::map<std::string, std::string> values{{"day", "261207"}, {"name", "261207180_Ch27"}, {"from", "25"},
                                              {"to", "40"}, {"title", "先制点"}, {"note", "bad \xff byte"}};
    const Parameters parameters = [&](const char* name) { return values[name]; };
    ASSERT_TRUE(std::holds_alternative<std::int64_t>(save_clip(db, parameters)));
    values["name"] = "261207181_Ch27";
    EXPECT_TRUE(std::holds_alternative<std::string>(save_clip(db, parameters)));  // not in the index
    values["name"] = "261207180_Ch27";
    values["title"] = std::string(longest_clip_title + 1, 'a');
    EXPECT_TRUE(std::holds_alternative<std::string>(save_clip(db, parameters)));
    EXPECT_TRUE(saved_clips(db)[0].recording_kept);
    // As if written by an older oneseg-archive: the next open rebuilds the index tables.
    db.exec("UPDATE schema_version SET version = 1");
  }
  ArchiveDb db = ArchiveDb::open(file);
  const auto clips = saved_clips(db);
  ASSERT_EQ(clips.size(), 1u);
  EXPECT_EQ(clips[0].title, "先制点");
  EXPECT_EQ(clips[0].note, "bad \xEF\xBF\xBD byte");
  EXPECT_EQ(clips[0].station, "ひばりテレビ");
  EXPECT_FALSE(clips[0].recording_kept);  // the index is empty until the next index run
  EXPECT_TRUE(remove_saved_clip(db, clips[0].id));
  EXPECT_FALSE(remove_saved_clip(db, clips[0].id));
  std::filesystem::remove(file);
}
