// skerrow: writes a .eit programme listing and a .sub caption file beside
// every finished one-segment recording it is pointed at.
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "batch_driver.h"
#include "captions.h"
#include "stop_signals.h"
#include "time_scale.h"

namespace {

// The recorder may run on the same machine: never compete with it.
void lower_priority_to_idle() {
  sched_param parameters{};
  parameters.sched_priority = 0;
  if (sched_setscheduler(0, SCHED_IDLE, &parameters) != 0) setpriority(PRIO_PROCESS, 0, 19);
}

// Slept in short steps, so that a stop signal ends even the 8-second wait
// promptly.
void sleep_unless_stopped(int ms) {
  using namespace std::chrono;
  const auto end = steady_clock::now() + milliseconds(oneseg::scaled_ms(ms));
  for (auto now = steady_clock::now(); now < end && skerrow::caught_stop_signal() == 0; now = steady_clock::now())
    std::this_thread::sleep_for(std::min<steady_clock::duration>(milliseconds(50), end - now));
}

// Only as the sole argument, so that every other command line keeps its
// meaning (a folder named "--help" is still reached as "./--help").
bool answered_option(const std::vector<std::string>& args) {
  if (args.size() != 2) return false;
  if (args[1] == "--version") {
    std::printf("skerrow %s\n", ONESEG_VERSION);
    return true;
  }
  if (args[1] != "--help") return false;
  std::printf(
      "Usage:%s directory or file...\n"
      "Writes a .eit programme listing and a .sub caption file beside every finished\n"
      "recording (.ts) named or found in the folders named, unless its .eit exists.\n",
      args[0].c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  if (answered_option(args)) return 0;
  skerrow::catch_stop_signals();
  lower_priority_to_idle();
  skerrow::batch_environment env;
  env.console = stderr;
  env.sleep = sleep_unless_stopped;
  env.stop_requested = [] { return skerrow::caught_stop_signal() != 0; };
  env.caption_handler = skerrow::handle_caption_packet;
  const int status = skerrow::run_analyser(args, env);
  skerrow::end_by_caught_signal();
  return status;
}
