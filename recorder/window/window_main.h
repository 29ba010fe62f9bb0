#pragma once
// The recorder with its main window: runs the event loop until the user ends
// the program, then lets go of the tuners. The caller holds the single-instance
// lock and has built the engine on real or simulated devices.
#include <string>

namespace brannock {

class RecorderEngine;

int RunWindow(int argc, char** argv, RecorderEngine& engine, const std::string& settingsFolder);

}  // namespace brannock
