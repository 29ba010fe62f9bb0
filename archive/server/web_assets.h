#pragma once
// The page's stylesheet and script (archive/web/), built into the program so
// the server needs no files of its own beside it.
#include <string_view>

namespace oneseg::archive::web {

extern const std::string_view style_css;
extern const std::string_view app_js;
extern const std::string_view live_js;
extern const std::string_view player_js;

}  // namespace oneseg::archive::web
