#pragma once
// Where a query's hits fall: how many by station, by programme on the air and
// by day, each a way to narrow the search.
#include <cstdint>
#include <string>
#include <vector>

#include "archive_db.h"
#include "search.h"

namespace oneseg::archive {

struct FacetCount {
  std::string value;   // station name, programme title or "yyyy-mm-dd"
  std::int64_t count = 0;
};

struct Facets {
  std::vector<FacetCount> stations, programmes, days;  // most first, at most facet_values each
  std::int64_t counted = 0;   // hits counted: the newest counted_hits_limit at most
  bool complete = true;       // every hit counted
  std::string oldest_day;     // "yyyy-mm-dd" of the oldest hit counted, "" without hits
};

inline constexpr std::size_t facet_values = 10;

// Throws QueryError as search() does.
Facets facets(ArchiveDb& db, const SearchQuery& query);

}  // namespace oneseg::archive
