#pragma once
// Saved searches and their alerts on the web: /alerts, /watches, their JSON
// (/api/alerts, /api/watches), Atom feeds (/feed.atom, /feed/<id>.atom) and
// the requests that save, rename and remove a watch (POST).
#include <optional>
#include <string>
#include <string_view>

#include "archive_db.h"
#include "handlers.h"
#include "request.h"

namespace oneseg::archive::web {

// The routes above (also POST /api/watches, /api/watches/<id>/rename and
// /api/watches/<id>/delete); route.name holds a watch's id where the path
// names one, route.file the action.
std::optional<Route> alert_route(std::string_view path);

Reply alerts_page_reply(ArchiveDb& db, const Parameters& parameters);
Reply watches_page_reply(ArchiveDb& db);
Reply alerts_api_reply(ArchiveDb& db, const Parameters& parameters);
Reply watches_api_reply(ArchiveDb& db);
// base: "http://host:port", where the entries' links lead; token: carried
// by those links when the feed was asked for with one.
Reply feed_reply(ArchiveDb& db, const Route& route, const std::string& base, const std::string& token);
// POST: q, station, name (save); name (rename); nothing (delete).
Reply watch_change_reply(ArchiveDb& db, const Route& route, const Parameters& parameters);

}  // namespace oneseg::archive::web
