#include "stop_signals.h"

#include <csignal>

namespace skerrow {

namespace {

volatile std::sig_atomic_t caught = 0;

void on_stop_signal(int signal_number) { caught = signal_number; }

}  // namespace

void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int caught_stop_signal() { return caught; }

void end_by_caught_signal() {
  const int signal_number = caught;
  if (signal_number == 0) return;
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace skerrow
