#include "cli.h"

#include <csignal>
#include <cstdio>
#include <algorithm>
#include <atomic>
#include <iostream>
#include <map>

#include "alert_delivery.h"
#include "archive_db.h"
#include "indexer.h"
#include "keep_current.h"
#include "recordings.h"
#include "search.h"
#include "text_normalise.h"
#include "timeline.h"
#include "trends.h"

namespace oneseg::archive {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

// An option given twice is a mistake, not a choice of the last one.
void refuse_repeat(const std::vector<std::string>& args, const std::string& name)
{
  if (std::find(args.begin(), args.end(), name) != args.end()) throw UsageError(name + " is given twice");
}

}  // namespace

std::optional<std::string> take_value(std::vector<std::string>& args, const std::string& name)
{
  const auto it = std::find(args.begin(), args.end(), name);
  if (it == args.end()) return std::nullopt;
  if (it + 1 == args.end()) throw UsageError(name + " needs a value");
  std::string value = *(it + 1);
  args.erase(it, it + 2);
  refuse_repeat(args, name);
  return value;
}

bool take_flag(std::vector<std::string>& args, const std::string& name)
{
  const auto it = std::find(args.begin(), args.end(), name);
  if (it == args.end()) return false;
  args.erase(it);
  refuse_repeat(args, name);
  return true;
}

