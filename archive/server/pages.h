#pragma once
// The archive's HTML pages, made from the index's plain structs. Every text
// from the index is escaped here; links carry only checked names.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "html_text.h"
#include "recordings.h"
#include "request.h"
#include "search.h"

namespace oneseg::archive::web {

// Where a recording is in links: "<day>" for the first root's recordings,
// "<root>/<day>" (its name encoded) for another root's.
template <class Recording>
std::string link_place(const Recording& r) {
  return r.first_root ? r.day : url_encode(r.root) + "/" + r.day;
}

// The root of a recording as routes name it: "" for the first root.
template <class Recording>
std::string link_root(const Recording& r) {
  return r.first_root ? std::string() : r.root;
}

// The links of a moment of a recording; day: its link_place.
std::string clip_url(const std::string& day, const std::string& name, int offset);
std::string thumbnail_url(const std::string& day, const std::string& name, int offset);
std::string moment_url(const std::string& day, const std::string& name, int offset);
std::string file_url(const std::string& day, const std::string& name, const std::string& ext);

struct SearchPageModel {
  SearchRequest request;
  std::optional<SearchResult> result;     // absent: the form only
  std::string error;                      // a refused query
  std::vector<std::string> stations;      // for the station field's suggestions
  std::string insight_html;               // the timeline and facets of the hits, above them
};
std::string search_page(const SearchPageModel& model);
// The search page of the request's query at that page of hits.
std::string query_link(const SearchRequest& request, int page);

// A recording's view shows its transcript this many lines a page.
inline constexpr int transcript_lines = 1000;

struct RecordingPageModel {
  RecordingDetail detail;
  std::optional<RecordingSummary> previous, next;
  std::optional<int> moment;              // "t": play from there at once
  std::optional<int> end;                 // "end": and stop there (a shared range)
  int covered_s = 0;                      // what the recording covers (its time packets)
};

// The scene strip's spacing.
inline constexpr int strip_step_s = 5;
std::string recording_page(const RecordingPageModel& model);

// The frame of every page: header, the page's body, the shared script and
// any script of the page's own (a name under /static/).
std::string layout(const std::string& title, const std::string& body, const std::string& page_script = "");
// The player beside a list; links with data-clip play in it (app.js).
std::string player_panel();
// A link that plays a moment in the page's player, or opens it without script.
// `more`: further attributes, each with its leading space.
std::string play_link(const std::string& day, const std::string& name, int offset, const std::string& label,
                      const std::string& text, bool start = false, const std::string& more = "");
// name="value", the value escaped.
std::string attribute(const std::string& name, const std::string& value);
// The recording's health mark, or nothing when it is sound.
std::string health_mark(const std::string& health);
// "2026-12-07 18:00:00" -> "2026-12-07 18:00"
std::string minutes_of(const std::string& date_time);

// A whole page for a refused or failed request.
std::string message_page(const std::string& title, const std::string& message);

// "yyyy-mm-dd hh:mm:ss" -> "hh:mm:ss" (or the text as it is).
std::string time_of_day(const std::string& date_time);

}  // namespace oneseg::archive::web
