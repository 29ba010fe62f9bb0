#pragma once
// The archive's HTML pages, made from the index's plain structs. Every text
// from the index is escaped here; links carry only checked names.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "recordings.h"
#include "request.h"
#include "search.h"

namespace oneseg::archive::web {

// The links of a moment of a recording.
std::string clip_url(const std::string& day, const std::string& name, int offset);
std::string thumbnail_url(const std::string& day, const std::string& name, int offset);
std::string moment_url(const std::string& day, const std::string& name, int offset);
std::string file_url(const std::string& day, const std::string& name, const std::string& ext);

struct SearchPageModel {
  SearchRequest request;
  std::optional<SearchResult> result;     // absent: the form only
  std::string error;                      // a refused query
  std::vector<std::string> stations;      // for the station field's suggestions
};
std::string search_page(const SearchPageModel& model);

struct RecordingPageModel {
  RecordingDetail detail;
  std::optional<RecordingSummary> previous, next;
  std::optional<int> moment;              // "t": play from there at once
};
std::string recording_page(const RecordingPageModel& model);

struct BrowsePageModel {
  std::vector<std::pair<std::string, std::vector<RecordingSummary>>> days;  // newest first
  int page = 1;
  bool more = false;                      // older days on the next page
};
std::string browse_page(const BrowsePageModel& model);

// A whole page for a refused or failed request.
std::string message_page(const std::string& title, const std::string& message);

// "yyyy-mm-dd hh:mm:ss" -> "hh:mm:ss" (or the text as it is).
std::string time_of_day(const std::string& date_time);

}  // namespace oneseg::archive::web
