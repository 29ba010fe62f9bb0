#include "search.h"

#include <algorithm>
#include <chrono>

#include <nlohmann/json.hpp>

#include "broadcast_clock.h"
#include "caption_keys.h"
#include "match_sql.h"
#include "text_normalise.h"

namespace oneseg::archive {

namespace {

template <typename T>
void join_filter(std::optional<T>& parsed, const std::optional<T>& given, const char* name)
{
  if (!given) return;
  if (parsed && *parsed != *given)
    throw QueryError(std::string(name) + " is given twice, with different values.");
  parsed = given;
}

std::optional<std::pair<std::int64_t, std::int64_t>> day_of(const std::optional<std::string>& text, const char* what)
{
  if (!text || text->empty()) return std::nullopt;
  const auto day = parse_day(*text);
  if (!day) throw QueryError(std::string(what) + " must be a date yyyy-mm-dd, not \"" + *text + "\".");
  return std::pair{*day, *day + seconds_per_day};
}

// The lines just before or after a stretch of a recording; prepared once
// per search, not once per hit.
Statement neighbours_statement(ArchiveDb& db, bool before)
{
  return db.prepare(
      before ? "SELECT text FROM captions WHERE id < ?2 AND id >= (SELECT caption_first FROM recordings WHERE id = ?1)"
               " AND recording = ?1 ORDER BY id DESC LIMIT 2"
             : "SELECT text FROM captions WHERE id > ?2 AND id <= (SELECT caption_last FROM recordings WHERE id = ?1)"
               " AND recording = ?1 ORDER BY id LIMIT 2");
}

#define ONESEG_HIT_COLUMNS                                                                             \
  "c.id, " ONESEG_CAPTION_TIME ", c.text, r.id, r.channel, r.station, r.day, r.name, r.start, r.health," \
  " (SELECT name FROM roots WHERE id = r.root), r.root = (SELECT min(id) FROM roots),"                   \
  " (SELECT available FROM roots WHERE id = r.root)"

// Makes hits of rows of ONESEG_HIT_COLUMNS, with the programme on the air
// and the lines around them.
class HitReader {
 public:
  // context: also the lines before and after each hit.
  HitReader(ArchiveDb& db, bool context)
      : context_(context),
        programme_(db.prepare("SELECT title FROM programmes WHERE recording = ?1 AND start <= ?2"
                              " AND start + duration > ?2 ORDER BY start DESC LIMIT 1")),
        before_(neighbours_statement(db, true)),
        after_(neighbours_statement(db, false)),
        window_(db.prepare("SELECT text FROM captions WHERE recording = ?1 AND id > ?2 AND id <= ?3 ORDER BY id"))
  {
  }

  // last: the caption id of the window's last line (the hit's own without within).
  SearchHit read(const Statement& row, std::int64_t last)
  {
    SearchHit h;
    const std::int64_t id = row.integer(0), time = row.integer(1), recording = row.integer(3);
    h.time = format_broadcast_time(time);
    h.text = row.text(2);
    h.channel = static_cast<int>(row.integer(4));
    h.station = row.text(5);
    h.day = row.text(6);
    h.name = row.text(7);
    h.recording = h.day + "/" + h.name + ".ts";
    h.offset = static_cast<int>(std::max<std::int64_t>(0, time - row.integer(8)));
    h.health = row.text(9);
    h.root = row.text(10);
    h.first_root = row.integer(11) != 0;
    h.root_available = row.integer(12) != 0;
    programme_.bind(1, recording).bind(2, time);
    if (programme_.step()) h.programme = programme_.text(0);
    programme_.reset();
    if (last > id) h.window = lines(window_.bind(3, last), recording, id);
    if (context_) {
      h.before = lines(before_, recording, id);
      std::reverse(h.before.begin(), h.before.end());
      h.after = lines(after_, recording, last);
    }
    return h;
  }

 private:
  static std::vector<std::string> lines(Statement& s, std::int64_t recording, std::int64_t id)
  {
    s.bind(1, recording).bind(2, id);
    std::vector<std::string> out;
    while (s.step()) out.push_back(s.text(0));
    s.reset();
    return out;
  }

