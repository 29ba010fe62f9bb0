#pragma once
// The JSON of the server's API, for the page and for other tools.
#include <string>
#include <vector>

#include "recordings.h"
#include "search.h"

namespace oneseg::archive::web {

// The command line's search JSON, each hit with its "thumbnail", "clip" and
// "page" links added.
std::string search_json(const SearchResult& result);

// {"day": "261207", "recordings": [...]}
std::string recordings_json(const std::string& day, const std::vector<RecordingSummary>& recordings);
// {"days": ["261207", ...]}
std::string days_json(const std::vector<std::string>& days);
std::string stats_json(const ArchiveStats& stats);
std::string error_json(const std::string& message);

}  // namespace oneseg::archive::web
