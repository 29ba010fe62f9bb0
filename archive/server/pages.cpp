#include "pages.h"

#include <algorithm>
#include <cstdio>

#include "html_text.h"
#include "thumbnails.h"

namespace oneseg::archive::web {
namespace {

using std::string;

}  // namespace

string layout(const string& title, const string& body, const string& page_script) {
  return "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"UTF-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
         html_escape(title) +
         " - ワンセグ字幕アーカイブ</title>\n<link rel=\"stylesheet\" href=\"/static/style.css\">\n</head>\n<body>\n"
         "<header class=\"top\"><a class=\"brand\" href=\"/\">ワンセグ字幕アーカイブ</a>"
         "<a href=\"/\">検索</a><a href=\"/browse\">録画一覧</a><a href=\"/programmes\">番組</a><a href=\"/live\">ライブ</a><a href=\"/trends\">話題のことば</a><a href=\"/alerts\">通知</a><a href=\"/clips\">クリップ</a>"
         "</header>\n<main>\n" + body +
         "</main>\n<script src=\"/static/player.js\"></script><script src=\"/static/app.js\"></script>\n" +
         (page_script.empty() ? "" : "<script" + attribute("src", "/static/" + page_script) + "></script>\n") +
         "</body>\n</html>\n";
}

string player_panel() {
  return "<aside class=\"player\"><video controls playsinline preload=\"none\"></video>"
         "<div class=\"now\">字幕をクリックすると、その場面から再生します。</div>"
         "<div class=\"share\"><input type=\"text\" readonly aria-label=\"この場面へのリンク\" "
         "placeholder=\"この場面へのリンク\"><button type=\"button\">コピー</button></div></aside>\n";
}

string health_mark(const string& health) {
  return health.empty() ? string() : " <span class=\"health\" title=\"録画に欠落や誤りがあります\">" + html_escape(health) + "</span>";
}

// "2026-12-07 18:00:00" -> "2026-12-07 18:00"
string minutes_of(const string& date_time) { return date_time.size() >= 16 ? date_time.substr(0, 16) : date_time; }

string attribute(const string& name, const string& value) { return " " + name + "=\"" + html_escape(value) + "\""; }

// Which recording folder it is in, and whether that can be read now.
template <class Recording>
string root_label(const Recording& r) {
  return " <span class=\"root\">" + html_escape(r.root) + (r.root_available ? "" : "（接続なし）") + "</span>";
}

string play_link(const string& day, const string& name, int offset, const string& label, const string& text,
                 bool start, const string& more) {
  return "<a class=\"play\"" + attribute("href", moment_url(day, name, offset)) +
         attribute("data-clip", clip_url(day, name, offset)) + attribute("data-label", label) +
         (start ? " data-start" : "") + more + ">" + text + "</a>";
}

namespace {

string files_links(const string& day, const string& name, bool has_page) {
  string out = "<span class=\"files\">";
  if (has_page) out += "<a" + attribute("href", file_url(day, name, "html")) + ">番組ページ</a> ";
  out += "<a" + attribute("href", file_url(day, name, "ts")) + ">ts</a> ";
  out += "<a" + attribute("href", file_url(day, name, "sub")) + ">字幕</a></span>";
  return out;
}

}  // namespace

string query_link(const SearchRequest& request, int page) {
  const SearchQuery& q = request.query;
  string link = "/search?q=" + url_encode(q.text);
  if (!q.station.empty()) link += "&station=" + url_encode(q.station);
  if (q.channel) link += "&channel=" + std::to_string(*q.channel);
  if (q.from) link += "&from=" + url_encode(*q.from);
  if (q.to) link += "&to=" + url_encode(*q.to);
  if (q.within) link += "&within=" + std::to_string(*q.within);
  if (page > 1) link += "&page=" + std::to_string(page);
  return link;
}

namespace {

string search_form(const SearchPageModel& model) {
  const SearchQuery& q = model.request.query;
  string form = "<form class=\"search\" action=\"/search\" method=\"get\" role=\"search\">";
  form += "<label>ことば<input type=\"search\" name=\"q\" maxlength=\"100\" autofocus" +
          attribute("value", q.text) + " placeholder=\"例：天気 \"明日の予報\"\"></label>";
  form += "<label>放送局<input type=\"text\" name=\"station\" list=\"stations\" size=\"12\"" +
          attribute("value", q.station) + "></label><datalist id=\"stations\">";
  for (const auto& station : model.stations) form += "<option" + attribute("value", station) + ">";
  form += "</datalist>";
  form += "<label>から<input type=\"date\" name=\"from\"" + attribute("value", q.from.value_or("")) + "></label>";
  form += "<label>まで<input type=\"date\" name=\"to\"" + attribute("value", q.to.value_or("")) + "></label>";
  if (q.channel) form += "<input type=\"hidden\" name=\"channel\"" + attribute("value", std::to_string(*q.channel)) + ">";
  return form + "<button type=\"submit\">検索</button></form>\n";
}

string hit_html(const SearchHit& hit, const string& query_text) {
  const string label = hit.time + " " + hit.station;
  string out = "<div class=\"hit\"><img loading=\"lazy\" alt=\"\" width=\"160\" height=\"90\"" +
               attribute("src", thumbnail_url(link_place(hit), hit.name, hit.offset)) + "><div>";
  out += "<div>" + play_link(link_place(hit), hit.name, hit.offset, label, "<span class=\"when\">" + html_escape(time_of_day(hit.time)) + "</span>");
  if (!hit.programme.empty()) out += " <span class=\"programme\">" + html_escape(hit.programme) + "</span>";
  out += "</div>";
  for (const auto& line : hit.before) out += "<p class=\"context\">" + html_escape(line) + "</p>";
  out += "<p class=\"line\">" + highlight(hit.text, highlight_spans(hit.text, query_text)) + "</p>";
  // A window of lines close in time: each of its lines marked as the hit's own.
  for (const auto& line : hit.window) out += "<p class=\"line window\">" + highlight(line, highlight_spans(line, query_text)) + "</p>";
  for (const auto& line : hit.after) out += "<p class=\"context\">" + html_escape(line) + "</p>";
  return out + "</div></div>\n";
}

// Hits come newest first; consecutive hits of one recording share its box.
string results_html(const SearchPageModel& model) {
  const SearchResult& result = *model.result;
  const auto& request = model.request;
  char took[32];
  std::snprintf(took, sizeof took, "%.1f", result.took_ms);
  // Saved as it was asked: new lines it finds become alerts (/alerts).
  string out = "<p class=\"summary\">" + std::to_string(result.total) + " 件（" + took + " ミリ秒） " +
               "<button type=\"button\" class=\"save-search\"" + attribute("data-q", request.query.text) +
               attribute("data-station", request.query.station) + ">この検索を保存</button></p>\n";
  if (result.hits.empty()) out += "<p>見つかりませんでした。</p>\n";
  string open;
  for (const auto& hit : result.hits) {
    if (hit.recording != open) {
      if (!open.empty()) out += "</section>\n";
      open = hit.recording;
      out += "<section class=\"recording\"><h3><a" + attribute("href", "/recording/" + link_place(hit) + "/" + hit.name) + ">" +
             html_escape(hit.time.substr(0, 10)) + " " + html_escape(hit.station) + "（" + std::to_string(hit.channel) +
             " ch）</a>" + root_label(hit) + "<span class=\"muted\">" + html_escape(hit.name) + "</span>" +
             health_mark(hit.health) +
             files_links(link_place(hit), hit.name, false) + "</h3>\n";
    }
    out += hit_html(hit, request.query.text);
  }
  if (!open.empty()) out += "</section>\n";
  const std::int64_t pages = (result.total + hits_per_page - 1) / hits_per_page;
  if (pages > 1) {
    out += "<nav class=\"pages\">";
    if (request.page > 1) out += "<a" + attribute("href", query_link(request, request.page - 1)) + ">前へ</a>";
    const std::int64_t last = std::min<std::int64_t>(pages, 500);
    for (std::int64_t p = std::max(1, request.page - 4); p <= std::min<std::int64_t>(last, request.page + 4); ++p) {
      out += p == request.page ? "<span class=\"current\">" + std::to_string(p) + "</span>"
                               : "<a" + attribute("href", query_link(request, static_cast<int>(p))) + ">" + std::to_string(p) + "</a>";
    }
    if (request.page < last) out += "<a" + attribute("href", query_link(request, request.page + 1)) + ">次へ</a>";
    out += "</nav>\n";
  }
  return out;
}

string programmes_html(const std::vector<Programme>& programmes) {
  string out = "<ul class=\"plain\">";
  for (const auto& p : programmes) {
    out += "<li><span class=\"muted\">" + html_escape(time_of_day(p.start).substr(0, 5)) + "</span> <b>" +
           html_escape(p.title) + "</b> <span class=\"muted\">" + html_escape(p.description) + "</span></li>";
  }
  return out + "</ul>";
}

string health_html(const RecordingDetail& detail) {
  const HealthFigures& h = detail.health;
  if (!h.measured) return "<p class=\"muted\">録画の状態は測られていません。</p>";
  auto row = [](const string& what, const string& value) {
    return "<tr><td>" + what + "</td><td>" + html_escape(value) + "</td></tr>";
  };
  return "<table class=\"grid figures\">" + row("パケット", std::to_string(h.packets)) +
         row("連続性エラー", std::to_string(h.continuity_errors)) + row("伝送エラー", std::to_string(h.transport_errors)) +
         row("同期の乱れ", std::to_string(h.sync_losses)) + row("最初の時刻", h.first_time) + row("最後の時刻", h.last_time) +
         row("時刻の最長の途切れ", std::to_string(h.longest_gap_s) + " 秒") +
         (h.clock_disagrees ? row("録画名の時刻", "放送の時刻と食い違っています（字幕の時刻と位置は放送の時刻によります）") : "") +
         "</table>";
}

// The scene strip: a picture every strip_step_s seconds of what the recording
// covers, the page builder's where it made one near, else one made on demand.
string strip_html(const RecordingDetail& detail, int covered_s) {
  const auto& s = detail.summary;
  string out = "<div class=\"strip\" aria-label=\"場面\">";
  for (int at = 0; at <= covered_s; at += strip_step_s) {
    const auto own = page_builder_picture(detail.files.thumbnails, at, strip_step_s);
    const string url = own ? "/files/" + link_place(s) + "/" + s.name + "thm/" + *own : thumbnail_url(link_place(s), s.name, at);
    const string when = std::to_string(at / 60) + ":" + (at % 60 < 10 ? "0" : "") + std::to_string(at % 60);
    out += "<button type=\"button\"" + attribute("data-t", std::to_string(at)) + attribute("title", when) +
           "><img loading=\"lazy\" alt=\"\" width=\"96\" height=\"54\"" + attribute("src", url) + "><span>" + when +
           "</span></button>";
  }
  return out + "</div>";
}

string neighbour_link(const std::optional<RecordingSummary>& recording, const string& label) {
  if (!recording) return "<span class=\"muted\">" + label + "</span>";
  return "<a" + attribute("href", "/recording/" + link_place(*recording) + "/" + recording->name) + ">" + label + " " +
         html_escape(minutes_of(recording->start)) + "</a>";
}

}  // namespace

string time_of_day(const string& date_time) {
  return date_time.size() == 19 ? date_time.substr(11) : date_time;
}

string clip_url(const string& day, const string& name, int offset) {
  return "/clip/" + day + "/" + name + ".mp4?t=" + std::to_string(offset);
}
string thumbnail_url(const string& day, const string& name, int offset) {
  return "/thumbnail/" + day + "/" + name + ".jpg?t=" + std::to_string(offset);
}
string moment_url(const string& day, const string& name, int offset) {
  return "/recording/" + day + "/" + name + "?t=" + std::to_string(offset);
}
string file_url(const string& day, const string& name, const string& ext) {
  return "/files/" + day + "/" + name + "." + ext;
}

string search_page(const SearchPageModel& model) {
  string body = "<h1 class=\"muted\" style=\"font-size:1.1em\">字幕を検索</h1>\n" + search_form(model);
  if (!model.error.empty()) body += "<p class=\"error\">" + html_escape(model.error) + "</p>\n";
  body += "<div class=\"layout\"><div class=\"list\">";
  if (model.result) body += model.insight_html + results_html(model);
  body += "</div>" + player_panel() + "</div>\n";
  const string title = model.request.query.text.empty() ? "検索" : model.request.query.text + " の検索結果";
  return layout(title, body);
}

namespace {

// Links to the transcript's neighbouring pages, when it has more than one.
string transcript_pages(const RecordingPageModel& model) {
  const RecordingDetail& d = model.detail;
  const std::int64_t total = std::max<std::int64_t>(d.summary.captions, d.first_line + static_cast<std::int64_t>(d.captions.size()));
  if (d.first_line == 0 && total <= transcript_lines) return {};
  const std::int64_t page = d.first_line / transcript_lines + 1;
  const string base = "/recording/" + d.summary.day + "/" + d.summary.name + "?page=";
  string nav = "<p class=\"neighbours\">";
  if (page > 1) nav += "<a href=\"" + base + std::to_string(page - 1) + "\">← 前の " + std::to_string(transcript_lines) + " 行</a> ";
  nav += "<span class=\"muted\">" + std::to_string(d.first_line + 1) + "–" +
         std::to_string(d.first_line + static_cast<std::int64_t>(d.captions.size())) + " 行目 / " + std::to_string(total) + " 行</span>";
  if (d.first_line + transcript_lines < total) {
    nav += " <a href=\"" + base + std::to_string(page + 1) + "\">次の " + std::to_string(transcript_lines) + " 行 →</a>";
  }
  return nav + "</p>";
}

}  // namespace

string recording_page(const RecordingPageModel& model) {
  const RecordingDetail& d = model.detail;
  const RecordingSummary& s = d.summary;
  string body = "<h1 style=\"font-size:1.3em\">" + html_escape(s.station) + "（" + std::to_string(s.channel) + " ch）" +
                html_escape(minutes_of(s.start)) + " – " + html_escape(time_of_day(s.end)) + health_mark(s.health) +
                root_label(s) + "</h1>\n";
  body += "<div class=\"neighbours\">" + neighbour_link(model.previous, "← 前の録画") +
          files_links(link_place(s), s.name, d.files.html) + neighbour_link(model.next, "次の録画 →") + "</div>\n";
  body += "<div class=\"layout\" data-recording" + attribute("data-place", link_place(s)) + attribute("data-name", s.name) +
          attribute("data-length", std::to_string(model.covered_s)) + "><div class=\"list\">";
  if (model.moment) {
    const string shared = model.end ? "共有された範囲（" + std::to_string(*model.moment) + "〜" + std::to_string(*model.end) + " 秒）を再生"
                                    : "共有された場面（" + std::to_string(*model.moment) + " 秒）から再生";
    body += "<p>" + play_link(link_place(s), s.name, *model.moment, s.station + " " + std::to_string(*model.moment) + " 秒から",
                              shared, true, model.end ? attribute("data-end", std::to_string(*model.end)) : "") + "</p>";
  }
  body += "<h2 style=\"font-size:1.05em\">番組</h2>" + programmes_html(s.programmes);
  body += strip_html(d, model.covered_s);
  body += "<h2 style=\"font-size:1.05em\">字幕（" + std::to_string(s.captions) + " 行）</h2>" + transcript_pages(model);
  body += "<ol class=\"transcript plain\" start=\"" + std::to_string(d.first_line + 1) + "\">";
  for (const auto& line : d.captions) {
    body += "<li>" + play_link(link_place(s), s.name, line.offset, line.time + " " + s.station,
                               "<span class=\"t\">" + html_escape(time_of_day(line.time)) + "</span>") +
            "<span>" + html_escape(line.text) + "</span></li>";
  }
  body += "</ol>" + transcript_pages(model) + "<h2 style=\"font-size:1.05em\">録画の状態</h2>" + health_html(d);
  body += "</div>" + player_panel() + "</div>\n";
  return layout(s.station + " " + minutes_of(s.start), body);
}

string message_page(const string& title, const string& message) {
  return layout(title, "<h1 style=\"font-size:1.2em\">" + html_escape(title) + "</h1><p class=\"error\">" +
                           html_escape(message) + "</p><p><a href=\"/\">検索へ戻る</a></p>\n");
}

}  // namespace oneseg::archive::web
