#pragma once
// The stations being recorded now, read from the index and the growing
// recordings' own files: which recording is live, the programme on the air,
// and the caption lines indexed as they are decoded.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive_db.h"
#include "recordings.h"

namespace oneseg::archive::web {

// A recording written to within this long is being recorded now.
inline constexpr std::chrono::seconds live_window{30};

struct LiveCaption {
  std::int64_t id = 0;     // increasing with broadcast time: the cursor of ?after=
  std::string time;        // "yyyy-mm-dd hh:mm:ss"
  std::string text;
  std::string recording;   // "261207180_Ch27"
};

struct LiveStation {
  RecordingSummary recording;              // the one being written
  std::optional<Programme> programme;      // on the air now
  std::optional<LiveCaption> newest;
};

// When a file was last written (system clock), or nullopt when it is not
// there: the disk's answer, kept apart so that tests decide it.
using WrittenAt = std::function<std::optional<std::chrono::system_clock::time_point>(const RecordingSummary&)>;

// Each channel's newest recording, when it was written to within
// live_window of now; in channel order.
std::vector<LiveStation> live_stations(ArchiveDb& db, const WrittenAt& written_at,
                                       std::chrono::system_clock::time_point now);

// The channel's caption lines after the cursor (all: none given), oldest
// first, at most `limit`; never older than the recording before the newest,
// so a cursor of 0 cannot make a scan of the whole archive.
inline constexpr int live_caption_batch = 100;
std::vector<LiveCaption> live_captions(ArchiveDb& db, int channel, std::optional<std::int64_t> after,
                                       int limit = live_caption_batch);

// The programme of a listing on the air at `at` ("yyyy-mm-dd hh:mm:ss").
std::optional<Programme> programme_at(const std::vector<Programme>& listing, const std::string& at);

}  // namespace oneseg::archive::web
