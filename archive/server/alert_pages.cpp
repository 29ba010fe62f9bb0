#include "alert_pages.h"

#include <algorithm>
#include <charconv>

#include "alerts.h"
#include "api_json.h"
#include "caption_keys.h"
#include "html_text.h"
#include "pages.h"
#include "search.h"

namespace oneseg::archive::web {
namespace {

constexpr const char* html_type = "text/html; charset=UTF-8";
constexpr const char* json_type = "application/json; charset=UTF-8";
constexpr int alerts_shown = 100;
constexpr int feed_entries = 50;
constexpr std::size_t longest_label = 100;  // bytes

std::optional<std::int64_t> id_of(std::string_view text)
{
  std::int64_t value = 0;
  if (text.empty() || text.size() > 15 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

Reply json_error(int status, const std::string& message) { return {status, json_type, error_json(message)}; }

// The two lines before and after an alert's line in its recording, while the
// index holds them.
std::pair<std::vector<std::string>, std::vector<std::string>> neighbours(ArchiveDb& db, const Alert& a)
{
  const auto time = seconds_of(a.time);
  if (!time) return {};
  const std::int64_t key = first_caption_key(*time);
  std::vector<std::string> before, after;
  Statement s = db.prepare(
      "SELECT c.text, c.id < ?2 FROM recordings AS r JOIN captions AS c ON c.recording = r.id"
      " WHERE r.name = ?1 AND c.id BETWEEN max(r.caption_first, ?2 - 7680) AND min(r.caption_last, ?2 + 7680)"
      " ORDER BY c.id");
  s.bind(1, a.name).bind(2, key);
  std::vector<std::pair<std::string, bool>> lines;
  while (s.step()) lines.emplace_back(s.text(0), s.integer(1) != 0);
  const auto own = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return !l.second && l.first == a.text; });
  if (own == lines.end()) return {};
  for (auto it = own - std::min<std::ptrdiff_t>(2, own - lines.begin()); it != own; ++it) before.push_back(it->first);
  for (auto it = own + 1; it != lines.end() && after.size() < 2; ++it) after.push_back(it->first);
  return {before, after};
}

std::string alert_html(ArchiveDb& db, const Alert& a)
{
  const auto [before, after] = neighbours(db, a);
  std::string out = "<div class=\"hit\"><img loading=\"lazy\" alt=\"\" width=\"160\" height=\"90\"" +
                    attribute("src", thumbnail_url(a.day, a.name, a.offset)) + "><div><div>" +
                    play_link(a.day, a.name, a.offset, a.time + " " + a.station,
                              "<span class=\"when\">" + html_escape(a.time) + "</span>") +
                    " <b>" + html_escape(a.station) + "</b>";
  if (!a.programme.empty()) out += " <span class=\"programme\">" + html_escape(a.programme) + "</span>";
  out += " <a class=\"muted\"" + attribute("href", "/alerts?watch=" + std::to_string(a.watch)) + ">" +
         html_escape(a.watch_name) + "</a></div>";
  for (const auto& line : before) out += "<p class=\"context\">" + html_escape(line) + "</p>";
  out += "<p class=\"line\">" + highlight(a.text, highlight_spans(a.text, a.query)) + "</p>";
  for (const auto& line : after) out += "<p class=\"context\">" + html_escape(line) + "</p>";
  return out + "</div></div>\n";
}

// "2026-12-07 18:00:05" (broadcast time, Japan's) as RFC 3339.
std::string rfc3339(const std::string& time) { return time.substr(0, 10) + "T" + time.substr(11) + "+09:00"; }

std::string xml(std::string_view text) { return html_escape(text); }

}  // namespace

std::optional<Route> alert_route(std::string_view path)
{
  if (path == "/alerts") return Route{Page::alerts, {}, {}, {}};
  if (path == "/watches") return Route{Page::watches, {}, {}, {}};
  if (path == "/api/alerts") return Route{Page::api_alerts, {}, {}, {}};
  if (path == "/api/watches") return Route{Page::api_watches, {}, {}, {}};
  if (path == "/feed.atom") return Route{Page::feed, {}, {}, {}};
  if (path.starts_with("/feed/") && path.ends_with(".atom")) {
    const std::string_view id = path.substr(6, path.size() - 11);
    if (id_of(id)) return Route{Page::feed, {}, std::string(id), {}};
    return std::nullopt;
  }
  if (path.starts_with("/api/watches/")) {
    const std::string_view rest = path.substr(13);
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos || !id_of(rest.substr(0, slash))) return std::nullopt;
    const std::string_view action = rest.substr(slash + 1);
    if (action != "rename" && action != "delete") return std::nullopt;
    return Route{Page::watch_change, {}, std::string(rest.substr(0, slash)), std::string(action)};
  }
  return std::nullopt;
}

