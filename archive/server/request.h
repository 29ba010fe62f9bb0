#pragma once
// What a request asks for, decided from its path and parameters alone: the
// network layer only carries out these decisions. Every name a route
// captures is checked against the recording name patterns here, so no file
// path is ever made from request text that has not passed.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "search.h"

namespace oneseg::archive::web {

enum class Page {
  search,        // "/" and "/search"
  browse,        // "/browse"
  recording,     // "/recording/<day>/<name>"
  clip,          // "/clip/<day>/<name>.mp4"
  thumbnail,     // "/thumbnail/<day>/<name>.jpg"
  file,          // "/files/<day>/<name>.<ext>", "/files/<day>/<name>thm/<n>.jpg"
  asset,         // "/static/<file>"
  api_search,
  api_recordings,
  api_stats,
  api_timeline,  // "/api/timeline"
  trends,        // "/trends"
  live,              // "/live"
  live_station,      // "/live/<channel>"
  live_stream,       // "/live/<channel>/stream.mp4"
  api_live_captions, // "/api/live/<channel>/captions"
  programme,         // "/programme/<channel>/<yymmddhhmm>"
  programmes,        // "/programmes"
  alerts,            // "/alerts"
  watches,           // "/watches"
  api_alerts,        // "/api/alerts"
  api_watches,       // "/api/watches" (POST: save one)
  feed,              // "/feed.atom", "/feed/<watch>.atom"
  watch_change,      // POST "/api/watches/<id>/rename", "/api/watches/<id>/delete"
  captions,      // "/captions/<day>/<name>.vtt"
  export_clip,   // "/export/<day>/<name>.mp4"
  clips,         // "/clips"
  api_clips,     // "/api/clips"; POST "/api/clips" and "/api/clips/<id>/delete"
};

struct Route {
  Page page = Page::search;
  std::string day;    // "261207"
  std::string name;   // "261207180_Ch27"
  std::string file;   // file: path relative to the root; asset: its name
  int channel = 0;    // live and programme pages
  std::string root{}; // the recording's root, "" for the first ("/files/<root>/<day>/...")
};

// nullopt: no such page (404).
std::optional<Route> route(std::string_view path);

bool is_day(std::string_view text);             // yymmdd
bool is_recording_name(std::string_view text);  // yymmddhhm_Ch<channel>
bool is_minute(std::string_view text);          // yymmddhhmm

// A request's parameters; an absent parameter reads as "".
using Parameters = std::function<std::string(const char* name)>;

inline constexpr int hits_per_page = 20;
inline constexpr std::size_t longest_query = 200;  // bytes

struct SearchRequest {
  SearchQuery query;   // text empty: no search, only the form
  int page = 1;
};

// The search parameters q, station, channel, from, to, within, page; a message for the
// user when one is not acceptable.
std::variant<SearchRequest, std::string> search_request(const Parameters& parameters);

// The "t" parameter of a clip or thumbnail: whole seconds into the recording,
// 0 to 86400.
std::optional<int> moment_parameter(const std::string& text);

}  // namespace oneseg::archive::web
