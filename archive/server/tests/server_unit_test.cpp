// The server's pure parts: what a request may name, what it may ask, and how
// the index's text reaches a page.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "answer_cache.h"
#include "archive_db.h"
#include "broadcast_clock.h"
#include "caption_keys.h"
#include "byte_ranges.h"
#include "child_process.h"
#include "ffmpeg_commands.h"
#include "ffmpeg_slots.h"
#include "handlers.h"
#include "html_text.h"
#include "http_core.h"
#include "indexer.h"
#include "match_sql.h"
#include "pages.h"
#include "recordings.h"
#include "request.h"
#include "serve_options.h"
#include "thumbnails.h"

using namespace oneseg::archive;
using namespace oneseg::archive::web;

TEST(Routes, NameOnlyRecordingsAndTheirKnownCompanions) {
  const auto recording = route("/recording/261207/261207180_Ch27");
  ASSERT_TRUE(recording);
  EXPECT_EQ(recording->page, Page::recording);
  EXPECT_EQ(recording->day, "261207");
  EXPECT_EQ(recording->name, "261207180_Ch27");
  const auto clip = route("/clip/261207/261207180_Ch27.mp4");
  ASSERT_TRUE(clip);
  EXPECT_EQ(clip->name, "261207180_Ch27");
  const auto picture = route("/files/261207/261207180_Ch27thm/35.jpg");
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->file, "261207/261207180_Ch27thm/35.jpg");
  EXPECT_EQ(route("/files/261207/261207180_Ch27.sub")->file, "261207/261207180_Ch27.sub");
  EXPECT_EQ(route("/feed/12.atom")->name, "12");
  EXPECT_EQ(route("/feed.atom")->page, Page::feed);
  EXPECT_EQ(route("/api/watches/7/rename")->file, "rename");
  EXPECT_EQ(route("/api/watches/7/delete")->name, "7");

  for (const char* refused :
       {"/files/../etc/passwd", "/files/261207/../../etc/passwd", "/files/261207/..", "/files/261207/261207180_Ch27.ts/x",
        "/files/261207//261207180_Ch27.ts", "/files/261208/261207180_Ch27.ts", "/files/261207/261207180_Ch27.conf",
        "/files/261207/261207180_Ch27thm/../x.jpg", "/files/261207/261207180_Ch27thm/a5.jpg",
        "/files/261207/261207180_Ch27thm/35.sh", "/files/261307/261307180_Ch27.ts", "/recording/261207/261207180",
        "/recording/261207/261207180_Ch27/", "/recording/261207/261207240_Ch27", "/clip/261207/261207180_Ch27",
        "/static/../x", "/api/searchx", "", "//", "/feed/.atom", "/feed/x.atom", "/feed/1", "/feed/1.atom/",
        "/api/watches/1", "/api/watches/x/delete", "/api/watches/1/drop", "/api/watches//rename", "/alerts/1",
        "/clip/../261207/261207180_Ch27.mp4", "/files/./261207/261207180_Ch27.ts", "/recording/a/b/261207/261207180_Ch27"}) {
    EXPECT_FALSE(route(refused)) << refused;
  }
  // Another root's recordings: its name before the day.
  const auto elsewhere = route("/files/実家/261207/261207180_Ch27thm/35.jpg");
  ASSERT_TRUE(elsewhere);
  EXPECT_EQ(elsewhere->root, "実家");
  EXPECT_EQ(elsewhere->file, "261207/261207180_Ch27thm/35.jpg");
  EXPECT_EQ(route("/clip/実家/261207/261207180_Ch27.mp4")->root, "実家");
  EXPECT_EQ(route("/clip/261207/261207180_Ch27.mp4")->root, "");
}