Reply alerts_page_reply(ArchiveDb& db, const Parameters& parameters)
{
  std::optional<std::int64_t> watch;
  if (const std::string w = parameters("watch"); !w.empty()) {
    watch = id_of(w);
    if (!watch) return {400, html_type, message_page("通知を表示できません", "watch は保存した検索の番号です")};
  }
  const auto found = watch ? find_watch(db, *watch) : std::nullopt;
  std::string body = "<h1 style=\"font-size:1.3em\">通知" +
                     (found ? "：" + html_escape(found->label.empty() ? found->query : found->label) : std::string()) +
                     "</h1>\n<p class=\"muted\"><a href=\"/watches\">保存した検索</a> · <a" +
                     attribute("href", watch ? "/feed/" + std::to_string(*watch) + ".atom" : "/feed.atom") +
                     ">Atom フィード</a></p>\n<div class=\"layout\"><div class=\"list\">";
  const auto alerts = newest_alerts(db, watch, alerts_shown);
  if (alerts.empty()) body += "<p>通知はまだありません。</p>";
  for (const Alert& a : alerts) body += alert_html(db, a);
  body += "</div>" + player_panel() + "</div>\n";
  return {200, html_type, layout("通知", body)};
}

Reply watches_page_reply(ArchiveDb& db)
{
  std::string body = "<h1 style=\"font-size:1.3em\">保存した検索</h1>\n";
  const auto watches = list_watches(db);
  if (watches.empty()) body += "<p>保存した検索はありません。検索結果の「この検索を保存」で保存できます。</p>\n";
  body += "<table class=\"grid watches\"><tr><th>名前</th><th>検索語</th><th>放送局</th><th>最近の通知</th><th></th></tr>\n";
  for (const Watch& w : watches) {
    const std::string id = std::to_string(w.id);
    std::string last;
    for (const Alert& a : newest_alerts(db, w.id, 3))
      last += "<li>" + play_link(a.day, a.name, a.offset, a.time + " " + a.station, html_escape(minutes_of(a.time))) + " " +
              html_escape(a.station) + " " + highlight(a.text, highlight_spans(a.text, a.query)) + "</li>";
    body += "<tr" + attribute("data-watch", id) + "><td><input type=\"text\" maxlength=\"100\" aria-label=\"名前\"" +
            attribute("value", w.label) + "> <button type=\"button\" data-action=\"rename\">名前を変える</button></td><td><a" +
            attribute("href", "/search?q=" + url_encode(w.query) + (w.station.empty() ? "" : "&station=" + url_encode(w.station))) +
            ">" + html_escape(w.query) + "</a></td><td>" + html_escape(w.station) + "</td><td><ul class=\"plain\">" + last +
            "</ul><a" + attribute("href", "/alerts?watch=" + id) + ">すべての通知</a></td><td><button type=\"button\" data-action=\"delete\">削除</button></td></tr>\n";
  }
  body += "</table>\n<p><a href=\"/alerts\">すべての通知</a> · <a href=\"/feed.atom\">Atom フィード</a></p>\n";
  return {200, html_type, layout("保存した検索", body)};
}

