#pragma once
// A search's timeline (server-made SVG, every bar a link that narrows the
// search to its bucket) and facets, and the timeline API.
#include <string>
#include <vector>

#include "archive_db.h"
#include "facets.h"
#include "handlers.h"
#include "request.h"
#include "timeline.h"
#include "trends.h"

namespace oneseg::archive::web {

// One panel per query on one scale, the stations stacked in each bucket; a
// station's part of a bar links to the search on that station in that bucket.
// base: the search whose filters every bar's link keeps.
std::string timeline_svg(const Timeline& t, const SearchRequest& base);
std::string facets_html(const Facets& f, const SearchRequest& request);

// The timeline (by the "by" parameter, else by day, week or month as the
// hits' span needs; from the oldest counted hit's day when there are more
// hits than are counted) and the facets of a search page.
std::string insight_html(ArchiveDb& db, const SearchRequest& request, const Parameters& parameters);

// /trends[?day=yymmdd][&station=NAME]: the day's words (by default of the
// last day with captions), each a link to its search on that day.
Reply trends_reply(ArchiveDb& db, const Parameters& parameters);

// GET /api/timeline?q=…[&q=…]&by=day[&norm=1] with the search's other filters.
Reply timeline_api_reply(ArchiveDb& db, const Parameters& parameters, const std::vector<std::string>& queries);

}  // namespace oneseg::archive::web
