#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

extern char** environ;

namespace oneseg::archive::web {
namespace {

class SpawnedChild : public Child {
 public:
  SpawnedChild(pid_t pid, int output, int input) : pid_(pid), output_(output), input_(input) {}
  ~SpawnedChild() override { finish(); }

  long read_output(char* destination, std::size_t n, std::chrono::milliseconds wait) override {
    if (output_ < 0) return 0;
    pollfd ready{output_, POLLIN, 0};
    int polled;
    do {
      polled = ::poll(&ready, 1, static_cast<int>(wait.count()));
    } while (polled < 0 && errno == EINTR);
    if (polled == 0) return -1;
    ssize_t got;
    do {
      got = ::read(output_, destination, n);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) output_ended_ = true;
    return got < 0 ? 0 : static_cast<long>(got);
  }

  long write_input(const char* source, std::size_t n) override {
    if (input_ < 0) return -1;
    ssize_t put;
    do {
      put = ::write(input_, source, n);
    } while (put < 0 && errno == EINTR);
    if (put >= 0) return static_cast<long>(put);
    return errno == EAGAIN ? 0 : -1;
  }

  int finish() override {
    if (input_ >= 0) {
      ::close(input_);
      input_ = -1;
    }
    if (output_ >= 0) {
      ::close(output_);
      output_ = -1;
    }
    if (pid_ <= 0) return status_;
    int status = 0;
    pid_t reaped = 0;
    // A child whose output ended is about to exit and is waited for; one
    // that is still running (its client went away) is killed, never waited
    // for without end.
    if (!output_ended_) {
      reaped = ::waitpid(pid_, &status, WNOHANG);
      if (reaped == 0) ::kill(pid_, SIGKILL);
    }
    if (reaped != pid_) {
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }

 private:
  pid_t pid_;
  int output_;
  int input_;  // -1: none
  int status_ = -1;
  bool output_ended_ = false;
};

}  // namespace

std::unique_ptr<Child> SystemChildStarter::start(const std::vector<std::string>& args, ChildInput input) {
  if (args.empty()) return nullptr;
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return nullptr;
  // The server's end of the input never blocks: a child that stops reading
  // must not hold the connection's thread.
  int input_ends[2] = {-1, -1};
  if (input == ChildInput::pipe && ::pipe2(input_ends, O_CLOEXEC) != 0) {
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    return nullptr;
  }
  if (input_ends[1] >= 0) ::fcntl(input_ends[1], F_SETFL, O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input_ends[0] >= 0) posix_spawn_file_actions_adddup2(&actions, input_ends[0], STDIN_FILENO);
  else posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // The server ignores SIGPIPE for its sockets; the child must not inherit that.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int failed = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipe_ends[1]);
  if (input_ends[0] >= 0) ::close(input_ends[0]);
  if (failed != 0) {
    ::close(pipe_ends[0]);
    if (input_ends[1] >= 0) ::close(input_ends[1]);
    return nullptr;
  }
  return std::make_unique<SpawnedChild>(pid, pipe_ends[0], input_ends[1]);
}

int run_to_end(ChildStarter& starter, const std::vector<std::string>& args,
               std::chrono::milliseconds limit, std::string* output) {
  auto child = starter.start(args);
  if (!child) return -1;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char sink[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return child->finish(), -1;
    const long got = child->read_output(sink, sizeof sink, left);
    if (got == 0) break;
    if (output && got > 0 && output->size() < longest_kept_output) output->append(sink, static_cast<std::size_t>(got));
  }
  return child->finish();
}

bool run_into_file(ChildStarter& starter, const std::function<std::vector<std::string>(const std::filesystem::path&)>& command,
                   const std::filesystem::path& file, std::chrono::milliseconds limit) {
  namespace fs = std::filesystem;
  static std::atomic<unsigned> serial{0};
  fs::path partial = file;
  partial += "." + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".part";
  std::error_code error;
  const int status = run_to_end(starter, command(partial), limit);
  if (status != 0 || !fs::is_regular_file(partial, error) || fs::file_size(partial, error) == 0) {
    fs::remove(partial, error);
    return false;
  }
  fs::rename(partial, file, error);
  return !error;
}

}  // namespace oneseg::archive::web
