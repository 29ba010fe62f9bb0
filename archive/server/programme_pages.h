#pragma once
// Whole programmes: one programme as one transcript across its recordings
// with a player that runs through them, the search of programme titles and
// descriptions, and each day as a grid of stations and hours.
#include <string>
#include <vector>

#include "handlers.h"
#include "programmes.h"

namespace oneseg::archive::web {

std::string programme_page(const ProgrammeRun& run);
std::string programmes_page(const std::string& query, const std::vector<FoundProgramme>& found);
std::string day_grid_page(const DayGrid& grid);

// "/programme/<channel>/<yymmddhhmm>": the programme beginning in that minute.
std::string programme_url(int channel, const Programme& programme);

Reply programme_reply(ArchiveDb& db, const Route& route);
Reply programmes_reply(ArchiveDb& db, const Parameters& parameters);
// browse_reply (handlers.h): "day" (yymmdd) or "date" (yyyy-mm-dd), else the newest day.

}  // namespace oneseg::archive::web
