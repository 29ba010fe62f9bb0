#include "insight_pages.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "api_json.h"
#include "html_text.h"
#include "broadcast_clock.h"
#include "pages.h"

namespace oneseg::archive::web {
namespace {

using std::string;

constexpr int chart_width = 720, panel_height = 96, panel_gap = 34;
constexpr std::size_t auto_buckets = 120;  // more than this: a longer bucket
constexpr const char* palette[] = {"#3b6ea8", "#d9822b", "#4a9a5b", "#b8434e", "#7a5aa6", "#8c6d3f", "#2a9d9a", "#777"};
constexpr const char* json_type = "application/json; charset=UTF-8";

string figure(double value, bool whole) {
  char text[32];
  std::snprintf(text, sizeof text, whole ? "%.0f" : "%.2f", value);
  return text;
}

// The search of the query on one station in one bucket, looked at a bucket finer.
string narrowed_link(const SearchRequest& base, const string& query, const string& station, Bucket by,
                     std::int64_t start) {
  SearchRequest narrowed = base;
  narrowed.query.text = query + " " + bucket_filters(by, start);
  narrowed.query.station = station;
  static const char* const finer[] = {"hour", "hour", "day", "day"};
  return query_link(narrowed, 1) + "&by=" + finer[static_cast<int>(by)];
}

double value_of(const TimelineSeries& s, std::size_t b) {
  return s.per_10000.empty() ? static_cast<double>(s.counts[b]) : s.per_10000[b];
}

}  // namespace

string timeline_svg(const Timeline& t, const SearchRequest& base) {
  const bool norm = !t.series.empty() && !t.series.front().per_10000.empty();
  std::map<string, std::size_t> colour;
  double highest = 0;
  std::vector<double> stacked(t.queries.size() * t.starts.size(), 0);
  for (const TimelineSeries& s : t.series) {
    colour.emplace(s.station, colour.size() % std::size(palette));
    for (std::size_t b = 0; b < t.starts.size(); ++b)
      highest = std::max(highest, stacked[s.query * t.starts.size() + b] += value_of(s, b));
  }
  const int height = static_cast<int>(t.queries.size()) * (panel_height + panel_gap) + 20;
  const double step = t.starts.empty() ? 0 : static_cast<double>(chart_width) / static_cast<double>(t.starts.size());
  string svg = "<svg class=\"timeline\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\"" +
               attribute("viewBox", "0 0 " + std::to_string(chart_width) + " " + std::to_string(height)) +
               attribute("data-max", figure(highest, !norm)) + attribute("aria-label", norm ? "1万行あたりの件数" : "件数") + ">";
  std::fill(stacked.begin(), stacked.end(), 0);
  for (std::size_t q = 0; q < t.queries.size(); ++q) {
    const int top = static_cast<int>(q) * (panel_height + panel_gap) + 16;
    svg += "<text x=\"0\" y=\"" + std::to_string(top - 4) + "\" class=\"label\">" + html_escape(t.queries[q]) + "（最大 " +
           figure(highest, !norm) + (norm ? " / 1万行" : " 件") + "）</text>";
    svg += "<line x1=\"0\" x2=\"" + std::to_string(chart_width) + "\" y1=\"" + std::to_string(top + panel_height) +
           "\" y2=\"" + std::to_string(top + panel_height) + "\" class=\"axis\"/>";
    for (const TimelineSeries& s : t.series) {
      if (s.query != q) continue;
      for (std::size_t b = 0; b < t.starts.size(); ++b) {
        const double value = value_of(s, b);
        if (value <= 0) continue;
        double& below = stacked[q * t.starts.size() + b];
        const double h = value / highest * panel_height, y = top + panel_height - below - h;
        below += h;
        const string name = bucket_name(t.by, t.starts[b]);
        char geometry[160];
        std::snprintf(geometry, sizeof geometry, " x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"", step * b, y,
                      std::max(step - 1, 0.5), h);
        svg += "<a" + attribute("href", narrowed_link(base, t.queries[q], s.station, t.by, t.starts[b])) + "><rect class=\"bar\"" +
               geometry + attribute("fill", palette[colour[s.station]]) + attribute("data-bucket", name) +
               attribute("data-station", s.station) + attribute("data-query", std::to_string(q)) +
               attribute("data-value", figure(value, !norm)) + "><title>" +
               html_escape(name + " " + s.station + ": " + figure(value, !norm)) + "</title></rect></a>";
      }
    }
    if (!t.starts.empty()) {
      const string last = std::to_string(top + panel_height + 14);
      svg += "<text x=\"0\" y=\"" + last + "\" class=\"tick\">" + html_escape(bucket_name(t.by, t.starts.front())) +
             "</text><text x=\"" + std::to_string(chart_width) + "\" y=\"" + last + "\" class=\"tick\" text-anchor=\"end\">" +
             html_escape(bucket_name(t.by, t.starts.back())) + "</text>";
    }
  }
  svg += "</svg>";
  string legend = "<p class=\"legend\">";
  for (const auto& [station, c] : colour)
    legend += "<span><i" + attribute("style", string("background:") + palette[c]) + "></i>" + html_escape(station) + "</span>";
  return "<figure class=\"chart\">" + svg + legend + "</p></figure>\n";
}

string facets_html(const Facets& f, const SearchRequest& request) {
  const auto group = [&](const char* title, const std::vector<FacetCount>& values, auto narrow) {
    if (values.empty()) return string();
    string out = "<div class=\"facet\"><h3>" + string(title) + "</h3><ul class=\"plain\">";
    for (const FacetCount& v : values) {
      SearchRequest narrowed = request;
      narrow(narrowed.query, v.value);
      out += "<li><a" + attribute("href", query_link(narrowed, 1)) + ">" + html_escape(v.value) + "</a> <span class=\"muted\">" +
             std::to_string(v.count) + "</span></li>";
    }
    return out + "</ul></div>";
  };
  string out = "<aside class=\"facets\">";
  out += group("放送局", f.stations, [](SearchQuery& q, const string& v) { q.station = v; });
  out += group("番組", f.programmes, [](SearchQuery& q, const string& v) {
    string title = v;  // a quote would end the filter's value early
    title.erase(std::remove(title.begin(), title.end(), '"'), title.end());
    q.text += " programme:\"" + title + "\"";
  });
  out += group("日", f.days, [](SearchQuery& q, const string& v) { q.from = q.to = v; });
  if (!f.complete) out += "<p class=\"muted\">新しい " + std::to_string(f.counted) + " 件から数えました。</p>";
  return out + "</aside>\n";
}

string insight_html(ArchiveDb& db, const SearchRequest& request, const Parameters& parameters) {
  const auto asked = parse_bucket(parameters("by"));
  const bool norm = parameters("norm") == "1";
  const Facets counted = facets(db, request.query);
  // A word with more hits than are counted is drawn from the day of the
  // oldest counted hit on (exact there, and said so), so that the page stays
  // quick; the timeline command and API count all.
  SearchQuery drawn = request.query;
  if (!counted.complete) drawn.from = std::max(drawn.from.value_or(""), counted.oldest_day);
  string chart;
  try {
    Timeline t = timeline(db, {drawn}, asked.value_or(Bucket::day), norm);
    for (const Bucket longer : {Bucket::week, Bucket::month})
      if (!asked && t.starts.size() > auto_buckets) t = timeline(db, {drawn}, longer, norm);
    chart = timeline_svg(t, request);
    if (!counted.complete) chart += "<p class=\"muted\">" + html_escape(*drawn.from) + " からの件数です。</p>";
  } catch (const QueryError& e) {
    chart = "<p class=\"muted\">" + html_escape(e.what()) + "</p>";
  }
  return "<section class=\"insight\">" + chart + facets_html(counted, request) + "</section>\n";
}

namespace {

string trends_html(const DayTrends& trends, const string& day) {
  const string date = format_broadcast_time(trends.day).substr(0, 10);
  string out = "<h1 style=\"font-size:1.2em\">" + date + " のことば</h1>\n<nav class=\"neighbours\">";
  for (const auto& [label, d] : {std::pair{"← 前の日", trends.day - seconds_per_day}, std::pair{"次の日 →", trends.day + seconds_per_day}}) {
    const string t = format_broadcast_time(d);
    out += "<a" + attribute("href", "/trends?day=" + t.substr(2, 2) + t.substr(5, 2) + t.substr(8, 2)) + ">" + label + "</a> ";
  }
  out += "</nav>\n<p class=\"muted\">その日に、前の 28 日より目立って多く言われた名詞（対数尤度比、その日 " +
         std::to_string(trend_min_count) + " 回以上）。</p>\n<div class=\"trends\">";
  for (const StationTrends& s : trends.stations) {
    out += "<section class=\"trend\"><h2 style=\"font-size:1.05em\">";
    out += s.station.empty() ? string("全局") : "<a" + attribute("href", "/trends?day=" + day + "&station=" + url_encode(s.station)) +
                                               ">" + html_escape(s.station) + "</a>";
    out += "</h2><ol>";
    for (const TrendWord& w : s.words) {
      SearchRequest search;
      search.query.text = "\"" + w.word + "\"";
      search.query.station = s.station;
      search.query.from = search.query.to = date;
      out += "<li><a" + attribute("href", query_link(search, 1)) + ">" + html_escape(w.word) + "</a> <span class=\"muted\">" +
             std::to_string(w.count) + "（前の 28 日 " + std::to_string(w.background) + "）</span></li>";
    }
    if (s.words.empty()) out += "<li class=\"muted\">ありません</li>";
    out += "</ol></section>";
  }
  return out + "</div>\n";
}

}  // namespace

Reply trends_reply(ArchiveDb& db, const Parameters& parameters) {
  constexpr const char* html_type = "text/html; charset=UTF-8";
  const string day_text = parameters("day"), station = parameters("station");
  if ((!day_text.empty() && !is_day(day_text)) || station.size() > 100)
    return {400, html_type, message_page("表示できません", "day は yymmdd、station は放送局名で指定してください")};
  const auto day = day_text.empty() ? last_caption_day(db) : parse_yymmdd(day_text);
  if (!day) return {200, html_type, message_page("その日のことば", "字幕がまだありません。")};
  try {
    const DayTrends trends = day_trends(db, *day, station);
    const string t = format_broadcast_time(*day);
    return {200, html_type, layout("その日のことば", trends_html(trends, t.substr(2, 2) + t.substr(5, 2) + t.substr(8, 2)), "")};
  } catch (const DbError&) {
    throw;
  } catch (const std::runtime_error& e) {
    return {503, html_type, message_page("その日のことばを数えられません", e.what())};
  }
}

Reply timeline_api_reply(ArchiveDb& db, const Parameters& parameters, const std::vector<std::string>& queries) {
  const auto refused = [](const string& message) { return Reply{400, json_type, error_json(message)}; };
  auto parsed = search_request(parameters);
  if (auto* message = std::get_if<string>(&parsed)) return refused(*message);
  const SearchQuery shared = std::get<SearchRequest>(parsed).query;
  const string by_text = parameters("by");
  const auto by = by_text.empty() ? std::optional(Bucket::day) : parse_bucket(by_text);
  if (!by) return refused("by は hour, day, week, month のどれかです");
  if (queries.empty()) return refused("検索語がありません");
  std::vector<SearchQuery> each;
  for (const string& text : queries) {
    if (text.size() > longest_query) return refused("検索語が長すぎます（" + std::to_string(longest_query) + " バイトまで）");
    each.push_back(shared);
    each.back().text = text;
  }
  try {
    return {200, json_type, timeline_json(timeline(db, each, *by, parameters("norm") == "1"))};
  } catch (const QueryError& e) {
    return refused(e.what());
  }
}

}  // namespace oneseg::archive::web
