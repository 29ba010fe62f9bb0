#pragma once
// The live pages: the stations being recorded now, one station playing a few
// seconds behind the air with its captions as they are decoded, and the
// captions' JSON the page asks for.
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "handlers.h"
#include "live.h"

namespace oneseg::archive::web {

std::string live_list_page(const std::vector<LiveStation>& stations);
std::string live_station_page(const LiveStation& station, const std::vector<LiveCaption>& recent);
// {"channel": 27, "captions": [{"id", "time", "text", "recording"}], "last": ID}
std::string live_captions_json(int channel, const std::vector<LiveCaption>& captions, std::int64_t last);

Reply live_reply(ArchiveDb& db, const WrittenAt& written_at, std::chrono::system_clock::time_point now);
Reply live_station_reply(ArchiveDb& db, const Route& route, const WrittenAt& written_at,
                         std::chrono::system_clock::time_point now);
// "after": the id of the last line the page has; none: the newest lines.
Reply live_captions_reply(ArchiveDb& db, const Route& route, const Parameters& parameters);

// When the recording's .ts was last written, read from the disk (a file the
// index knows inside its root only).
WrittenAt written_on_disk(ArchiveDb& db, const std::vector<ArchiveRoot>& roots);

// The file of the channel's live recording, when it is live.
std::optional<std::filesystem::path> live_file(ArchiveDb& db, const std::vector<ArchiveRoot>& roots, int channel,
                                               std::chrono::system_clock::time_point now);
// The file of the recording that follows `current` on its channel, once indexed.
std::optional<std::filesystem::path> following_file(ArchiveDb& db, const std::vector<ArchiveRoot>& roots,
                                                    const std::filesystem::path& current);

}  // namespace oneseg::archive::web
