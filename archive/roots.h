#pragma once
// The recording folders one archive covers. Each has a name (given as
// NAME=DIR, else its folder's own name) by which hits and pages tell them
// apart, a row of its own in the database, and a state: a folder that cannot
// be read (a network share that is down, an empty mount point) is marked
// unavailable and its recordings stay in the index until it is back.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "archive_db.h"

namespace oneseg::archive {

struct RootSpec {
  std::string name;
  std::filesystem::path path;
};

struct ArchiveRoot {
  std::int64_t id = 0;
  std::string name;
  std::filesystem::path path;
};

// "NAME=DIR" or "DIR" (named after its folder, "/srv/rec1" -> "rec1"). A
// name is at most 64 bytes without "/" or control characters, and not a day
// folder's "yymmdd" (links put it where a day may stand). Throws
// std::invalid_argument with a message for the user.
RootSpec parse_root_spec(const std::string& argument);

bool is_root_name(std::string_view name);

// Throws std::invalid_argument when two roots share a name or a folder.
void check_distinct(const std::vector<RootSpec>& roots);

// The roots' rows, made or updated (a moved folder keeps its recordings).
// With forget_others, roots no longer named lose their rows and recordings.
std::vector<ArchiveRoot> register_roots(ArchiveDb& db, const std::vector<RootSpec>& roots, bool forget_others);

// One folder as a root of its own (named after it), registered as above.
ArchiveRoot register_root(ArchiveDb& db, const std::filesystem::path& folder);

// The roots the database knows, first registered first.
std::vector<ArchiveRoot> known_roots(ArchiveDb& db);

}  // namespace oneseg::archive
