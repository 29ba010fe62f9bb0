#pragma once
// Programmes as wholes: one programme of a channel's listing with the
// recordings it ran through, programmes found by title or description, and a
// day as a grid of stations and hours.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive_db.h"
#include "recordings.h"

namespace oneseg::archive::web {

// One part of a programme: a recording and the stretch of it the programme
// fills (seconds into the recording).
struct ProgrammePart {
  RecordingDetail recording;     // captions: only those of the programme
  int from_s = 0, to_s = 0;
  bool joins_next = false;       // its clip runs on into the next part
};

struct ProgrammeRun {
  int channel = 0;
  std::string station;
  Programme programme;
  std::vector<ProgrammePart> parts;   // in time order
};

// The programme of the channel that begins in the minute `minute_start`
// (broadcast seconds), with the recordings it ran through.
std::optional<ProgrammeRun> programme_run(ArchiveDb& db, int channel, std::int64_t minute_start);

struct FoundProgramme {
  int channel = 0;
  std::string station;
  Programme programme;
};
// Programmes whose title or description holds `text`, newest first, each once.
inline constexpr int programmes_per_page = 50;
std::vector<FoundProgramme> find_programmes(ArchiveDb& db, const std::string& text, int limit = programmes_per_page);

// A day as the grid shows it: every station recorded that day with its
// recordings and the programmes on the air during the day.
struct StationDay {
  int channel = 0;
  std::string station;
  std::vector<RecordingSummary> recordings;   // programmes left empty
  std::vector<Programme> programmes;          // each once, in time order
};
struct DayGrid {
  std::string day;                 // "261207"
  std::string previous, next;      // neighbouring days with recordings, or ""
  std::vector<StationDay> stations;
};
DayGrid day_grid(ArchiveDb& db, const std::string& day);
std::optional<std::string> newest_day(ArchiveDb& db);

// "yymmddhhmm" of broadcast seconds, and back.
std::string minute_name(std::int64_t seconds);
std::optional<std::int64_t> minute_seconds(const std::string& minute_name);

// Whether a recording's clip runs on into the next one: only when the next
// carries on the same broadcast.
bool carries_on(const RecordingSummary& recording, const RecordingSummary& next);

}  // namespace oneseg::archive::web
