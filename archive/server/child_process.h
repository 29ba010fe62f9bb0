#pragma once
// A program the server starts (ffmpeg), behind an interface so that the
// request handling can be exercised without one.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace oneseg::archive::web {

class Child {
 public:
  virtual ~Child() = default;
  // Up to n bytes of the child's standard output; 0 at its end. Waits at most
  // `wait` for data, returning -1 when none came in time.
  virtual long read_output(char* destination, std::size_t n, std::chrono::milliseconds wait) = 0;
  // Ends the child (if still running) and reaps it; the exit status, or -1
  // when it did not exit normally.
  virtual int finish() = 0;
};

class ChildStarter {
 public:
  virtual ~ChildStarter() = default;
  // Starts args[0] (looked up on PATH) with standard input from /dev/null,
  // standard output to a pipe and standard error discarded; nullptr when it
  // cannot be started.
  virtual std::unique_ptr<Child> start(const std::vector<std::string>& args) = 0;
};

// posix_spawn on Linux. The destructor of a started child kills and reaps it,
// so a child can never outlive the request that started it.
class SystemChildStarter : public ChildStarter {
 public:
  std::unique_ptr<Child> start(const std::vector<std::string>& args) override;
};

// Runs a child to its end, discarding its output; its exit status, or -1.
int run_to_end(ChildStarter& starter, const std::vector<std::string>& args,
               std::chrono::milliseconds limit);

}  // namespace oneseg::archive::web
