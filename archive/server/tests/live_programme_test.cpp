// Live stations and whole programmes over a real index of small recordings
// written here (captions and listings as the analyser writes them), and the
// live feed over real growing files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "indexer.h"
#include "live.h"
#include "live_pages.h"
#include "live_stream.h"
#include "programme_pages.h"
#include "request.h"

using namespace oneseg::archive;
using namespace oneseg::archive::web;
namespace fs = std::filesystem;

namespace {

struct Folder {
  fs::path root = fs::temp_directory_path() / ("archive_live_" + std::to_string(::getpid()));
  Folder() { fs::create_directories(root / "261207"); }
  ~Folder() { fs::remove_all(root); }

  void append(const std::string& name, const std::string& text) {
    std::ofstream(root / "261207" / name, std::ios::binary | std::ios::app) << text;
  }
  ArchiveDb indexed() {
    ArchiveDb db = ArchiveDb::open(root / "db.sqlite");
    index_root(db, root, IndexOptions{false, nullptr});
    return db;
  }
};

// The listing every recording of the channel carries (ASCII is EUC-JP too).
std::string listing(const std::string& station) {
  return "StartTime: 2026/12/7 18:05:00\r\nDuration: 00:20:00\r\nProviderName: " + station +
         "\r\nEventName: <b>News</b> \xA3\xCE\xA3\xC9\xA3\xC7\xA3\xC8\xA3\xD4\r\nEventDesc: late news\r\nContentNibble: 0\r\n-\r\n"
         "StartTime: 2026/12/7 18:25:00\r\nDuration: 00:35:00\r\nProviderName: " + station +
         "\r\nEventName: Quiz\r\nEventDesc: \r\nContentNibble: 80\r\n-\r\n";
}

std::string texts(const std::vector<LiveCaption>& captions) {
  std::string out;
  for (const auto& c : captions) out += c.text + ";";
  return out;
}

}  // namespace

TEST(LiveRoutes, ChannelsAndMinutesAreChecked) {
  EXPECT_EQ(route("/live")->page, Page::live);
  EXPECT_EQ(route("/live/27")->channel, 27);
  EXPECT_EQ(route("/live/27/stream.mp4")->page, Page::live_stream);
  EXPECT_EQ(route("/api/live/27/captions")->page, Page::api_live_captions);
  const auto programme = route("/programme/22/2612071805");
  ASSERT_TRUE(programme);
  EXPECT_EQ(programme->channel, 22);
  EXPECT_EQ(programme->name, "2612071805");
  for (const char* refused : {"/live/0", "/live/x", "/live/27/", "/live/27/x.mp4", "/api/live/27", "/live//stream.mp4",
                              "/programme/27/2612071860", "/programme/27/261207180", "/programme/27/2613071800",
                              "/programme//2612071800", "/programme/27/2612071800/x", "/live/1000"}) {
    EXPECT_FALSE(route(refused)) << refused;
  }
}

// A recording being written: its captions appear line by line as they are
// indexed, a line still being written never, and the cursor hands each out once.
TEST(Live, CaptionsOfAGrowingRecordingComeOnceEachAndOnlyLiveStationsAreListed) {
  Folder folder;
  folder.append("261207180_Ch27.eit", listing("Hibari"));
  folder.append("261207180_Ch27.sub", "18:00:05 first\r\n18:00:09 second\r\n18:00:1");
  folder.append("261207175_Ch22.eit", listing("Minato"));
  folder.append("261207175_Ch22.sub", "17:55:00 old line\r\n");
  ArchiveDb db = folder.indexed();

  const auto now = std::chrono::system_clock::now();
  auto shown = live_captions(db, 27, std::nullopt);
  EXPECT_EQ(texts(shown), "first;second;");
  folder.append("261207180_Ch27.sub", "2 third\r\n18:00:15 fourth\r\n");
  db = folder.indexed();
  auto added = live_captions(db, 27, shown.back().id);
  EXPECT_EQ(texts(added), "third;fourth;");
  EXPECT_TRUE(live_captions(db, 27, added.back().id).empty());
  EXPECT_EQ(texts(live_captions(db, 27, 0, 2)), "first;second;");   // a cursor of 0: from the live recordings on
  EXPECT_EQ(texts(live_captions(db, 27, std::nullopt, 1)), "fourth;");

  // Channel 27 was written to 10 s ago, channel 22 a minute ago.
  const WrittenAt written = [now](const RecordingSummary& r) -> std::optional<std::chrono::system_clock::time_point> {
    return now - std::chrono::seconds(r.channel == 27 ? 10 : 60);
  };
  const auto live = live_stations(db, written, now);
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(live[0].recording.name, "261207180_Ch27");
  EXPECT_FALSE(live[0].programme);  // 18:00:15: before the listing's first programme
  ASSERT_TRUE(live[0].newest);
  EXPECT_EQ(live[0].newest->text, "fourth");
  EXPECT_EQ(live_stations(db, written, now + std::chrono::seconds(21)).size(), 0u);
  folder.append("261207180_Ch27.sub", "18:06:00 fifth\r\n");
  db = folder.indexed();
  EXPECT_EQ(live_stations(db, written, now)[0].programme->title, "<b>News</b> ＮＩＧＨＴ");

  const auto recent = live_captions(db, 27, std::nullopt);
  const auto page = live_station_page(live[0], recent);
  EXPECT_NE(page.find("data-after=\"" + std::to_string(recent.back().id) + "\""), std::string::npos);
  EXPECT_LT(page.find("fifth"), page.find("first"));  // newest first
  EXPECT_EQ(page.find("<b>News"), std::string::npos);

  const std::vector<Programme> listing_of{{"2026-12-07 18:05:00", 1200, "News", "", ""}};
  EXPECT_EQ(programme_at(listing_of, "2026-12-07 18:05:00")->title, "News");
  EXPECT_FALSE(programme_at(listing_of, "2026-12-07 18:25:00"));
}

