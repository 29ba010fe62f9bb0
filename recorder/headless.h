#pragma once
// The window-less runner: the window's two engine timers (1000 ms probe,
// 50 ms record) on a Qt event loop, each tuner's status changes and the
// notifications a window would raise on standard output, and the orderly
// shutdown on SIGINT / SIGTERM.
#include <ostream>
#include <string>

#include "engine.h"

namespace brannock {

// Needs a QCoreApplication. Returns the process exit status.
int RunHeadless(RecorderEngine& engine, const std::string& settingsFolder, std::ostream& out);

}  // namespace brannock
