#include "programme_pages.h"

#include <algorithm>

#include "broadcast_clock.h"
#include "html_text.h"
#include "pages.h"

namespace oneseg::archive::web {
namespace {

using std::string;
constexpr const char* html_type = "text/html; charset=UTF-8";
constexpr int picture_every_s = 60;

string hh_mm(const string& date_time) { return time_of_day(date_time).substr(0, 5); }

string end_of(const Programme& p) {
  const auto start = seconds_of(p.start);
  return start ? format_broadcast_time(*start + p.duration_s) : p.start;
}

string when(const Programme& p) { return minutes_of(p.start) + "–" + hh_mm(end_of(p)); }

string day_text(const string& day) { return "20" + day.substr(0, 2) + "-" + day.substr(2, 2) + "-" + day.substr(4, 2); }

// The part whose clip comes next when the clip of `part` ends: its own clip
// already ran on into the following part when the broadcast carried on.
string then_attribute(const ProgrammeRun& run, std::size_t part) {
  const std::size_t then = part + (run.parts[part].joins_next ? 2 : 1);
  return then < run.parts.size() ? attribute("data-then", std::to_string(then)) : string();
}

string parts_html(const ProgrammeRun& run) {
  string out = "<ol class=\"plain parts\">";
  for (std::size_t i = 0; i < run.parts.size(); ++i) {
    const auto& part = run.parts[i];
    const auto& r = part.recording.summary;
    out += "<li>" +
           play_link(link_place(r), r.name, part.from_s, run.station + " " + r.name, "▶ " + html_escape(hh_mm(r.start)) + "〜",
                     false, attribute("data-part", std::to_string(i)) + then_attribute(run, i)) +
           " <a" + attribute("href", "/recording/" + link_place(r) + "/" + r.name) + ">" + html_escape(r.name) + "</a>" +
           health_mark(r.health) + " <span class=\"muted\">字幕 " + std::to_string(part.recording.captions.size()) +
           " 行</span></li>";
  }
  return out + "</ol>";
}

// A picture a minute through the programme (the page builder's where it made one).
string pictures_html(const ProgrammeRun& run) {
  string out = "<div class=\"thumbs\">";
  for (std::size_t i = 0; i < run.parts.size(); ++i) {
    const auto& part = run.parts[i];
    const auto& r = part.recording.summary;
    const auto start = seconds_of(r.start);
    for (int at = part.from_s; at < part.to_s; at += picture_every_s) {
      const string moment = start ? hh_mm(format_broadcast_time(*start + at)) : std::to_string(at);
      out += "<figure>" +
             play_link(link_place(r), r.name, at, run.station + " " + moment,
                       "<img loading=\"lazy\" alt=\"\"" + attribute("src", thumbnail_url(link_place(r), r.name, at)) + ">", false,
                       then_attribute(run, i)) +
             "<figcaption>" + html_escape(moment) + "</figcaption></figure>";
    }
  }
  return out + "</div>";
}

string transcript_html(const ProgrammeRun& run) {
  std::size_t lines = 0;
  string items;
  for (std::size_t i = 0; i < run.parts.size(); ++i) {
    const auto& r = run.parts[i].recording.summary;
    for (const auto& line : run.parts[i].recording.captions) {
      ++lines;
      items += "<li>" +
               play_link(link_place(r), r.name, line.offset, line.time + " " + run.station,
                         "<span class=\"t\">" + html_escape(time_of_day(line.time)) + "</span>", false,
                         then_attribute(run, i)) +
               "<span>" + html_escape(line.text) + "</span></li>";
    }
  }
  return "<h2 style=\"font-size:1.05em\">字幕（" + std::to_string(lines) + " 行）</h2><ol class=\"transcript plain\">" +
         items + "</ol>";
}

// Of a station's day, the programmes on the air during the hour `hour`: those
// that begin in it, or the one running at its start (marked as carried on).
string hour_cell(const StationDay& station, std::int64_t hour_start) {
  string out = "<div class=\"cell\">";
  for (const auto& p : station.programmes) {
    const auto begins = seconds_of(p.start);
    if (!begins || *begins >= hour_start + 3600 || *begins + p.duration_s <= hour_start) continue;
    const bool carried = *begins < hour_start;
    out += "<a" + attribute("class", carried ? "prog carried" : "prog") +
           attribute("href", programme_url(station.channel, p)) + attribute("title", when(p) + " " + p.title) + ">" +
           (carried ? string("…") : "<span class=\"muted\">" + html_escape(hh_mm(p.start)) + "</span> ") +
           html_escape(p.title) + "</a>";
  }
  string recordings;
  for (const auto& r : station.recordings) {
    const auto start = seconds_of(r.start);
    const auto slot = minute_seconds(r.name.substr(0, 9) + "0");
    if (!slot || *slot < hour_start || *slot >= hour_start + 3600) continue;
    recordings += "<a" + attribute("class", r.health.empty() ? "rec" : "rec bad") +
                  attribute("href", "/recording/" + link_place(r) + "/" + r.name) +
                  attribute("title", minutes_of(r.start) + " 字幕 " + std::to_string(r.captions) + " 行" +
                                         (r.health.empty() ? "" : " " + r.health)) +
                  ">" + html_escape(start ? time_of_day(r.start).substr(3, 2) : r.name.substr(8, 1) + "0") +
                  "<small>" + std::to_string(r.captions) + "</small></a>";
  }
  if (!recordings.empty()) out += "<div class=\"recs\">" + recordings + "</div>";
  return out + "</div>";
}

string day_navigation(const DayGrid& grid) {
  string out = "<nav class=\"pages days\">";
  if (!grid.previous.empty()) out += "<a" + attribute("href", "/browse?day=" + grid.previous) + ">← " + day_text(grid.previous) + "</a>";
  out += "<form action=\"/browse\" method=\"get\"><input type=\"date\" name=\"date\" aria-label=\"日付\"" +
         attribute("value", day_text(grid.day)) + "><button type=\"submit\">表示</button></form>";
  if (!grid.next.empty()) out += "<a" + attribute("href", "/browse?day=" + grid.next) + ">" + day_text(grid.next) + " →</a>";
  return out + "</nav>\n";
}

Reply refused(const string& message) { return {400, html_type, message_page("表示できません", message)}; }

}  // namespace

string programme_url(int channel, const Programme& programme) {
  const auto start = seconds_of(programme.start);
  return "/programme/" + std::to_string(channel) + "/" + (start ? minute_name(*start) : string());
}

string programme_page(const ProgrammeRun& run) {
  const Programme& p = run.programme;
  string body = "<h1 style=\"font-size:1.3em\">" + html_escape(p.title) + "</h1>\n<p class=\"muted\">" +
                html_escape(run.station) + "（" + std::to_string(run.channel) + " ch） " + html_escape(when(p));
  if (!p.genres.empty()) body += " <span class=\"genre\">" + html_escape(p.genres) + "</span>";
  body += "</p>\n";
  if (!p.description.empty()) body += "<p class=\"description\">" + html_escape(p.description) + "</p>\n";
  body += "<div class=\"layout\"><div class=\"list\">";
  if (run.parts.empty()) body += "<p>この番組の録画はありません。</p>";
  else body += "<h2 style=\"font-size:1.05em\">録画（" + std::to_string(run.parts.size()) + " 本）</h2>" + parts_html(run) + pictures_html(run) + transcript_html(run);
  body += "</div>" + player_panel() + "</div>\n";
  return layout(p.title, body);
}

string programmes_page(const string& query, const std::vector<FoundProgramme>& found) {
  string body = "<h1 style=\"font-size:1.1em\" class=\"muted\">番組を探す</h1>\n"
                "<form class=\"search\" action=\"/programmes\" method=\"get\" role=\"search\"><label>番組名・内容"
                "<input type=\"search\" name=\"q\" maxlength=\"100\"" + attribute("value", query) +
                "></label><button type=\"submit\">検索</button></form>\n";
  if (!query.empty()) {
    body += "<p class=\"summary\">" + std::to_string(found.size()) +
            (found.size() >= static_cast<std::size_t>(programmes_per_page) ? " 件以上" : " 件") + "</p>\n";
    body += "<ul class=\"plain programmes\">";
    for (const auto& f : found) {
      body += "<li><a" + attribute("href", programme_url(f.channel, f.programme)) + "><b>" + html_escape(f.programme.title) +
              "</b></a> <span class=\"muted\">" + html_escape(f.station) + " " + html_escape(when(f.programme)) + " " +
              html_escape(f.programme.genres) + "</span><p>" + html_escape(f.programme.description) + "</p></li>";
    }
    body += "</ul>\n";
  }
  return layout(query.empty() ? "番組を探す" : query + " の番組", body);
}

string day_grid_page(const DayGrid& grid) {
  string body = "<h1 style=\"font-size:1.3em\">録画一覧 " + html_escape(day_text(grid.day)) + "</h1>\n" + day_navigation(grid);
  if (grid.stations.empty()) return layout("録画一覧", body + "<p>この日の録画はありません。</p>\n");
  body += "<div class=\"day-grid\"" + attribute("style", "--stations:" + std::to_string(grid.stations.size())) +
          "><div class=\"corner\"></div>";
  for (const auto& s : grid.stations) {
    body += "<div class=\"station\">" + html_escape(s.station) + "<small>" + std::to_string(s.channel) + " ch</small></div>";
  }
  const auto day_start = minute_seconds(grid.day + "0000").value_or(0);
  for (int hour = 0; hour < 24; ++hour) {
    body += "<div class=\"hour\">" + std::to_string(hour) + "</div>";
    for (const auto& s : grid.stations) body += hour_cell(s, day_start + hour * 3600);
  }
  body += "</div>\n";
  return layout("録画一覧 " + day_text(grid.day), body);
}

Reply programme_reply(ArchiveDb& db, const Route& route) {
  const auto start = minute_seconds(route.name);
  const auto run = start ? programme_run(db, route.channel, *start) : std::nullopt;
  if (!run) return {404, html_type, message_page("見つかりません", "その時刻に始まる番組はありません。")};
  return {200, html_type, programme_page(*run)};
}

Reply programmes_reply(ArchiveDb& db, const Parameters& parameters) {
  const string query = parameters("q");
  if (query.size() > longest_query) return refused("検索語が長すぎます");
  return {200, html_type, programmes_page(query, query.empty() ? std::vector<FoundProgramme>{} : find_programmes(db, query))};
}

Reply browse_reply(ArchiveDb& db, const Parameters& parameters) {
  string day = parameters("day");
  if (const string date = parameters("date"); day.empty() && !date.empty()) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return refused("日付は yyyy-mm-dd で指定してください");
    day = date.substr(2, 2) + date.substr(5, 2) + date.substr(8, 2);
  }
  if (day.empty()) day = newest_day(db).value_or("");
  if (day.empty()) return {200, html_type, layout("録画一覧", "<h1 style=\"font-size:1.3em\">録画一覧</h1><p>録画がありません。</p>\n")};
  if (!is_day(day)) return refused("日付が正しくありません");
  return {200, html_type, day_grid_page(day_grid(db, day))};
}

}  // namespace oneseg::archive::web
