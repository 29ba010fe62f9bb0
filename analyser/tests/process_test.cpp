// The real skerrow program run as a process on real folders.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "stream_builder.h"

using namespace skerrow::testing;
namespace fs = std::filesystem;

namespace {

struct run_result {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;   // the signal that ended it
  std::string err, out;
};

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs skerrow with `args` in `cwd`, waits shortened by ONESEG_TIME_SCALE.
// With remove_cwd the working folder is deleted once the child is in it;
// `meanwhile` is called with its process ID while it runs.
run_result run_skerrow(const fs::path& cwd, const std::vector<std::string>& args, bool remove_cwd = false,
                       const std::function<void(pid_t)>& meanwhile = nullptr) {
  const fs::path err_path = cwd.parent_path() / (cwd.filename().string() + ".stderr");
  const fs::path out_path = cwd.parent_path() / (cwd.filename().string() + ".stdout");
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) _exit(126);
    if (remove_cwd && ::rmdir(cwd.c_str()) != 0) _exit(126);
    if (std::freopen(err_path.c_str(), "w", stderr) == nullptr) _exit(126);
    if (std::freopen(out_path.c_str(), "w", stdout) == nullptr) _exit(126);
    ::setenv("ONESEG_TIME_SCALE", "0.01", 1);
    std::vector<char*> argv = {const_cast<char*>(SKERROW_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(SKERROW_PATH, argv.data());
    _exit(127);
  }
  if (meanwhile) meanwhile(pid);
  run_result r;
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  r.err = read_file(err_path);
  r.out = read_file(out_path);
  fs::remove(err_path);
  fs::remove(out_path);
  return r;
}

bool has_log_file(const fs::path& dir) {
  for (const auto& entry : fs::directory_iterator(dir))
    if (std::regex_match(entry.path().filename().string(), std::regex("skerrow_[0-9]+\\.log"))) return true;
  return false;
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

void write_recording(const fs::path& path, int seconds) {
  const bytes recording = make_recording(seconds);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(recording.data()), static_cast<std::streamsize>(recording.size()));
}

struct skerrow_process : ::testing::Test {
  fs::path root;
  void SetUp() override {
    root = fs::temp_directory_path() / ("skerrow_process_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "work");
  }
  void TearDown() override { fs::remove_all(root); }
};

}  // namespace

TEST_F(skerrow_process, without_arguments_prints_usage_and_exits_255) {
  const run_result r = run_skerrow(root / "work", {});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, std::string("Usage:") + SKERROW_PATH + " directory or file...\n");
  EXPECT_FALSE(has_log_file(root / "work"));
}

