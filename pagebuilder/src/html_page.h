#pragma once

#include <ctime>
#include <functional>
#include <iosfwd>
#include <string>

#include "job_settings.h"

namespace pellatt {

// What the page of one recording is made from.
struct PageInput {
  std::string ts_path;    // the recording, with its .ts extension
  std::string base_path;  // ts_path without extension
  int start_minutes = 0;  // start time of day from the recording's name
  int end_sec = 600;      // last second of the range (Edit2 at the thumbnail step)
  std::time_t created = 0;  // creation time of the recording
  JobSettings settings;
};

// Time label of second n: minutes without leading zeros, ":", two-digit seconds.
std::string time_label(int n);

// "HH:MM:SS" at the start of a caption line as seconds after midnight, or -1.
int caption_seconds(const std::string& line);

// Text and URL pieces of file names made safe for the page.
std::string html_escape(const std::string& text);
std::string url_escape(const std::string& path);

// Writes the page (CR LF lines) from the caption lines in `sub`; `thumb_exists`
// tells whether the thumbnail of second n is there. Returns the thumbnails written.
// Throws JobError for a range the times of day cannot hold.
int compose_page(const PageInput& in, std::istream& sub, std::ostream& out, const std::function<bool(int)>& thumb_exists);

// Reads B.sub and the thumbnail folder B + "thm" and writes B.html.
// Throws JobError when the captions cannot be read or the page written.
int htmlmak(const PageInput& in);

}  // namespace pellatt
