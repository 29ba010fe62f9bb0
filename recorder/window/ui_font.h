#pragma once
// The font of the recorder's windows: a Japanese proportional sans-serif at a
// character height of 12 pixels, or the system font at that size when none of
// the Japanese families is installed.
#include <QFont>

namespace brannock {

QFont RecorderFont();

}  // namespace brannock