Reply alerts_api_reply(ArchiveDb& db, const Parameters& parameters)
{
  std::optional<std::int64_t> since = 0, watch;
  if (const std::string s = parameters("since"); !s.empty()) since = id_of(s);
  if (const std::string w = parameters("watch"); !w.empty()) {
    watch = id_of(w);
    if (!watch) return json_error(400, "watch は保存した検索の番号です");
  }
  if (!since) return json_error(400, "since は通知の番号です");
  return {200, json_type, alerts_json(alerts_after(db, *since, watch, 1000))};
}

Reply watches_api_reply(ArchiveDb& db) { return {200, json_type, watches_json(list_watches(db))}; }

Reply feed_reply(ArchiveDb& db, const Route& route, const std::string& base, const std::string& token)
{
  const auto watch = route.name.empty() ? std::nullopt : id_of(route.name);
  const auto found = watch ? find_watch(db, *watch) : std::nullopt;
  if (watch && !found) return not_found_reply(false);
  const std::string self = route.name.empty() ? "/feed.atom" : "/feed/" + route.name + ".atom";
  const std::string with_token = token.empty() ? "" : "token=" + url_encode(token);
  const auto alerts = newest_alerts(db, watch, feed_entries);
  std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n";
  out += "<id>tag:oneseg-archive,2026:alerts" + (watch ? "/" + route.name : std::string()) + "</id>\n";
  out += "<title>" + xml("ワンセグ字幕アーカイブの通知" + (found ? "：" + (found->label.empty() ? found->query : found->label) : "")) +
         "</title>\n";
  out += "<updated>" + (alerts.empty() ? std::string("2000-01-01T00:00:00Z") : rfc3339(alerts.front().time)) + "</updated>\n";
  out += "<author><name>oneseg-archive</name></author>\n";
  out += "<link rel=\"self\" href=\"" + xml(base + self + (with_token.empty() ? "" : "?" + with_token)) + "\"/>\n";
  for (const Alert& a : alerts) {
    // Named by what it is about, not by a row number: the same after a
    // database is rebuilt or copied.
    out += "<entry>\n<id>tag:oneseg-archive,2026:alert/" + std::to_string(a.watch) + "/" + a.name + "/" +
           a.time.substr(0, 10) + "T" + a.time.substr(11) + "</id>\n";
    out += "<title>" + xml(a.station + " " + a.time.substr(11, 5) + " " + a.text) + "</title>\n";
    out += "<updated>" + rfc3339(a.time) + "</updated>\n<published>" + rfc3339(a.time) + "</published>\n";
    out += "<link rel=\"alternate\" type=\"text/html\" href=\"" +
           xml(base + alert_path(a) + (with_token.empty() ? "" : "&" + with_token)) + "\"/>\n";
    out += "<category term=\"" + xml(a.watch_name) + "\"/>\n";
    out += "<content type=\"text\">" + xml(a.time + " " + a.station + (a.programme.empty() ? "" : "「" + a.programme + "」") +
                                           "\n" + a.text) + "</content>\n</entry>\n";
  }
  return {200, "application/atom+xml; charset=UTF-8", out + "</feed>\n"};
}

Reply watch_change_reply(ArchiveDb& db, const Route& route, const Parameters& parameters)
{
  const std::string label = parameters("name");
  if (label.size() > longest_label) return json_error(400, "名前が長すぎます");
  if (route.page == Page::api_watches) {
    const std::string query = parameters("q");
    if (query.empty() || query.size() > longest_query) return json_error(400, "検索語がないか、長すぎます");
    try {
      const std::int64_t id = add_watch(db, query, parameters("station"), label);
      return {201, json_type, "{\"id\":" + std::to_string(id) + "}"};
    } catch (const QueryError& error) {
      return json_error(400, error.what());
    }
  }
  const auto id = id_of(route.name);
  const bool done = route.file == "rename" ? rename_watch(db, *id, label) : remove_watch(db, *id);
  if (!done) return not_found_reply(true);
  return {200, json_type, "{\"id\":" + route.name + "}"};
}

}  // namespace oneseg::archive::web
