#include "viewer_replies.h"

#include <nlohmann/json.hpp>

#include "api_json.h"
#include "html_text.h"
#include "pages.h"
#include "saved_clips.h"

namespace oneseg::archive::web {
namespace {

constexpr const char* json_type = "application/json; charset=UTF-8";
constexpr const char* html_type = "text/html; charset=UTF-8";

std::string clock_of(int seconds) {
  return std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") + std::to_string(seconds % 60);
}

// Where the clip's recording is in links: "<day>" or "<root>/<day>".
std::string place(const SavedClip& c) { return c.root.empty() ? c.day : url_encode(c.root) + "/" + c.day; }

std::string range_query(const SavedClip& c) {
  return "?from=" + std::to_string(c.range.from_s) + "&to=" + std::to_string(c.range.to_s);
}

std::string share_url(const SavedClip& c) {
  return "/recording/" + place(c) + "/" + c.name + "?t=" + std::to_string(c.range.from_s) + "&end=" +
         std::to_string(c.range.to_s);
}

std::string export_url(const SavedClip& c) {
  return "/export/" + place(c) + "/" + c.name + ".mp4" + range_query(c) + "&clip=" + std::to_string(c.id);
}

std::string clip_row(const SavedClip& c) {
  const std::string lost = c.recording_kept ? "" : c.kept_file.empty() ? " lost" : " kept";
  std::string out = "<li class=\"saved" + lost + "\" data-id=\"" + std::to_string(c.id) + "\">";
  out += c.recording_kept ? "<img loading=\"lazy\" alt=\"\" src=\"" + thumbnail_url(place(c), c.name, c.range.from_s) + "\">"
                          : "<span class=\"gone\"></span>";
  out += "<div><b class=\"title\">" + html_escape(c.title.empty() ? "（無題）" : c.title) + "</b> <span class=\"muted\">" +
         html_escape(c.station) + " " + html_escape(c.start) + "（" + clock_of(c.range.to_s - c.range.from_s) +
         "）</span>";
  if (!c.note.empty()) out += "<p class=\"note\">" + html_escape(c.note) + "</p>";
  out += "<div class=\"actions\">";
  if (c.recording_kept) {
    out += "<a class=\"button\" href=\"" + html_escape(share_url(c)) + "\">再生</a><a class=\"button\" href=\"" +
           html_escape(export_url(c)) + "\">ダウンロード</a>";
  } else if (!c.kept_file.empty()) {
    out += "<span class=\"muted\">録画は削除されました。書き出したファイルを残しています：</span><a class=\"button\" href=\"" +
           html_escape(export_url(c)) + "\">ダウンロード</a>";
  } else {
    out += "<span class=\"error\">録画は削除されました（書き出していないため再生できません）</span>";
  }
  return out + "<button type=\"button\" class=\"remove\">削除</button></div></div></li>\n";
}

}  // namespace

std::vector<TimedLine> clip_lines(ArchiveDb& db, const std::string& name, const std::string& root, bool with_next) {
  std::vector<TimedLine> lines;
  const auto detail = recording_detail(db, name, root);
  const auto start = detail ? seconds_of(detail->summary.start) : std::nullopt;
  if (!start) return lines;
  auto add = [&](const RecordingDetail& d) {
    for (const auto& line : d.captions) {
      if (const auto at = seconds_of(line.time)) lines.push_back({static_cast<double>(*at - *start), line.text});
    }
  };
  add(*detail);
  if (with_next) {
    const auto next = next_recording(db, name, root);
    if (const auto next_detail = next ? recording_detail(db, next->name, root) : std::nullopt) add(*next_detail);
  }
  return lines;
}

int covered_seconds(const RecordingSummary& recording) {
  const auto start = seconds_of(recording.start), end = seconds_of(recording.end);
  if (!start || !end || *end < *start) return 0;
  return static_cast<int>(*end - *start);
}

Reply clips_page_reply(ArchiveDb& db) {
  const auto clips = saved_clips(db);
  std::string body = "<h1 style=\"font-size:1.3em\">保存したクリップ</h1>\n";
  if (clips.empty()) body += "<p>保存したクリップはありません。録画の画面で範囲を決めて「保存」を押すと、ここに残ります。</p>\n";
  body += "<ul class=\"plain clips\">";
  for (const auto& c : clips) body += clip_row(c);
  body += "</ul>\n";
  return {200, html_type, layout("保存したクリップ", body)};
}

Reply clips_api_reply(ArchiveDb& db) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& c : saved_clips(db)) {
    list.push_back({{"id", c.id}, {"root", c.root}, {"day", c.day}, {"name", c.name}, {"from", c.range.from_s}, {"to", c.range.to_s},
                    {"title", c.title}, {"note", c.note}, {"station", c.station}, {"start", c.start},
                    {"recording", c.recording_kept}, {"kept", !c.kept_file.empty()}, {"page", share_url(c)},
                    {"export", export_url(c)}});
  }
  return {200, json_type, nlohmann::json{{"clips", list}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}

Reply save_clip_reply(ArchiveDb& db, const Parameters& parameters) {
  const auto saved = save_clip(db, parameters);
  if (const auto* message = std::get_if<std::string>(&saved)) return {400, json_type, error_json(*message)};
  return {201, json_type, nlohmann::json{{"id", std::get<std::int64_t>(saved)}}.dump()};
}

Reply remove_clip_reply(ArchiveDb& db, const std::string& path) {
  // "/api/clips/<id>/delete"
  constexpr std::string_view prefix = "/api/clips/", suffix = "/delete";
  if (!path.starts_with(prefix) || !path.ends_with(suffix) || path.size() <= prefix.size() + suffix.size())
    return not_found_reply(true);
  const auto id = moment_parameter(path.substr(prefix.size(), path.size() - prefix.size() - suffix.size()));
  if (!id || !remove_saved_clip(db, *id)) return not_found_reply(true);
  return {200, json_type, "{\"removed\": " + std::to_string(*id) + "}"};
}

}  // namespace oneseg::archive::web
