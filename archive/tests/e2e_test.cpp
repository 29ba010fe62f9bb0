// The archive over synthesised recordings that the real skerrow analysed:
// what the broadcast said is found at its time, the health pass tells a
// damaged recording from a clean one, and the command line and follow mode
// work on the real folder layout.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <functional>
#include <map>
#include <set>

#include "broadcast_clock.h"
#include "eucjp.h"
#include "alerts.h"
#include "health.h"
#include "indexer.h"
#include "recording_files.h"
#include "recordings.h"
#include "search.h"
#include "synthesize.h"
#include "text_normalise.h"
#include "timeline.h"
#include "trends.h"

namespace {

namespace fs = std::filesystem;
using namespace oneseg::archive;
namespace synth = oneseg::synth;

struct Synthesised {
  synth::Bytes stream;
  synth::MuxReport report;
};

Synthesised synthesise(const char* scenario, const char* start, std::vector<synth::FaultSpec> faults = {})
{
  synth::Scenario s = synth::load_scenario(fs::path(SYNTH_SCENARIO_DIR) / scenario);
  s.picture_and_sound = false;
  s.faults = std::move(faults);
  Synthesised out;
  out.stream = synth::synthesize_in_memory(s, synth::Window{synth::parse_jst(start).value(), 600}, &out.report);
  return out;
}

void write(const fs::path& path, const synth::Bytes& bytes, std::size_t cut_from = 0, std::size_t cut_length = 0)
{
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(cut_from > 0 ? cut_from : bytes.size()));
  if (cut_from > 0)
    out.write(reinterpret_cast<const char*>(bytes.data() + cut_from + cut_length),
              static_cast<std::streamsize>(bytes.size() - cut_from - cut_length));
}

std::string run(const std::string& command, int& status)
{
  const std::string output_file = fs::temp_directory_path() / ("archive_e2e_out_" + std::to_string(::getpid()));
  const int raw = std::system((command + " >'" + output_file + "' 2>&1").c_str());
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream in(output_file);
  std::stringstream text;
  text << in.rdbuf();
  fs::remove(output_file);
  return text.str();
}

class ArchiveEndToEnd : public ::testing::Test {
 protected:
  static inline fs::path work = fs::temp_directory_path() / ("archive_e2e_" + std::to_string(::getpid()));
  static inline fs::path root = work / "rec";
  static inline fs::path day = root / "261207";
  static inline synth::MuxReport clean;

  // 18:00 clean, 18:10 with 30 s cut out, 18:20 with a corrupted stretch on
  // channel 27; 18:00 of みなとテレビ on 22; all analysed by skerrow.
  static void SetUpTestSuite()
  {
    ::setenv("ONESEG_TIME_SCALE", "0.01", 1);
    fs::create_directories(day);
    Synthesised first = synthesise("hibari_ch27_day.json", "2026-12-07T18:00:00");
    clean = first.report;
    write(day / "261207180_Ch27.ts", first.stream);
    const Synthesised second = synthesise("hibari_ch27_day.json", "2026-12-07T18:10:00");
    const std::size_t thirty_seconds = 416000 / 8 * 30 / 188 * 188;
    write(day / "261207181_Ch27.ts", second.stream, 188 * 100000, thirty_seconds);
    synth::FaultSpec corrupt{.type = synth::FaultType::transport_error, .at_s = 200, .pid = 0x0130, .count = 40};
    write(day / "261207182_Ch27.ts", synthesise("hibari_ch27_day.json", "2026-12-07T18:20:00", {corrupt}).stream);
    write(day / "261207180_Ch22.ts", synthesise("minato_ch22_day.json", "2026-12-07T18:00:00").stream);
    int status = 0;
    const std::string out = run("cd '" + work.string() + "' && '" SKERROW_PROGRAM "' rec", status);
    ASSERT_EQ(status, 0) << out;
  }

  static void TearDownTestSuite() { fs::remove_all(work); }

  fs::path db_file = work / "archive.sqlite";
};

