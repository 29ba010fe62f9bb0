#pragma once
// The answers of the server, from the index and the request's checked route
// and parameters; the network layer sends them.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive_db.h"
#include "recordings.h"
#include "roots.h"
#include "request.h"

namespace oneseg::archive::web {

struct Reply {
  int status = 200;
  std::string content_type;
  std::string body;
};

// An answer kept under a key until the index changes (AnswerCache), or
// make()'s answer when nothing is kept.
using KeptAnswer = std::function<Reply(const std::string& key, const std::function<Reply()>& make)>;

// stations: suggestions for the search form's station field. The page's
// timeline and facets come through keep: they depend on the query and the
// index only, not on the page of hits.
Reply search_reply(ArchiveDb& db, const Parameters& parameters, bool json,
                   const std::vector<std::string>& stations = {},
                   const KeptAnswer& keep = [](const std::string&, const std::function<Reply()>& make) { return make(); });
// The station names of the latest day.
std::vector<std::string> recent_stations(ArchiveDb& db);
Reply recording_reply(ArchiveDb& db, const Route& route, const Parameters& parameters);
Reply browse_reply(ArchiveDb& db, const Parameters& parameters);
Reply recordings_api_reply(ArchiveDb& db, const Parameters& parameters);
Reply stats_api_reply(ArchiveDb& db);
// The page's stylesheet and script, built into the program.
Reply asset_reply(const std::string& name);
Reply not_found_reply(bool json);

// The root a route names ("" for the first), when it is one served.
const ArchiveRoot* root_named(const std::vector<ArchiveRoot>& roots, const std::string& name);

// The file of a root (by name, "" for the first) at a path relative to it,
// when the index knows it of that root and it lies, links resolved, inside
// that root. Every file served goes through here.
std::optional<std::filesystem::path> served_file(ArchiveDb& db, const std::vector<ArchiveRoot>& roots,
                                                 const std::string& root, const std::string& relative);

struct ClipSource {
  std::filesystem::path recording;
  std::filesystem::path next;  // empty: none follows without a gap
};
std::optional<ClipSource> clip_source(ArchiveDb& db, const std::vector<ArchiveRoot>& roots, const Route& route);

// Seconds of "yyyy-mm-dd hh:mm:ss" since 1970 (as if UTC); nullopt when malformed.
std::optional<long long> seconds_of(const std::string& date_time);

std::string content_type_of(const std::filesystem::path& file);

}  // namespace oneseg::archive::web
