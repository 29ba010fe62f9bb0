#include "system_env.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "time_scale.h"

extern char** environ;

namespace pellatt {

namespace {

bool executable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string program_folder() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "./";
  const std::string self(path, static_cast<size_t>(length));
  return self.substr(0, self.rfind('/') + 1);
}

std::string recorder_work_folder(const std::string& app_dir) {
  if (::access(app_dir.c_str(), W_OK) == 0) return app_dir;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string home_dir = home != nullptr && *home != '\0' ? home : "/";
  const std::string config = xdg != nullptr && *xdg == '/' ? xdg : home_dir + "/.config";
  struct stat st {};
  if (::stat((config + "/oneseg").c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return config + "/oneseg/";
  return home_dir;
}

std::string find_program(const std::string& folder, const std::string& name) {
  if (executable(folder + name)) return folder + name;
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t begin = 0;
  while (begin <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', begin), dirs.size());
    const std::string dir = end > begin ? dirs.substr(begin, end - begin) : ".";
    if (executable(dir + "/" + name)) return dir + "/" + name;
    begin = end + 1;
  }
  return "";
}

int SpawnStarter::start(const std::string& program, const std::vector<std::string>& args, bool visible,
                        const std::string& folder) {
  reap();
  const std::string path = find_program(folder_, program);
  if (path.empty()) return -1;
  std::vector<std::string> words{path};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!visible) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // Own session: a started program outlives pellatt and its terminal.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return -1;
  live_[next_handle_] = pid;
  return next_handle_++;
}

bool SpawnStarter::running(int handle) {
  reap();
  return live_.count(handle) != 0;
}

void SpawnStarter::reap() {
  for (auto it = live_.begin(); it != live_.end();) {
    int status = 0;
    const pid_t done = ::waitpid(it->second, &status, WNOHANG);
    it = (done == it->second || done < 0) ? live_.erase(it) : std::next(it);
  }
}

// In microseconds: a short slice of a long wait keeps its share of a small scale.
void SystemClock::sleep_ms(int ms) {
  std::this_thread::sleep_for(std::chrono::microseconds(std::llround(ms * 1000.0 * oneseg::time_scale())));
}

std::time_t SystemClock::now() { return std::time(nullptr); }

}  // namespace pellatt
