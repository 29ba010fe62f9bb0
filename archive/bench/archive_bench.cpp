// The archive's figures: build a year's index of three stations, add one
// recording, search it (against grep over the same text in UTF-8), the
// database's size against the caption text, and the health pass.
//   archive_bench [--days N] [--stations N] [--runs N] [--work DIR] [--keep]
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "corpus.h"
#include "health.h"
#include "indexer.h"
#include "recording_files.h"
#include "search.h"
#include "timeline.h"
#include "trends.h"
#include "broadcast_clock.h"
#include "synthesize.h"

namespace {

namespace fs = std::filesystem;
using namespace oneseg::archive;
using Clock = std::chrono::steady_clock;

// The machine is shared: CPU time says what the archive itself spends.
double cpu_s()
{
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ms_since(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

struct Spread {
  double median = 0, p95 = 0;
};

Spread spread(std::vector<double> times)
{
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[std::min(times.size() - 1, times.size() * 95 / 100)]};
}

std::int64_t file_size_or_zero(const fs::path& p)
{
  std::error_code ec;
  const auto size = fs::file_size(p, ec);
  return ec ? 0 : static_cast<std::int64_t>(size);
}

// grep as a user would run it over the captions in UTF-8: every matching line.
double grep_ms(const std::string& query, const fs::path& utf8_root)
{
  std::string command = "LC_ALL=C grep -rhF -- ";
  std::size_t at = 0;
  bool first = true;
  while (at < query.size()) {  // words: one grep after another, as on the command line
    const std::size_t space = std::min(query.find(' ', at), query.size());
    command += (first ? "'" + query.substr(at, space - at) + "' '" + utf8_root.string() + "'"
                      : " | LC_ALL=C grep -F -- '" + query.substr(at, space - at) + "'");
    first = false;
    at = space + 1;
  }
  const auto start = Clock::now();
  if (std::system((command + " | wc -l >/dev/null").c_str()) != 0) std::fprintf(stderr, "grep failed\n");
  return ms_since(start);
}

void search_class(ArchiveDb& db, const char* label, const std::vector<std::string>& queries, int runs,
                  const fs::path& utf8_root, int grep_runs)
{
  std::vector<double> ours, ours_cpu, theirs;
  std::int64_t total = 0;
  bool exact = true;
  for (const std::string& q : queries) {
    for (int i = 0; i < runs; ++i) {
      const auto start = Clock::now();
      const double cpu_at = cpu_s();
      SearchQuery query;
      query.text = q;
      const SearchResult r = search(db, query);
      total = r.total;
      exact = r.total_exact;
      ours.push_back(ms_since(start));
      ours_cpu.push_back((cpu_s() - cpu_at) * 1000);
    }
    for (int i = 0; i < grep_runs; ++i) theirs.push_back(grep_ms(q, utf8_root));
  }
  const Spread s = spread(ours), c = spread(ours_cpu);
  std::printf("search %-22s median %7.2f ms  p95 %7.2f ms  CPU median %7.2f ms  p95 %7.2f ms  (last query: %lld%s hits)",
              label, s.median, s.p95, c.median, c.p95, static_cast<long long>(total), exact ? "" : "+");
  // The query language's other forms have no grep to compare with.
  if (!theirs.empty()) std::printf("  grep median %8.1f ms  = %.0fx", spread(theirs).median, spread(theirs).median / s.median);
  std::printf("\n");
}

double health_gb_per_s(const fs::path& work, int runs)
{
  auto scenario = oneseg::synth::load_scenario(fs::path(SYNTH_SCENARIO_DIR) / "hibari_ch27_day.json");
  scenario.picture_and_sound = false;
  const auto stream = oneseg::synth::synthesize_in_memory(
      scenario, {oneseg::synth::parse_jst("2026-12-07T18:00:00").value(), 600});
  const fs::path ts = work / "261207180_Ch27.ts";
  std::ofstream(ts, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                             static_cast<std::streamsize>(stream.size()));
  measure_health(ts);  // into the page cache
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    measure_health(ts);
    times.push_back(ms_since(start));
  }
  return static_cast<double>(stream.size()) / (spread(times).median / 1000.0) / 1e9;
}

}  // namespace

