#include "trends.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "broadcast_clock.h"
#include "caption_keys.h"
#include "nouns.h"

namespace oneseg::archive {

namespace {

constexpr const char* cache_sql = R"sql(
CREATE TABLE IF NOT EXISTS day_words(day INTEGER NOT NULL, station TEXT NOT NULL, word TEXT NOT NULL,
  count INTEGER NOT NULL, PRIMARY KEY(day, station, word)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS day_words_counted(day INTEGER PRIMARY KEY, signature TEXT NOT NULL);
)sql";

// What the day's lines depend on: the recordings of its folder and of the
// folders beside it (lines cross midnight), their caption counts and rows.
std::string signature(ArchiveDb& db, std::int64_t day)
{
  std::string folders[3];
  for (int i = 0; i < 3; ++i) {
    const std::string t = format_broadcast_time(day + (i - 1) * seconds_per_day);
    folders[i] = t.substr(2, 2) + t.substr(5, 2) + t.substr(8, 2);
  }
  Statement s = db.prepare("SELECT count(*), total(caption_count), max(caption_last), total(id)"
                           " FROM recordings WHERE day IN (?1, ?2, ?3)");
  s.bind(1, folders[0]).bind(2, folders[1]).bind(3, folders[2]);
  s.step();
  return std::to_string(s.integer(0)) + "/" + std::to_string(s.integer(1)) + "/" + std::to_string(s.integer(2)) +
         "/" + std::to_string(s.integer(3));
}

bool has_cache(ArchiveDb& db)
{
  Statement s = db.prepare("SELECT 1 FROM sqlite_schema WHERE name = 'day_words_counted'");
  return s.step();
}

bool counted(ArchiveDb& db, std::int64_t day, const std::string& sig)
{
  if (!has_cache(db)) return false;
  Statement s = db.prepare("SELECT signature FROM day_words_counted WHERE day = ?1");
  s.bind(1, day / seconds_per_day);
  return s.step() && s.text(0) == sig;
}

using StationWords = std::map<std::string, std::unordered_map<std::string, std::int64_t>>;

StationWords count_day(ArchiveDb& db, NounReader& reader, std::int64_t day)
{
  constexpr std::int64_t margin = 3600 * caption_keys_per_second;
  Statement lines = db.prepare(
      "SELECT r.station, c.text FROM captions AS c CROSS JOIN recordings AS r ON r.id = c.recording"
      " WHERE c.id >= ?1 AND c.id < ?2 AND " ONESEG_CAPTION_TIME " >= ?3 AND " ONESEG_CAPTION_TIME " < ?4");
  lines.bind(1, first_caption_key(day) - margin).bind(2, first_caption_key(day + seconds_per_day) + margin);
  lines.bind(3, day).bind(4, day + seconds_per_day);
  // Lines repeat (captions of a programme's loop, advertisements): each is read once.
  std::unordered_map<std::string, std::vector<std::string>> seen;
  StationWords words;
  while (lines.step()) {
    const std::string text = lines.text(1);
    auto found = seen.find(text);
    if (found == seen.end()) found = seen.emplace(text, reader.nouns(text)).first;
    auto& station = words[lines.text(0)];
    for (const std::string& w : found->second) ++station[w];
  }
  return words;
}

// Counts the day's nouns unless they are kept and still current.
void ensure_counted(ArchiveDb& db, std::unique_ptr<NounReader>& reader, std::int64_t day)
{
  const std::string sig = signature(db, day);
  if (counted(db, day, sig)) return;
  if (!reader) reader = std::make_unique<NounReader>();
  const StationWords words = count_day(db, *reader, day);
  ArchiveDb::Transaction t(db);
  db.exec(cache_sql);
  db.prepare("DELETE FROM day_words WHERE day = ?1").bind(1, day / seconds_per_day).run();
  Statement add = db.prepare("INSERT INTO day_words(day, station, word, count) VALUES (?1, ?2, ?3, ?4)");
  for (const auto& [station, counts] : words)
    for (const auto& [word, n] : counts) add.bind(1, day / seconds_per_day).bind(2, station).bind(3, word).bind(4, n).run();
  db.prepare("INSERT OR REPLACE INTO day_words_counted(day, signature) VALUES (?1, ?2)")
      .bind(1, day / seconds_per_day).bind(2, sig).run();
  t.commit();
}

double g2(double a, double b, double n1, double n2)
{
  const double e1 = n1 * (a + b) / (n1 + n2), e2 = n2 * (a + b) / (n1 + n2);
  return 2 * ((a > 0 ? a * std::log(a / e1) : 0) + (b > 0 ? b * std::log(b / e2) : 0));
}

using Counts = std::unordered_map<std::string, std::int64_t>;

Counts kept_counts(ArchiveDb& db, std::int64_t first_day, std::int64_t end_day, const std::string& station)
{
  Counts out;
  if (!has_cache(db)) return out;
  Statement s = db.prepare(std::string("SELECT word, sum(count) FROM day_words WHERE day >= ?1 AND day < ?2") +
                           (station.empty() ? "" : " AND station = ?3") + " GROUP BY word");
  s.bind(1, first_day / seconds_per_day).bind(2, end_day / seconds_per_day);
  if (!station.empty()) s.bind(3, station);
  while (s.step()) out[s.text(0)] = s.integer(1);
  return out;
}

std::vector<TrendWord> ranked(const Counts& day, const Counts& background)
{
  double n1 = 0, n2 = 0;
  for (const auto& [w, n] : day) n1 += static_cast<double>(n);
  for (const auto& [w, n] : background) n2 += static_cast<double>(n);
  std::vector<TrendWord> out;
  for (const auto& [word, a] : day) {
    const auto found = background.find(word);
    const std::int64_t b = found == background.end() ? 0 : found->second;
    // Only words said more often that day than before, by share of all nouns.
    if (a < trend_min_count || (n2 > 0 && static_cast<double>(b) / n2 >= static_cast<double>(a) / n1)) continue;
    out.push_back({word, a, b, n2 > 0 ? g2(static_cast<double>(a), static_cast<double>(b), n1, n2) : 0});
  }
  std::sort(out.begin(), out.end(), [](const TrendWord& x, const TrendWord& y) {
    return std::tie(x.score, x.count, y.word) > std::tie(y.score, y.count, x.word);
  });
  if (out.size() > trend_words) out.resize(trend_words);
  return out;
}

}  // namespace

std::optional<std::int64_t> parse_yymmdd(const std::string& text)
{
  if (text.size() != 6 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  return parse_day("20" + text.substr(0, 2) + "-" + text.substr(2, 2) + "-" + text.substr(4, 2));
}

std::optional<std::int64_t> last_caption_day(ArchiveDb& db)
{
  Statement s = db.prepare("SELECT max(id) FROM captions");
  if (!s.step() || s.is_null(0)) return std::nullopt;
  return time_of_caption_key(s.integer(0)) / seconds_per_day * seconds_per_day;
}

DayTrends day_trends(ArchiveDb& db, std::int64_t day, const std::string& station)
{
  const auto started = std::chrono::steady_clock::now();
  day = day / seconds_per_day * seconds_per_day;
  std::unique_ptr<NounReader> reader;  // started only when a day must be counted
  const std::int64_t first = day - trend_background_days * seconds_per_day;
  for (std::int64_t d = first; d <= day; d += seconds_per_day) ensure_counted(db, reader, d);

  DayTrends out;
  out.day = day;
  std::vector<std::string> stations;
  if (station.empty()) {
    stations.push_back("");
    Statement s = db.prepare(has_cache(db) ? "SELECT DISTINCT station FROM day_words WHERE day = ?1 ORDER BY station"
                                           : "SELECT ?1 WHERE 0");
    s.bind(1, day / seconds_per_day);
    while (s.step()) stations.push_back(s.text(0));
  } else {
    stations.push_back(station);
  }
  for (const std::string& st : stations)
    out.stations.push_back({st, ranked(kept_counts(db, day, day + seconds_per_day, st), kept_counts(db, first, day, st))});
  out.took_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  return out;
}

std::string trends_json(const DayTrends& trends)
{
  using json = nlohmann::ordered_json;
  json stations = json::array();
  for (const StationTrends& s : trends.stations) {
    json words = json::array();
    for (const TrendWord& w : s.words)
      words.push_back({{"word", w.word}, {"count", w.count}, {"background", w.background}, {"score", w.score}});
    stations.push_back({{"station", s.station}, {"words", std::move(words)}});
  }
  const json out = {{"day", format_broadcast_time(trends.day).substr(0, 10)}, {"stations", std::move(stations)},
                    {"took_ms", trends.took_ms}};
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace oneseg::archive
