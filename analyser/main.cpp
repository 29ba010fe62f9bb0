// skerrow: writes a .eit programme listing and a .sub caption file beside
// every finished one-segment recording it is pointed at.
#include <sched.h>
#include <sys/resource.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "batch_driver.h"
#include "captions.h"
#include "time_scale.h"

namespace {

// The recorder may run on the same machine: never compete with it.
void lower_priority_to_idle() {
  sched_param parameters{};
  parameters.sched_priority = 0;
  if (sched_setscheduler(0, SCHED_IDLE, &parameters) != 0) setpriority(PRIO_PROCESS, 0, 19);
}

}  // namespace

int main(int argc, char** argv) {
  lower_priority_to_idle();
  skerrow::batch_environment env;
  env.console = stderr;
  env.sleep = [](int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(oneseg::scaled_ms(ms)));
  };
  env.caption_handler = skerrow::handle_caption_packet;
  return skerrow::run_analyser(std::vector<std::string>(argv, argv + argc), env);
}