// One recording name in two roots: each file from its own root, and only
// from a root the server serves.
TEST(Routes, EachFileFromItsOwnRoot) {
  namespace fs = std::filesystem;
  const fs::path work = fs::temp_directory_path() / ("archive_roots_" + std::to_string(::getpid()));
  std::vector<RootSpec> specs;
  for (const char* name : {"居間", "実家"}) {
    fs::create_directories(work / name / "261207");
    std::ofstream(work / name / "261207/261207180_Ch27.sub") << "18:00:05 x\r\n";
    specs.push_back({name, work / name});
  }
  {
    ArchiveDb db = ArchiveDb::open(work / "archive.sqlite");
    const std::vector<ArchiveRoot> roots = register_roots(db, specs, true);
    for (const ArchiveRoot& root : roots) index_root(db, root, {.health = false});
    const std::string sub = "261207/261207180_Ch27.sub";
    EXPECT_EQ(served_file(db, roots, "", sub), fs::canonical(work / "居間" / sub));
    EXPECT_EQ(served_file(db, roots, "実家", sub), fs::canonical(work / "実家" / sub));
    EXPECT_FALSE(served_file(db, roots, "台所", sub));
    EXPECT_FALSE(served_file(db, {roots[0]}, "実家", sub));  // indexed, but not served
    const RecordingSummary other = recording_detail(db, "261207180_Ch27", "実家")->summary;
    EXPECT_EQ(file_url(link_place(other), other.name, "sub"), "/files/%E5%AE%9F%E5%AE%B6/261207/261207180_Ch27.sub");
    EXPECT_EQ(route(percent_decoded(file_url(link_place(other), other.name, "sub"), false))->root, "実家");
  }
  fs::remove_all(work);
}

TEST(Routes, SearchParametersAreBoundedAndChecked) {
  std::map<std::string, std::string> values{{"q", "天気"}, {"page", "3"}, {"from", "2026-12-01"}, {"channel", "27"}};
  auto parameters = [&values](const char* name) { return values.count(name) ? values[name] : std::string(); };
  auto parsed = search_request(parameters);
  ASSERT_TRUE(std::holds_alternative<SearchRequest>(parsed));
  const auto& request = std::get<SearchRequest>(parsed);
  EXPECT_EQ(request.query.offset, 2 * hits_per_page);
  EXPECT_EQ(request.query.limit, hits_per_page);
  EXPECT_EQ(request.query.channel, 27);
  EXPECT_EQ(request.query.from, "2026-12-01");
  EXPECT_FALSE(request.query.to);

  for (auto [key, bad] : std::vector<std::pair<std::string, std::string>>{
           {"q", std::string(longest_query + 1, 'a')}, {"page", "0"}, {"page", "501"}, {"page", "-1"}, {"page", "1e3"},
           {"from", "2026-13-01"}, {"to", "2026-12-1"}, {"to", "yesterday"}, {"channel", "27x"}, {"channel", "0"}}) {
    auto changed = values;
    changed[key] = bad;
    auto with_bad = [&changed](const char* name) { return changed.count(name) ? changed[name] : std::string(); };
    EXPECT_TRUE(std::holds_alternative<std::string>(search_request(with_bad))) << key << "=" << bad;
  }
  EXPECT_EQ(moment_parameter("35"), 35);
  EXPECT_FALSE(moment_parameter("-1"));
  EXPECT_FALSE(moment_parameter("3.5"));
  EXPECT_FALSE(moment_parameter("99999999999"));
}

