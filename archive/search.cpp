#include "search.h"

#include <algorithm>
#include <chrono>

#include <nlohmann/json.hpp>

#include "broadcast_clock.h"
#include "caption_keys.h"
#include "text_normalise.h"

namespace oneseg::archive {

namespace {

constexpr std::size_t longest_query = 500;  // characters

// One word or quoted phrase: its runs of word characters, normalised.
using Term = std::vector<std::u32string>;

Term term_of(const std::vector<NormalisedChar>& chars, std::size_t first, std::size_t last)
{
  Term runs;
  std::u32string run;
  for (std::size_t i = first; i <= last; ++i) {
    if (i < last && is_word_char(chars[i].code)) {
      run += chars[i].code;
    } else if (!run.empty()) {
      runs.push_back(std::move(run));
      run.clear();
    }
  }
  return runs;
}

bool is_operator(const std::vector<NormalisedChar>& chars, std::size_t first, std::size_t last,
                 const std::string& original)
{
  // The search language has no operators; the full-text engine's words
  // standing alone are taken for an attempt at one, and left out.
  const std::string word = original.substr(chars[first].begin, chars[last - 1].end - chars[first].begin);
  return word == "AND" || word == "OR" || word == "NOT" || word == "NEAR";
}

// Words (cut at spaces) and "phrases", each as its runs; quotes that are
// never closed run to the end.
std::vector<Term> parse_terms(const std::string& text)
{
  std::vector<NormalisedChar> chars;
  normalise_chars(text, chars);
  if (chars.size() > longest_query)
    throw QueryError("The query is too long (at most " + std::to_string(longest_query) + " characters).");
  std::vector<Term> terms;
  std::size_t i = 0;
  while (i < chars.size()) {
    if (chars[i].code == U' ' || chars[i].code == U'\t') {
      ++i;
    } else if (chars[i].code == U'"') {
      std::size_t end = i + 1;
      while (end < chars.size() && chars[end].code != U'"') ++end;
      if (Term t = term_of(chars, i + 1, end); !t.empty()) terms.push_back(std::move(t));
      i = end + 1;
    } else {
      std::size_t end = i;
      while (end < chars.size() && chars[end].code != U' ' && chars[end].code != U'\t' && chars[end].code != U'"')
        ++end;
      if (Term t = term_of(chars, i, end); !t.empty() && !is_operator(chars, i, end, text)) terms.push_back(std::move(t));
      i = end;
    }
  }
  return terms;
}

std::string utf8_of(const std::u32string& s)
{
  std::string out;
  for (const char32_t c : s) append_utf8(out, c);
  return out;
}

// The full-text expression: every term a phrase (its runs hold nothing but
// word characters, so no quote or operator of the engine gets through); a
// term ending in a lone character matches it at the start of a pair.
std::string match_expression(const std::vector<Term>& terms)
{
  std::string expression;
  for (const Term& t : terms) {
    if (!expression.empty()) expression += " AND ";
    expression += '"';
    for (std::size_t i = 0; i < t.size(); ++i) expression += (i > 0 ? " " : "") + utf8_of(t[i]);
    expression += '"';
    if (t.back().size() == 1) expression += '*';
  }
  return expression;
}

struct Filter {
  std::string where;
  bool needs_recordings = false;
  bool needs_captions = false;
};

std::optional<std::int64_t> day_of(const std::optional<std::string>& text, const char* what)
{
  if (!text || text->empty()) return std::nullopt;
  const auto day = parse_day(*text);
  if (!day) throw QueryError(std::string(what) + " must be a date yyyy-mm-dd, not \"" + *text + "\".");
  return day;
}

Filter filter_of(const SearchQuery& q, std::optional<std::int64_t> from, std::optional<std::int64_t> to)
{
  Filter f;
  // A caption's row number lies within seconds of its time (caption_keys.h),
  // which lets the index skip to the dates; the exact test follows.
  if (from) f.where += " AND caption_index.rowid >= ?3 AND " ONESEG_CAPTION_TIME " >= ?4";
  if (to) f.where += " AND caption_index.rowid < ?5 AND " ONESEG_CAPTION_TIME " < ?6";
  if (q.channel) f.where += " AND r.channel = ?7";
  if (!q.station.empty()) f.where += " AND r.station = ?8";
  if (q.only_rows) f.where += " AND caption_index.rowid BETWEEN ?12 AND ?13 AND c.recording BETWEEN ?14 AND ?15";
  f.needs_captions = from || to || q.only_rows;
  f.needs_recordings = q.channel || !q.station.empty();
  return f;
}

constexpr std::int64_t key_margin = 3600 * caption_keys_per_second;  // an hour of spilled row numbers

void bind_filter(Statement& s, const SearchQuery& q, std::optional<std::int64_t> from, std::optional<std::int64_t> to)
{
  if (from) s.bind(3, first_caption_key(*from) - key_margin).bind(4, *from);
  if (to) s.bind(5, first_caption_key(*to) + key_margin).bind(6, *to);
  if (q.channel) s.bind(7, *q.channel);
  if (!q.station.empty()) s.bind(8, q.station);
  if (const auto& w = q.only_rows) s.bind(12, w->first_row).bind(13, w->last_row).bind(14, w->first_recording).bind(15, w->last_recording);
}

// The lines just before or after a hit in its recording; prepared once per
// search, not once per hit.
Statement neighbours_statement(ArchiveDb& db, bool before)
{
  return db.prepare(
      before ? "SELECT text FROM captions WHERE id < ?2 AND id >= (SELECT caption_first FROM recordings WHERE id = ?1)"
               " AND recording = ?1 ORDER BY id DESC LIMIT 2"
             : "SELECT text FROM captions WHERE id > ?2 AND id <= (SELECT caption_last FROM recordings WHERE id = ?1)"
               " AND recording = ?1 ORDER BY id LIMIT 2");
}

std::vector<std::string> neighbours(Statement& s, std::int64_t recording, std::int64_t id, bool before)
{
  s.bind(1, recording).bind(2, id);
  std::vector<std::string> lines;
  while (s.step()) lines.push_back(s.text(0));
  s.reset();
  if (before) std::reverse(lines.begin(), lines.end());
  return lines;
}

}  // namespace

std::vector<std::string> query_terms(const std::string& query_text)
{
  std::vector<std::string> out;
  for (const Term& t : parse_terms(query_text)) {
    std::string joined;
    for (std::size_t i = 0; i < t.size(); ++i) joined += (i > 0 ? " " : "") + utf8_of(t[i]);
    out.push_back(joined);
  }
  return out;
}

SearchResult search(ArchiveDb& db, const SearchQuery& q)
{
  const auto started = std::chrono::steady_clock::now();
  const std::vector<Term> terms = parse_terms(q.text);
  if (terms.empty()) throw QueryError("The query has no word to search for: \"" + q.text + "\".");
  const auto from = day_of(q.from, "--from");
  auto to = day_of(q.to, "--to");
  if (to) *to += seconds_per_day;  // the whole last day
  const std::string expression = match_expression(terms);
  const Filter f = filter_of(q, from, to);

  SearchResult result;
  const std::string joins = std::string(f.needs_captions || f.needs_recordings ? " CROSS JOIN captions AS c ON c.id = caption_index.rowid" : "") +
                            (f.needs_recordings ? " CROSS JOIN recordings AS r ON r.id = c.recording" : "");
  // Counting every hit of a common word over years costs more than the page
  // itself; past a number no reader pages through, the count stops.
  Statement count = db.prepare("SELECT count(*) FROM (SELECT 1 FROM caption_index" + joins +
                               " WHERE caption_index MATCH ?1" + f.where + " LIMIT ?11)");
  count.bind(1, expression).bind(11, counted_hits_limit + 1);
  bind_filter(count, q, from, to);
  count.step();
  result.total = std::min(count.integer(0), counted_hits_limit);
  result.total_exact = count.integer(0) <= counted_hits_limit;

  Statement page = db.prepare(
      "SELECT c.id, " ONESEG_CAPTION_TIME ", c.text, r.id, r.channel, r.station, r.day, r.name, r.start, r.health"
      " FROM caption_index CROSS JOIN captions AS c ON c.id = caption_index.rowid"
      " CROSS JOIN recordings AS r ON r.id = c.recording"
      " WHERE caption_index MATCH ?1" + f.where + " ORDER BY caption_index.rowid DESC LIMIT ?9 OFFSET ?10");
  page.bind(1, expression).bind(9, std::clamp(q.limit, 0, 10000)).bind(10, std::max(q.offset, 0));
  bind_filter(page, q, from, to);
  Statement programme = db.prepare(
      "SELECT title FROM programmes WHERE recording = ?1 AND start <= ?2 AND start + duration > ?2"
      " ORDER BY start DESC LIMIT 1");
  Statement lines_before = neighbours_statement(db, true), lines_after = neighbours_statement(db, false);
  while (page.step()) {
    SearchHit h;
    const std::int64_t time = page.integer(1), recording = page.integer(3);
    h.time = format_broadcast_time(time);
    h.text = page.text(2);
    h.channel = static_cast<int>(page.integer(4));
    h.station = page.text(5);
    h.day = page.text(6);
    h.name = page.text(7);
    h.recording = h.day + "/" + h.name + ".ts";
    h.offset = static_cast<int>(std::max<std::int64_t>(0, time - page.integer(8)));
    h.health = page.text(9);
    programme.bind(1, recording).bind(2, time);
    if (programme.step()) h.programme = programme.text(0);
    programme.reset();
    if (q.context) {
      h.before = neighbours(lines_before, recording, page.integer(0), true);
      h.after = neighbours(lines_after, recording, page.integer(0), false);
    }
    result.hits.push_back(std::move(h));
  }
  result.took_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  return result;
}

std::string to_json(const SearchResult& result)
{
  nlohmann::ordered_json hits = nlohmann::ordered_json::array();
  for (const SearchHit& h : result.hits)
    hits.push_back({{"time", h.time}, {"channel", h.channel}, {"station", h.station}, {"recording", h.recording},
                    {"day", h.day}, {"name", h.name}, {"text", h.text}, {"programme", h.programme},
                    {"offset", h.offset}, {"health", h.health}});
  const nlohmann::ordered_json out = {{"total", result.total}, {"total_exact", result.total_exact},
                                      {"took_ms", result.took_ms}, {"hits", std::move(hits)}};
  // Caption text from the air may hold bytes that are not UTF-8; they are replaced, never fatal.
  return out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::vector<TextSpan> highlight_spans(const std::string& line, const std::string& query_text)
{
  std::vector<NormalisedChar> chars;
  normalise_chars(line, chars);
  std::vector<TextSpan> spans;
  std::vector<Term> terms;
  try {
    terms = parse_terms(query_text);
  } catch (const QueryError&) {
    return spans;
  }
  for (const Term& t : terms)
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
