// The real skerrow program run as a process on real folders.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "stream_builder.h"

using namespace skerrow::testing;
namespace fs = std::filesystem;

namespace {

struct run_result {
  int status = -1;
  std::string err, out;
};

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs skerrow with `args` in `cwd`, waits shortened by ONESEG_TIME_SCALE.
// With remove_cwd the working folder is deleted once the child is in it.
run_result run_skerrow(const fs::path& cwd, const std::vector<std::string>& args, bool remove_cwd = false) {
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
  run_result r;
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
