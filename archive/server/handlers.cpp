#include "handlers.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "api_json.h"
#include "insight_pages.h"
#include "pages.h"
#include "programmes.h"
#include "recordings.h"
#include "viewer_replies.h"
#include "web_assets.h"

namespace oneseg::archive::web {
namespace {

constexpr const char* html_type = "text/html; charset=UTF-8";
constexpr const char* json_type = "application/json; charset=UTF-8";

Reply refused(bool json, const std::string& message) {
  if (json) return {400, json_type, error_json(message)};
  return {400, html_type, message_page("検索できません", message)};
}

}  // namespace

std::vector<std::string> recent_stations(ArchiveDb& db) {
  std::vector<std::string> stations;
  const auto days = list_days(db);
  if (days.empty()) return stations;
  for (const auto& r : recordings_of_day(db, days.front())) {
    if (!r.station.empty() && std::find(stations.begin(), stations.end(), r.station) == stations.end()) {
      stations.push_back(r.station);
    }
  }
  return stations;
}

Reply search_reply(ArchiveDb& db, const Parameters& parameters, bool json,
                   const std::vector<std::string>& stations, const KeptAnswer& keep) {
  auto parsed = search_request(parameters);
  if (auto* message = std::get_if<std::string>(&parsed)) return refused(json, *message);
  SearchPageModel model{std::get<SearchRequest>(parsed), {}, {}, {}, {}};
  model.stations = stations;
  if (model.request.query.text.empty()) {
    if (json) return refused(true, "検索語がありません");
    return {200, html_type, search_page(model)};
  }
  try {
    model.result = search(db, model.request.query);
  } catch (const QueryError& error) {
    if (json) return refused(true, error.what());
    model.error = error.what();
    return {400, html_type, search_page(model)};
  }
  if (json) return {200, json_type, search_json(*model.result)};
  if (model.result->total > 0) {
    const std::string key = "insight?" + query_link(model.request, 1) + "&by=" + parameters("by") + "&norm=" + parameters("norm");
    model.insight_html = keep(key, [&] { return Reply{200, html_type, insight_html(db, model.request, parameters)}; }).body;
  }
  return {200, html_type, search_page(model)};
}

Reply recording_reply(ArchiveDb& db, const Route& route, const Parameters& parameters) {
  std::optional<int> moment;
  if (const auto t = parameters("t"); !t.empty()) {
    moment = moment_parameter(t);
    if (!moment) return {400, html_type, message_page("再生できません", "t は 0 以上の秒数で指定してください")};
  }
  // A page of the transcript: the one asked for, else the one with the moment.
  std::int64_t page = 1;
  if (const auto asked = parameters("page"); !asked.empty()) {
    const auto number = moment_parameter(asked);
    if (!number || *number < 1) return {400, html_type, message_page("表示できません", "ページ番号が正しくありません")};
    page = *number;
  } else if (moment) {
    page = lines_before(db, route.name, route.root, *moment) / transcript_lines + 1;
  }
  auto detail = recording_detail(db, route.name, route.root, {(page - 1) * transcript_lines, transcript_lines});
  if (!detail) return not_found_reply(false);
  RecordingPageModel model{std::move(*detail), previous_recording(db, route.name, route.root),
                           next_recording(db, route.name, route.root), moment, {}, 0};
  if (const auto end = parameters("end"); !end.empty()) {
    model.end = moment_parameter(end);
    if (!model.moment || !model.end || *model.end <= *model.moment) {
      return {400, html_type, message_page("再生できません", "end は t より後の秒数で指定してください")};
    }
  }
  model.covered_s = covered_seconds(model.detail.summary);
  return {200, html_type, recording_page(model)};
}

Reply recordings_api_reply(ArchiveDb& db, const Parameters& parameters) {
  const auto day = parameters("day");
  if (day.empty()) return {200, json_type, days_json(list_days(db))};
  if (!is_day(day)) return {400, json_type, error_json("day は yymmdd で指定してください")};
  return {200, json_type, recordings_json(day, recordings_of_day(db, day))};
}

Reply stats_api_reply(ArchiveDb& db) { return {200, json_type, stats_json(archive_stats(db))}; }

Reply asset_reply(const std::string& name) {
  if (name == "style.css") return {200, "text/css; charset=UTF-8", std::string(style_css)};
  if (name == "app.js") return {200, "text/javascript; charset=UTF-8", std::string(app_js)};
  if (name == "live.js") return {200, "text/javascript; charset=UTF-8", std::string(live_js)};
  if (name == "player.js") return {200, "text/javascript; charset=UTF-8", std::string(player_js)};
  return not_found_reply(false);
}

Reply not_found_reply(bool json) {
  if (json) return {404, json_type, error_json("見つかりません")};
  return {404, html_type, message_page("見つかりません", "そのページや録画はありません。")};
}

const ArchiveRoot* root_named(const std::vector<ArchiveRoot>& roots, const std::string& name) {
  // The first root is the one registered first, whatever the order given.
  const auto first = std::min_element(roots.begin(), roots.end(),
                                      [](const ArchiveRoot& a, const ArchiveRoot& b) { return a.id < b.id; });
  if (name.empty()) return first == roots.end() ? nullptr : &*first;
  const auto named = std::find_if(roots.begin(), roots.end(), [&](const ArchiveRoot& r) { return r.name == name; });
  return named == roots.end() ? nullptr : &*named;
}

std::optional<std::filesystem::path> served_file(ArchiveDb& db, const std::vector<ArchiveRoot>& roots,
                                                 const std::string& root, const std::string& relative) {
  namespace fs = std::filesystem;
  const ArchiveRoot* served = root_named(roots, root);
  if (served == nullptr || !is_known_file(db, relative, served->name)) return std::nullopt;
  std::error_code error;
  const fs::path real_root = fs::canonical(served->path, error);
  if (error) return std::nullopt;
  const fs::path file = fs::canonical(real_root / relative, error);
  if (error || !fs::is_regular_file(file, error)) return std::nullopt;
  // A day folder or file may be a symbolic link; only one that stays inside
  // the root is followed.
  const auto [root_end, file_at] = std::mismatch(real_root.begin(), real_root.end(), file.begin(), file.end());
  if (root_end != real_root.end()) return std::nullopt;
  return file;
}

std::optional<ClipSource> clip_source(ArchiveDb& db, const std::vector<ArchiveRoot>& roots, const Route& route) {
  const auto recording = served_file(db, roots, route.root, route.day + "/" + route.name + ".ts");
  if (!recording) return std::nullopt;
  ClipSource source{*recording, {}};
  const auto next = next_recording(db, route.name, route.root);
  const auto detail = next ? recording_detail(db, route.name, route.root, no_lines) : std::nullopt;
  if (next && detail && carries_on(detail->summary, *next)) {
    if (auto next_file = served_file(db, roots, route.root, next->path)) source.next = *next_file;
  }
  return source;
}

std::optional<long long> seconds_of(const std::string& date_time) {
  int y, mo, d, h, mi, s;
  char tail;
  if (date_time.size() != 19 ||
      std::sscanf(date_time.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) {
    return std::nullopt;
  }
  // Days from the civil date (proleptic Gregorian).
  y -= mo <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long year_of_era = y - era * 400;
  const long long day_of_year = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const long long days = era * 146097 + day_of_era - 719468;
  return days * 86400 + h * 3600 + mi * 60 + s;
}

std::string content_type_of(const std::filesystem::path& file) {
  const auto ext = file.extension().string();
  if (ext == ".ts") return "video/mp2t";
  if (ext == ".html") return "text/html";  // the page declares its own EUC-JP
  if (ext == ".sub" || ext == ".eit") return "text/plain; charset=EUC-JP";
  if (ext == ".jpg") return "image/jpeg";
  if (ext == ".png") return "image/png";
  if (ext == ".mp4") return "video/mp4";
  return "application/octet-stream";
}

}  // namespace oneseg::archive::web
