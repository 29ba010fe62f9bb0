#pragma once
// The search language, one parser for the command line, the pages and the
// API. Words must all occur; "a phrase" must occur as written; A OR B (also
// A ｜ B) lets either do; -word leaves out lines with it; station:名前,
// ch:27, programme:語, genre:ニュース, from:2026-12-01, to:2026-12-07 (or to
// the hour, 2026-12-07T18) and within:15 narrow the search.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace oneseg::archive {

// A query that cannot be searched (nothing but punctuation or operators, a
// bad filter value); what() is a message for the user.
class QueryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One word or quoted phrase: its runs of word characters, normalised (a
// phrase "首相 会見" is two runs that must follow each other).
using Term = std::vector<std::u32string>;

// Caption rows numbered first_row..last_row of the recordings numbered
// first_recording..last_recording (both ends included): the lines one
// write added, when new lines are matched against saved searches.
struct RowWindow {
  std::int64_t first_row = 0, last_row = -1;
  std::int64_t first_recording = 0, last_recording = -1;
};

inline constexpr int longest_within = 600;   // seconds: one recording

struct ParsedQuery {
  // Every group must match; a group matches where any of its terms does.
  std::vector<std::vector<Term>> groups;
  std::vector<Term> excluded;
  std::optional<std::string> station;       // exact station name
  std::optional<int> channel;
  std::optional<std::string> programme;     // normalised; in the title on the air
  std::optional<std::string> genre;         // normalised; in the genre names on the air
  std::optional<std::int64_t> from;         // broadcast seconds, first included
  std::optional<std::int64_t> to;           // broadcast seconds, first excluded
  std::optional<int> within;                // seconds the words may lie apart
  std::optional<RowWindow> only_rows;       // never from the text; absent: every line
};

// Throws QueryError for text that cannot be parsed (a filter without a
// proper value, OR without a word on both sides, more than 500 characters).
// A query with no word at all parses; search() refuses it.
ParsedQuery parse_query(std::string_view text);

// "yyyy-mm-dd" or "yyyy-mm-ddThh" as the first second it covers and the
// first second after it; nullopt when it is not a real date or hour.
std::optional<std::pair<std::int64_t, std::int64_t>> parse_period(std::string_view text);

// The full-text expression of lines where all groups match and no excluded
// term does. Every term is sent quoted and holds only word characters, so no
// text of the user ever reads as an operator of the engine.
std::string match_expression(const std::vector<std::vector<Term>>& groups, const std::vector<Term>& excluded);

std::string utf8_of(const std::u32string& text);

}  // namespace oneseg::archive
