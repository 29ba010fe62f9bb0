#pragma once
// A program the server starts (ffmpeg), behind an interface so that the
// request handling can be exercised without one.
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
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
  // Writes what the child's standard input takes at once (a child started
  // with ChildInput::pipe), never waiting; -1 when it takes nothing more.
  virtual long write_input(const char* source, std::size_t n) = 0;
  // Ends the child (if still running) and reaps it; the exit status, or -1
  // when it did not exit normally.
  virtual int finish() = 0;
};

// Where a child's standard input comes from: /dev/null, or a pipe the server
// writes (a live station fed to ffmpeg).
enum class ChildInput { none, pipe };

class ChildStarter {
 public:
  virtual ~ChildStarter() = default;
  // Starts args[0] (looked up on PATH) with standard input as asked,
  // standard output to a pipe and standard error discarded; nullptr when it
  // cannot be started.
  virtual std::unique_ptr<Child> start(const std::vector<std::string>& args, ChildInput input = ChildInput::none) = 0;
};

// posix_spawn on Linux. The destructor of a started child kills and reaps it,
// so a child can never outlive the request that started it.
class SystemChildStarter : public ChildStarter {
 public:
  std::unique_ptr<Child> start(const std::vector<std::string>& args, ChildInput input = ChildInput::none) override;
};

// Runs a child to its end; its exit status, or -1. Its output is discarded,
// or kept in `output` (the first longest_kept_output bytes or so).
inline constexpr std::size_t longest_kept_output = 256 * 1024;
int run_to_end(ChildStarter& starter, const std::vector<std::string>& args,
               std::chrono::milliseconds limit, std::string* output = nullptr);

// Runs the command `command(partial)` makes to write a file beside `file`,
// then renames it to `file`: two runs for one file each write their own, and
// whichever finishes makes it, never half of one. False (nothing left
// behind) when the run failed or wrote nothing.
bool run_into_file(ChildStarter& starter, const std::function<std::vector<std::string>(const std::filesystem::path&)>& command,
                   const std::filesystem::path& file, std::chrono::milliseconds limit);

}  // namespace oneseg::archive::web
