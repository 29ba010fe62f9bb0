#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "job_env.h"

namespace pellatt {

// Folder of the running program, with a trailing "/".
std::string program_folder();

// Working folder of the recorder started from the window: `app_dir` where it
// is writable, else the folder where the recorder keeps the user's settings
// ($XDG_CONFIG_HOME/oneseg, ~/.config/oneseg) when it exists, else the home folder.
std::string recorder_work_folder(const std::string& app_dir);

// `name` in `folder` when it is an executable file there, else the first
// executable of that name on PATH, else "" .
std::string find_program(const std::string& folder, const std::string& name);

// Starts programs with posix_spawn: found beside pellatt first, then on PATH.
// Hidden processes get /dev/null for their standard streams; visible ones
// share pellatt's terminal. Finished children are reaped at every call.
class SpawnStarter : public ProcessStarter {
 public:
  explicit SpawnStarter(std::string folder) : folder_(std::move(folder)) {}
  int start(const std::string& program, const std::vector<std::string>& args, bool visible,
            const std::string& folder = "") override;
  bool running(int handle) override;

 private:
  void reap();
  std::string folder_;
  std::map<int, pid_t> live_;  // handle -> process still to be reaped
  int next_handle_ = 0;
};

// Real time; every sleep is shortened by ONESEG_TIME_SCALE.
class SystemClock : public Clock {
 public:
  void sleep_ms(int ms) override;
  std::time_t now() override;
};

}  // namespace pellatt
