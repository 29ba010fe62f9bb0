#pragma once
// The day's words: the nouns said on a day far more than over the 28 days
// before it, by station and across stations. The nouns of each day are
// counted once (MeCab over the day's caption lines) and kept in the
// database until that day's recordings change, so a day asked for again
// answers from the counts.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive_db.h"

namespace oneseg::archive {

inline constexpr int trend_background_days = 28;
inline constexpr std::int64_t trend_min_count = 5;   // said fewer times that day: never a trend
inline constexpr std::size_t trend_words = 30;

struct TrendWord {
  std::string word;
  std::int64_t count = 0;        // on the day
  std::int64_t background = 0;   // over the 28 days before
  double score = 0;              // log-likelihood ratio (G²)
};

struct StationTrends {
  std::string station;           // "" across stations
  std::vector<TrendWord> words;  // highest score first, at most trend_words
};

struct DayTrends {
  std::int64_t day = 0;          // the day's first second (broadcast time)
  std::vector<StationTrends> stations;   // across stations first, then by name
  double took_ms = 0;
};

// station: only that one (and no across-stations list); "" every one.
// Writes the counts it makes: throws DbError when the database cannot be
// written, or std::runtime_error when MeCab cannot start.
DayTrends day_trends(ArchiveDb& db, std::int64_t day, const std::string& station = {});

// "yymmdd" (20yy) as the day's first second; nullopt when no real day.
std::optional<std::int64_t> parse_yymmdd(const std::string& text);

// The last day with caption lines, or nullopt for an empty archive.
std::optional<std::int64_t> last_caption_day(ArchiveDb& db);

std::string trends_json(const DayTrends& trends);

}  // namespace oneseg::archive
