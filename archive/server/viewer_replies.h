#pragma once
// The answers of the player's own requests: the caption lines a clip plays
// through, the saved clips' page and API, and a recording's real length.
#include <string>
#include <vector>

#include "archive_db.h"
#include "captions_vtt.h"
#include "handlers.h"
#include "recordings.h"

namespace oneseg::archive::web {

// The caption lines of `name` and, when the clip runs on into it, of the next
// recording, on `name`'s timeline (seconds since its first time packet).
std::vector<TimedLine> clip_lines(ArchiveDb& db, const std::string& name, const std::string& root, bool with_next);

// Seconds the recording covers: from its first to its last time packet (a
// recording cut short covers less than its ten minutes).
int covered_seconds(const RecordingSummary& recording);

Reply clips_page_reply(ArchiveDb& db);
Reply clips_api_reply(ArchiveDb& db);
// POST /api/clips (a new clip) and /api/clips/<id>/delete.
Reply save_clip_reply(ArchiveDb& db, const Parameters& parameters);
Reply remove_clip_reply(ArchiveDb& db, const std::string& path);

}  // namespace oneseg::archive::web
