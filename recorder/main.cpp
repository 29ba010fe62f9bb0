// brannock: the one-segment recorder. Without options it opens its window;
// --headless runs the same engine without one.
//   --headless          no window; status changes go to standard output
//   --simulate FILE     simulated tuner hardware described by FILE
//   --config-dir DIR    settings folder (also BRANNOCK_CONFIG_DIR)
//   --help, --version   print and exit, without a display
#include <QCoreApplication>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "devices.h"
#include "engine.h"
#include "headless.h"
#include "instance_lock.h"
#include "priority.h"
#include "recording_files.h"
#include "settings.h"
#include "system_clock.h"
#include "usb_ids.h"
#include "write_queue.h"
#ifdef BRANNOCK_WITH_WINDOW
#include "window_main.h"
#endif

namespace {

constexpr const char* kUsage = "usage: brannock [--headless] [--simulate FILE] [--config-dir DIR]\n";

struct Options {
  bool headless = false;
  bool help = false;
  bool version = false;
  std::string simulate;
  std::string configDir;
  bool valid = true;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  if (const char* env = std::getenv("BRANNOCK_CONFIG_DIR")) options.configDir = env;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--simulate" && hasValue) {
      options.simulate = argv[++i];
    } else if (arg == "--config-dir" && hasValue) {
      options.configDir = argv[++i];
    } else {
      std::cerr << "brannock: unknown option " << arg << "\n" << kUsage;
      options.valid = false;
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brannock;
  const Options options = ParseOptions(argc, argv);
  if (!options.valid) return 2;
  if (options.help) {
    std::cout << kUsage
              << "  --headless        no window; status changes go to standard output\n"
                 "  --simulate FILE   simulated tuner hardware described by FILE\n"
                 "  --config-dir DIR  settings folder (also BRANNOCK_CONFIG_DIR)\n"
                 "  --help, --version print this or the version and exit\n";
    return 0;
  }
  if (options.version) {
    std::cout << "brannock " << ONESEG_VERSION << "\n";
    return 0;
  }

  InstanceLock lock;
  if (!lock.Acquire()) return 0;  // another instance records already

  const std::string settingsFolder = ChooseSettingsFolder(options.configDir, ProgramFolder());
  SystemClock clock;
  DeviceAccess devices;
  if (options.simulate.empty()) {
    std::vector<std::string> rejected;
    devices = OpenRealDevices(DeviceIdsFromSettings(JoinPath(settingsFolder, kConfigFileName), rejected));
    for (const std::string& entry : rejected) std::cerr << "brannock: not a USB id: " << entry << "\n";
  } else {
    std::string error;
    devices = OpenSimulatedDevices(options.simulate, clock, error);
    if (!devices.usb || !devices.driver) {
      std::cerr << "brannock: " << options.simulate << ": " << error << "\n";
      return 1;
    }
  }
  if (!devices.usb || !devices.driver) {
    std::cerr << "brannock: no device access\n";
    return 1;
  }
  const auto ops = MakeTunerOperations(*devices.usb, *devices.driver, clock);
  PosixFileSystem disk;
  QueuedFileSystem files(disk);  // a slow disk must not hold up the tuners
  ThreadedSteps steps;  // a booting or failing tuner never holds up the reading of the others
  RecorderEngine engine({clock, *devices.usb, *devices.driver, *ops, files});
  engine.SetDeviceSteps(steps);
  if (devices.pcClock) engine.SetPcClock(*devices.pcClock);
  engine.RaisePriority = RaiseRecorderPriority;

#ifdef BRANNOCK_WITH_WINDOW
  if (!options.headless) return RunWindow(argc, argv, engine, settingsFolder);
#endif
  QCoreApplication app(argc, argv);
  return RunHeadless(engine, settingsFolder, std::cout);
}