TEST_F(ArchiveEndToEnd, CaptionsFoundAtTheirTimeAndDamageMarked)
{
  ArchiveDb db = ArchiveDb::open(db_file);
  const IndexReport report = index_root(db, root);
  EXPECT_EQ(report.added, 4);
  EXPECT_TRUE(report.errors.empty());

  // A caption of the broadcast: found in its recording at the time a receiver shows it.
  const synth::CaptionTruth& said = clean.captions.at(3);
  const SearchResult r = search(db, {.text = "\"" + said.text + "\"", .channel = 27, .to = "2026-12-07"});
  ASSERT_GE(r.total, 1);
  const std::string when = "2026-12-07 " + synth::format_time_of_day(said.shown_time);
  const auto hit = std::find_if(r.hits.begin(), r.hits.end(), [&](const SearchHit& h) { return h.time == when; });
  ASSERT_NE(hit, r.hits.end());
  EXPECT_EQ(hit->name, "261207180_Ch27");
  EXPECT_EQ(hit->text, said.text);
  EXPECT_EQ(hit->station, "ひばりテレビ");
  EXPECT_EQ(hit->offset, said.shown_time - synth::parse_jst("2026-12-07T18:00:00").value());
  EXPECT_FALSE(hit->programme.empty());
  EXPECT_EQ(search(db, {.text = said.text.substr(0, 6), .station = "みなとテレビ"}).total, 0);

  const auto health = [&](const char* name) { return recording_detail(db, name).value(); };
  EXPECT_EQ(health("261207180_Ch27").summary.health, "");
  EXPECT_EQ(health("261207180_Ch27").health.continuity_errors, 0);
  EXPECT_EQ(health("261207180_Ch22").summary.health, "");
  const RecordingDetail dropped = health("261207181_Ch27");
  EXPECT_EQ(dropped.summary.health, needs_checking_mark);
  EXPECT_GT(dropped.health.continuity_errors, 0);
  EXPECT_GE(dropped.health.longest_gap_s, 30);
  const RecordingDetail corrupted = health("261207182_Ch27");
  EXPECT_EQ(corrupted.summary.health, needs_checking_mark);
  EXPECT_EQ(corrupted.health.transport_errors, 40);
  EXPECT_EQ(archive_stats(db).needs_checking, 2);
  EXPECT_EQ(archive_stats(db).stations, 2);
  EXPECT_EQ(next_recording(db, "261207180_Ch27")->name, "261207181_Ch27");

  // The counts do not depend on how the file is cut into reads.
  const auto whole = measure_health(day / "261207181_Ch27.ts").value();
  std::ifstream in(day / "261207181_Ch27.ts", std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bytes.insert(bytes.begin() + 5000, 77, 'x');  // and bytes that are no packet are skipped, once
  HealthCounter pieces;
  for (std::size_t at = 0; at < bytes.size(); at += 1001)
    pieces.feed(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, std::min<std::size_t>(1001, bytes.size() - at));
  const StreamHealth split = pieces.finish();
  EXPECT_EQ(split.packets, whole.packets);
  EXPECT_EQ(split.continuity_errors, whole.continuity_errors);
  EXPECT_EQ(split.sync_losses, 1);
  EXPECT_EQ(split.last_time, whole.last_time);
}

TEST_F(ArchiveEndToEnd, CommandLine)
{
  const std::string program = std::string("'") + ARCHIVE_PROGRAM + "' ";
  const std::string options = "--root '" + root.string() + "' --db '" + db_file.string() + "' ";
  int status = 0;
  run(program + "index " + options, status);
  EXPECT_EQ(status, 0);
  const std::string said = clean.captions.at(3).text;
  std::string out = run(program + "search " + options + "--channel 27 --limit 1 '\"" + said + "\"'", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out.substr(0, 11), "2026-12-07 ");
  EXPECT_NE(out.find("\t27\tひばりテレビ\t" + root.string() + "/261207/"), std::string::npos) << out;
  EXPECT_NE(out.find("\t" + said + "\n"), std::string::npos) << out;
  out = run(program + "search " + options + "--json 存在しない言葉", status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out.substr(0, 40), "{\"total\":0,\"total_exact\":true,\"took_ms\":") << out;
  EXPECT_EQ(out.substr(out.size() - 12), ",\"hits\":[]}\n") << out;
  run(program + "search " + options + "'\"*\" NEAR -'", status);
  EXPECT_EQ(status, 2);
  run(program + "search " + options + "--channel x 天気", status);
  EXPECT_EQ(status, 2);
  out = run(program + "stats " + options, status);
  EXPECT_NE(out.find("recordings: 4\n"), std::string::npos) << out;
  EXPECT_NE(out.find("要確認: 2\n"), std::string::npos) << out;

  // Unknown and repeated options are mistakes, not words; after -- anything is a word.
  for (const char* wrong : {"--chanel 27 天気", "--limit 1 --limit 2 天気", "--json --json 天気"}) {
    run(program + "search " + options + wrong, status);
    EXPECT_EQ(status, 2) << wrong;
  }
  run(program + "search " + options + "-- --json", status);
  EXPECT_EQ(status, 1);
  // A mistyped database is reported, and nothing is made there.
  const fs::path missing = work / "no such folder/archive.sqlite";
  const std::string elsewhere = "--root '" + root.string() + "' --db '" + missing.string() + "' ";
  for (const std::string& command : {"search " + elsewhere + "天気", "stats " + elsewhere}) {
    out = run(program + command, status);
    EXPECT_EQ(status, 2) << command;
    EXPECT_NE(out.find("there is no database " + missing.string()), std::string::npos) << out;
  }
  EXPECT_FALSE(fs::exists(missing.parent_path()));
  // A database that cannot be read is no "no hit".
  std::ofstream(work / "broken.sqlite") << std::string(8192, 'x');
  run(program + "search --root '" + root.string() + "' --db '" + (work / "broken.sqlite").string() + "' 天気", status);
  EXPECT_EQ(status, 3);

  // Control characters of a caption never reach the terminal.
  const fs::path copy = work / "controls.sqlite";
  fs::copy_file(db_file, copy, fs::copy_options::overwrite_existing);
  {
    ArchiveDb db = ArchiveDb::open(copy);
    db.prepare("UPDATE captions SET text = text || ?1").bind(1, std::string_view("\x1b]0;x\x07\t\xc2\x9b" "2J")).run();
  }
  out = run(program + "search --root '" + root.string() + "' --db '" + copy.string() + "' --limit 1 '\"" + said + "\"'", status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find(said + "]0;x 2J\n"), std::string::npos) << out;
}

TEST_F(ArchiveEndToEnd, FollowReadsARecordingAsItIsWrittenThenAnalysesItOnce)
{
  const fs::path follow_root = work / "follow";
  const fs::path growing = follow_root / "261207/261207180_Ch27.ts";
  fs::create_directories(growing.parent_path());
  std::ifstream in(day / "261207180_Ch27.ts", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Written in two parts, the first ending inside a packet.
  const std::size_t part = bytes.size() / 2 + 77;
  std::ofstream(growing, std::ios::binary) << bytes.substr(0, part);
  ArchiveDb db = ArchiveDb::open(work / "follow.sqlite");

  struct CountingStarter : ProcessStarter {
    RealProcessStarter real;
    int runs = 0;
    int run(const std::string& program, const std::vector<std::string>& args) override
    {
      ++runs;
      return real.run(program, args);
    }
  } starter;
  auto now = std::chrono::system_clock::now();
  Follower follower(db, register_root(db, follow_root), starter, {.skerrow = SKERROW_PROGRAM}, [&] { return now; });
  const std::int64_t start = synth::parse_jst("2026-12-07T18:00:00").value();
  const auto said_before = [&](std::int64_t offset) {
    return std::count_if(clean.captions.begin(), clean.captions.end(),
                         [&](const synth::CaptionTruth& c) { return c.shown_time < start + offset; });
  };
  // The hits of a line at the time it was said.
  const auto found = [&](const synth::CaptionTruth& said) {
    std::vector<std::string> hits;
    const std::string when = "2026-12-07 " + synth::format_time_of_day(said.shown_time);
    for (const SearchHit& h : search(db, {.text = "\"" + said.text + "\""}).hits)
      if (h.time == when) hits.push_back(h.time + " " + std::to_string(h.offset) + " " + h.name + " " + h.text + " " + h.programme);
    return hits;
  };
  const synth::CaptionTruth early = clean.captions.at(3);
  const synth::CaptionTruth late = *std::find_if(clean.captions.rbegin(), clean.captions.rend(), [](const synth::CaptionTruth& c) {
    return std::all_of(c.text.begin(), c.text.end(), [](char ch) { return ch != '{' && static_cast<unsigned char>(ch) >= 0x20; });
  });
  ASSERT_GT(late.shown_time, start + 450);

  const std::int64_t watch = add_watch(db, "\"" + early.text + "\"", "", "");

  // Being written: its lines are searchable as they are read, and only once.
  follower.tick();
  EXPECT_EQ(starter.runs, 0);
  const std::int64_t first_lines = archive_stats(db).captions;
  EXPECT_GT(first_lines, said_before(200));
  EXPECT_LE(first_lines, said_before(400));
  EXPECT_EQ(found(early).size(), 1u);
  EXPECT_TRUE(found(late).empty());

  std::ofstream(growing, std::ios::binary | std::ios::app) << bytes.substr(part);
  follower.tick();
  EXPECT_EQ(archive_stats(db).captions, static_cast<std::int64_t>(clean.captions.size()));
  ASSERT_EQ(found(late).size(), 1u);
  const std::vector<std::string> live_hits = found(early);
  const std::size_t live_alerts = alerts_after(db, 0, watch, 1000).size();
  EXPECT_GE(live_alerts, 1u);
  EXPECT_EQ(recording_detail(db, "261207180_Ch27")->summary.station, "ひばりテレビ");
  // Health counted once over the bytes: read on, never again from the start.
  EXPECT_EQ(recording_detail(db, "261207180_Ch27")->health.packets, measure_health(growing)->packets);

  // Finished: analysed once; its .sub then replaces the lines read, which
  // stay found as they were.
  now += std::chrono::seconds(30);
  follower.tick();
  EXPECT_EQ(starter.runs, 1);
  follower.tick();
  EXPECT_TRUE(recording_detail(db, "261207180_Ch27")->files.sub);
  EXPECT_EQ(archive_stats(db).captions, static_cast<std::int64_t>(clean.captions.size()));
  EXPECT_EQ(found(early), live_hits);
  EXPECT_EQ(alerts_after(db, 0, watch, 1000).size(), live_alerts);
  EXPECT_EQ(recording_detail(db, "261207180_Ch27")->summary.station, "ひばりテレビ");

  // Retention removes it; nothing is started again.
  fs::remove_all(follow_root / "261207");
  now += std::chrono::seconds(30);
  EXPECT_EQ(follower.tick().removed, 1);
  EXPECT_EQ(starter.runs, 1);
  EXPECT_EQ(archive_stats(db).recordings, 0);
}

}  // namespace

// What the analyser wrote, read apart from the index: the oracle of the query forms.
struct SubLine {
  std::string name, station, text, normalised;
  std::int64_t time = 0;
  std::string genres, title;   // of the programme on the air, from the .eit
};

std::vector<SubLine> sub_lines(const fs::path& day)
{
  std::vector<SubLine> out;
  EucJpDecoder decoder;
  for (const auto& entry : fs::directory_iterator(day)) {
    if (entry.path().extension() != ".sub") continue;
    const RecordingName id = parse_recording_name(entry.path().stem().string()).value();
    auto eit = read_whole_file(fs::path(entry.path()).replace_extension(".eit"));
    const std::vector<ListingEntry> listing = parse_listing(eit.value_or(""), decoder);
    for (const CaptionRecord& c : parse_captions(read_whole_file(entry.path()).value(), id.start, decoder)) {
      SubLine line{id.name, id.channel == 27 ? "ひばりテレビ" : "みなとテレビ", c.text, normalise(c.text), c.time, {}, {}};
      for (const ListingEntry& e : listing)
        if (e.start && *e.start <= c.time && c.time < *e.start + e.duration_s) {
          line.genres = e.genres;
          line.title = e.title;
        }
      out.push_back(std::move(line));
    }
  }
  return out;
}

using HitSet = std::set<std::string>;

HitSet expected(const std::vector<SubLine>& lines, const std::function<bool(const SubLine&)>& keep)
{
  HitSet out;
  for (const SubLine& l : lines)
    if (keep(l)) out.insert(format_broadcast_time(l.time) + " " + l.name + " " + l.text);
  return out;
}

TEST_F(ArchiveEndToEnd, EveryQueryFormFindsExactlyTheLinesOfTheSubFiles)
{
  ArchiveDb db = ArchiveDb::open(db_file);
  index_root(db, root);
  const std::vector<SubLine> lines = sub_lines(day);
  ASSERT_GT(lines.size(), 100u);
  const auto has = [](const SubLine& l, const char* word) { return l.normalised.find(word) != std::string::npos; };
  const auto found = [&](const std::string& text, std::optional<int> within = std::nullopt) {
    HitSet out;
    for (const SearchHit& h : search(db, {.text = text, .within = within, .limit = 10000}).hits)
      out.insert(h.time + " " + h.name + " " + h.text);
    return out;
  };
  const auto check = [&](const std::string& text, const std::function<bool(const SubLine&)>& keep) {
    const HitSet want = expected(lines, keep);
    EXPECT_FALSE(want.empty()) << text;
    const HitSet got = found(text);
    std::vector<std::string> differ;
    std::set_symmetric_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(differ));
    EXPECT_TRUE(differ.empty()) << text << ": " << differ.size() << " differ, first " << differ.front();
  };
  check("解説 パス", [&](auto& l) { return has(l, "解説") && has(l, "パス"); });
  check("ゴール OR パス", [&](auto& l) { return has(l, "ゴール") || has(l, "パス"); });
  EXPECT_EQ(found("ゴール｜パス"), found("ゴール OR パス"));
  check("解説 -パス", [&](auto& l) { return has(l, "解説") && !has(l, "パス"); });
  check("\"見事なパス\" OR 守備", [&](auto& l) { return has(l, "見事なパス") || has(l, "守備"); });
  check("\"時間は１５分\"", [&](auto& l) { return has(l, "時間は15分"); });
  EXPECT_TRUE(found("\"パスでした見事\"").empty());
  check("す station:みなとテレビ", [&](auto& l) { return has(l, "す") && l.station == "みなとテレビ"; });
  check("ゴール ch:27", [&](auto& l) { return has(l, "ゴール") && l.name.ends_with("Ch27"); });
  check("す programme:サッカー", [&](auto& l) { return has(l, "す") && normalise(l.title).find("サッカー") != std::string::npos; });
  check("す genre:スポーツ", [&](auto& l) { return has(l, "す") && l.genres.find("スポーツ") != std::string::npos; });
  check("ゴール from:2026-12-07T18 to:2026-12-07", [&](auto& l) { return has(l, "ゴール"); });
  EXPECT_TRUE(found("ゴール to:2026-12-07T17").empty());
  EXPECT_TRUE(found("ゴール from:2026-12-08").empty());

  // Words in lines up to ten seconds apart, in one recording only: each
  // "見事なパス" followed within the seconds by "後半戦" of the same file.
  const auto windows = [&](std::int64_t within) {
    return expected(lines, [&](const SubLine& l) {
      return has(l, "見事") && std::any_of(lines.begin(), lines.end(), [&](const SubLine& next) {
               return next.name == l.name && has(next, "後半戦") && next.time >= l.time && next.time <= l.time + within;
             });
    });
  };
  EXPECT_EQ(found("見事 後半戦", 10), windows(10));
  EXPECT_EQ(found("見事 後半戦 within:10"), windows(10));
  EXPECT_GT(windows(10).size(), 10u);
  EXPECT_TRUE(found("見事 後半戦", 9).empty());
  EXPECT_EQ(found("見事 後半戦 within:10").count("2026-12-07 18:09:50 261207180_Ch27 解説：見事なパスでした。"), 0u);
  const SearchResult r = search(db, {.text = "見事 後半戦", .channel = 27, .within = 10, .limit = 1});
  ASSERT_EQ(r.hits.size(), 1u);
  EXPECT_EQ(r.hits[0].window, (std::vector<std::string>{"実況：さあ、後半戦が始まりました。"}));
  EXPECT_EQ(r.total, static_cast<std::int64_t>(windows(10).size()));

  // The command line reads the same language; a query it cannot parse is a usage error.
  const std::string search_command = std::string("'") + ARCHIVE_PROGRAM + "' search --root '" + root.string() +
                                     "' --db '" + db_file.string() + "' ";
  int status = 0;
  std::string out = run(search_command + "--within 10 --json 見事 後半戦 ch:27", status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("\"window\":[\"実況：さあ、後半戦が始まりました。\"]"), std::string::npos) << out;
  out = run(search_command + "見事 ch:x", status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(out.find("ch: needs a channel number, not \"x\""), std::string::npos) << out;
}

TEST_F(ArchiveEndToEnd, TimelineCountsAreThoseOfTheSubFiles)
{
  ArchiveDb db = ArchiveDb::open(db_file);
  index_root(db, root);
  const std::vector<SubLine> lines = sub_lines(day);
  // Station and hour -> lines with the word (or all lines).
  const auto count = [&](const char* word) {
    std::map<std::pair<std::string, std::int64_t>, std::int64_t> out;
    for (const SubLine& l : lines)
      if (l.normalised.find(word) != std::string::npos) ++out[{l.station, l.time / 3600 * 3600}];
    return out;
  };
  const auto all = count("");
  const Timeline t = timeline(db, {{.text = "ゴール", .from = "2026-12-07"}, {.text = "す", .to = "2026-12-07"}}, Bucket::hour, true);
  ASSERT_EQ(t.starts.size(), 24u);
  EXPECT_EQ(bucket_name(Bucket::hour, t.starts[18]), "2026-12-07T18");
  std::size_t checked = 0;
  for (const TimelineSeries& s : t.series) {
    const auto want = count(s.query == 0 ? "ゴール" : "す");
    for (std::size_t b = 0; b < t.starts.size(); ++b) {
      const auto found = want.find({s.station, t.starts[b]});
      const std::int64_t expected = found == want.end() ? 0 : found->second;
      EXPECT_EQ(s.counts[b], expected) << s.station << " " << b;
      if (expected == 0) continue;
      EXPECT_DOUBLE_EQ(s.per_10000[b], expected * 10000.0 / all.at({s.station, t.starts[b]}));
      ++checked;
    }
  }
  EXPECT_EQ(checked, 3u);  // ゴール on ひばりテレビ, す on both

  // Windows are counted as the search counts them; the week and the month hold the day.
  const SearchQuery windows{.text = "見事 後半戦 within:10"};
  const Timeline w = timeline(db, {windows}, Bucket::week, false);
  ASSERT_EQ(w.starts.size(), 1u);
  EXPECT_EQ(bucket_filters(Bucket::week, w.starts[0]), "from:2026-12-07 to:2026-12-13");
  EXPECT_EQ(w.series.at(0).counts.at(0), search(db, windows).total);
  EXPECT_EQ(bucket_filters(Bucket::month, bucket_start(Bucket::month, w.starts[0])), "from:2026-12-01 to:2026-12-31");
  EXPECT_THROW(timeline(db, std::vector<SearchQuery>(5, {.text = "す"}), Bucket::day, false), QueryError);
  EXPECT_THROW(timeline(db, {{.text = "す", .from = "2000-01-01"}}, Bucket::hour, false), QueryError);

  int status = 0;
  const std::string out = run(std::string("'") + ARCHIVE_PROGRAM + "' timeline --root '" + root.string() + "' --db '" +
                                  db_file.string() + "' --by day --station みなとテレビ --norm す",
                              status);
  EXPECT_EQ(status, 0) << out;
  const std::pair<std::string, std::int64_t> minato{"みなとテレビ", broadcast_seconds(2026, 12, 7, 18)};
  char per_10000[32];
  std::snprintf(per_10000, sizeof per_10000, "%.2f", count("す").at(minato) * 10000.0 / all.at(minato));
  EXPECT_EQ(out, "bucket,query,station,count,per_10000\r\n2026-12-07,す,みなとテレビ," +
                     std::to_string(count("す").at(minato)) + "," + per_10000 + "\r\n");
}

TEST_F(ArchiveEndToEnd, TheDaysWordsFindWhatOnlyTheLastDaySaid)
{
  // The 18:00 recording of the 7th, and 03:00 of the 8th, when the shopping
  // programme first says ステンレス鍋.
  const fs::path trends_root = work / "trends";
  fs::create_directories(trends_root / "261207");
  fs::create_directories(trends_root / "261208");
  for (const char* ext : {".sub", ".eit"})
    fs::copy_file(day / ("261207180_Ch27" + std::string(ext)), trends_root / "261207" / ("261207180_Ch27" + std::string(ext)));
  write(trends_root / "261208/261208030_Ch27.ts", synthesise("hibari_ch27_day.json", "2026-12-08T03:00:00").stream);
  int status = 0;
  const std::string out = run("cd '" + work.string() + "' && '" SKERROW_PROGRAM "' trends", status);
  ASSERT_EQ(status, 0) << out;
  ArchiveDb db = ArchiveDb::open(work / "trends.sqlite");
  index_root(db, trends_root, {.health = false});

  const std::vector<SubLine> last_day = sub_lines(trends_root / "261208");
  const auto said = std::count_if(last_day.begin(), last_day.end(),
                                  [](const SubLine& l) { return l.text.find("ステンレス") != std::string::npos; });
  ASSERT_GE(said, trend_min_count);
  const DayTrends t = day_trends(db, broadcast_seconds(2026, 12, 8));
  ASSERT_EQ(t.stations.size(), 2u);  // across stations, then ひばりテレビ
  for (const StationTrends& s : t.stations) {
    const auto word = std::find_if(s.words.begin(), s.words.end(), [](const TrendWord& w) { return w.word == "ステンレス"; });
    ASSERT_NE(word, s.words.end()) << s.station;
    EXPECT_EQ(word->count, said);
    EXPECT_EQ(word->background, 0);
    EXPECT_GT(word->score, 0);
    for (const TrendWord& w : s.words) EXPECT_GE(w.count, trend_min_count) << w.word;
  }
  // The sports words of the 7th are no words of the 8th; on the 7th itself they are.
  const auto words_of = [&](std::int64_t d) {
    std::set<std::string> out;
    const DayTrends trends = day_trends(db, d);
    for (const TrendWord& w : trends.stations.at(0).words) out.insert(w.word);
    return out;
  };
  EXPECT_EQ(words_of(broadcast_seconds(2026, 12, 8)).count("解説"), 0u);
  EXPECT_EQ(words_of(broadcast_seconds(2026, 12, 7)).count("解説"), 1u);

  // Kept counts follow the recordings: without the 8th's captions, no word of the 8th.
  fs::remove(trends_root / "261208/261208030_Ch27.sub");
  index_root(db, trends_root, {.health = false});
  EXPECT_TRUE(day_trends(db, broadcast_seconds(2026, 12, 8)).stations.at(0).words.empty());
}
