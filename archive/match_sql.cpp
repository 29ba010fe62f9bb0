#include "match_sql.h"

#include <sqlite3.h>

#include <algorithm>
#include <tuple>

#include "caption_keys.h"
#include "text_normalise.h"

namespace oneseg::archive {

namespace {

// A caption's row number lies within seconds of its time (caption_keys.h),
// which lets the index skip to the dates; the exact test follows.
constexpr std::int64_t key_margin = 3600 * caption_keys_per_second;  // an hour of spilled row numbers

bool needs_captions(const ParsedQuery& q) { return q.from || q.to || q.programme || q.genre || q.only_rows; }

// The channels a station's recordings are on, and whether any of those
// channels also carried another name (a station renamed, or a root of
// another region).
struct StationChannels {
  std::vector<std::int64_t> channels;
  bool shared = false;
};

StationChannels station_channels(ArchiveDb& db, const std::string& station)
{
  StationChannels out;
  Statement next = db.prepare("SELECT channel FROM recordings WHERE station = ?1 AND channel > ?2 ORDER BY channel LIMIT 1");
  Statement other = db.prepare("SELECT 1 FROM recordings WHERE channel = ?1 AND station <> ?2 LIMIT 1");
  for (std::int64_t after = INT64_MIN;; next.reset()) {
    next.bind(1, station).bind(2, after);
    if (!next.step()) break;
    after = next.integer(0);
    other.bind(1, after).bind(2, station);
    out.shared = out.shared || other.step();
    other.reset();
    out.channels.push_back(after);
  }
  return out;
}

using RowStretches = std::vector<std::pair<std::int64_t, std::int64_t>>;
constexpr const char* row_stretches_type = "oneseg_row_stretches";

// Past this many programmes a programme filter lets pass, their rows are
// not worked out: so common a title's lines are found soon enough by
// testing the lines the words find.
constexpr std::int64_t most_stretched_programmes = 5000;

// The rows of the programmes the filters let pass: a programme's lines lie
// within its recording's rows, numbered from its start on and before its
// end spilled by less than key_margin (caption_keys.h), as a to: filter
// takes them. Nullopt when more than most_stretched_programmes pass.
std::optional<RowStretches> programme_rows(ArchiveDb& db, const ParsedQuery& q)
{
  // A listing holds the station's schedule: only the programmes of rows of
  // their recording count.
  std::string sql =
      "SELECT * FROM (SELECT max(r.caption_first, (p.start - 946684800) * 64) AS first_row,"
      " min(r.caption_last, (p.start + p.duration - 946684800) * 64 + ?1) AS last_row"
      " FROM programmes AS p CROSS JOIN recordings AS r ON r.id = p.recording WHERE r.caption_count > 0";
  if (q.programme) sql += " AND instr(p.title_key, ?2) > 0";
  if (q.genre) sql += " AND instr(p.genres_key, ?3) > 0";
  Statement s = db.prepare(sql + ") WHERE first_row <= last_row LIMIT ?4");
  s.bind(1, key_margin).bind(4, most_stretched_programmes + 1);
  if (q.programme) s.bind(2, *q.programme);
  if (q.genre) s.bind(3, *q.genre);
  RowStretches rows;
  while (s.step()) rows.emplace_back(s.integer(0), s.integer(1));
  if (static_cast<std::int64_t>(rows.size()) > most_stretched_programmes) return std::nullopt;
  std::sort(rows.begin(), rows.end());
  RowStretches merged;
  for (const auto& r : rows) {
    if (!merged.empty() && r.first <= merged.back().second + 1) merged.back().second = std::max(merged.back().second, r.second);
    else merged.push_back(r);
  }
  return merged;
}

std::string any_channel(const std::vector<std::int64_t>& channels)
{
  std::string out;
  for (const std::int64_t c : channels) out += (out.empty() ? "\"" : " OR \"") + channel_token(c) + "\"";
  return "meta : (" + out + ")";
}

}  // namespace

std::string channel_token(std::int64_t channel)
{
  char token[8];
  return std::string(token, encode_utf8(first_index_mark + static_cast<char32_t>(channel), token));
}

std::string programme_on_the_air_sql(const char* column)
{
  return std::string("(SELECT ") + column +
         " FROM programmes WHERE recording = c.recording AND start <= " ONESEG_CAPTION_TIME
         " AND start + duration > " ONESEG_CAPTION_TIME " ORDER BY start DESC LIMIT 1)";
}

LineMatch::LineMatch(ArchiveDb& db, const ParsedQuery& query, std::optional<std::size_t> group)
    : query_(query),
      expression_("(" +
                  (group ? match_expression({query.groups.at(*group)}, query.excluded)
                         : match_expression(query.groups, query.excluded)) +
                  ")")
{
  if (query.programme || query.genre) programme_rows_ = programme_rows(db, query);
  if (query.channel) expression_ += " AND " + any_channel({*query.channel});
  if (!query.station) return;
  const StationChannels on = station_channels(db, *query.station);
  if (on.channels.empty()) no_station_ = true;
  else expression_ += " AND " + any_channel(on.channels);
  test_station_ = on.shared;
}

std::string LineMatch::from_where(bool captions, bool recordings) const
{
  recordings = recordings || test_station_;
  captions = captions || recordings || needs_captions(query_);
  std::string sql = " FROM caption_index";
  if (captions) sql += " CROSS JOIN captions AS c ON c.id = caption_index.rowid";
  if (recordings) sql += " CROSS JOIN recordings AS r ON r.id = c.recording";
  sql += " WHERE caption_index MATCH ?1";
  // Read from the index alone: most lines of a rare programme's words go
  // here, before their rows are read for the exact test below.
  if (programme_rows_) sql += " AND oneseg_in_rows(caption_index.rowid, ?14)";
  if (query_.from) sql += " AND caption_index.rowid >= ?2 AND " ONESEG_CAPTION_TIME " >= ?3";
  if (query_.to) sql += " AND caption_index.rowid < ?4 AND " ONESEG_CAPTION_TIME " < ?5";
  if (test_station_) sql += " AND r.station = ?7";
  if (no_station_) sql += " AND 0";
  // The titles and genre names as normalised when indexed, read from the
  // index on the programmes (no row, no normalising per line).
  if (query_.programme) sql += " AND instr(" + programme_on_the_air_sql("title_key") + ", ?8) > 0";
  if (query_.genre) sql += " AND instr(" + programme_on_the_air_sql("genres_key") + ", ?9) > 0";
  if (query_.only_rows) sql += " AND caption_index.rowid BETWEEN ?10 AND ?11 AND c.recording BETWEEN ?12 AND ?13";
  return sql;
}

void LineMatch::bind(Statement& s) const
{
  s.bind(1, expression_);
  if (query_.from) s.bind(2, first_caption_key(*query_.from) - key_margin).bind(3, *query_.from);
  if (query_.to) s.bind(4, first_caption_key(*query_.to) + key_margin).bind(5, *query_.to);
  if (test_station_) s.bind(7, *query_.station);
  if (programme_rows_) s.bind_pointer(14, &*programme_rows_, row_stretches_type);
  if (query_.programme) s.bind(8, *query_.programme);
  if (query_.genre) s.bind(9, *query_.genre);
  if (const auto& w = query_.only_rows)
    s.bind(10, w->first_row).bind(11, w->last_row).bind(12, w->first_recording).bind(13, w->last_recording);
}

bool uses_windows(const ParsedQuery& query) { return query.groups.size() > 1 && query.within.value_or(0) > 0; }

namespace {

struct MatchedLine {
  std::int64_t recording = 0, time = 0, id = 0;
  std::uint32_t groups = 0;   // bit g: group g matches the line
};

// Every line of each group in one list, sorted, a line that several groups
// match merged into one entry: a common word has hundreds of thousands of
// lines, too many for a node of a tree each.
std::vector<MatchedLine> matched_lines(ArchiveDb& db, const ParsedQuery& query)
{
  std::vector<MatchedLine> lines;
  for (std::size_t g = 0; g < query.groups.size(); ++g) {
    const LineMatch match(db, query, g);
    Statement s = db.prepare("SELECT c.id, c.recording, " ONESEG_CAPTION_TIME + match.from_where(true, false));
    match.bind(s);
    while (s.step()) lines.push_back({s.integer(1), s.integer(2), s.integer(0), 1u << g});
  }
  // A line's recording and time follow from its id: equal ids end up side by side.
  std::sort(lines.begin(), lines.end(), [](const MatchedLine& a, const MatchedLine& b) {
    return std::tie(a.recording, a.time, a.id) < std::tie(b.recording, b.time, b.id);
  });
  std::vector<MatchedLine> out;
  out.reserve(lines.size());
  for (const MatchedLine& line : lines) {
    if (!out.empty() && out.back().id == line.id) out.back().groups |= line.groups;
    else out.push_back(line);
  }
  return out;
}

}  // namespace

std::vector<CaptionWindow> find_windows(ArchiveDb& db, const ParsedQuery& query)
{
  constexpr std::size_t most_groups = 16;
  if (query.groups.size() > most_groups)
    throw QueryError("Words within seconds of each other: at most " + std::to_string(most_groups) + " words.");
  const std::vector<MatchedLine> lines = matched_lines(db, query);
  const std::uint32_t all = (1u << query.groups.size()) - 1;
  const std::int64_t within = query.within.value_or(0);
  std::vector<CaptionWindow> windows;
  for (std::size_t i = 0; i < lines.size();) {
    std::uint32_t seen = 0;
    std::size_t j = i;
    for (; j < lines.size() && lines[j].recording == lines[i].recording && lines[j].time <= lines[i].time + within; ++j)
      if ((seen |= lines[j].groups) == all) break;
    if (seen == all) {
      windows.push_back({lines[i].recording, lines[i].id, lines[j].id, lines[i].time});
      i = j + 1;
    } else {
      ++i;
    }
  }
  std::sort(windows.begin(), windows.end(),
            [](const CaptionWindow& a, const CaptionWindow& b) { return a.first > b.first; });
  return windows;
}

namespace {

void in_rows(sqlite3_context* context, int, sqlite3_value** values)
{
  const auto* rows = static_cast<const RowStretches*>(sqlite3_value_pointer(values[1], row_stretches_type));
  const std::int64_t row = sqlite3_value_int64(values[0]);
  bool in = false;
  if (rows != nullptr) {
    const auto after = std::upper_bound(rows->begin(), rows->end(), row,
                                        [](std::int64_t r, const auto& stretch) { return r < stretch.first; });
    in = after != rows->begin() && std::prev(after)->second >= row;
  }
  sqlite3_result_int(context, in);
}

}  // namespace

void register_match_functions(sqlite3* db)
{
  if (sqlite3_create_function(db, "oneseg_in_rows", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, in_rows, nullptr,
                              nullptr) != SQLITE_OK)
    throw DbError(std::string("cannot register the index's functions: ") + sqlite3_errmsg(db));
}

}  // namespace oneseg::archive
