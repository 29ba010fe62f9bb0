#pragma once
// Text into HTML and URLs: every piece of the index (captions, titles, names)
// passes through here on its way into a page.
#include <string>
#include <string_view>
#include <vector>

#include "search.h"

namespace oneseg::archive::web {

// &, <, >, " and ' as entities; bytes that are not UTF-8 become U+FFFD, so a
// spoiled caption can never break the page's encoding.
std::string html_escape(std::string_view text);

// The text with every byte that is not part of valid UTF-8 as U+FFFD.
std::string valid_utf8(std::string_view text);

// Percent-encodes everything but unreserved characters (for query values and
// path segments alike).
std::string url_encode(std::string_view text);

// The line, escaped, with the spans (byte ranges, in any order, possibly
// overlapping) inside <mark>; overlapping spans share one mark.
std::string highlight(std::string_view line, std::vector<TextSpan> spans);

}  // namespace oneseg::archive::web
