#include "request.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "alert_pages.h"
#include "roots.h"

namespace oneseg::archive::web {
namespace {

bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<int> whole_number(std::string_view text, int lowest, int highest) {
  int value = 0;
  if (!all_digits(text) || text.size() > 9) return std::nullopt;
  std::from_chars(text.data(), text.data() + text.size(), value);
  if (value < lowest || value > highest) return std::nullopt;
  return value;
}

// "yyyy-mm-dd" with a possible month and day.
bool is_date(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  const auto month = whole_number(text.substr(5, 2), 1, 12);
  return all_digits(text.substr(0, 4)) && month && whole_number(text.substr(8, 2), 1, 31);
}

// Splits "a/b/c" after a prefix; empty segments are not allowed.
std::optional<std::vector<std::string_view>> segments_after(std::string_view path, std::string_view prefix) {
  if (!path.starts_with(prefix)) return std::nullopt;
  path.remove_prefix(prefix.size());
  std::vector<std::string_view> parts;
  while (true) {
    const auto slash = path.find('/');
    const auto part = path.substr(0, slash);
    if (part.empty()) return std::nullopt;
    parts.push_back(part);
    if (slash == std::string_view::npos) return parts;
    path.remove_prefix(slash + 1);
  }
}

// "<name><suffix>" with a name of the day.
std::optional<std::string> name_with_suffix(std::string_view day, std::string_view text, std::string_view suffix) {
  if (!text.ends_with(suffix)) return std::nullopt;
  text.remove_suffix(suffix.size());
  if (!is_recording_name(text) || !text.starts_with(day)) return std::nullopt;
  return std::string(text);
}

std::optional<Route> recording_route(Page page, std::string_view path, std::string_view prefix,
                                     std::string_view suffix) {
  const auto parts = segments_after(path, prefix);
  if (!parts || parts->size() != 2 || !is_day((*parts)[0])) return std::nullopt;
  const auto name = name_with_suffix((*parts)[0], (*parts)[1], suffix);
  if (!name) return std::nullopt;
  return Route{page, std::string((*parts)[0]), *name, {}};
}

std::optional<Route> file_route(std::string_view path) {
  const auto parts = segments_after(path, "/files/");
  if (!parts || parts->size() < 2 || parts->size() > 3 || !is_day((*parts)[0])) return std::nullopt;
  const std::string_view day = (*parts)[0];
  std::optional<std::string> name;
  if (parts->size() == 2) {
    for (const char* ext : {".ts", ".idx", ".sub", ".eit", ".html"}) {
      if ((name = name_with_suffix(day, (*parts)[1], ext))) break;
    }
  } else {
    // The page builder's thumbnails: "<name>thm/<seconds>.jpg" (or .png).
    const std::string_view picture = (*parts)[2];
    const auto dot = picture.rfind('.');
    const bool picture_ok = dot != std::string_view::npos && all_digits(picture.substr(0, dot)) &&
                            (picture.substr(dot) == ".jpg" || picture.substr(dot) == ".png");
    if (picture_ok) name = name_with_suffix(day, (*parts)[1], "thm");
  }
  if (!name) return std::nullopt;
  return Route{Page::file, std::string(day), *name, std::string(path.substr(7))};
}

// "<prefix><channel><suffix>", and for a programme "/<yymmddhhmm>" after the channel.
std::optional<Route> channel_route(Page page, std::string_view path, std::string_view prefix, std::string_view suffix) {
  if (!path.starts_with(prefix) || !path.ends_with(suffix) || path.size() < prefix.size() + suffix.size()) {
    return std::nullopt;
  }
  path = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
  std::string_view minute;
  if (page == Page::programme) {
    const auto slash = path.find('/');
    if (slash == std::string_view::npos || !is_minute(path.substr(slash + 1))) return std::nullopt;
    minute = path.substr(slash + 1);
    path = path.substr(0, slash);
  }
  const auto channel = whole_number(path, 1, 999);
  if (!channel) return std::nullopt;
  Route found{page, {}, std::string(minute), {}};
  found.channel = *channel;
  return found;
}

}  // namespace

bool is_minute(std::string_view text) {
  return text.size() == 10 && is_day(text.substr(0, 6)) && whole_number(text.substr(6, 2), 0, 23) &&
         whole_number(text.substr(8, 2), 0, 59);
}

bool is_day(std::string_view text) {
  return text.size() == 6 && all_digits(text) && whole_number(text.substr(2, 2), 1, 12) &&
         whole_number(text.substr(4, 2), 1, 31);
}

bool is_recording_name(std::string_view text) {
  if (text.size() < 13 || text.size() > 15 || !is_day(text.substr(0, 6))) return false;
  return all_digits(text.substr(6, 3)) && whole_number(text.substr(6, 2), 0, 23) &&
         text.substr(9, 3) == "_Ch" && whole_number(text.substr(12), 1, 999).has_value();
}

std::optional<Route> route(std::string_view path) {
  if (path == "/" || path == "/search") return Route{Page::search, {}, {}, {}};
  if (path == "/browse") return Route{Page::browse, {}, {}, {}};
  if (path == "/api/search") return Route{Page::api_search, {}, {}, {}};
  if (path == "/api/recordings") return Route{Page::api_recordings, {}, {}, {}};
  if (path == "/api/stats") return Route{Page::api_stats, {}, {}, {}};
  if (path == "/api/timeline") return Route{Page::api_timeline, {}, {}, {}};
  if (path == "/clips") return Route{Page::clips, {}, {}, {}};
  if (path == "/api/clips") return Route{Page::api_clips, {}, {}, {}};
  if (path == "/trends") return Route{Page::trends, {}, {}, {}};
  if (path == "/live") return Route{Page::live, {}, {}, {}};
  if (path == "/programmes") return Route{Page::programmes, {}, {}, {}};
  if (path.starts_with("/live/")) {
    if (auto stream = channel_route(Page::live_stream, path, "/live/", "/stream.mp4")) return stream;
    return channel_route(Page::live_station, path, "/live/", "");
  }
  if (path.starts_with("/api/live/")) return channel_route(Page::api_live_captions, path, "/api/live/", "/captions");
  if (path.starts_with("/programme/")) return channel_route(Page::programme, path, "/programme/", "");
  if (path == "/static/style.css" || path == "/static/app.js" || path == "/static/live.js" ||
      path == "/static/player.js") {
    return Route{Page::asset, {}, {}, std::string(path.substr(8))};
  }
  for (const std::string_view prefix : {"/recording/", "/clip/", "/thumbnail/", "/files/", "/captions/", "/export/"}) {
    if (!path.starts_with(prefix)) continue;
    // A root other than the first stands before the day: "/clip/<root>/<day>/...".
    std::string_view rest = path.substr(prefix.size());
    std::string root;
    if (const auto slash = rest.find('/'); slash != std::string_view::npos && !is_day(rest.substr(0, slash))) {
      root = rest.substr(0, slash);
      if (!is_root_name(root)) return std::nullopt;
      rest.remove_prefix(slash + 1);
    }
    const std::string plain = std::string(prefix) + std::string(rest);
    std::optional<Route> found = prefix == "/recording/" ? recording_route(Page::recording, plain, prefix, "")
                                 : prefix == "/clip/"    ? recording_route(Page::clip, plain, prefix, ".mp4")
                                 : prefix == "/thumbnail/" ? recording_route(Page::thumbnail, plain, prefix, ".jpg")
                                 : prefix == "/captions/"  ? recording_route(Page::captions, plain, prefix, ".vtt")
                                 : prefix == "/export/"    ? recording_route(Page::export_clip, plain, prefix, ".mp4")
                                                           : file_route(plain);
    if (found) found->root = std::move(root);
    return found;
  }
  return alert_route(path);
}

std::variant<SearchRequest, std::string> search_request(const Parameters& parameters) {
  SearchRequest request;
  SearchQuery& query = request.query;
  query.text = parameters("q");
  if (query.text.size() > longest_query) {
    return "検索語が長すぎます（" + std::to_string(longest_query) + " バイトまで）";
  }
  query.station = parameters("station");
  if (query.station.size() > 100) return "放送局名が長すぎます";
  if (const auto channel = parameters("channel"); !channel.empty()) {
    query.channel = whole_number(channel, 1, 999);
    if (!query.channel) return "チャンネルは数字で指定してください";
  }
  for (auto [key, field] : {std::pair{"from", &query.from}, std::pair{"to", &query.to}}) {
    if (const auto date = parameters(key); !date.empty()) {
      if (!is_date(date)) return "日付は yyyy-mm-dd で指定してください";
      *field = date;
    }
  }
  if (const auto within = parameters("within"); !within.empty()) {
    query.within = whole_number(within, 0, longest_within);
    if (!query.within) return "within は 0〜" + std::to_string(longest_within) + " の秒数で指定してください";
  }
  if (const auto page = parameters("page"); !page.empty()) {
    const auto number = whole_number(page, 1, 500);
    if (!number) return "ページ番号が正しくありません";
    request.page = *number;
  }
  query.limit = hits_per_page;
  query.offset = (request.page - 1) * hits_per_page;
  return request;
}

std::optional<int> moment_parameter(const std::string& text) {
  return whole_number(text, 0, 86400);
}

}  // namespace oneseg::archive::web