// The feed starts a few seconds behind the end, on a packet boundary, and
// reads the old recording to its end before the next one.
TEST(Live, TheFeedFollowsAGrowingFileIntoTheNext) {
  Folder folder;
  const fs::path first = folder.root / "261207" / "261207180_Ch27.ts";
  const fs::path second = folder.root / "261207" / "261207181_Ch27.ts";
  folder.append(first.filename(), std::string(188 * 10, 'a'));
  bool next_there = false;
  LiveFeed feed(first, 188 * 3 + 100, [&](const fs::path& current) -> std::optional<fs::path> {
    if (next_there && current == first) return second;
    return std::nullopt;
  });
  std::string got;
  char buffer[4096];
  auto drain = [&] {
    for (long n; (n = feed.read(buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<std::size_t>(n));
  };
  drain();
  EXPECT_EQ(got.size(), 188u * 4);  // 3 packets and the part of one behind: the whole of 4
  folder.append(first.filename(), "bb");
  drain();
  EXPECT_EQ(got.substr(got.size() - 2), "bb");
  folder.append(second.filename(), "second");
  next_there = true;
  folder.append(first.filename(), "cc");  // the last bytes of the old one, written before it was closed
  drain();
  EXPECT_EQ(got.substr(188 * 4), "bbccsecond");
  EXPECT_EQ(feed.current(), second);
}

// One programme across three recordings: each recording's stretch of it, its
// lines only, and the clips that run on where the broadcast carried on.
TEST(Programmes, AProgrammeAcrossThreeRecordingsIsOne) {
  Folder folder;
  const char* names[] = {"261207180_Ch27", "261207181_Ch27", "261207182_Ch27"};
  const char* lines[] = {"18:04:59 before\r\n18:05:00 opening\r\n", "18:12:00 middle\r\n", "18:24:59 closing\r\n18:25:00 quiz\r\n"};
  for (int i = 0; i < 3; ++i) {
    folder.append(std::string(names[i]) + ".eit", listing("Hibari"));
    folder.append(std::string(names[i]) + ".sub", lines[i]);
  }
  fs::create_directories(folder.root / "261208");
  std::ofstream(folder.root / "261208" / "261208050_Ch27.sub") << "05:00:00 next day\r\n";
  ArchiveDb db = folder.indexed();

  const auto run = programme_run(db, 27, *minute_seconds("2612071805"));
  ASSERT_TRUE(run);
  EXPECT_EQ(run->station, "Hibari");
  EXPECT_EQ(run->programme.description, "late news");
  ASSERT_EQ(run->parts.size(), 3u);
  const std::pair<int, int> stretches[] = {{300, 600}, {0, 600}, {0, 300}};
  std::string transcript;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(run->parts[i].recording.summary.name, names[i]);
    EXPECT_EQ(std::pair(run->parts[i].from_s, run->parts[i].to_s), stretches[i]);
    for (const auto& line : run->parts[i].recording.captions) transcript += line.text + ";";
  }
  EXPECT_EQ(transcript, "opening;middle;closing;");
  EXPECT_TRUE(run->parts[0].joins_next);
  EXPECT_FALSE(run->parts[2].joins_next);
  EXPECT_FALSE(programme_run(db, 27, *minute_seconds("2612071806")));

  const std::string page = programme_page(*run);
  EXPECT_EQ(page.find("<b>News</b>"), std::string::npos);
  EXPECT_NE(page.find("data-part=\"0\" data-then=\"2\""), std::string::npos);  // its clip ran on through part 1
  EXPECT_NE(page.find("data-clip=\"/clip/261207/261207180_Ch27.mp4?t=300\" data-label"), std::string::npos);

  // Found once though every recording lists it; full-width forms match.
  const auto found = find_programmes(db, "night");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(programme_url(found[0].channel, found[0].programme), "/programme/27/2612071805");
  EXPECT_TRUE(find_programmes(db, "weather").empty());

  const DayGrid grid = day_grid(db, "261207");
  EXPECT_EQ(grid.next, "261208");
  EXPECT_EQ(grid.previous, "");
  ASSERT_EQ(grid.stations.size(), 1u);
  EXPECT_EQ(grid.stations[0].recordings.size(), 3u);
  EXPECT_EQ(grid.stations[0].programmes.size(), 2u);  // each once
  const std::string day = day_grid_page(grid);
  EXPECT_NE(day.find("href=\"/programme/27/2612071825\""), std::string::npos);
  EXPECT_NE(day.find("href=\"/browse?day=261208\""), std::string::npos);
}
