#include "query_parser.h"

#include <charconv>

#include "broadcast_clock.h"
#include "text_normalise.h"

namespace oneseg::archive {

namespace {

constexpr std::size_t longest_query = 500;  // characters

bool is_space(char32_t c) { return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r'; }

std::optional<int> whole_number(std::string_view text, int lowest, int highest)
{
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < lowest || value > highest)
    return std::nullopt;
  return value;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text)
  {
    normalise_chars(text, chars_);
    if (chars_.size() > longest_query)
      throw QueryError("The query is too long (at most " + std::to_string(longest_query) + " characters).");
  }

  ParsedQuery run()
  {
    std::size_t i = 0;
    while (i < chars_.size()) i = is_space(chars_[i].code) ? i + 1 : item(i);
    if (pending_or_) throw QueryError("OR needs a word on each side.");
    return std::move(parsed_);
  }

 private:
  // Reads the item at i (not a space); returns where the next one starts.
  std::size_t item(std::size_t i)
  {
    if (chars_[i].code == U'|') return add_or(i + 1);
    // "-" before a word or a phrase excludes it; "--json" or "- x" are only text.
    const bool minus = chars_[i].code == U'-' && i + 1 < chars_.size() &&
                       (is_word_char(chars_[i + 1].code) || chars_[i + 1].code == U'"');
    if (minus) ++i;
    if (chars_[i].code == U'"') {
      const std::size_t end = closing_quote(i + 1);
      add_term(term_of(i + 1, end), minus);
      return end + 1;
    }
    const std::size_t end = word_end(i);
    if (const auto colon = filter_colon(i, end)) {
      if (minus) throw QueryError("A filter cannot be excluded: \"" + original(i, end) + "\".");
      return filter(i, *colon);
    }
    const std::string word = original(i, end);
    if (!minus && word == "OR") return add_or(end);
    // The full-text engine's other operators standing alone read as an
    // attempt at one (AND is what words do anyway), and are left out.
    if (word != "AND" && word != "NOT" && word != "NEAR") add_term(term_of(i, end), minus);
    return end;
  }

  std::size_t closing_quote(std::size_t i) const
  {
    while (i < chars_.size() && chars_[i].code != U'"') ++i;
    return i;  // a quote never closed runs to the end
  }

  std::size_t word_end(std::size_t i) const
  {
    while (i < chars_.size() && !is_space(chars_[i].code) && chars_[i].code != U'"' && chars_[i].code != U'|') ++i;
    return i;
  }

  std::string original(std::size_t first, std::size_t last) const
  {
    if (first >= last) return {};
    return std::string(text_.substr(chars_[first].begin, chars_[last - 1].end - chars_[first].begin));
  }

  std::string normalised(std::size_t first, std::size_t last) const
  {
    std::string out;
    for (std::size_t i = first; i < last; ++i) append_utf8(out, chars_[i].code);
    return out;
  }

  // Its runs of word characters.
  Term term_of(std::size_t first, std::size_t last) const
  {
    Term runs;
    std::u32string run;
    for (std::size_t i = first; i <= last && i <= chars_.size(); ++i) {
      if (i < last && i < chars_.size() && is_word_char(chars_[i].code)) {
        run += chars_[i].code;
      } else if (!run.empty()) {
        runs.push_back(std::move(run));
        run.clear();
      }
    }
    return runs;
  }

  std::size_t add_or(std::size_t next)
  {
    if (!last_was_term_ || pending_or_) throw QueryError("OR needs a word on each side.");
    pending_or_ = true;
    return next;
  }

  void add_term(Term term, bool excluded)
  {
    if (term.empty()) return;  // punctuation only: nothing to search for
    if (excluded) {
      if (pending_or_) throw QueryError("OR needs a word on each side.");
      parsed_.excluded.push_back(std::move(term));
      last_was_term_ = false;
      return;
    }
    if (pending_or_) parsed_.groups.back().push_back(std::move(term));
    else parsed_.groups.push_back({std::move(term)});
    pending_or_ = false;
    last_was_term_ = true;
  }

