#pragma once
// How often queries were said, per station and per hour, day, week or month:
// matching caption lines (or windows, with within), and per 10,000 caption
// lines of the station in that bucket, so stations with more captioned
// airtime compare fairly.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive_db.h"
#include "search.h"

namespace oneseg::archive {

enum class Bucket { hour, day, week, month };

// "hour", "day", "week", "month"; nullopt for anything else.
std::optional<Bucket> parse_bucket(std::string_view text);

inline constexpr std::size_t most_timeline_queries = 4;
inline constexpr std::size_t most_buckets = 10000;

struct TimelineSeries {
  std::size_t query = 0;               // index into Timeline::queries
  std::string station;
  std::vector<std::int64_t> counts;    // one per bucket
  std::vector<double> per_10000;       // with norm: per 10,000 caption lines of the station; else empty
};

struct Timeline {
  Bucket by = Bucket::day;
  std::vector<std::string> queries;    // their texts
  std::vector<std::int64_t> starts;    // each bucket's first second (broadcast time)
  std::vector<TimelineSeries> series;  // by query, then station
  double took_ms = 0;
};

// The bucket's first second, the next bucket's, and its name:
// "2026-12-07T18", "2026-12-07", "2026-12-07" (the week's Monday), "2026-12".
std::int64_t bucket_start(Bucket by, std::int64_t time);
std::int64_t next_bucket(Bucket by, std::int64_t start);
std::string bucket_name(Bucket by, std::int64_t start);
// The search filters that narrow a query to the bucket: "from:… to:…".
std::string bucket_filters(Bucket by, std::int64_t start);

// Every query as search() reads it (its own filters and those of the
// SearchQuery); the buckets run over from..to, or over the first to the last
// bucket with a count. Throws QueryError for a query search refuses, more
// than 4 queries, or more than most_buckets buckets.
Timeline timeline(ArchiveDb& db, const std::vector<SearchQuery>& queries, Bucket by, bool norm);

std::string timeline_json(const Timeline& t);
// bucket,query,station,count[,per_10000], one row per bucket and series.
std::string timeline_csv(const Timeline& t);

}  // namespace oneseg::archive