TEST(PageText, EscapesAndHighlightsWithoutBreakingTheEncoding) {
  EXPECT_EQ(html_escape("<script>\"x\"&'y'</script>"), "&lt;script&gt;&quot;x&quot;&amp;&#39;y&#39;&lt;/script&gt;");
  // Broken UTF-8 (a lone lead byte, an overlong slash, a surrogate) and control codes.
  EXPECT_EQ(html_escape("a\xE3\x81" "b\xC0\xAF\xED\xA0\x80\x01" "c"), "a\xEF\xBF\xBD\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD"
                                                                   "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "c");
  EXPECT_EQ(url_encode("天 a&b/"), "%E5%A4%A9%20a%26b%2F");

  const std::string line = "明日の天気<予報>";  // 明日 bytes 0-6, 天気 9-15
  EXPECT_EQ(highlight(line, {{9, 15}, {0, 6}}), "<mark>明日</mark>の<mark>天気</mark>&lt;予報&gt;");
  EXPECT_EQ(highlight(line, {{0, 6}, {3, 9}}), "<mark>明日の</mark>天気&lt;予報&gt;");
  EXPECT_EQ(highlight(line, {{15, 100}, {200, 300}}), "明日の天気<mark>&lt;予報&gt;</mark>");
  EXPECT_EQ(highlight("", {{0, 3}}), "");
}

TEST(PageText, EveryTextOfTheIndexIsEscapedOnThePages) {
  SearchHit hit;
  hit.time = "2026-12-07 18:00:35";
  hit.channel = 27;
  hit.station = "<b>局";
  hit.recording = "261207/261207180_Ch27.ts";
  hit.day = "261207";
  hit.name = "261207180_Ch27";
  hit.text = "<script>alert(1)</script>";
  hit.programme = "\"><img src=x>";
  hit.offset = 35;
  hit.before = {"<i>前"};
  SearchHit second = hit;
  second.offset = 50;
  SearchPageModel model;
  model.request.query.text = "天気&\"晴\"";
  model.request.page = 2;
  model.result = SearchResult{45, {hit, second}, 1.5};
  const std::string page = search_page(model);
  for (const char* raw : {"<script>alert", "<b>局", "<img src=x>", "<i>前", "天気&\"晴"}) {
    EXPECT_EQ(page.find(raw), std::string::npos) << raw;
  }
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  // One box per recording, hits in it; paging keeps the query.
  EXPECT_EQ(page.find("<section class=\"recording\">", page.find("<section class=\"recording\">") + 1), std::string::npos);
  EXPECT_NE(page.find("data-clip=\"/clip/261207/261207180_Ch27.mp4?t=50\""), std::string::npos);
  EXPECT_NE(page.find("href=\"/search?q=%E5%A4%A9%E6%B0%97%26%22%E6%99%B4%22&amp;page=3\""), std::string::npos);
  EXPECT_EQ(page.find("page=4"), std::string::npos);  // 45 hits: three pages

  RecordingPageModel recording;
  recording.detail.summary.day = "261207";
  recording.detail.summary.name = "261207180_Ch27";
  recording.moment = 35;
  const std::string view = recording_page(recording);
  const auto start = view.find("data-start");
  ASSERT_NE(start, std::string::npos);
  EXPECT_EQ(view.rfind("<a ", start), view.rfind("<a ", view.find("data-clip=\"/clip/261207/261207180_Ch27.mp4?t=35\"")));
}

TEST(Access, LoopbackByDefaultAndATokenEverywhereElse) {
  auto fixed_token = [] { return std::string("generated-token-0123456789"); };
  auto plain = parse_serve_options({}, fixed_token);
  ASSERT_TRUE(plain.options);
  EXPECT_EQ(plain.options->host, "127.0.0.1");
  EXPECT_EQ(plain.options->port, 8470);
  EXPECT_TRUE(plain.options->token.empty());

  auto open = parse_serve_options({"--listen", "0.0.0.0:9000"}, fixed_token);
  ASSERT_TRUE(open.options);
  EXPECT_EQ(open.options->token, "generated-token-0123456789");
  EXPECT_EQ(open.options->port, 9000);
  EXPECT_EQ(parse_serve_options({"--listen", "[::1]:8471"}, fixed_token).options->host, "::1");
  EXPECT_FALSE(parse_serve_options({"--listen", "0.0.0.0:9000", "--token", "short"}, fixed_token).options);
  EXPECT_FALSE(parse_serve_options({"--listen", "host:70000"}, fixed_token).options);
  EXPECT_FALSE(parse_serve_options({"--listen"}, fixed_token).options);
  EXPECT_FALSE(parse_serve_options({"--bogus"}, fixed_token).options);
  EXPECT_EQ(random_token().size(), 32u);
  EXPECT_NE(random_token(), random_token());

  EXPECT_EQ(presented_token("", "", "a=1; oneseg_token=abc; b=2"), "abc");
  EXPECT_EQ(presented_token("", "", "xoneseg_token=abc"), "");
  EXPECT_EQ(presented_token("", "Bearer xyz", "oneseg_token=abc"), "xyz");
  EXPECT_EQ(presented_token("p", "Bearer xyz", ""), "p");
  EXPECT_TRUE(token_matches("secret-token", "secret-token"));
  EXPECT_FALSE(token_matches("secret-token", "secret-tokeN"));
  EXPECT_FALSE(token_matches("secret-token", ""));

  for (const char* host : {"127.0.0.1:8470", "localhost", "localhost:1", "[::1]:8470", ""}) EXPECT_TRUE(host_allowed(host)) << host;
  for (const char* host : {"127.evil.example:8470", "evil.example", "[::1", "10.0.0.1:8470", "localhost.evil:80"}) {
    EXPECT_FALSE(host_allowed(host)) << host;
  }
}

TEST(Media, ClipsJoinTheNextRecordingAndPicturesComeFromThePageBuilderFirst) {
  const auto joined = clip_command("/r/261207/a.ts", "/r/261207/b.ts", 35);
  const auto at = std::find(joined.begin(), joined.end(), "-ss");
  ASSERT_NE(at, joined.end());
  EXPECT_EQ(*(at + 1), "33.000");
  EXPECT_EQ(*(at + 3), "concat:/r/261207/a.ts|/r/261207/b.ts");
  EXPECT_EQ(joined.back(), "pipe:1");
  const auto alone = clip_command("/r/261207/a.ts", {}, 1);
  EXPECT_EQ(*(std::find(alone.begin(), alone.end(), "-ss") + 1), "0.000");
  EXPECT_EQ(*(std::find(alone.begin(), alone.end(), "-i") + 1), "/r/261207/a.ts");

  const std::vector<std::string> names{"0.jpg", "30.jpg", "35.jpg", "40.jpg", "x.jpg", "36"};
  EXPECT_EQ(page_builder_picture(names, 38), "35.jpg");
  EXPECT_EQ(page_builder_picture(names, 35), "35.jpg");
  EXPECT_FALSE(page_builder_picture(names, 100));
  EXPECT_FALSE(page_builder_picture({"40.jpg"}, 39));

  EXPECT_EQ(*seconds_of("2026-12-08 00:00:00") - *seconds_of("2026-12-07 23:59:55"), 5);
  EXPECT_EQ(*seconds_of("2028-03-01 00:00:00") - *seconds_of("2028-02-28 00:00:00"), 2 * 86400);
  EXPECT_EQ(*seconds_of("1970-01-01 00:00:01"), 1);
  EXPECT_FALSE(seconds_of("2026-12-07 18:00"));
  EXPECT_FALSE(seconds_of("2026-12-07 18:00:00x"));
}

TEST(Children, EndWithTheirRequestAndRunsAreBounded) {
  SystemChildStarter starter;
  auto child = starter.start({"sh", "-c", "echo ready; exec sleep 30"});
  ASSERT_TRUE(child);
  char buffer[16] = {};
  ASSERT_EQ(child->read_output(buffer, sizeof buffer, std::chrono::seconds(5)), 6);
  EXPECT_EQ(std::string(buffer, 6), "ready\n");
  EXPECT_EQ(child->read_output(buffer, sizeof buffer, std::chrono::milliseconds(50)), -1);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(child->finish(), -1);  // killed, not waited for
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
  EXPECT_EQ(run_to_end(starter, {"sh", "-c", "echo x; exit 3"}, std::chrono::seconds(10)), 3);
  EXPECT_EQ(run_to_end(starter, {"no-such-program-oneseg"}, std::chrono::seconds(10)), -1);

  FfmpegSlots slots(2);
  auto first = slots.acquire(std::chrono::milliseconds(0));
  auto second = slots.acquire(std::chrono::milliseconds(0));
  EXPECT_TRUE(first && second);
  EXPECT_FALSE(slots.acquire(std::chrono::milliseconds(20)));
  { auto moved = std::move(first); }
  EXPECT_EQ(slots.free_slots(), 1);
  EXPECT_TRUE(slots.acquire(std::chrono::milliseconds(0)));
}

TEST(Ranges, AnsweredAsHttpReadsThem) {
  using Kind = RangeAnswer::Kind;
  struct Case {
    const char* header;
    Kind kind;
    std::vector<ByteRange> ranges;
  };
  const std::vector<Case> cases = {
      {"", Kind::whole, {}},
      {"bytes=0-99", Kind::partial, {{0, 99}}},
      {"bytes=100-", Kind::partial, {{100, 899}}},
      {"bytes=-100", Kind::partial, {{800, 899}}},
      {"bytes=-5000", Kind::partial, {{0, 899}}},             // a suffix longer than the file: all of it
      {"bytes=850-5000", Kind::partial, {{850, 899}}},        // a last past the end: cut to it
      {"bytes=899-899", Kind::partial, {{899, 899}}},
      {"Bytes = 1-2", Kind::whole, {}},                       // no space allowed before "="
      {"BYTES=1-2", Kind::partial, {{1, 2}}},                 // the unit's case does not matter
      {"bytes=900-", Kind::unsatisfiable, {}},                // starts at the end
      {"bytes=1000-2000", Kind::unsatisfiable, {}},
      {"bytes=-0", Kind::unsatisfiable, {}},
      {"bytes=99999999999999999999999-", Kind::unsatisfiable, {}},  // saturates, does not wrap
      {"bytes=0-,0-,0-", Kind::partial, {{0, 899}}},          // the same range thrice: once
      {"bytes=500-599, 0-99,50-149,150-160", Kind::partial, {{0, 160}, {500, 599}}},  // merged, in order
      {"bytes=0-9,,20-29,", Kind::partial, {{0, 9}, {20, 29}}},  // empty list elements
      {"bytes=0-9,2000-", Kind::partial, {{0, 9}}},           // an unsatisfiable one among others is dropped
      {"bytes=5-1", Kind::whole, {}},                         // malformed: ignored
      {"bytes=a-b", Kind::whole, {}},
      {"bytes=1-2-3", Kind::whole, {}},
      {"bytes=-", Kind::whole, {}},
      {"bytes=", Kind::whole, {}},
      {"items=0-5", Kind::whole, {}},
      {"bytes=0-1,3-4,6-7,9-10,12-13,15-16,18-19,21-22,24-25,27-28,30-31,33-34,36-37,39-40,42-43,45-46,48-49",
       Kind::whole, {}},                                      // too many parts: the whole file
  };
  for (const auto& c : cases) {
    const auto answer = answer_ranges(c.header, 900);
    EXPECT_EQ(answer.kind, c.kind) << c.header;
    EXPECT_EQ(answer.ranges, c.ranges) << c.header;
  }
  EXPECT_EQ(answer_ranges("bytes=0-", 0).kind, Kind::unsatisfiable);  // an empty file has no byte 0
  EXPECT_EQ(answer_ranges("bytes=-10", 0).kind, Kind::unsatisfiable);
  EXPECT_EQ(content_range({900 - 100, 899}, 900), "bytes 800-899/900");
  EXPECT_EQ(unsatisfied_range(900), "bytes */900");
}

TEST(Ranges, MultipartBodyLengthIsWhatIsSent) {
  const auto body = multipart_body({{0, 9}, {20, 29}}, 900, "video/mp2t", "B");
  ASSERT_EQ(body.parts.size(), 2u);
  EXPECT_EQ(body.parts[0].first, "--B\r\nContent-Type: video/mp2t\r\nContent-Range: bytes 0-9/900\r\n\r\n");
  EXPECT_EQ(body.parts[1].first, "\r\n--B\r\nContent-Type: video/mp2t\r\nContent-Range: bytes 20-29/900\r\n\r\n");
  EXPECT_EQ(body.closing, "\r\n--B--\r\n");
  EXPECT_EQ(body.length, body.parts[0].first.size() + 10 + body.parts[1].first.size() + 10 + body.closing.size());
}

TEST(Requests, PercentDecoding) {
  EXPECT_EQ(percent_decoded("a%2Fb+c%20d", false), "a/b+c d");
  EXPECT_EQ(percent_decoded("a%2fb+c", true), "a/b c");
  EXPECT_EQ(percent_decoded("%E5%85%88%", true), "\xE5\x85\x88%");  // a cut escape stays
  EXPECT_EQ(percent_decoded("%zz%4", true), "%zz%4");
  EXPECT_EQ(percent_decoded("x%00y", true), std::string("x\0y", 3));
}

namespace {

// A recording row of ten minutes from hh:m0 of 2026-12-dd, with a listing.
void add_recording(ArchiveDb& db, int id, int day, int hour, int tens, int channel,
                   const std::vector<std::pair<std::int64_t, int>>& listing) {
  char name[32];
  std::snprintf(name, sizeof name, "2612%02d%02d%d_Ch%d", day, hour, tens, channel);
  const auto start = broadcast_seconds(2026, 12, day, hour, tens * 10);
  db.prepare("INSERT INTO recordings VALUES (?1, 1, ?2, ?3, ?4, 'st', ?5, ?6, '', 0, 0, 1, 0, 1, 1, 0, '', 0, 0, 0, 0, 0,"
             " NULL, NULL, 0, '', 0, 0, -1)")
      .bind(1, id).bind(2, std::string_view(name, 6)).bind(3, std::string_view(name)).bind(4, channel)
      .bind(5, start).bind(6, start + 600).run();
  int n = 0;
  for (const auto& [begins, duration] : listing) {
    db.prepare("INSERT INTO programmes(recording, start, duration, title, description, genres) VALUES (?1, ?2, ?3, ?4, '', '')")
        .bind(1, id).bind(2, begins).bind(3, duration).bind(4, std::string_view("p" + std::to_string(n++))).run();
  }
}

}  // namespace

TEST(ReadSide, RecordingsCarryTheProgrammesOnTheAirAndAnswersAreKeptUntilTheIndexChanges) {
  const auto folder = std::filesystem::temp_directory_path() / ("oneseg_read_side_" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  {
    ArchiveDb db = ArchiveDb::open(folder / "a.sqlite");
    db.exec("INSERT INTO roots(id, name, path, available) VALUES (1, 'rec', '/rec', 1)");
    const auto six = broadcast_seconds(2026, 12, 7, 18);
    // ended at the start, running through, begun before the end, begun after the end
    add_recording(db, 1, 7, 18, 0, 27, {{six - 3600, 3600}, {six - 1800, 3600}, {six + 599, 60}, {six + 601, 60}});
    add_recording(db, 2, 7, 18, 1, 27, {{six - 1800, 3600}});
    add_recording(db, 3, 5, 9, 0, 22, {});
    add_recording(db, 4, 8, 0, 0, 22, {});
    const auto recordings = recordings_of_days(db, "261205", "261207");
    ASSERT_EQ(recordings.size(), 3u);
    EXPECT_EQ(recordings[0].name, "261205090_Ch22");
    EXPECT_EQ(recordings[1].name, "261207180_Ch27");
    ASSERT_EQ(recordings[1].programmes.size(), 2u);
    EXPECT_EQ(recordings[1].programmes[0].title, "p1");
    EXPECT_EQ(recordings[1].programmes[1].title, "p2");
    ASSERT_EQ(recordings[2].programmes.size(), 1u);  // each its own listing
    EXPECT_EQ(recording_detail(db, "261207180_Ch27")->summary.programmes.size(), 2u);

    // The transcript read a page at a time; a moment finds its page.
    for (int second : {10, 20, 30}) {
      db.prepare("INSERT INTO captions VALUES (?1, 1, NULL, ?2)")
          .bind(1, first_caption_key(six + second)).bind(2, std::string_view("line " + std::to_string(second))).run();
    }
    db.prepare("UPDATE recordings SET caption_first = ?1, caption_last = ?2, caption_count = 3 WHERE id = 1")
        .bind(1, first_caption_key(six + 10)).bind(2, first_caption_key(six + 30)).run();
    const auto window = recording_detail(db, "261207180_Ch27", "", {1, 1});
    ASSERT_EQ(window->captions.size(), 1u);
    EXPECT_EQ(std::tuple(window->first_line, window->captions[0].text, window->captions[0].offset),
              std::tuple(std::int64_t{1}, std::string("line 20"), 20));
    EXPECT_EQ(recording_detail(db, "261207180_Ch27", "", {1, -1})->captions.size(), 2u);
    EXPECT_TRUE(recording_detail(db, "261207180_Ch27", "", no_lines)->captions.empty());
    EXPECT_EQ(lines_before(db, "261207180_Ch27", "", 20), 1);
    EXPECT_EQ(lines_before(db, "261207180_Ch27", "", 25), 2);
    EXPECT_EQ(lines_before(db, "261207180_Ch27", "", 600), 3);

    EXPECT_EQ(list_days(db), (std::vector<std::string>{"261208", "261207", "261205"}));

    // Answers kept until some connection commits; refusals never kept.
    AnswerCache cache([&folder] { return ArchiveDb::open_to_read(folder / "a.sqlite"); });
    int made = 0;
    const auto count = [&made] { return Reply{200, "text/plain", std::to_string(++made)}; };
    EXPECT_EQ(cache.answer("k", count).body, "1");
    EXPECT_EQ(cache.answer("k", count).body, "1");
    EXPECT_EQ(cache.answer("other", count).body, "2");
    add_recording(db, 5, 9, 0, 0, 22, {});
    EXPECT_EQ(cache.answer("k", count).body, "3");
    EXPECT_EQ(cache.answer("k", count).body, "3");
    EXPECT_EQ(cache.answer("no", [] { return Reply{404, "text/plain", "x"}; }).status, 404);
    EXPECT_EQ(cache.answer("no", count).body, "4");
  }
  std::filesystem::remove_all(folder);
}

TEST(ReadSide, SearchPagesOfOneQueryShareTheirKeptTimelineAndFacets) {
  const auto folder = std::filesystem::temp_directory_path() / ("oneseg_insight_" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  {
    ArchiveDb db = ArchiveDb::open(folder / "a.sqlite");
    db.exec("INSERT INTO roots(id, name, path, available) VALUES (1, 'rec', '/rec', 1)");
    add_recording(db, 1, 7, 18, 0, 27, {});
    const auto six = broadcast_seconds(2026, 12, 7, 18);
    for (int second = 0; second < 60; ++second) {
      const auto key = first_caption_key(six + second);
      db.prepare("INSERT INTO captions VALUES (?1, 1, NULL, '天気です')").bind(1, key).run();
      db.prepare("INSERT INTO caption_index(rowid, text, meta) VALUES (?1, '天気です', ?2)").bind(1, key)
          .bind(2, channel_token(27)).run();
    }
    std::vector<std::string> keys;
    const KeptAnswer keep = [&keys](const std::string& key, const std::function<Reply()>& make) {
      keys.push_back(key);
      return keys.size() == 1 ? make() : Reply{200, "text/html", "<p>kept insight</p>"};
    };
    const auto page = [&](std::map<std::string, std::string> asked) {
      const Parameters parameters = [&asked](const char* name) { return asked[name]; };
      return search_reply(db, parameters, false, {}, keep).body;
    };
    EXPECT_NE(page({{"q", "天気"}}).find("class=\"insight\""), std::string::npos);  // made on the first page
    EXPECT_NE(page({{"q", "天気"}, {"page", "2"}}).find("<p>kept insight</p>"), std::string::npos);
    page({{"q", "天気"}, {"station", "st"}});
    page({{"q", "天気"}, {"by", "hour"}});
    page({{"q", "天気"}, {"norm", "1"}});
    page({{"q", "雨"}});  // no hit: no timeline to keep
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys[0], keys[1]);  // the page of hits is no part of it
    for (std::size_t other = 2; other < keys.size(); ++other) EXPECT_NE(keys[other], keys[0]) << keys[other];
  }
  std::filesystem::remove_all(folder);
}

TEST(Media, ThumbnailCacheKeepsItsSizeOldestFirst) {
  namespace fs = std::filesystem;
  PictureBudget budget(100);
  EXPECT_TRUE(budget.keep("a", 40, 1).empty());
  EXPECT_TRUE(budget.keep("b", 40, 2).empty());
  EXPECT_TRUE(budget.keep("b", 40, 3).empty());  // made again: counted once
  EXPECT_EQ(budget.keep("c", 40, 4), std::vector<fs::path>{"a"});
  EXPECT_EQ(budget.bytes(), 80u);
  EXPECT_EQ(budget.keep("big", 500, 0), (std::vector<fs::path>{"b", "c"}));  // never the one just kept
  EXPECT_EQ(budget.bytes(), 500u);

  // The pictures already in the folder count from the first one asked for.
  const fs::path folder = fs::temp_directory_path() / ("oneseg_thumbnails_" + std::to_string(::getpid()));
  const fs::path pictures = folder / "261207" / "261207180_Ch27";
  fs::create_directories(pictures);
  const auto now = fs::file_time_type::clock::now();
  for (int second : {1, 2, 3}) {
    std::ofstream(pictures / (std::to_string(second) + ".jpg")) << std::string(40, 'x');
    fs::last_write_time(pictures / (std::to_string(second) + ".jpg"), now - std::chrono::minutes(10 - second));
  }
  SystemChildStarter starter;
  FfmpegSlots slots(1);
  ThumbnailCache cache(folder, starter, slots, 100);
  const auto kept = cache.picture("/nowhere.ts", "261207", "261207180_Ch27", 2);
  EXPECT_EQ(kept.outcome, ThumbnailCache::Outcome::made);
  EXPECT_FALSE(fs::exists(pictures / "1.jpg"));
  EXPECT_TRUE(fs::exists(pictures / "2.jpg"));
  EXPECT_TRUE(fs::exists(pictures / "3.jpg"));
  fs::remove_all(folder);
}

TEST(PageText, ALongTranscriptComesInPages) {
  RecordingPageModel model;
  model.detail.summary.day = "261207";
  model.detail.summary.name = "261207180_Ch27";
  model.detail.summary.captions = 2500;
  model.detail.first_line = 1000;
  model.detail.captions = {{"2026-12-07 18:05:00", 300, "middle"}};
  const std::string middle = recording_page(model);
  EXPECT_NE(middle.find("start=\"1001\""), std::string::npos);
  EXPECT_NE(middle.find("href=\"/recording/261207/261207180_Ch27?page=1\""), std::string::npos);
  EXPECT_NE(middle.find("href=\"/recording/261207/261207180_Ch27?page=3\""), std::string::npos);
  model.detail.first_line = 2000;
  EXPECT_EQ(recording_page(model).find("?page=3"), std::string::npos);  // the last page
  model.detail.summary.captions = 1;
  model.detail.first_line = 0;
  EXPECT_EQ(recording_page(model).find("?page="), std::string::npos);  // one page: no links
}
