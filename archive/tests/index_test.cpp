// The index over hand-written caption and listing files: what a reader
// types finds what was said, in every form it was written.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include <iconv.h>
#include "broadcast_time.h"
#include "health.h"
#include "alert_delivery.h"
#include "alerts.h"
#include "indexer.h"
#include "broadcast_clock.h"
#include "match_sql.h"
#include "keep_current.h"
#include "recordings.h"
#include "search.h"

namespace {

namespace fs = std::filesystem;
using namespace oneseg::archive;

// The analyser's text files are EUC-JP.
std::string euc(const std::string& utf8)
{
  iconv_t cd = iconv_open("EUC-JP", "UTF-8");
  std::string out(utf8.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  char* to = out.data();
  std::size_t in_left = utf8.size(), to_left = out.size();
  iconv(cd, &in, &in_left, &to, &to_left);
  iconv_close(cd);
  out.resize(out.size() - to_left);
  return out;
}

class ArchiveIndex : public ::testing::Test {
 protected:
  fs::path root = fs::temp_directory_path() / ("archive_index_" + std::to_string(::getpid()));
  ArchiveDb db = ArchiveDb::open(root.string() + ".sqlite");

  ~ArchiveIndex() override
  {
    fs::remove_all(root);
    for (const char* suffix : {".sqlite", ".sqlite-wal", ".sqlite-shm"}) fs::remove(root.string() + suffix);
  }

  // lines: "HH:MM:SS text" in UTF-8; written as the analyser writes them.
  void write_sub(const std::string& name, const std::vector<std::string>& lines, const std::string& tail = "",
                 const fs::path& folder = {})
  {
    const fs::path day = (folder.empty() ? root : folder) / name.substr(0, 6);
    fs::create_directories(day);
    std::ofstream out(day / (name + ".sub"), std::ios::binary);
    for (const std::string& l : lines) out << euc(l) << "\r\n";
    out << tail;
  }

  void write_eit(const std::string& name, const std::string& station, const std::string& start, const std::string& title)
  {
    std::ofstream out(root / name.substr(0, 6) / (name + ".eit"), std::ios::binary);
    out << euc("StartTime: " + start + "\r\nDuration: 01:00:00\r\nProviderName: " + station +
                                        "\r\nEventName: " + title + "\r\nEventDesc: 説明\r\nContentNibble: 00 ニュース・報道 定時・総合\r\n-\r\n");
  }

  std::vector<std::string> found(const std::string& text, SearchQuery q = {})
  {
    q.text = text;
    std::vector<std::string> out;
    for (const SearchHit& h : search(db, q).hits) out.push_back(h.time + " " + h.name + " " + h.text);
    return out;
  }

  std::int64_t total(const std::string& text) { return search(db, {.text = text}).total; }
};

TEST_F(ArchiveIndex, ShortWordsWidthsAndPhrases)
{
  write_sub("261207180_Ch27", {"18:00:05 明日の天気は晴れ", "18:00:10 ＮＨＫ杯と１５分", "18:00:20 ゴールです",
                               "18:00:30 気", "18:00:40 天 気"});
  write_eit("261207180_Ch27", "ひばりテレビ", "2026/12/7 18:00:00", "ニュース");
  index_root(db, root, {.health = false});

  // Two characters, one character (also where it ends a word or stands alone).
  EXPECT_EQ(found("天気"), (std::vector<std::string>{"2026-12-07 18:00:05 261207180_Ch27 明日の天気は晴れ"}));
  EXPECT_EQ(total("気"), 3);
  EXPECT_EQ(total("れ"), 1);
  // Half-width and lower-case letters and digits, half-width katakana.
  EXPECT_EQ(total("nhk"), 1);
  EXPECT_EQ(total("15分"), 1);
  EXPECT_EQ(total("ｺﾞｰﾙ"), 1);
  EXPECT_EQ(total("ゴ"), 1);
  // Words must all occur; a quoted phrase must occur as written.
  EXPECT_EQ(total("天気 晴れ"), 1);
  EXPECT_EQ(total("天気 ゴール"), 0);
  EXPECT_EQ(total("\"晴れ明日\""), 0);
  EXPECT_EQ(total("\"天気は晴\""), 1);
  // The programme on the air and the offset come with each hit.
  const SearchResult r = search(db, {.text = "ゴール"});
  ASSERT_EQ(r.hits.size(), 1u);
  EXPECT_EQ(r.hits[0].programme, "ニュース");
  EXPECT_EQ(r.hits[0].station, "ひばりテレビ");
  EXPECT_EQ(r.hits[0].offset, 20);
  EXPECT_EQ(r.hits[0].before, (std::vector<std::string>{"明日の天気は晴れ", "ＮＨＫ杯と１５分"}));
  EXPECT_EQ(r.hits[0].after, (std::vector<std::string>{"気", "天 気"}));

  const std::string line = "ＮＨＫ杯と１５分";
  const auto spans = highlight_spans(line, "nhk 15");
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(line.substr(spans[0].begin, spans[0].end - spans[0].begin), "ＮＨＫ");
  EXPECT_EQ(line.substr(spans[1].begin, spans[1].end - spans[1].begin), "１５");
}

TEST_F(ArchiveIndex, HostileQueriesGiveAClearErrorOrAnAnswer)
{
  write_sub("261207180_Ch27", {"18:00:05 近くの天気", "18:00:06 ＮＥＡＲ"});
  index_root(db, root, {.health = false});
  for (const std::string q : {"", "   ", "\"", "\"\"", "*", "-", "NEAR", "AND OR NOT", "()", "^:*\"-", "、。！？", "-天気",
                              "OR 天気", "天気 OR", "天気 OR OR 近く", "天気 ｜", "天気 station:", "天気 ch:abc", "天気 ch:0",
                              "天気 from:2026-02-30", "天気 to:2026-12-07T24", "天気 within:601", "天気 -station:x",
                              "天気 station:\"\"", "天気 -近く OR 遠く"})
    EXPECT_THROW(search(db, {.text = q}), QueryError) << q;
  EXPECT_THROW(search(db, {.text = std::string(600, 'a')}), QueryError);
  EXPECT_THROW(search(db, {.text = "天気", .from = "2026-02-30"}), QueryError);
  // Operators of the engine are never obeyed, only left out or searched as text.
  EXPECT_EQ(total("天気 NEAR 近く"), 1);
  EXPECT_EQ(total("\"NEAR\""), 1);
  EXPECT_EQ(total("天気 -近く"), 0);
  EXPECT_EQ(total("天気 station:\"ない 局\""), 0);
  EXPECT_EQ(total("天気 10:30 http://x"), 0);  // a colon of no filter is only text
  EXPECT_THROW(search(db, {.text = "天気 ch:22", .channel = 27}), QueryError);
  EXPECT_EQ(total("天気*"), 1);
  EXPECT_EQ(total("\"天気"), 1);
  EXPECT_EQ(total(std::string("天気\xff\xfe")), 1);
}

TEST_F(ArchiveIndex, FiltersOrderAndTheDaysAroundMidnight)
{
  write_sub("261206235_Ch27", {"23:55:00 地震の情報", "00:00:30 地震の続報"});
  write_eit("261206235_Ch27", "ひばりテレビ", "2026/12/6 23:00:00", "深夜");
  write_sub("261207000_Ch22", {"23:59:59 地震です", "00:01:00 地震が"});
  write_eit("261207000_Ch22", "みなとテレビ", "2026/12/7 00:00:00", "深夜");
  index_root(db, root, {.health = false});

  EXPECT_EQ(found("地震"), (std::vector<std::string>{"2026-12-07 00:01:00 261207000_Ch22 地震が",
                                                     "2026-12-07 00:00:30 261206235_Ch27 地震の続報",
                                                     "2026-12-06 23:59:59 261207000_Ch22 地震です",
                                                     "2026-12-06 23:55:00 261206235_Ch27 地震の情報"}));
  EXPECT_EQ(found("地震", {.from = "2026-12-07"}).size(), 2u);
  EXPECT_EQ(found("地震", {.to = "2026-12-06"}).size(), 2u);
  EXPECT_EQ(found("地震", {.from = "2026-12-07", .to = "2026-12-07", .limit = 1}),
            (std::vector<std::string>{"2026-12-07 00:01:00 261207000_Ch22 地震が"}));
  EXPECT_EQ(found("地震", {.station = "みなとテレビ"}).size(), 2u);
  EXPECT_EQ(found("地震", {.channel = 27}).size(), 2u);
  EXPECT_EQ(found("地震", {.channel = 27, .limit = 1, .offset = 1}),
            (std::vector<std::string>{"2026-12-06 23:55:00 261206235_Ch27 地震の情報"}));
  EXPECT_EQ(found("地震", {.station = "ない局"}).size(), 0u);
  // Only the rows of one write: Ch22's rows enclose one of Ch27, which stays out.
  Statement ch22 = db.prepare("SELECT id, caption_first, caption_last FROM recordings WHERE name = '261207000_Ch22'");
  ASSERT_TRUE(ch22.step());
  const RowWindow rows{ch22.integer(1), ch22.integer(2), ch22.integer(0), ch22.integer(0)};
  EXPECT_EQ(found("地震", {.only_rows = rows}), (std::vector<std::string>{"2026-12-07 00:01:00 261207000_Ch22 地震が",
                                                                         "2026-12-06 23:59:59 261207000_Ch22 地震です"}));
  EXPECT_EQ(search(db, {.text = "地震", .only_rows = RowWindow{rows.first_row, rows.first_row, rows.first_recording,
                                                            rows.last_recording}}).total, 1);
  EXPECT_EQ(list_days(db), (std::vector<std::string>{"261207", "261206"}));
  EXPECT_EQ(next_recording(db, "261206235_Ch27"), std::nullopt);  // the other one is another channel
}

TEST_F(ArchiveIndex, FollowsGrowthRetentionAndRebuilds)
{
  // The last line is still being written: left out until it ends.
  write_sub("261207180_Ch27", {"18:00:05 選挙の速報"}, "18:00:09 選挙");
  IndexReport r = index_root(db, root, {.health = false});
  EXPECT_EQ(r.added, 1);
  EXPECT_EQ(total("選挙"), 1);
  EXPECT_EQ(index_root(db, root, {.health = false}).unchanged, 1);

  write_sub("261207180_Ch27", {"18:00:05 選挙の速報", "18:00:09 選挙の結果"});
  fs::last_write_time(root / "261207/261207180_Ch27.sub", fs::file_time_type::clock::now() + std::chrono::seconds(5));
  r = index_root(db, root, {.health = false});
  EXPECT_EQ(r.updated, 1);
  EXPECT_EQ(total("選挙"), 2);

  write_sub("261208000_Ch27", {"00:00:05 選挙の翌日"});
  const std::atomic<bool> stopped{true};  // a stop asked for ends the run before the next day
  EXPECT_EQ(index_root(db, root, {.health = false, .stop = &stopped}).added, 0);
  index_root(db, root, {.health = false});
  EXPECT_EQ(total("選挙"), 3);
  // Retention deletes a day folder, then a recording of another day.
  fs::remove_all(root / "261207");
  EXPECT_EQ(index_root(db, root, {.health = false}).removed, 1);
  EXPECT_EQ(total("選挙"), 1);
  fs::remove(root / "261208/261208000_Ch27.sub");
  index_root(db, root, {.health = false});
  EXPECT_EQ(total("選挙"), 0);
  EXPECT_EQ(archive_stats(db).recordings, 0);
  EXPECT_EQ(archive_stats(db).captions, 0);
}

// Each line is in the index once, under its recording's channel, through
// lines read live and carried to the recording's new row, their swap for the
// .sub's, and the removal of a recording.
TEST_F(ArchiveIndex, EveryLineKeepsItsChannelInTheIndex)
{
  db.exec("CREATE VIRTUAL TABLE temp.index_terms USING fts5vocab(main, caption_index, 'col')");
  const auto indexed_channels = [&] {
    std::map<std::string, std::int64_t> out;
    Statement s = db.prepare("SELECT term, doc FROM index_terms WHERE col = 'meta' AND doc > 0");
    while (s.step()) out[s.text(0)] = s.integer(1);
    return out;
  };
  const auto lines_by_channel = [&] {
    std::map<std::string, std::int64_t> out;
    Statement s = db.prepare("SELECT r.channel, count(*) FROM captions AS c JOIN recordings AS r ON r.id = c.recording GROUP BY 1");
    while (s.step()) out[channel_token(s.integer(0))] = s.integer(1);
    return out;
  };
  fs::create_directories(root / "261207");
  std::ofstream(root / "261207/261207180_Ch27.ts") << "being written";
  GrowingRecordingWriter live(db, register_root(db, root));
  const RecordingOnDisk files = scan_day(root / "261207", "261207").at(0);
  const std::int64_t six = broadcast_seconds(2026, 12, 7, 18);
  live.append(live.start(files), files, {{six + 5, "選挙の速報"}, {six + 9, "選挙の結果"}}, {}, StreamHealth{});
  write_sub("261207175_Ch22", {"17:55:00 選挙の話"});
  std::ofstream(root / "261207/261207180_Ch27.ts", std::ios::app) << " and grown";
  index_root(db, root, {.health = false});
  EXPECT_EQ(total("選挙 ch:27"), 2);
  EXPECT_EQ(total("選挙 ch:22"), 1);
  EXPECT_EQ(indexed_channels(), lines_by_channel());

  write_sub("261207180_Ch27", {"18:00:05 選挙の速報です"});
  index_root(db, root, {.health = false});
  EXPECT_EQ(total("選挙 ch:27"), 1);
  EXPECT_EQ(indexed_channels(), lines_by_channel());

  fs::remove(root / "261207/261207175_Ch22.sub");
  index_root(db, root, {.health = false});
  EXPECT_EQ(total("選挙 ch:22"), 0);
  EXPECT_EQ(indexed_channels(), lines_by_channel());
  EXPECT_EQ(lines_by_channel().size(), 1u);
  EXPECT_THROW(search(db, {.text = channel_token(27)}), QueryError);  // no word a query can name
}

// A programme's lines are found from its rows: the second it starts is its
// own, the second it ends is the next one's, and a programme of another
// recording of the same minutes is not this one's.
TEST_F(ArchiveIndex, ProgrammeFiltersKeepToTheSecondsOnTheAir)
{
  write_sub("261207180_Ch27", {"18:04:59 天気です", "18:05:00 天気でした", "18:09:59 天気かな"});
  std::ofstream(root / "261207/261207180_Ch27.eit", std::ios::binary)
      << euc("StartTime: 2026/12/7 18:00:00\r\nDuration: 00:05:00\r\nProviderName: ひばりテレビ\r\nEventName: 朝のニュース\r\n"
             "ContentNibble: 00 ニュース・報道\r\n-\r\nStartTime: 2026/12/7 18:05:00\r\nDuration: 00:04:59\r\n"
             "ProviderName: ひばりテレビ\r\nEventName: 天気予報\r\nContentNibble: 00 ドラマ\r\n-\r\n");
  write_sub("261207180_Ch22", {"18:03:00 天気の話"});
  write_eit("261207180_Ch22", "みなとテレビ", "2026/12/7 18:00:00", "夜の天気予報");
  index_root(db, root, {.health = false});
  EXPECT_EQ(found("天気 programme:ニュース"), (std::vector<std::string>{"2026-12-07 18:04:59 261207180_Ch27 天気です"}));
  EXPECT_EQ(found("天気 programme:天気予報"), (std::vector<std::string>{"2026-12-07 18:05:00 261207180_Ch27 天気でした",
                                                                       "2026-12-07 18:03:00 261207180_Ch22 天気の話"}));
  EXPECT_EQ(found("天気 genre:ドラマ"), (std::vector<std::string>{"2026-12-07 18:05:00 261207180_Ch27 天気でした"}));
  EXPECT_EQ(total("天気 programme:夜の"), 1);
}

TEST_F(ArchiveIndex, WholeBuildMergesOnceAndABuildCutShortMergesAgain)
{
  const auto automerge = [&] {
    Statement s = db.prepare("SELECT v FROM caption_index_config WHERE k = 'automerge'");
    return s.step() ? s.integer(0) : -1;
  };
  write_sub("261207180_Ch27", {"18:00:05 首相の会見", "18:00:09 会見の後で首相"});
  write_sub("261208000_Ch27", {"00:00:05 首相が到着"});
  index_root(db, root, {.health = false});
  EXPECT_NO_THROW(db.exec("INSERT INTO caption_index(caption_index) VALUES ('integrity-check')"));
  EXPECT_EQ(total("首相 会見"), 2);
  EXPECT_EQ(automerge(), 8);

  // A build that died before its merge left merging deferred: the next run resumes it.
  set_bulk_merging(db, true);
  write_sub("261208001_Ch27", {"00:10:05 首相が会見"});
  index_root(db, root, {.health = false});
  EXPECT_EQ(automerge(), 8);
  EXPECT_EQ(total("首相 会見"), 3);
  EXPECT_NO_THROW(db.exec("INSERT INTO caption_index(caption_index) VALUES ('integrity-check')"));
}

TEST_F(ArchiveIndex, ManyLinesInOneSecondAndOverlappingRecordings)
{
  // A stream without time packets stamps every line with the same time, and
  // two recordings of one channel may carry the same seconds.
  std::vector<std::string> lines(10050, "18:09:59 同じ時刻の字幕");
  lines.back() = "18:09:59 最後の字幕";
  write_sub("261207180_Ch27", lines);
  write_sub("261207181_Ch27", {"18:09:59 同じ時刻の字幕", "18:10:00 次の字幕"});
  const IndexReport r = index_root(db, root, {.health = false});
  EXPECT_EQ(r.captions, 10052);
  // Past the counting limit the total is a lower bound, and says so.
  const SearchResult all = search(db, {.text = "字幕", .limit = 1});
  EXPECT_EQ(all.total, counted_hits_limit);
  EXPECT_FALSE(all.total_exact);
  EXPECT_EQ(all.hits.at(0).text, "次の字幕");
  EXPECT_EQ(total("最後"), 1);
  EXPECT_TRUE(search(db, {.text = "次の字幕"}).total_exact);
  const auto detail = recording_detail(db, "261207180_Ch27");
  ASSERT_EQ(detail->captions.size(), 10050u);
  EXPECT_EQ(detail->captions.back().time, "2026-12-07 18:09:59");  // spilled far past its second, time kept
  EXPECT_EQ(detail->captions.back().text, "最後の字幕");
}

TEST_F(ArchiveIndex, OnlyFilesTheIndexKnowsAreKnown)
{
  write_sub("261207180_Ch27", {"18:00:05 字幕"});
  fs::create_directories(root / "261207/261207180_Ch27thm");
  std::ofstream(root / "261207/261207180_Ch27thm/35.jpg") << "x";
  std::ofstream(root / "261207/261207180_Ch27.html") << "x";
  // Links to files outside the root are no files of the recording folder.
  const fs::path outside = root.string() + "_outside.sub";
  std::ofstream(outside) << euc("18:10:05 外の秘密\r\n");
  fs::create_symlink(outside, root / "261207/261207181_Ch27.sub");
  fs::create_symlink(outside, root / "261207/261207180_Ch27thm/40.jpg");
  index_root(db, root, {.health = false});
  fs::remove(outside);
  EXPECT_EQ(total("秘密"), 0);
  EXPECT_FALSE(recording_detail(db, "261207181_Ch27"));
  EXPECT_TRUE(is_known_file(db, "261207/261207180_Ch27.sub"));
  EXPECT_TRUE(is_known_file(db, "261207/261207180_Ch27.html"));
  EXPECT_TRUE(is_known_file(db, "261207/261207180_Ch27thm/35.jpg"));
  for (const char* path : {"261207/261207180_Ch27.ts", "261207/261207180_Ch27thm/40.jpg", "261207/../261207/261207180_Ch27.sub",
                           "261208/261207180_Ch27.sub", "261207/261207180_Ch27.sqlite", "/etc/passwd", "261207"})
    EXPECT_FALSE(is_known_file(db, path)) << path;
}

// The database on a filesystem that fills up (a real one where this test may
// mount; else SQLite's own page limit, which fails the same way): following
// goes on, says so while it fails, and catches up once there is room again.
TEST_F(ArchiveIndex, FollowingOutlivesAFullDisk)
{
  const fs::path small = root.string() + "_small";
  fs::create_directories(small);
  const bool mounted = ::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=512k") == 0;
  struct Unmount {
    fs::path folder;
    bool mounted;
    ~Unmount() { if (mounted) ::umount(folder.c_str()); fs::remove_all(folder); }
  } unmount{small, mounted};
  ArchiveDb full_db = ArchiveDb::open(small / "archive.sqlite");
  const ArchiveRoot followed = register_root(full_db, root);
  const fs::path filler = small / "filler";
  if (mounted) {
    std::ofstream out(filler, std::ios::binary);
    const std::string block(4096, 'x');
    while (out.write(block.data(), block.size()) && out.flush()) {
    }
  } else {
    full_db.exec("PRAGMA max_page_count = 20");
  }
  std::vector<std::string> lines;
  for (int i = 0; i < 2000; ++i) lines.push_back("18:0" + std::to_string(i / 600) + ":00 満杯の後の字幕" + std::to_string(i));
  write_sub("261207180_Ch27", lines);

  struct NoAnalyser : ProcessStarter {
    int run(const std::string&, const std::vector<std::string>&) override { return -1; }
  } starter;
  Follower follower(full_db, followed, starter, {.index = {.health = false}});
  std::atomic<bool> stop{false};
  std::vector<std::string> log;
  std::vector<std::chrono::milliseconds> pauses;
  KeepCurrentHooks hooks;
  hooks.log = [&](const std::string& line) { log.push_back(line); };
  hooks.wait = [&](std::chrono::milliseconds pause, const std::atomic<bool>&) {
    pauses.push_back(pause);
    if (pauses.size() == 2) {  // space is freed during the second pause
      if (mounted) fs::remove(filler);
      else full_db.exec("PRAGMA max_page_count = 1000000");
    }
    if (pauses.size() == 3) stop = true;
  };
  keep_current(follower, stop, std::chrono::seconds(1), hooks);

  ASSERT_EQ(log.size(), 3u);
  EXPECT_NE(log[0].find("the index is not kept current: database or disk is full; trying again in 5 s"),
            std::string::npos) << log[0];
  EXPECT_NE(log[1].find("trying again in 10 s"), std::string::npos) << log[1];
  EXPECT_EQ(log[2], "the index is kept current again");
  EXPECT_EQ(pauses, (std::vector<std::chrono::milliseconds>{std::chrono::seconds(5), std::chrono::seconds(10),
                                                            std::chrono::seconds(1)}));
  EXPECT_EQ(search(full_db, {.text = "満杯"}).total, 2000);
  EXPECT_EQ(retry_pause(30), std::chrono::seconds(300));
}

// A .ts whose time packets say `clock` (then every 5 s for ten minutes).
void write_clocked_ts(const fs::path& file, const oneseg::CivilTime& clock)
{
  std::ofstream out(file, std::ios::binary);
  for (int second = 0; second < 600; second += 5) {
    std::uint8_t packet[188];
    std::fill(std::begin(packet), std::end(packet), 0xFF);
    const std::uint8_t header[] = {0x47, 0x40, 0x14, 0x10, 0x00, 0x70, 0x70, 0x05};  // TDT, pointer 0
    std::copy(std::begin(header), std::end(header), packet);
    oneseg::CivilTime t = clock;
    t.minute += second / 60;
    t.second += second % 60;
    oneseg::encode_jst_time(t, packet + 8);
    out.write(reinterpret_cast<const char*>(packet), sizeof packet);
  }
}

// A recording named for one day whose stream says the next: its lines have
// the stream's date, their offsets count from its first time packet, and
// the recording is marked; one whose clocks agree is not.
TEST_F(ArchiveIndex, TheStreamsClockPlacesEveryLine)
{
  write_sub("261207180_Ch27", {"18:00:25 日付の食い違い"});
  write_clocked_ts(root / "261207/261207180_Ch27.ts", {2026, 12, 8, 18, 0, 0});
  write_sub("261207190_Ch27", {"19:00:10 日付は正しい"});
  write_clocked_ts(root / "261207/261207190_Ch27.ts", {2026, 12, 7, 19, 0, 2});
  index_root(db, root);

  const SearchHit wrong = search(db, {.text = "食い違い"}).hits.at(0);
  EXPECT_EQ(wrong.time, "2026-12-08 18:00:25");
  EXPECT_EQ(wrong.offset, 25);
  EXPECT_EQ(wrong.health, needs_checking_mark);
  const RecordingDetail detail = recording_detail(db, "261207180_Ch27").value();
  EXPECT_TRUE(detail.health.clock_disagrees);
  EXPECT_EQ(detail.captions.at(0).offset, 25);

  const SearchHit right = search(db, {.text = "正しい"}).hits.at(0);
  EXPECT_EQ(right.time, "2026-12-07 19:00:10");
  EXPECT_EQ(right.offset, 8);
  EXPECT_FALSE(recording_detail(db, "261207190_Ch27")->health.clock_disagrees);
}

// Two recording folders in one archive, one recording name in both: hits
// say which folder, each file comes from its own. One folder unmounted (or
// removed, where this test may not mount) mid-run keeps its recordings,
// marked unavailable, while the other is still followed; back, it is
// available again.
TEST_F(ArchiveIndex, TwoRootsAndOneGoesAway)
{
  const fs::path second = root.string() + "_second";
  fs::create_directories(second);
  bool mounted = ::mount("tmpfs", second.c_str(), "tmpfs", 0, "size=1m") == 0;
  struct Cleanup {
    fs::path folder;
    bool& mounted;
    ~Cleanup() { if (mounted) ::umount(folder.c_str()); fs::remove_all(folder); }
  } cleanup{second, mounted};
  write_sub("261207180_Ch27", {"18:00:05 居間の字幕"});
  write_sub("261207180_Ch27", {"18:00:06 実家の字幕"}, "", second);
  const std::vector<ArchiveRoot> roots = register_roots(db, {{"居間", root}, {"実家", second}}, true);
  struct NoAnalyser : ProcessStarter {
    int run(const std::string&, const std::vector<std::string>&) override { return -1; }
  } starter;
  Follower living(db, roots[0], starter, {.index = {.health = false}});
  Follower away(db, roots[1], starter, {.index = {.health = false}});
  living.tick();
  away.tick();

  const SearchResult both = search(db, {.text = "字幕"});
  ASSERT_EQ(both.total, 2);
  EXPECT_EQ(both.hits[0].root, "実家");
  EXPECT_FALSE(both.hits[0].first_root);
  EXPECT_EQ(both.hits[1].root, "居間");
  EXPECT_TRUE(both.hits[1].first_root);
  EXPECT_EQ(recording_detail(db, "261207180_Ch27", "実家")->captions.at(0).text, "実家の字幕");
  EXPECT_EQ(recording_detail(db, "261207180_Ch27")->captions.at(0).text, "居間の字幕");
  EXPECT_TRUE(is_known_file(db, "261207/261207180_Ch27.sub", "実家"));
  EXPECT_FALSE(is_known_file(db, "261207/261207180_Ch27.sub", "台所"));

  if (mounted) mounted = ::umount(second.c_str()) != 0;
  else fs::remove_all(second);
  write_sub("261207181_Ch27", {"18:10:05 居間の続き"});
  const IndexReport gone = away.tick();
  EXPECT_EQ(gone.removed, 0);
  ASSERT_EQ(gone.notices.size(), 1u);
  EXPECT_NE(gone.notices[0].find("root 実家 (" + second.string() + ") cannot be read"), std::string::npos);
  EXPECT_EQ(living.tick().added, 1);
  EXPECT_TRUE(away.tick().notices.empty());  // said once
  const SearchResult kept = search(db, {.text = "字幕"});
  ASSERT_EQ(kept.total, 2);
  EXPECT_FALSE(kept.hits[0].root_available);
  EXPECT_TRUE(kept.hits[1].root_available);
  EXPECT_EQ(total("続き"), 1);

  fs::create_directories(second);
  write_sub("261207180_Ch27", {"18:00:06 実家の字幕"}, "", second);
  const IndexReport back = away.tick();
  ASSERT_EQ(back.notices.size(), 1u);
  EXPECT_NE(back.notices[0].find("is available again"), std::string::npos);
  EXPECT_TRUE(search(db, {.text = "実家"}).hits.at(0).root_available);
  // A root no longer named is forgotten.
  register_roots(db, {{"居間", root}}, true);
  EXPECT_EQ(total("字幕"), 1);
}

TEST_F(ArchiveIndex, WatchesAlertOncePerMinuteAndNeverTwiceForALine)
{
  const auto times = [&](std::int64_t watch) {
    std::vector<std::string> out;
    for (const Alert& a : newest_alerts(db, watch, 100)) out.push_back(a.time + " " + a.text);
    return out;
  };
  const auto touch = [&](const std::string& name, int seconds) {
    fs::last_write_time(root / name.substr(0, 6) / (name + ".sub"), fs::file_time_type::clock::now() + std::chrono::seconds(seconds));
  };
  const std::int64_t weather = add_watch(db, "天気", "", "");
  const std::int64_t elsewhere = add_watch(db, "天気", "みなとテレビ", "港");
  EXPECT_THROW(add_watch(db, "\"", "", ""), QueryError);
  write_sub("261207180_Ch27", {"18:00:05 明日の天気は晴れ", "18:00:30 天気の続き", "18:00:40 ニュース", "18:01:10 また天気",
                               "18:03:00 終わり"});
  write_eit("261207180_Ch27", "ひばりテレビ", "2026/12/7 18:00:00", "夕方のニュース");
  index_root(db, root, {.health = false});
  EXPECT_EQ(times(weather), (std::vector<std::string>{"2026-12-07 18:01:10 また天気", "2026-12-07 18:00:05 明日の天気は晴れ"}));
  EXPECT_TRUE(times(elsewhere).empty());
  const Alert first = newest_alerts(db, weather, 1).at(0);
  EXPECT_EQ(first.station, "ひばりテレビ");
  EXPECT_EQ(first.programme, "夕方のニュース");
  EXPECT_EQ(alert_path(first), "/recording/261207/261207180_Ch27?t=70");

  // Indexed again (the .sub rewritten, or the database rebuilt): nothing twice.
  touch("261207180_Ch27", 5);
  index_root(db, root, {.health = false});
  EXPECT_EQ(times(weather).size(), 2u);
  EXPECT_EQ(last_alert_id(db), first.id);

  // A watch saved now looks ahead: a line said over a minute before the newest makes none, even indexed again.
  const std::int64_t news = add_watch(db, "ニュース", "", "");
  touch("261207180_Ch27", 10);
  index_root(db, root, {.health = false});
  EXPECT_TRUE(times(news).empty());
  write_sub("261207190_Ch27", {"19:00:00 ニュースです", "19:00:01 天気"});
  index_root(db, root, {.health = false});
  EXPECT_EQ(times(news), (std::vector<std::string>{"2026-12-07 19:00:00 ニュースです"}));
  std::vector<std::int64_t> ids;
  for (const Alert& a : alerts_after(db, 0, std::nullopt, 100)) ids.push_back(a.id);
  EXPECT_EQ(ids.size(), 4u);
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  EXPECT_EQ(alerts_after(db, ids[1], news, 100).size(), 1u);

  // The watches and alerts outlive a rebuild of the index's own tables.
  EXPECT_TRUE(rename_watch(db, news, "夜"));
  db.exec("UPDATE schema_version SET version = 1");
  db = ArchiveDb::open(root.string() + ".sqlite");
  EXPECT_EQ(archive_stats(db).captions, 0);
  EXPECT_EQ(find_watch(db, news)->label, "夜");
  EXPECT_EQ(alerts_after(db, 0, std::nullopt, 100).size(), 4u);
  EXPECT_TRUE(remove_watch(db, weather));
  EXPECT_FALSE(remove_watch(db, weather));
  EXPECT_EQ(alerts_after(db, 0, std::nullopt, 100).size(), 1u);
}

TEST(AlertCommand, AtMostTwoAtOnceKilledWhenSlowAndFailuresLogged)
{
  const fs::path script = fs::temp_directory_path() / ("slow_alert_" + std::to_string(::getpid()) + ".sh");
  std::ofstream(script) << "#!/bin/sh\nexec sleep 10\n";
  fs::permissions(script, fs::perms::owner_all);
  std::mutex mutex;
  std::vector<std::string> log;
  const Log logged = [&](const std::string& line) {
    std::lock_guard lock(mutex);
    log.push_back(line);
  };
  const auto started = std::chrono::steady_clock::now();
  {
    AlertCommand command(script.string(), logged, {.at_once = 2, .time_limit = std::chrono::milliseconds(400)});
    for (int id = 1; id <= 3; ++id) command.run(Alert{.id = id}, "/recording");
  }
  // Three runs, two at a time, each cut off: two rounds of the limit, not one, and not ten seconds.
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, std::chrono::milliseconds(800));
  EXPECT_LT(took, std::chrono::seconds(8));
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.find("killed after") != std::string::npos; }), 3);
  {
    AlertCommand missing((fs::temp_directory_path() / "no such program").string(), logged);
    missing.run(Alert{.id = 4}, "/recording");
  }
  EXPECT_NE(log.back().find("for alert 4: cannot be started"), std::string::npos) << log.back();
  fs::remove(script);
}

}  // namespace