namespace {

int number_option(std::vector<std::string>& args, const std::string& name, int fallback, int lowest)
{
  const auto text = take_value(args, name);
  if (!text) return fallback;
  std::size_t used = 0;
  int value = 0;
  try {
    value = std::stoi(*text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text->size() || value < lowest) throw UsageError(name + " needs a number, not \"" + *text + "\"");
  return value;
}

void no_more(const std::vector<std::string>& args)
{
  if (!args.empty()) throw UsageError("unknown argument \"" + args.front() + "\"");
}

// Whatever follows "--" is words, never options: taken out of args.
std::vector<std::string> take_words_after_dashes(std::vector<std::string>& args)
{
  std::vector<std::string> words;
  if (const auto end = std::find(args.begin(), args.end(), "--"); end != args.end()) {
    words.assign(end + 1, args.end());
    args.erase(end, args.end());
  }
  return words;
}

// What is left after the known options must hold no other option.
void no_other_option(const std::vector<std::string>& args)
{
  for (const std::string& a : args)
    if (a.starts_with("--")) throw UsageError("unknown option " + a + " (words that begin with -- go after --)");
}

// Reading commands: no database is made where none is (a mistyped --db).
constexpr int status_usage = 2, status_database = 3;
int database_failure(const char* command, const DbError& e)
{
  if (dynamic_cast<const NoDatabase*>(&e) != nullptr) {
    std::cerr << "oneseg-archive " << command << ": " << e.what() << " (`oneseg-archive index` builds it)\n";
    return status_usage;
  }
  std::cerr << "oneseg-archive " << command << ": " << e.what() << '\n';
  return status_database;
}

int usage_error(const char* command, const std::exception& e, const char* synopsis)
{
  std::cerr << "oneseg-archive " << command << ": " << e.what() << "\nusage: oneseg-archive " << command << ' '
            << synopsis << '\n';
  return 2;
}

void print_report(const IndexReport& r)
{
  std::cout << r.added << " recordings added, " << r.updated << " updated, " << r.removed << " removed, "
            << r.unchanged << " unchanged; " << r.captions << " caption lines written" << std::endl;
  for (const std::string& e : r.errors) std::cerr << e << '\n';
}

std::atomic<bool> stop_requested{false};
extern "C" void request_stop(int) { stop_requested = true; }

}  // namespace

RootOptions take_root_options(std::vector<std::string>& args)
{
  RootOptions options;
  try {
    for (auto it = std::find(args.begin(), args.end(), "--root"); it != args.end();
         it = std::find(args.begin(), args.end(), "--root")) {
      if (it + 1 == args.end()) throw UsageError("--root needs a value");
      options.roots.push_back(parse_root_spec(*(it + 1)));
      args.erase(it, it + 2);
    }
    check_distinct(options.roots);
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
  if (options.roots.empty()) throw UsageError("--root DIR is required");
  const auto db = take_value(args, "--db");
  options.db = db ? fs::path(*db) : default_db_path(options.roots.front().path);
  return options;
}

// The root options and nothing else (index, stats); none after a usage
// error has been shown.
std::optional<RootOptions> only_root_options(int argc, char** argv, const char* command)
{
  try {
    std::vector<std::string> args = arguments(argc, argv);
    RootOptions options = take_root_options(args);
    no_more(args);
    return options;
  } catch (const UsageError& e) {
    usage_error(command, e, "--root [NAME=]DIR ... [--db FILE]");
    return std::nullopt;
  }
}

int run_index(int argc, char** argv)
{
  const auto options = only_root_options(argc, argv, "index");
  if (!options) return 2;
  for (const RootSpec& root : options->roots) {
    std::error_code ec;
    if (!fs::is_directory(root.path, ec)) {
      std::cerr << "oneseg-archive index: --root " << root.path.string() << " is not a folder\n";
      return 2;
    }
  }
  try {
    ArchiveDb db = ArchiveDb::open(options->db);
    for (const ArchiveRoot& root : register_roots(db, options->roots, true)) print_report(index_root(db, root));
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "oneseg-archive index: " << e.what() << '\n';
    return 1;
  }
}

int run_follow(int argc, char** argv)
{
  constexpr const char* synopsis = "--root [NAME=]DIR ... [--db FILE] [--interval SECONDS] [--on-alert PROGRAM]";
  RootOptions options;
  int interval = 0;
  std::string on_alert;
  try {
    std::vector<std::string> args = arguments(argc, argv);
    options = take_root_options(args);
    interval = number_option(args, "--interval", 2, 1);
    on_alert = take_value(args, "--on-alert").value_or("");
    no_more(args);
  } catch (const UsageError& e) {
    return usage_error("follow", e, synopsis);
  }
  std::signal(SIGINT, request_stop);
  std::signal(SIGTERM, request_stop);
  try {
    std::vector<ArchiveRoot> roots;
    {
      ArchiveDb db = ArchiveDb::open(options.db);
      roots = register_roots(db, options.roots, true);
    }
    Follower::Options follow;
    follow.skerrow = find_skerrow();
    for (const ArchiveRoot& root : roots)
      std::cout << "following " << root.name << " (" << root.path.string() << ") into " << options.db.string() << '\n';
    std::cout.flush();
    KeepCurrentHooks hooks;
    hooks.log = [](const std::string& line) { std::cerr << "oneseg-archive follow: " << line << std::endl; };
    // The alerts every root's writes make, delivered from a connection of their own.
    ArchiveDb alerts_db = ArchiveDb::open(options.db);
    AlertDelivery alerts(alerts_db, on_alert, "", "", hooks.log);
    hooks.on_report = [&alerts](const IndexReport& r) {
      if (r.added + r.updated + r.removed > 0 || !r.errors.empty()) print_report(r);
      for (const std::string& notice : r.notices) std::cerr << "oneseg-archive follow: " << notice << std::endl;
      alerts.deliver_new();
    };
    keep_roots_current(options.db, roots, follow, stop_requested, std::chrono::seconds(interval), hooks);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "oneseg-archive follow: " << e.what() << '\n';
    return 1;
  }
}

int run_search(int argc, char** argv)
{
  constexpr const char* synopsis =
      "--root [NAME=]DIR ... [--db FILE] [--station S] [--channel N] [--from yyyy-mm-dd] [--to yyyy-mm-dd] "
      "[--within SECONDS] [--json] [--limit N] [--] QUERY";
  RootOptions options;
  SearchQuery query;
  query.context = false;  // neither output shows the lines around a hit
  bool json = false;
  try {
    std::vector<std::string> args = arguments(argc, argv);
    std::vector<std::string> words = take_words_after_dashes(args);
    options = take_root_options(args);
    query.station = take_value(args, "--station").value_or("");
    if (args.end() != std::find(args.begin(), args.end(), "--channel")) query.channel = number_option(args, "--channel", 0, 0);
    query.from = take_value(args, "--from");
    query.to = take_value(args, "--to");
    query.limit = number_option(args, "--limit", 50, 0);
    if (args.end() != std::find(args.begin(), args.end(), "--within")) query.within = number_option(args, "--within", 0, 0);
    json = take_flag(args, "--json");
    no_other_option(args);
    words.insert(words.begin(), args.begin(), args.end());
    if (words.empty()) throw UsageError("QUERY is missing");
    for (const std::string& word : words) query.text += (query.text.empty() ? "" : " ") + word;
  } catch (const UsageError& e) {
    return usage_error("search", e, synopsis);
  }
  try {
    ArchiveDb db = ArchiveDb::open_to_read(options.db);
    const SearchResult result = search(db, query);
    if (json) {
      std::cout << to_json(result) << '\n';
    } else {
      std::map<std::string, fs::path> folders;
      for (const ArchiveRoot& root : known_roots(db)) folders[root.name] = root.path;
      for (const SearchHit& h : result.hits)
        std::cout << h.time << '\t' << h.channel << '\t' << printable(h.station) << '\t'
                  << (folders[h.root] / h.recording).string() << '\t' << printable(h.text) << '\n';
    }
    return result.total > 0 ? 0 : 1;
  } catch (const QueryError& e) {
    return usage_error("search", e, synopsis);
  } catch (const DbError& e) {
    return database_failure("search", e);
  }
}

int run_timeline(int argc, char** argv)
{
  constexpr const char* synopsis =
      "--root DIR [--db FILE] [--by hour|day|week|month] [--from yyyy-mm-dd] [--to yyyy-mm-dd] [--station NAME] "
      "[--norm] [--csv|--json] [--] QUERY [QUERY...]";
  RootOptions options;
  SearchQuery shared;
  Bucket by = Bucket::day;
  bool norm = false, csv = false, json = false;
  std::vector<std::string> texts;
  try {
    std::vector<std::string> args = arguments(argc, argv);
    texts = take_words_after_dashes(args);
    options = take_root_options(args);
    if (const auto bucket = take_value(args, "--by")) {
      const auto parsed = parse_bucket(*bucket);
      if (!parsed) throw UsageError("--by is hour, day, week or month, not \"" + *bucket + "\"");
      by = *parsed;
    }
    shared.station = take_value(args, "--station").value_or("");
    shared.from = take_value(args, "--from");
    shared.to = take_value(args, "--to");
    norm = take_flag(args, "--norm");
    csv = take_flag(args, "--csv");  // also what is printed without --json
    json = take_flag(args, "--json");
    if (csv && json) throw UsageError("--csv and --json exclude each other");
    no_other_option(args);
    texts.insert(texts.begin(), args.begin(), args.end());
    if (texts.empty()) throw UsageError("QUERY is missing");
  } catch (const UsageError& e) {
    return usage_error("timeline", e, synopsis);
  }
  std::vector<SearchQuery> queries;
  for (const std::string& text : texts) {
    queries.push_back(shared);
    queries.back().text = text;
  }
  try {
    ArchiveDb db = ArchiveDb::open_to_read(options.db);
    const Timeline t = timeline(db, queries, by, norm);
    std::cout << (json ? timeline_json(t) + "\n" : timeline_csv(t));
    return 0;
  } catch (const QueryError& e) {
    return usage_error("timeline", e, synopsis);
  } catch (const DbError& e) {
    return database_failure("timeline", e);
  }
}

int run_trends(int argc, char** argv)
{
  constexpr const char* synopsis = "--root DIR [--db FILE] [--day yymmdd] [--station NAME] [--json]";
  RootOptions options;
  std::optional<std::string> day_text;
  std::string station;
  bool json = false;
  try {
    std::vector<std::string> args = arguments(argc, argv);
    options = take_root_options(args);
    day_text = take_value(args, "--day");
    station = take_value(args, "--station").value_or("");
    json = take_flag(args, "--json");
    no_more(args);
    if (day_text && !parse_yymmdd(*day_text)) throw UsageError("--day needs a day yymmdd, not \"" + *day_text + "\"");
  } catch (const UsageError& e) {
    return usage_error("trends", e, synopsis);
  }
  try {
    ArchiveDb::open_to_read(options.db);  // never makes a database where none is
    ArchiveDb db = ArchiveDb::open(options.db);  // the day's counts are kept in it
    const auto day = day_text ? parse_yymmdd(*day_text) : last_caption_day(db);
    if (!day) throw UsageError("the archive holds no caption line yet");
    const DayTrends trends = day_trends(db, *day, station);
    if (json) std::cout << trends_json(trends) << '\n';
    for (const StationTrends& s : json ? std::vector<StationTrends>{} : trends.stations) {
      std::cout << "# " << (s.station.empty() ? "all stations" : printable(s.station)) << '\n';
      for (const TrendWord& w : s.words)
        std::cout << printable(w.word) << '\t' << w.count << '\t' << w.background << '\t' << w.score << '\n';
    }
    return 0;
  } catch (const UsageError& e) {
    return usage_error("trends", e, synopsis);
  } catch (const DbError& e) {
    return database_failure("trends", e);
  } catch (const std::exception& e) {
    std::cerr << "oneseg-archive trends: " << e.what() << '\n';
    return 1;
  }
}

int run_stats(int argc, char** argv)
{
  const auto options = only_root_options(argc, argv, "stats");
  if (!options) return status_usage;
  try {
    ArchiveDb db = ArchiveDb::open_to_read(options->db);
    const ArchiveStats s = archive_stats(db);
    std::cout << "database: " << options->db.string() << "\nrecordings: " << s.recordings << "\ncaptions: " << s.captions
              << "\nprogrammes: " << s.programmes << "\ndays: " << s.days << "\nstations: " << s.stations
              << "\n" << "要確認: " << s.needs_checking << '\n';
    return 0;
  } catch (const DbError& e) {
    return database_failure("stats", e);
  }
}

}  // namespace oneseg::archive
