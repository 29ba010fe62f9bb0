// Wall time of the thumbnail step for one recording, the default way (one
// ffmpeg run per thumbnail, with its waits) against the one-pass fast way, and
// a byte comparison of the pictures both ways make.
//   pagebuilder_thumb_bench [RECORDING.ts]   (default: a generated 10-minute stream)
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>

#include "page_job.h"
#include "system_env.h"

using namespace pellatt;

namespace {

class QuietUi : public JobUi {
 public:
  void log(const std::string& line) override { std::cout << "  " << line << "\n"; }
  void status(const std::string&) override {}
  void process_events() override {}
  bool ask(const std::string&) override { return false; }
  void open_document(const std::string&) override {}
};

class Settings : public SettingsSource {
 public:
  JobSettings s;
  JobSettings current() const override { return s; }
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> files_in(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.') names.insert(entry->d_name);
    ::closedir(dir);
  }
  return names;
}

int shell(const std::string& command) { return std::system(command.c_str()); }

double children_cpu_seconds() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double wall;
  double cpu;  // of the programs it started
};

Timing run_job(const std::string& folder, const std::string& recording, bool fast) {
  ::mkdir(folder.c_str(), 0777);
  const std::string ts = folder + "/081206143_Ch27.ts";
  shell("cp '" + recording + "' '" + ts + "'");
  std::ofstream(folder + "/081206143_Ch27.sub");
  Settings settings;
  settings.s.cont = false;
  settings.s.fast_thumbnails = fast;
  SpawnStarter starter(program_folder());
  SystemClock clock;
  QuietUi ui;
  PageJob job(settings, starter, clock, ui);
  const double cpu_before = children_cpu_seconds();
  const auto begin = std::chrono::steady_clock::now();
  job.run(ts);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  while (::waitpid(-1, nullptr, 0) > 0) {
  }
  return {wall, children_cpu_seconds() - cpu_before};
}

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/pellatt-bench-XXXXXX";
  const std::string work = ::mkdtemp(pattern);
  std::string recording = argc > 1 ? argv[1] : work + "/source.ts";
  if (argc <= 1 &&
      shell("ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc=size=320x180:rate=15 -t 600 -c:v libx264 "
            "-profile:v baseline -preset ultrafast -pix_fmt yuv420p -b:v 300k -muxrate 420000 -f mpegts '" +
            recording + "'") != 0) {
    std::cerr << "cannot make the test recording\n";
    return 1;
  }
  std::cout << "default way:\n";
  const Timing slow = run_job(work + "/slow", recording, false);
  std::cout << "fast way:\n";
  const Timing fast = run_job(work + "/fast", recording, true);

  const auto slow_files = files_in(work + "/slow/081206143_Ch27thm");
  const auto fast_files = files_in(work + "/fast/081206143_Ch27thm");
  int identical = 0;
  for (const auto& name : slow_files)
    identical += read_file(work + "/slow/081206143_Ch27thm/" + name) == read_file(work + "/fast/081206143_Ch27thm/" + name);
  std::printf("wall time: default way %.2f s, fast way %.2f s, %.1fx faster\n", slow.wall, fast.wall, slow.wall / fast.wall);
  std::printf("CPU time of ffmpeg: default way %.2f s, fast way %.2f s\n", slow.cpu, fast.cpu);
  std::printf("thumbnails: default %zu, fast %zu, byte-identical %d\n", slow_files.size(), fast_files.size(), identical);
  shell("rm -rf '" + work + "'");
  return identical == static_cast<int>(slow_files.size()) && slow_files == fast_files ? 0 : 1;
}
