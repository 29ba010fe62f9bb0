#include "api_json.h"

#include <nlohmann/json.hpp>

#include "pages.h"

namespace oneseg::archive::web {

using nlohmann::json;

std::string search_json(const SearchResult& result) {
  // The archive's own JSON, so the API and the command line never drift apart.
  json document = json::parse(to_json(result));
  auto& hits = document["hits"];
  for (std::size_t i = 0; i < hits.size() && i < result.hits.size(); ++i) {
    const SearchHit& hit = result.hits[i];
    hits[i]["thumbnail"] = thumbnail_url(link_place(hit), hit.name, hit.offset);
    hits[i]["clip"] = clip_url(link_place(hit), hit.name, hit.offset);
    hits[i]["page"] = moment_url(link_place(hit), hit.name, hit.offset);
  }
  return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string recordings_json(const std::string& day, const std::vector<RecordingSummary>& recordings) {
  json list = json::array();
  for (const auto& r : recordings) {
    json programmes = json::array();
    for (const auto& p : r.programmes) {
      programmes.push_back({{"start", p.start}, {"duration_s", p.duration_s}, {"title", p.title},
                            {"description", p.description}, {"genres", p.genres}});
    }
    list.push_back({{"day", r.day}, {"name", r.name}, {"recording", r.path}, {"channel", r.channel},
                    {"station", r.station}, {"start", r.start}, {"end", r.end}, {"size", r.size},
                    {"captions", r.captions}, {"health", r.health}, {"has_page", r.has_page},
                    {"has_thumbnails", r.has_thumbnails}, {"programmes", programmes},
                    {"view", "/recording/" + link_place(r) + "/" + r.name}, {"root", r.root},
                    {"root_available", r.root_available}});
  }
  return json{{"day", day}, {"recordings", list}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string days_json(const std::vector<std::string>& days) { return json{{"days", days}}.dump(); }

std::string stats_json(const ArchiveStats& s) {
  return json{{"recordings", s.recordings}, {"captions", s.captions}, {"programmes", s.programmes},
              {"days", s.days}, {"stations", s.stations}, {"needs_checking", s.needs_checking}}
      .dump();
}

std::string error_json(const std::string& message) {
  return json{{"error", message}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace oneseg::archive::web