TEST_F(skerrow_process, analyses_lower_case_ts_files_of_a_folder_tree_and_removes_its_log) {
  const fs::path rec = root / "rec";
  fs::create_directories(rec / "sub");
  write_recording(rec / "a.ts", 125);
  fs::create_hard_link(rec / "a.ts", rec / "sub" / "b.ts");
  fs::create_hard_link(rec / "a.ts", rec / "c.TS");
  std::ofstream(rec / "small.ts") << "tiny";
  const run_result r = run_skerrow(root / "work", {rec.string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("now reading " + (rec / "a.ts").string() + "\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("now reading " + (rec / "sub" / "b.ts").string() + "\n"), std::string::npos);
  EXPECT_NE(r.err.find("skip " + (rec / "small.ts").string() + " (too small.)\n"), std::string::npos);
  EXPECT_EQ(r.err.find("c.TS"), std::string::npos);
  EXPECT_FALSE(fs::exists(rec / "c.eit"));
  EXPECT_FALSE(has_log_file(root / "work"));

  const std::string listing = read_file(rec / "sub" / "b.eit");
  EXPECT_EQ(listing.find("StartTime: 2010/12/6 12:00:00\r\nDuration: 01:30:00\r\n"), 0u) << listing;
  const std::string captions = read_file(rec / "a.sub");
  // A caption every 3 seconds, stamped with the TOT time before it; the one
  // at 21:00:00 comes before the first PMT has named the caption PID.
  EXPECT_EQ(captions.find("21:00:03 "), 0u) << captions.substr(0, 40);
  EXPECT_NE(captions.find("\r\n21:00:06 "), std::string::npos);
  EXPECT_EQ(read_file(rec / "sub" / "b.sub"), captions);

  // A second run skips both as analysed, without waiting.
  const run_result again = run_skerrow(root / "work", {(rec / "a.ts").string(), (rec / "sub").string()});
  EXPECT_EQ(again.err, "skip " + (rec / "a.ts").string() + " (eit file exists.)\nskip " +
                           (rec / "sub" / "b.ts").string() + " (eit file exists.)\n");
}

TEST_F(skerrow_process, analysis_log_goes_to_standard_output_when_it_cannot_be_created) {
  write_recording(root / "x.ts", 120);
  const run_result r = run_skerrow(root / "work", {(root / "x.ts").string()}, true);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "now reading " + (root / "x.ts").string() + "\n");
  EXPECT_EQ(r.out.find("PID:14 SEQ:0\r\nSTART PACKET\r\nTOT or TDT\r\n"), 0u) << r.out.substr(0, 80);
  EXPECT_NE(r.out.find("Original Program Id:7fe0\r\n"), std::string::npos);
}

TEST_F(skerrow_process, analysis_log_is_not_created_through_a_planted_link) {
  write_recording(root / "x.ts", 120);
  std::ofstream(root / "victim") << "keep";
  // The log's name follows from the start time: links for every start second
  // the run may see.
  const std::time_t now = std::time(nullptr);
  for (std::time_t t = now - 1; t <= now + 3; ++t) {
    std::srand(static_cast<unsigned>(t));
    const fs::path link = root / "work" / ("skerrow_" + std::to_string(std::rand() % 32768) + ".log");
    if (!fs::is_symlink(link)) fs::create_symlink(root / "victim", link);
  }
  const std::set<std::string> links = names_in(root / "work");
  const run_result r = run_skerrow(root / "work", {(root / "x.ts").string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("PID:14 SEQ:0\r\n"), 0u) << r.out.substr(0, 80);
  EXPECT_EQ(read_file(root / "victim"), "keep");
  EXPECT_EQ(names_in(root / "work"), links);  // the links stay: they are not the run's
}

TEST_F(skerrow_process, help_and_version_alone_print_and_exit_0) {
  const run_result help = run_skerrow(root / "work", {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.find(std::string("Usage:") + SKERROW_PATH + " directory or file...\n"), 0u) << help.out;
  const run_result version = run_skerrow(root / "work", {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("skerrow [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
  EXPECT_EQ(help.err + version.err, "");
  EXPECT_FALSE(has_log_file(root / "work"));
  // Among other arguments it names a folder, as any argument does.
  fs::create_directory(root / "work" / "--help");
  write_recording(root / "work" / "--help" / "a.ts", 120);
  const run_result walked = run_skerrow(root / "work", {"--help", "--version"});
  EXPECT_EQ(walked.err, "now reading --help/a.ts\n");
}

// Stopped at random moments, by a signal it catches or by SIGKILL, skerrow
// leaves each output either absent or whole (never one that marks the
// recording as done too early), and the next run completes the analysis.
TEST_F(skerrow_process, interrupted_runs_leave_whole_outputs_or_none_and_a_rerun_completes_them) {
  const fs::path rec = root / "rec", work = root / "work";
  fs::create_directories(rec);
  write_recording(rec / "a.ts", 125);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(run_skerrow(work, {rec.string()}).status, 0);
  const auto whole_run = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
  const std::string eit = read_file(rec / "a.eit"), sub = read_file(rec / "a.sub");
  ASSERT_NE(eit.find("StartTime: "), std::string::npos);
  ASSERT_NE(sub.find("21:00:03 "), std::string::npos);
  const std::set<std::string> done = {"a.ts", "a.eit", "a.sub"};

  std::mt19937 random(20261207);
  for (const int signal_number : {SIGINT, SIGTERM, SIGKILL})
    for (int attempt = 0; attempt < 3; ++attempt) {
      fs::remove(rec / "a.eit");
      fs::remove(rec / "a.sub");
      const std::chrono::microseconds delay(
          std::uniform_int_distribution<std::int64_t>(0, whole_run.count())(random));
      SCOPED_TRACE("signal " + std::to_string(signal_number) + " after " + std::to_string(delay.count()) + " us");
      const run_result stopped = run_skerrow(work, {rec.string()}, false, [&](pid_t pid) {
        std::this_thread::sleep_for(delay);
        ::kill(pid, signal_number);
      });
      if (fs::exists(rec / "a.eit")) {
        EXPECT_EQ(read_file(rec / "a.eit"), eit);
        EXPECT_EQ(read_file(rec / "a.sub"), sub);  // put in place before the .eit
      }
      if (fs::exists(rec / "a.sub")) {
        EXPECT_EQ(read_file(rec / "a.sub"), sub);
      }
      if (signal_number != SIGKILL) {
        EXPECT_TRUE(stopped.status == 0 || stopped.signal == signal_number) << stopped.status;
        EXPECT_FALSE(has_log_file(work));
        const std::set<std::string> left = names_in(rec), untouched = {"a.ts"}, sub_only = {"a.ts", "a.sub"};
        EXPECT_TRUE(left == done || left == untouched || left == sub_only);
      }
      const run_result rerun = run_skerrow(work, {rec.string()});
      EXPECT_EQ(rerun.status, 0);
      EXPECT_EQ(read_file(rec / "a.eit"), eit);
      EXPECT_EQ(read_file(rec / "a.sub"), sub);
      EXPECT_EQ(names_in(rec), done);  // a killed run's temporaries are gone too
      for (const std::string& name : names_in(work)) fs::remove(work / name);  // a killed run's log
    }
}
