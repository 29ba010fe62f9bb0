#include "live_pages.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include <charconv>

#include "api_json.h"
#include "broadcast_clock.h"
#include "html_text.h"
#include "pages.h"

namespace oneseg::archive::web {
namespace {

using std::string;
constexpr const char* html_type = "text/html; charset=UTF-8";
constexpr const char* json_type = "application/json; charset=UTF-8";
constexpr int recent_lines = 20;

string station_title(const RecordingSummary& r) {
  return html_escape(r.station) + "（" + std::to_string(r.channel) + " ch）";
}

string programme_line(const std::optional<Programme>& p) {
  if (!p) return "<p class=\"muted\">番組情報はまだありません。</p>";
  const auto start = seconds_of(p->start);
  string when = time_of_day(p->start).substr(0, 5);
  if (start) when += "–" + time_of_day(format_broadcast_time(*start + p->duration_s)).substr(0, 5);
  return "<p class=\"programme\"><span class=\"muted\">" + html_escape(when) + "</span> <b>" + html_escape(p->title) +
         "</b></p>";
}

string caption_item(const LiveCaption& c) {
  return "<li" + attribute("data-id", std::to_string(c.id)) + "><span class=\"t\">" +
         html_escape(time_of_day(c.time)) + "</span><span>" + html_escape(c.text) + "</span></li>";
}

std::optional<std::int64_t> cursor(const string& text) {
  std::int64_t value = 0;
  if (text.empty() || text.size() > 18) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

}  // namespace

string live_list_page(const std::vector<LiveStation>& stations) {
  string body = "<h1 style=\"font-size:1.3em\">ライブ</h1>\n";
  if (stations.empty()) body += "<p>いま録画中の放送局はありません。</p>\n";
  body += "<ul class=\"plain live-list\">";
  for (const auto& s : stations) {
    body += "<li><a class=\"station\"" + attribute("href", "/live/" + std::to_string(s.recording.channel)) + ">▶ " +
            station_title(s.recording) + "</a>" + programme_line(s.programme);
    if (s.newest) {
      body += "<p class=\"newest\"><span class=\"muted\">" + html_escape(time_of_day(s.newest->time)) + "</span> " +
              html_escape(s.newest->text) + "</p>";
    }
    body += "</li>\n";
  }
  return layout("ライブ", body + "</ul>\n");
}

string live_station_page(const LiveStation& station, const std::vector<LiveCaption>& recent) {
  const RecordingSummary& r = station.recording;
  const std::int64_t last = recent.empty() ? 0 : recent.back().id;
  string body = "<h1 style=\"font-size:1.3em\">" + station_title(r) + " ライブ</h1>\n" + programme_line(station.programme);
  body += "<div class=\"live-view\"" + attribute("data-channel", std::to_string(r.channel)) +
          attribute("data-after", std::to_string(last)) + ">";
  body += "<div class=\"live-picture\"><video controls autoplay muted playsinline" +
          attribute("src", "/live/" + std::to_string(r.channel) + "/stream.mp4") +
          "></video><p class=\"muted now\">放送より数秒遅れて再生しています。</p></div>";
  body += "<ol class=\"transcript plain live-captions\" aria-live=\"polite\">";
  // Newest first, as the page adds them.
  for (auto it = recent.rbegin(); it != recent.rend(); ++it) body += caption_item(*it);
  body += "</ol></div>\n";
  return layout(r.station + " ライブ", body, "live.js");
}

string live_captions_json(int channel, const std::vector<LiveCaption>& captions, std::int64_t last) {
  using nlohmann::json;
  json list = json::array();
  for (const auto& c : captions) {
    list.push_back({{"id", c.id}, {"time", c.time}, {"text", c.text}, {"recording", c.recording}});
    last = c.id;
  }
  return json{{"channel", channel}, {"captions", list}, {"last", last}}.dump(-1, ' ', false,
                                                                            json::error_handler_t::replace);
}

Reply live_reply(ArchiveDb& db, const WrittenAt& written_at, std::chrono::system_clock::time_point now) {
  return {200, html_type, live_list_page(live_stations(db, written_at, now))};
}

Reply live_station_reply(ArchiveDb& db, const Route& route, const WrittenAt& written_at,
                         std::chrono::system_clock::time_point now) {
  for (const auto& station : live_stations(db, written_at, now)) {
    if (station.recording.channel != route.channel) continue;
    return {200, html_type, live_station_page(station, live_captions(db, route.channel, std::nullopt, recent_lines))};
  }
  return {404, html_type, message_page("ライブ", "この放送局はいま録画されていません。")};
}

Reply live_captions_reply(ArchiveDb& db, const Route& route, const Parameters& parameters) {
  if (!newest_recording(db, route.channel)) return not_found_reply(true);
  std::optional<std::int64_t> after;
  if (const auto text = parameters("after"); !text.empty()) {
    after = cursor(text);
    if (!after) return {400, json_type, error_json("after は字幕の id（0 以上の整数）で指定してください")};
  }
  const auto captions = live_captions(db, route.channel, after, after ? live_caption_batch : recent_lines);
  return {200, json_type, live_captions_json(route.channel, captions, after.value_or(0))};
}

WrittenAt written_on_disk(ArchiveDb& db, const std::vector<ArchiveRoot>& roots) {
  return [&db, roots](const RecordingSummary& r) -> std::optional<std::chrono::system_clock::time_point> {
    const auto file = served_file(db, roots, link_root(r), r.path);
    std::error_code error;
    if (!file) return std::nullopt;
    const auto written = std::filesystem::last_write_time(*file, error);
    if (error) return std::nullopt;
    return std::chrono::time_point_cast<std::chrono::system_clock::duration>(std::chrono::file_clock::to_sys(written));
  };
}

std::optional<std::filesystem::path> live_file(ArchiveDb& db, const std::vector<ArchiveRoot>& roots, int channel,
                                               std::chrono::system_clock::time_point now) {
  const auto recording = newest_recording(db, channel);
  if (!recording) return std::nullopt;
  const auto written = written_on_disk(db, roots)(*recording);
  if (!written || now - *written > live_window) return std::nullopt;
  return served_file(db, roots, link_root(*recording), recording->path);
}

std::optional<std::filesystem::path> following_file(ArchiveDb& db, const std::vector<ArchiveRoot>& roots,
                                                    const std::filesystem::path& current) {
  // current was served from its root: the root whose folder holds it.
  for (const ArchiveRoot& root : roots) {
    std::error_code error;
    const auto folder = std::filesystem::canonical(root.path, error);
    if (error || std::mismatch(folder.begin(), folder.end(), current.begin(), current.end()).first != folder.end())
      continue;
    const std::string name = root_named(roots, "") == &root ? "" : root.name;
    const auto next = next_recording(db, current.stem().string(), name);
    return next ? served_file(db, roots, name, next->path) : std::nullopt;
  }
  return std::nullopt;
}

}  // namespace oneseg::archive::web
