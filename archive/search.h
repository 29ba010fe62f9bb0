#pragma once
// Caption search in the language of query_parser.h, with station, channel
// and date filters also given apart from the text, newest hits first.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive_db.h"
#include "query_parser.h"

namespace oneseg::archive {

struct SearchQuery {
  std::string text;
  std::string station;             // exact station name, "" = all
  std::optional<int> channel;
  std::optional<std::string> from, to;  // yyyy-mm-dd, both days included
  std::optional<int> within;       // seconds, as within: in the text
  int limit = 50;
  int offset = 0;
  std::optional<RowWindow> only_rows;  // absent: every line
  bool context = true;   // the lines before and after each hit (the pages show them)
};

struct SearchHit {
  std::string time;        // "yyyy-mm-dd hh:mm:ss", broadcast time of the caption
  int channel = 0;
  std::string station;
  std::string recording;   // "261207/261207180_Ch27.ts", relative to the root
  std::string day;         // "261207"
  std::string name;        // "261207180_Ch27"
  std::string text;        // the caption line, UTF-8
  std::string programme;   // title on the air, or ""
  int offset = 0;          // seconds into the recording
  std::string health;      // "要確認" or ""
  std::string root;        // the name of the recording's folder
  bool first_root = true;  // the first root's recordings are named without it in links
  bool root_available = true;
  std::vector<std::string> window;  // with within: the window's lines after the hit's own
  std::vector<std::string> before, after;  // neighbouring caption lines of the recording
};

// Hits are counted up to this many; beyond, total says this and total_exact false.
inline constexpr std::int64_t counted_hits_limit = 10000;

struct SearchResult {
  std::int64_t total = 0;
  std::vector<SearchHit> hits;
  double took_ms = 0;
  bool total_exact = true;
};

// The text parsed, with the filters given apart from it joined in; throws
// QueryError for what search refuses (also a query without a word to look
// for, or a filter given twice with different values).
ParsedQuery parsed_query(const SearchQuery& query);

// Throws QueryError as parsed_query does.
SearchResult search(ArchiveDb& db, const SearchQuery& query);

// {"total": N, "total_exact": B, "took_ms": F, "hits": [{...}]} (before/after left out).
std::string to_json(const SearchResult& result);

// Where the query's words occur in a caption line, as byte ranges of the
// line (half-width and full-width forms of a word both count).
struct TextSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
};
std::vector<TextSpan> highlight_spans(const std::string& line, const std::string& query_text);

// The words and phrases a query looks for after normalisation, as searched.
std::vector<std::string> query_terms(const std::string& query_text);

}  // namespace oneseg::archive