  bool context_;
  Statement programme_, before_, after_, window_;
};

SearchResult line_search(ArchiveDb& db, const SearchQuery& q, const ParsedQuery& parsed)
{
  const LineMatch match(db, parsed);
  SearchResult result;
  // Counting every hit of a common word over years costs more than the page
  // itself; past a number no reader pages through, the count stops.
  Statement count = db.prepare("SELECT count(*) FROM (SELECT 1" + match.from_where(false, false) + " LIMIT ?20)");
  match.bind(count);
  count.bind(20, counted_hits_limit + 1);
  count.step();
  result.total = std::min(count.integer(0), counted_hits_limit);
  result.total_exact = count.integer(0) <= counted_hits_limit;

  Statement page = db.prepare("SELECT " ONESEG_HIT_COLUMNS + match.from_where(true, true) +
                              " ORDER BY caption_index.rowid DESC LIMIT ?20 OFFSET ?21");
  match.bind(page);
  page.bind(20, std::clamp(q.limit, 0, 10000)).bind(21, std::max(q.offset, 0));
  HitReader reader(db, q.context);
  while (page.step()) result.hits.push_back(reader.read(page, page.integer(0)));
  return result;
}

SearchResult window_search(ArchiveDb& db, const SearchQuery& q, const ParsedQuery& parsed)
{
  const std::vector<CaptionWindow> windows = find_windows(db, parsed);
  SearchResult result;
  result.total = static_cast<std::int64_t>(windows.size());
  Statement line = db.prepare("SELECT " ONESEG_HIT_COLUMNS " FROM captions AS c CROSS JOIN recordings AS r"
                              " ON r.id = c.recording WHERE c.id = ?1");
  HitReader reader(db, q.context);
  const std::size_t first = static_cast<std::size_t>(std::max(q.offset, 0));
  const std::size_t end = std::min(windows.size(), first + static_cast<std::size_t>(std::clamp(q.limit, 0, 10000)));
  for (std::size_t i = first; i < end; ++i) {
    line.bind(1, windows[i].first);
    if (line.step()) result.hits.push_back(reader.read(line, windows[i].last));
    line.reset();
  }
  return result;
}

}  // namespace

ParsedQuery parsed_query(const SearchQuery& q)
{
  ParsedQuery parsed = parse_query(q.text);
  if (parsed.groups.empty()) throw QueryError("The query has no word to search for: \"" + q.text + "\".");
  join_filter(parsed.station, q.station.empty() ? std::nullopt : std::optional(q.station), "station");
  join_filter(parsed.channel, q.channel, "ch");
  join_filter(parsed.within, q.within, "within");
  parsed.only_rows = q.only_rows;
  // Dates narrow each other: the later from and the earlier to both hold.
  if (const auto from = day_of(q.from, "from")) parsed.from = std::max(parsed.from.value_or(from->first), from->first);
  if (const auto to = day_of(q.to, "to")) parsed.to = std::min(parsed.to.value_or(to->second), to->second);
  return parsed;
}

SearchResult search(ArchiveDb& db, const SearchQuery& q)
{
  const auto started = std::chrono::steady_clock::now();
  const ParsedQuery parsed = parsed_query(q);
  SearchResult result = uses_windows(parsed) ? window_search(db, q, parsed) : line_search(db, q, parsed);
  result.took_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  return result;
}

std::string to_json(const SearchResult& result)
{
  nlohmann::ordered_json hits = nlohmann::ordered_json::array();
  for (const SearchHit& h : result.hits) {
    hits.push_back({{"time", h.time}, {"channel", h.channel}, {"station", h.station}, {"recording", h.recording},
                    {"day", h.day}, {"name", h.name}, {"text", h.text}, {"programme", h.programme},
                    {"offset", h.offset}, {"health", h.health}, {"root", h.root},
                    {"root_available", h.root_available}});
    if (!h.window.empty()) hits.back()["window"] = h.window;
  }
  const nlohmann::ordered_json out = {{"total", result.total}, {"total_exact", result.total_exact},
                                      {"took_ms", result.took_ms}, {"hits", std::move(hits)}};
  // Caption text from the air may hold bytes that are not UTF-8; they are replaced, never fatal.
  return out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

namespace {

std::vector<Term> searched_terms(const std::string& query_text)
{
  std::vector<Term> terms;
  try {
    for (const auto& group : parse_query(query_text).groups) terms.insert(terms.end(), group.begin(), group.end());
  } catch (const QueryError&) {
  }
  return terms;
}

}  // namespace

std::vector<std::string> query_terms(const std::string& query_text)
{
  std::vector<std::string> out;
  for (const Term& t : searched_terms(query_text)) {
    std::string joined;
    for (std::size_t i = 0; i < t.size(); ++i) joined += (i > 0 ? " " : "") + utf8_of(t[i]);
    out.push_back(joined);
  }
  return out;
}

std::vector<TextSpan> highlight_spans(const std::string& line, const std::string& query_text)
{
  std::vector<NormalisedChar> chars;
  normalise_chars(line, chars);
  std::vector<TextSpan> spans;
  for (const Term& t : searched_terms(query_text))
    for (const std::u32string& run : t)
      for (std::size_t i = 0; i + run.size() <= chars.size(); ++i) {
        std::size_t k = 0;
        while (k < run.size() && chars[i + k].code == run[k]) ++k;
        if (k == run.size()) spans.push_back({chars[i].begin, chars[i + k - 1].end});
      }
  std::sort(spans.begin(), spans.end(), [](const TextSpan& a, const TextSpan& b) { return a.begin < b.begin; });
  std::vector<TextSpan> merged;
  for (const TextSpan& s : spans) {
    if (!merged.empty() && s.begin <= merged.back().end) merged.back().end = std::max(merged.back().end, s.end);
    else merged.push_back(s);
  }
  return merged;
}

}  // namespace oneseg::archive
