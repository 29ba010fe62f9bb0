#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "job_env.h"
#include "job_settings.h"

namespace pellatt::testing {

// A fresh folder under the temp folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : "/tmp") + "/pellatt test XXXXXX";
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline void write_sized(const std::string& path, long size) {
  write_file(path, "");
  if (::truncate(path.c_str(), size) != 0) std::abort();
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

inline std::time_t local_time(int y, int mo, int d, int h, int mi, int s) {
  std::tm parts{};
  parts.tm_year = y - 1900;
  parts.tm_mon = mo - 1;
  parts.tm_mday = d;
  parts.tm_hour = h;
  parts.tm_min = mi;
  parts.tm_sec = s;
  parts.tm_isdst = -1;
  return std::mktime(&parts);
}

class FakeClock : public Clock {
 public:
  std::time_t start = local_time(2008, 12, 6, 14, 30, 2);
  long long elapsed_ms = 0;
  std::vector<int> sleeps;
  std::function<void(int)> on_sleep;
  void sleep_ms(int ms) override {
    sleeps.push_back(ms);
    elapsed_ms += ms;
    if (on_sleep) on_sleep(ms);
  }
  std::time_t now() override { return start + static_cast<std::time_t>(elapsed_ms / 1000); }
  int count(int ms) const { return static_cast<int>(std::count(sleeps.begin(), sleeps.end(), ms)); }
};

struct StartCall {
  std::string program;
  std::vector<std::string> args;
  bool visible;
  std::string folder;
};

// Records every start; by default ffmpeg "writes" its output file at once
// and skerrow creates the .sub, as the real programs would.
class FakeStarter : public ProcessStarter {
 public:
  std::vector<StartCall> calls;
  bool fail = false;
  bool ffmpeg_writes = true;
  bool skerrow_writes = true;
  int running_polls = 0;  // how many running() calls answer "still running"
  std::function<void(const StartCall&)> on_start;
  int start(const std::string& program, const std::vector<std::string>& args, bool visible,
            const std::string& folder = "") override {
    calls.push_back({program, args, visible, folder});
    if (on_start) on_start(calls.back());
    if (fail) return -1;
    if (program == "ffmpeg" && ffmpeg_writes) write_file(args.back().substr(5), "picture");  // after "file:"
    if (program == "skerrow" && skerrow_writes) write_file(args[0].substr(0, args[0].size() - 3) + ".sub", "");
    return static_cast<int>(calls.size()) - 1;
  }
  bool running(int) override { return running_polls-- > 0; }
  std::vector<StartCall> of(const std::string& program) const {
    std::vector<StartCall> found;
    for (const auto& call : calls)
      if (call.program == program) found.push_back(call);
    return found;
  }
};

class FakeUi : public JobUi {
 public:
  std::vector<std::string> logs;
  std::vector<std::string> statuses;
  std::vector<std::string> questions;
  std::vector<std::string> opened;
  bool answer = false;
  std::function<void()> on_events;
  void log(const std::string& line) override { logs.push_back(line); }
  void status(const std::string& text) override { statuses.push_back(text); }
  void process_events() override {
    if (on_events) on_events();
  }
  bool ask(const std::string& question) override {
    questions.push_back(question);
    return answer;
  }
  void open_document(const std::string& path) override { opened.push_back(path); }
  bool logged(const std::string& text) const {
    return std::any_of(logs.begin(), logs.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }
};

class FakeSettings : public SettingsSource {
 public:
  JobSettings s;
  JobSettings current() const override { return s; }
};

}  // namespace pellatt::testing
