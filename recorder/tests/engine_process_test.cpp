// The window-less recorder as a real process: start-up, settings, the
// single-instance rule and the shutdown on SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine_fakes.h"
#include "ini.h"
#include "settings.h"

namespace brannock::test {
namespace {

// A child process with its standard output and error captured.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> argv;
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Child() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
  }
  // Reads standard output until `text` appears or the time runs out.
  bool WaitForOutput(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (output.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(out_, output, static_cast<int>(left.count()))) return false;
    }
    return true;
  }
  // Waits for the end of the process, collecting the rest of its output.
  int Wait() {
    while (ReadSome(out_, output, 20000)) {
    }
    while (ReadSome(err_, errors, 20000)) {
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  pid_t pid() const { return pid_; }
  std::string output, errors;

 private:
  static bool ReadSome(int fd, std::string& into, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  bool exited_ = false;
};

TEST(HeadlessProcess, StartsFindsNoTunerKeepsOthersOutAndStopsOnSigterm) {
  TempFolder folder;
  const std::string cfg = (folder.path() / "cfg").string();
  const std::string run = (folder.path() / "run").string();
  std::filesystem::create_directories(run);
  const std::vector<std::string> env{"XDG_RUNTIME_DIR=" + run, "ONESEG_TIME_SCALE=0.01"};
  const std::vector<std::string> args{BRANNOCK_PATH, "--headless", "--config-dir", cfg};

  Child first(args, env);
  ASSERT_GT(first.pid(), 0);
  ASSERT_TRUE(first.WaitForOutput("チューナーが見つかりません")) << first.output;
  EXPECT_NE(first.output.find("設定ファイル：" + cfg + "/OneSeg_Config.ini"), std::string::npos);
  EXPECT_NE(first.output.find("保存先：未設定"), std::string::npos);
  EXPECT_EQ(oneseg::ini_read_string(cfg + "/OneSeg_Config.ini", "Config", "TSFolder", "missing"), "");
  EXPECT_EQ(oneseg::ini_read_int(cfg + "/OneSeg_Config.ini", "Config", "RecDays", 0), 3);

  Child second(args, env);
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_EQ(second.output, "");
  EXPECT_EQ(second.errors, "");

  ::kill(first.pid(), SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_NE(first.output.find("終了します"), std::string::npos);

  Child third(args, env);  // the lock went with the first process
  ASSERT_TRUE(third.WaitForOutput("チューナーが見つかりません"));
  ::kill(third.pid(), SIGINT);
  EXPECT_EQ(third.Wait(), 0);
}

TEST(HeadlessProcess, HelpAndVersionNeedNoDisplay) {
  // No display to be had: a program that opened one would fail here.
  const std::vector<std::string> env{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=xcb"};
  Child help({BRANNOCK_PATH, "--help"}, env);
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_EQ(help.output.rfind("usage: brannock", 0), 0u) << help.output;
  Child version({BRANNOCK_PATH, "--version"}, env);
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.output.rfind("brannock ", 0), 0u) << version.output;
  EXPECT_EQ(version.errors, "");
}

TEST(HeadlessProcess, FailingTunerIsNotifiedOnceAndAMissingFolderIsKept) {
  TempFolder folder;
  const std::string cfg = (folder.path() / "cfg").string();
  const std::string run = (folder.path() / "run").string();
  const std::string late = (folder.path() / "not-mounted").string();
  std::filesystem::create_directories(run);
  std::filesystem::create_directories(cfg);
  oneseg::ini_write_string(cfg + "/OneSeg_Config.ini", "Config", "TSFolder", late);
  const std::string sim = (folder.path() / "sim.json").string();
  std::ofstream(sim) << R"({"devices": [{"model": "A", "serial": "F1",
                            "faults": [{"type": "open_fail", "at": 0, "duration": 3}]}]})";
  Child recorder({BRANNOCK_PATH, "--headless", "--simulate", sim, "--config-dir", cfg},
                 {"XDG_RUNTIME_DIR=" + run, "ONESEG_TIME_SCALE=0.01"});
  ASSERT_TRUE(recorder.WaitForOutput("通知：F1：Error:Tuner_Initialize(")) << recorder.output;
  // Failing at every tick for three seconds, then booting: one notification.
  ASSERT_TRUE(recorder.WaitForOutput("F1：初期化完了")) << recorder.output;
  ::kill(recorder.pid(), SIGTERM);
  EXPECT_EQ(recorder.Wait(), 0);
  EXPECT_NE(recorder.output.find("保存先：" + late), std::string::npos);
  EXPECT_EQ(oneseg::ini_read_string(cfg + "/OneSeg_Config.ini", "Config", "TSFolder", ""), late);
  std::size_t notices = 0;
  for (std::size_t at = recorder.output.find("通知："); at != std::string::npos; at = recorder.output.find("通知：", at + 1))
    ++notices;
  EXPECT_EQ(notices, 1u);
  EXPECT_FALSE(std::filesystem::exists(late));
}

// FIFOs without a writer in the settings files' places: a blocking open
// would hang the start-up for good, with the stop signals already caught.
TEST(HeadlessProcess, SettingsFilesThatAreNotFilesNeitherHangNorStopTheStart) {
  TempFolder folder;
  const std::string cfg = folder.str();
  const std::string run = (folder.path() / "run").string();
  std::filesystem::create_directories(run);
  const std::string config = cfg + "/OneSeg_Config.ini";
  const std::string channels = cfg + "/OneSeg_Channels.ini";
  ASSERT_EQ(::mkfifo(config.c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(channels.c_str(), 0644), 0);

  Child recorder({BRANNOCK_PATH, "--headless", "--config-dir", cfg},
                 {"XDG_RUNTIME_DIR=" + run, "ONESEG_TIME_SCALE=0.01"});
  ASSERT_TRUE(recorder.WaitForOutput("チューナーが見つかりません")) << recorder.output;
  EXPECT_NE(recorder.output.find(config + " は通常のファイルではありません"), std::string::npos);
  EXPECT_NE(recorder.output.find(channels + " は通常のファイルではありません"), std::string::npos);
  EXPECT_NE(recorder.output.find(WriteFailedText(config)), std::string::npos);
  ::kill(recorder.pid(), SIGTERM);
  EXPECT_EQ(recorder.Wait(), 0);
  EXPECT_TRUE(std::filesystem::is_fifo(config));
}

}  // namespace
}  // namespace brannock::test
