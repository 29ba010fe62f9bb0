#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace pellatt {

// Starts programs by name with an argument vector (never through a shell) and
// tells whether one of them is still running. The real one finds a program
// beside pellatt first, then on PATH.
class ProcessStarter {
 public:
  virtual ~ProcessStarter() = default;
  // Returns a handle >= 0, or -1 when the program could not be started.
  // `folder` is its working folder ("" = pellatt's own).
  virtual int start(const std::string& program, const std::vector<std::string>& args, bool visible,
                    const std::string& folder = "") = 0;
  virtual bool running(int handle) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void sleep_ms(int ms) = 0;
  virtual std::time_t now() = 0;
};

// What the job shows and asks.
class JobUi {
 public:
  virtual ~JobUi() = default;
  virtual void log(const std::string& line) = 0;
  virtual void status(const std::string& text) = 0;
  virtual void process_events() = 0;
  virtual bool ask(const std::string& question) = 0;  // Yes = true
  virtual void open_document(const std::string& path) = 0;
};

}  // namespace pellatt
