#pragma once
// SIGINT and SIGTERM end the Qt event loop instead of the process, so that
// whoever runs the loop (window or window-less runner) gets to release every
// tuner and close every recording before the program exits.
#include <memory>

class QSocketNotifier;

namespace brannock {

class StopSignals {
 public:
  // Needs a QCoreApplication. Catches the signals from now on, so one
  // arriving during start-up still ends in the orderly shutdown once the
  // event loop runs.
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  bool Installed() const { return notifier_ != nullptr; }

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace brannock
