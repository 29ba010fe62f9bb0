#include "timeline.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "broadcast_clock.h"
#include "caption_keys.h"
#include "match_sql.h"

namespace oneseg::archive {

namespace {

constexpr std::int64_t hour = 3600, day = seconds_per_day;

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

std::pair<int, int> year_month(std::int64_t time)
{
  const std::string t = format_broadcast_time(time);
  return {std::stoi(t.substr(0, 4)), std::stoi(t.substr(5, 2))};
}

// Station and bucket start -> count.
using Counts = std::map<std::pair<std::string, std::int64_t>, std::int64_t>;

// The station of each recording, looked up once per recording.
class StationOf {
 public:
  explicit StationOf(ArchiveDb& db) : lookup_(db.prepare("SELECT station FROM recordings WHERE id = ?1")) {}

  const std::string& operator()(std::int64_t recording)
  {
    auto found = stations_.find(recording);
    if (found == stations_.end()) {
      lookup_.bind(1, recording);
      found = stations_.emplace(recording, lookup_.step() ? lookup_.text(0) : std::string()).first;
      lookup_.reset();
    }
    return found->second;
  }

 private:
  Statement lookup_;
  std::unordered_map<std::int64_t, std::string> stations_;
};

struct RecordingUnit {
  std::int64_t recording, unit;
  bool operator==(const RecordingUnit&) const = default;
};

struct RecordingUnitHash {
  std::size_t operator()(const RecordingUnit& k) const
  {
    return std::hash<std::int64_t>()(k.recording * 1000003 + k.unit);
  }
};

// Lines are counted by recording and by the hour or the day (no join of
// every line with its recording), then gathered into the buckets. Counted
// here as they come, in the index's order: SQL's GROUP BY would sort every
// line first.
Counts line_counts(ArchiveDb& db, const ParsedQuery& query, Bucket by)
{
  const std::int64_t unit = by == Bucket::hour ? hour : day;
  const LineMatch match(db, query);
  Statement s = db.prepare("SELECT c.recording, " ONESEG_CAPTION_TIME " / ?30" + match.from_where(true, false));
  match.bind(s);
  s.bind(30, unit);
  std::unordered_map<RecordingUnit, std::int64_t, RecordingUnitHash> lines;
  while (s.step()) ++lines[{s.integer(0), s.integer(1)}];
  StationOf station_of(db);
  Counts counts;
  for (const auto& [key, n] : lines) counts[{station_of(key.recording), bucket_start(by, key.unit * unit)}] += n;
  return counts;
}

Counts window_counts(ArchiveDb& db, const ParsedQuery& query, Bucket by)
{
  StationOf station_of(db);
  Counts counts;
  for (const CaptionWindow& w : find_windows(db, query)) ++counts[{station_of(w.recording), bucket_start(by, w.time)}];
  return counts;
}

// The caption lines of each station by bucket: those of the recordings that
// start in it (a recording is ten minutes of one hour and one day).
Counts caption_totals(ArchiveDb& db, Bucket by, std::int64_t from, std::int64_t to)
{
  const std::int64_t unit = by == Bucket::hour ? hour : day;
  Statement s = db.prepare("SELECT station, start / ?3, sum(caption_count) FROM recordings"
                           " WHERE start >= ?1 AND start < ?2 GROUP BY 1, 2");
  s.bind(1, from).bind(2, to).bind(3, unit);
  Counts totals;
  while (s.step()) totals[{s.text(0), bucket_start(by, s.integer(1) * unit)}] += s.integer(2);
  return totals;
}

}  // namespace

std::optional<Bucket> parse_bucket(std::string_view text)
{
  if (text == "hour") return Bucket::hour;
  if (text == "day") return Bucket::day;
  if (text == "week") return Bucket::week;
  if (text == "month") return Bucket::month;
  return std::nullopt;
}

std::int64_t bucket_start(Bucket by, std::int64_t time)
{
  switch (by) {
    case Bucket::hour: return floor_div(time, hour) * hour;
    case Bucket::day: return floor_div(time, day) * day;
    case Bucket::week: {
      const std::int64_t d = floor_div(time, day);
      return (d - ((d % 7 + 7 + 3) % 7)) * day;  // 1970-01-01 was a Thursday: weeks start on Monday
    }
    case Bucket::month: {
      const auto [y, m] = year_month(time);
      return broadcast_seconds(y, m, 1);
    }
  }
  return time;
}

std::int64_t next_bucket(Bucket by, std::int64_t start)
{
  switch (by) {
    case Bucket::hour: return start + hour;
    case Bucket::day: return start + day;
    case Bucket::week: return start + 7 * day;
    case Bucket::month: {
      const auto [y, m] = year_month(start);
      return m == 12 ? broadcast_seconds(y + 1, 1, 1) : broadcast_seconds(y, m + 1, 1);
    }
  }
  return start + day;
}

std::string bucket_name(Bucket by, std::int64_t start)
{
  const std::string t = format_broadcast_time(start);
  if (by == Bucket::hour) return t.substr(0, 10) + "T" + t.substr(11, 2);
  if (by == Bucket::month) return t.substr(0, 7);
  return t.substr(0, 10);
}

std::string bucket_filters(Bucket by, std::int64_t start)
{
  if (by == Bucket::hour) return "from:" + bucket_name(by, start) + " to:" + bucket_name(by, start);
  return "from:" + format_broadcast_time(start).substr(0, 10) + " to:" +
         format_broadcast_time(next_bucket(by, start) - 1).substr(0, 10);
}

Timeline timeline(ArchiveDb& db, const std::vector<SearchQuery>& queries, Bucket by, bool norm)
{
  const auto started = std::chrono::steady_clock::now();
  if (queries.empty() || queries.size() > most_timeline_queries)
    throw QueryError("A timeline takes 1 to " + std::to_string(most_timeline_queries) + " queries.");
  Timeline t;
  t.by = by;
  std::vector<Counts> counts;
  std::optional<std::int64_t> first, last;  // bucket starts
  bool open_start = false, open_end = false;
  for (const SearchQuery& q : queries) {
    const ParsedQuery parsed = parsed_query(q);
    t.queries.push_back(q.text);
    counts.push_back(uses_windows(parsed) ? window_counts(db, parsed, by) : line_counts(db, parsed, by));
    open_start = open_start || !parsed.from;
    open_end = open_end || !parsed.to;
    if (parsed.from) first = std::min(first.value_or(*parsed.from), bucket_start(by, *parsed.from));
    if (parsed.to) last = std::max(last.value_or(*parsed.to - 1), bucket_start(by, *parsed.to - 1));
  }
  // Without dates, the buckets run from the first count to the last.
  for (const Counts& c : counts)
    for (const auto& [key, n] : c) {
      if (open_start) first = std::min(first.value_or(key.second), key.second);
      if (open_end) last = std::max(last.value_or(key.second), key.second);
    }
  if (!first || !last || *first > *last) {
    t.took_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    return t;
  }
  const std::int64_t step = by == Bucket::hour ? hour : by == Bucket::day ? day : 7 * day;
  if ((*last - *first) / step >= static_cast<std::int64_t>(most_buckets))
    throw QueryError("The timeline would have more than " + std::to_string(most_buckets) +
                     " buckets: choose a longer bucket or fewer days.");
  for (std::int64_t b = *first; b <= *last; b = next_bucket(by, b)) t.starts.push_back(b);
  const Counts totals = norm ? caption_totals(db, by, t.starts.front(), next_bucket(by, t.starts.back())) : Counts{};
  for (std::size_t q = 0; q < counts.size(); ++q) {
    std::set<std::string> stations;
    for (const auto& [key, n] : counts[q]) stations.insert(key.first);
    for (const std::string& station : stations) {
      TimelineSeries s{q, station, {}, {}};
      for (const std::int64_t b : t.starts) {
        const auto found = counts[q].find({station, b});
        s.counts.push_back(found == counts[q].end() ? 0 : found->second);
        if (!norm) continue;
        const auto total = totals.find({station, b});
        const bool some = total != totals.end() && total->second > 0;
        s.per_10000.push_back(some ? static_cast<double>(s.counts.back()) * 10000.0 / static_cast<double>(total->second) : 0.0);
      }
      t.series.push_back(std::move(s));
    }
  }
  t.took_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  return t;
}

std::string timeline_json(const Timeline& t)
{
  using json = nlohmann::ordered_json;
  json buckets = json::array(), narrow = json::array(), series = json::array();
  for (const std::int64_t b : t.starts) {
    buckets.push_back(bucket_name(t.by, b));
    narrow.push_back(bucket_filters(t.by, b));
  }
  for (const TimelineSeries& s : t.series) {
    json one = {{"query", s.query}, {"station", s.station}, {"counts", s.counts}};
    if (!s.per_10000.empty()) one["per_10000"] = s.per_10000;
    series.push_back(std::move(one));
  }
  static const char* const names[] = {"hour", "day", "week", "month"};
  const json out = {{"by", names[static_cast<int>(t.by)]}, {"queries", t.queries}, {"buckets", std::move(buckets)},
                    {"narrow", std::move(narrow)}, {"series", std::move(series)}, {"took_ms", t.took_ms}};
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

namespace {

std::string csv_field(const std::string& text)
{
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

std::string timeline_csv(const Timeline& t)
{
  const bool norm = !t.series.empty() && !t.series.front().per_10000.empty();
  std::string out = norm ? "bucket,query,station,count,per_10000\r\n" : "bucket,query,station,count\r\n";
  for (std::size_t b = 0; b < t.starts.size(); ++b)
    for (const TimelineSeries& s : t.series) {
      out += bucket_name(t.by, t.starts[b]) + "," + csv_field(t.queries[s.query]) + "," + csv_field(s.station) + "," +
             std::to_string(s.counts[b]);
      if (norm) {
        char figure[32];
        std::snprintf(figure, sizeof figure, "%.2f", s.per_10000[b]);
        out += std::string(",") + figure;
      }
      out += "\r\n";
    }
  return out;
}

}  // namespace oneseg::archive
