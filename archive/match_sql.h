#pragma once
// What searches, timelines and facets share: the caption lines a parsed
// query matches, as SQL over the full-text index, and its windows of lines
// close in time within one recording.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive_db.h"
#include "query_parser.h"

struct sqlite3;

namespace oneseg::archive {

// The column of the programme on the air at the time of caption row c (as
// the hits name it), as an SQL expression.
std::string programme_on_the_air_sql(const char* column);

// The full-text index holds each line's words in its column text and its
// recording's channel in its column meta, as one token: the index mark
// (text_normalise.h) U+F0000 + channel, which no query word can hold. So a
// channel or station filter narrows the lines inside the index, before a
// row is read. The channel of a recording never changes (its name says it).
#define ONESEG_CHANNEL_TOKEN(channel) "char(983040 + " channel ")"
std::string channel_token(std::int64_t channel);

class LineMatch {
 public:
  // Lines where every group matches (or only the one group given) and no
  // excluded term does, within the query's filters. A station is looked up
  // here: the channels it was on go into the index's query, and the
  // station's name is tested line by line only where one of those channels
  // also carried another name.
  LineMatch(ArchiveDb& db, const ParsedQuery& query, std::optional<std::size_t> group = std::nullopt);

  // " FROM caption_index ... WHERE caption_index MATCH ?1 AND ...": the
  // captions as c and the recordings as r are joined when asked for or when
  // a filter needs them. Parameters ?1 to ?14 are taken.
  std::string from_where(bool captions, bool recordings) const;
  void bind(Statement& s) const;

 private:
  const ParsedQuery& query_;
  std::string expression_;
  bool test_station_ = false;  // some line of the station's channels may be of another station
  bool no_station_ = false;    // the station has no recording: nothing matches
  // Sorted, disjoint stretches of row numbers that hold every line of the
  // programmes a programme or genre filter lets pass (none: not worked out).
  std::optional<std::vector<std::pair<std::int64_t, std::int64_t>>> programme_rows_;
};

// Lines whose words may fall in different caption lines close in time: only
// for two or more groups and a within of a second or more.
bool uses_windows(const ParsedQuery& query);

// A stretch of lines of one recording, from a line that matches a group up
// to the first line by which every group has matched, at most within
// seconds later; windows do not overlap. Caption ids of the first and last.
struct CaptionWindow {
  std::int64_t recording = 0;
  std::int64_t first = 0, last = 0;
  std::int64_t time = 0;   // broadcast seconds of the first line
};

// Newest first.
std::vector<CaptionWindow> find_windows(ArchiveDb& db, const ParsedQuery& query);

// oneseg_in_rows(row, stretches): whether the row number lies in one of the
// stretches bound as a pointer (LineMatch's programme rows).
void register_match_functions(sqlite3* db);


}  // namespace oneseg::archive
