#include "facets.h"

#include <algorithm>
#include <map>

#include "broadcast_clock.h"
#include "caption_keys.h"
#include "match_sql.h"

namespace oneseg::archive {

namespace {

class Tally {
 public:
  // A row of station, programme title (or NULL) and time.
  void add(const Statement& row)
  {
    ++stations_[row.text(0)];
    if (!row.is_null(1)) ++programmes_[row.text(1)];
    ++days_[format_broadcast_time(row.integer(2)).substr(0, 10)];
  }

  Facets facets(std::int64_t counted, bool complete) const
  {
    return {most(stations_), most(programmes_), most(days_), counted, complete,
            days_.empty() ? std::string() : days_.begin()->first};
  }

 private:
  static std::vector<FacetCount> most(const std::map<std::string, std::int64_t>& counts)
  {
    std::vector<FacetCount> out;
    for (const auto& [value, n] : counts) out.push_back({value, n});
    std::stable_sort(out.begin(), out.end(), [](const FacetCount& a, const FacetCount& b) { return a.count > b.count; });
    if (out.size() > facet_values) out.resize(facet_values);
    return out;
  }

  std::map<std::string, std::int64_t> stations_, programmes_, days_;
};

const std::string facet_columns = "r.station, " + programme_on_the_air_sql("title") + ", " ONESEG_CAPTION_TIME;

}  // namespace

Facets facets(ArchiveDb& db, const SearchQuery& q)
{
  const ParsedQuery parsed = parsed_query(q);
  Tally tally;
  std::int64_t counted = 0;
  if (uses_windows(parsed)) {
    const std::vector<CaptionWindow> windows = find_windows(db, parsed);
    Statement first = db.prepare("SELECT " + facet_columns +
                                 " FROM captions AS c CROSS JOIN recordings AS r ON r.id = c.recording WHERE c.id = ?1");
    for (std::size_t i = 0; i < windows.size() && counted < counted_hits_limit; ++i, ++counted) {
      first.bind(1, windows[i].first);
      if (first.step()) tally.add(first);
      first.reset();
    }
    return tally.facets(counted, counted == static_cast<std::int64_t>(windows.size()));
  }
  // The newest hits, as many as a search counts: enough to show where a
  // common word falls without reading years of lines.
  const LineMatch match(db, parsed);
  Statement rows = db.prepare("SELECT " + facet_columns + match.from_where(true, true) +
                              " ORDER BY caption_index.rowid DESC LIMIT ?20");
  match.bind(rows);
  rows.bind(20, counted_hits_limit + 1);
  while (counted < counted_hits_limit && rows.step()) {
    tally.add(rows);
    ++counted;
  }
  return tally.facets(counted, counted < counted_hits_limit || !rows.step());
}

}  // namespace oneseg::archive