  // The colon of "key:" when the word starts with a known filter name.
  std::optional<std::size_t> filter_colon(std::size_t first, std::size_t end) const
  {
    for (std::size_t i = first; i < end; ++i)
      if (chars_[i].code == U':') {
        const std::string key = normalised(first, i);
        for (const char* known : {"station", "ch", "programme", "genre", "from", "to", "within"})
          if (key == known) return i;
        return std::nullopt;
      }
    return std::nullopt;
  }

  // "key:value" or key:"value with spaces"; returns where the next item starts.
  std::size_t filter(std::size_t first, std::size_t colon)
  {
    const std::string key = normalised(first, colon);
    std::size_t begin = colon + 1, end = 0, next = 0;
    if (begin < chars_.size() && chars_[begin].code == U'"') {
      end = closing_quote(++begin);
      next = end + 1;
    } else {
      end = next = word_end(begin);
    }
    if (begin >= end) throw QueryError(key + ": needs a value.");
    const std::string value = normalised(begin, end);
    const auto bad = [&](const char* expected) {
      return QueryError(key + ": needs " + expected + ", not \"" + original(begin, end) + "\".");
    };
    if (key == "station") {
      parsed_.station = original(begin, end);
    } else if (key == "ch") {
      if (!(parsed_.channel = whole_number(value, 1, 999))) throw bad("a channel number");
    } else if (key == "programme") {
      parsed_.programme = value;
    } else if (key == "genre") {
      parsed_.genre = value;
    } else if (key == "within") {
      if (!(parsed_.within = whole_number(value, 0, longest_within)))
        throw bad(("seconds from 0 to " + std::to_string(longest_within)).c_str());
    } else {
      const auto period = parse_period(value);
      if (!period) throw bad("a date yyyy-mm-dd (or an hour yyyy-mm-ddThh)");
      if (key == "from") parsed_.from = period->first;
      else parsed_.to = period->second;
    }
    return next;
  }

  std::string_view text_;
  std::vector<NormalisedChar> chars_;
  ParsedQuery parsed_;
  bool pending_or_ = false;
  bool last_was_term_ = false;
};

std::string term_expression(const Term& t)
{
  std::string out = "\"";
  for (std::size_t i = 0; i < t.size(); ++i) out += (i > 0 ? " " : "") + utf8_of(t[i]);
  out += '"';
  // A term ending in a lone character matches it at the start of a pair.
  if (t.back().size() == 1) out += '*';
  return out;
}

std::string any_of(const std::vector<Term>& terms)
{
  std::string out = "(";
  for (std::size_t i = 0; i < terms.size(); ++i) out += (i > 0 ? " OR " : "") + term_expression(terms[i]);
  return out + ")";
}

}  // namespace

ParsedQuery parse_query(std::string_view text) { return Parser(text).run(); }

std::optional<std::pair<std::int64_t, std::int64_t>> parse_period(std::string_view text)
{
  const auto day = parse_day(text.substr(0, 10));
  if (!day) return std::nullopt;
  if (text.size() == 10) return std::pair{*day, *day + seconds_per_day};
  if (text.size() != 13 || text[10] != 't') return std::nullopt;  // normalised: the T is small
  const auto hour = whole_number(text.substr(11), 0, 23);
  if (!hour) return std::nullopt;
  const std::int64_t first = *day + *hour * 3600;
  return std::pair{first, first + 3600};
}

std::string match_expression(const std::vector<std::vector<Term>>& groups, const std::vector<Term>& excluded)
{
  std::string out;
  for (const auto& g : groups) out += (out.empty() ? "" : " AND ") + any_of(g);
  if (!excluded.empty()) out = "(" + out + ") NOT " + any_of(excluded);
  return out;
}

std::string utf8_of(const std::u32string& text)
{
  std::string out;
  for (const char32_t c : text) append_utf8(out, c);
  return out;
}

}  // namespace oneseg::archive