int main(int argc, char** argv)
{
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures appear as they are taken
  oneseg::archive::bench::CorpusSize size;
  int runs = 21;
  bool keep = false;
  fs::path work = fs::temp_directory_path() / ("archive_bench_" + std::to_string(::getpid()));
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--days" && has_value) size.days = std::atoi(argv[++i]);
    else if (a == "--stations" && has_value) size.stations = std::clamp(std::atoi(argv[++i]), 1, 4);
    else if (a == "--runs" && has_value) runs = std::max(1, std::atoi(argv[++i]));
    else if (a == "--work" && has_value) work = argv[++i];
    else if (a == "--keep") keep = true;
    else {
      std::fprintf(stderr, "usage: archive_bench [--days N] [--stations N] [--runs N] [--work DIR] [--keep]\n");
      return 2;
    }
  }
  const fs::path root = work / "rec", utf8_root = work / "utf8", db_file = work / "archive.sqlite";
  fs::remove_all(work);
  fs::create_directories(work);

  auto start = Clock::now();
  const auto corpus = oneseg::archive::bench::write_corpus(root, utf8_root, size);
  std::printf("corpus: %lld recordings, %lld caption lines, %.1f MB caption text (UTF-8), written in %.1f s\n",
              static_cast<long long>(corpus.recordings), static_cast<long long>(corpus.captions),
              static_cast<double>(corpus.caption_text_bytes) / 1e6, ms_since(start) / 1000);

  ArchiveDb db = ArchiveDb::open(db_file);
  start = Clock::now();
  const double cpu_before = cpu_s();
  const IndexReport built = index_root(db, root, {.health = false});
  const double build_s = ms_since(start) / 1000, build_cpu = cpu_s() - cpu_before;
  std::printf("index build: %.1f s wall, %.1f s CPU: %.0f caption lines/s wall, %.0f per CPU second (%d recordings)\n",
              build_s, build_cpu, static_cast<double>(built.captions) / build_s,
              static_cast<double>(built.captions) / build_cpu, built.added);

  // A new recording in the last, full day folder, as follow adds it.
  std::vector<double> add_times, add_cpu;
  const std::string last_day = list_day_folders(root).back();
  const ArchiveRoot the_root = register_root(db, root);
  for (int slot = 0; slot < std::max(3, runs / 2); ++slot) {
    oneseg::archive::bench::write_recording(root, size.days - 1, slot, size.stations, size.captions_per_recording,
                                            static_cast<std::uint64_t>(slot));
    const auto added = Clock::now();
    const double cpu_at = cpu_s();
    index_day(db, the_root, last_day, {.health = false});
    add_times.push_back(ms_since(added));
    add_cpu.push_back((cpu_s() - cpu_at) * 1000);
  }
  std::printf("one new recording (index_day of a day folder of %d stations): median %.2f ms wall, %.2f ms CPU\n",
              size.stations + 1, spread(add_times).median, spread(add_cpu).median);

  db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
  const std::int64_t db_bytes = file_size_or_zero(db_file) + file_size_or_zero(db_file.string() + "-wal");
  std::printf("database: %.1f MB = %.2f x the caption text\n", static_cast<double>(db_bytes) / 1e6,
              static_cast<double>(db_bytes) / static_cast<double>(corpus.caption_text_bytes));

  using namespace oneseg::archive::bench;
  const int grep_runs = 3;
  search_class(db, "two characters", {std::begin(two_character_words), std::end(two_character_words)}, runs,
               utf8_root, grep_runs);
  search_class(db, "rare four characters", {rare_word}, runs, utf8_root, grep_runs);
  search_class(db, "common word", {common_word}, runs, utf8_root, grep_runs);
  search_class(db, "two words", {two_word_query}, runs, utf8_root, grep_runs);
  search_class(db, "one character", {"雪"}, runs, utf8_root, grep_runs);

  // The query language's forms, each over the whole corpus.
  const std::string last = format_broadcast_time(corpus_start() + (size.days - 1) * seconds_per_day).substr(0, 10);
  const std::string week_before = format_broadcast_time(corpus_start() + (size.days - 8) * seconds_per_day).substr(0, 10);
  search_class(db, "A OR B", {"天気 OR 地震", "選挙｜台風"}, runs, utf8_root, 0);
  search_class(db, "A -B", {"天気 -地震", "経済 -野球"}, runs, utf8_root, 0);
  search_class(db, "\"phrase\"", {"\"今日の\"", "\"首相の\""}, runs, utf8_root, 0);
  search_class(db, "station: ch:", {"天気 station:みなとテレビ", "地震 ch:27"}, runs, utf8_root, 0);
  search_class(db, "programme: genre:", {"天気 programme:経済", "地震 genre:00"}, runs, utf8_root, 0);
  search_class(db, "from: to:", {"天気 from:" + week_before + " to:" + last}, runs, utf8_root, 0);
  search_class(db, "within:15", {"首相 会見 within:15", "天気 台風 within:15"}, runs, utf8_root, 0);

  std::vector<double> timeline_ms;
  SearchQuery common;
  common.text = common_word;
  for (int i = 0; i < runs; ++i) {
    const auto at = Clock::now();
    timeline(db, {common}, Bucket::day, true);
    timeline_ms.push_back(ms_since(at));
  }
  std::printf("timeline of %s by day with norm (%d days, %d stations): median %.1f ms, p95 %.1f ms\n", common_word,
              size.days, size.stations, spread(timeline_ms).median, spread(timeline_ms).p95);
  const std::int64_t last_day_start = corpus_start() + (size.days - 1) * seconds_per_day;
  auto trend_at = Clock::now();
  day_trends(db, last_day_start - seconds_per_day);
  const double trends_first = ms_since(trend_at);
  trend_at = Clock::now();
  day_trends(db, last_day_start);
  const double trends_new_day = ms_since(trend_at);
  std::vector<double> trends_kept;
  for (int i = 0; i < runs; ++i) {
    trend_at = Clock::now();
    day_trends(db, last_day_start);
    trends_kept.push_back(ms_since(trend_at));
  }
  std::printf("the day's words: first question (29 days counted) %.0f ms; the next day (1 day counted) %.0f ms; "
              "counted already: median %.1f ms\n", trends_first, trends_new_day, spread(trends_kept).median);

  std::printf("health pass: %.2f GB/s (31 MB recording from the page cache)\n", health_gb_per_s(work, runs));
  if (!keep) fs::remove_all(work);
  return 0;
}
