// The batch driver on real files and folders: skip rules, output files,
// synchronisation of the read loop, directory walk, stops and temporaries.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "batch_driver.h"
#include "output_file.h"
#include "read_loop.h"
#include "test_support.h"

using namespace skerrow;
using namespace skerrow::testing;
namespace fs = std::filesystem;

namespace {

const bytes& recording() {
  static const bytes r = [] {
    bytes b = make_recording(120);
    b.resize(static_cast<std::size_t>(minimum_recording_size));  // not a multiple of 188
    return b;
  }();
  return r;
}

void write_file(const fs::path& path, const bytes& content) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct batch_driver : ::testing::Test {
  fs::path dir;
  captured_state c;
  batch_environment env;
  char* console_text = nullptr;
  std::size_t console_size = 0;
  std::vector<int> waits;
  std::function<void()> during_wait;

  void SetUp() override {
    dir = fs::temp_directory_path() / ("skerrow_batch_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    env.console = open_memstream(&console_text, &console_size);
    env.sleep = [this](int ms) {
      waits.push_back(ms);
      if (during_wait) during_wait();
    };
  }
  void TearDown() override {
    std::fclose(env.console);
    std::free(console_text);
    fs::remove_all(dir);
  }
  std::string console() {
    std::fflush(env.console);
    return std::string(console_text, console_size);
  }
  std::string path(const std::string& name) { return (dir / name).string(); }
  std::set<std::string> listing() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
  }
};

}  // namespace

TEST_F(batch_driver, existing_eit_file_skips_without_waiting) {
  write_file(dir / "x.ts", recording());
  write_file(dir / "x.eit", {});
  EXPECT_EQ(process_recording(c.state, env, path("x.ts")), -11);
  EXPECT_EQ(console(), "skip " + path("x.ts") + " (eit file exists.)\n");
  EXPECT_TRUE(waits.empty());
  EXPECT_FALSE(fs::exists(dir / "x.sub"));
}

TEST_F(batch_driver, size_threshold_is_inclusive) {
  bytes small = recording();
  small.pop_back();
  write_file(dir / "small.ts", small);
  EXPECT_EQ(process_recording(c.state, env, path("small.ts")), -12);
  EXPECT_EQ(process_recording(c.state, env, path("missing.ts")), -12);
  ::mkfifo(path("fifo.ts").c_str(), 0644);  // would block a plain open for reading
  EXPECT_EQ(process_recording(c.state, env, path("fifo.ts")), -12);
  write_file(dir / "exact.ts", recording());
  EXPECT_EQ(process_recording(c.state, env, path("exact.ts")), 0);
  EXPECT_EQ(console(), "skip " + path("small.ts") + " (too small.)\nskip " + path("missing.ts") +
                           " (too small.)\nskip " + path("fifo.ts") + " (too small.)\nnow reading " +
                           path("exact.ts") + "\n");
  EXPECT_EQ(waits, std::vector<int>{stability_wait_ms});
  EXPECT_TRUE(fs::exists(dir / "exact.sub"));
  EXPECT_TRUE(fs::exists(dir / "exact.eit"));
}

TEST_F(batch_driver, growing_recording_is_left_for_a_later_run) {
  write_file(dir / "grow.ts", recording());
  during_wait = [this] { std::ofstream(dir / "grow.ts", std::ios::app) << "more"; };
  EXPECT_EQ(process_recording(c.state, env, path("grow.ts")), -13);
  EXPECT_EQ(console(), "file is busy.\n");
  EXPECT_FALSE(fs::exists(dir / "grow.sub"));
  EXPECT_FALSE(fs::exists(dir / "grow.eit"));
}

TEST_F(batch_driver, output_files_that_cannot_be_created) {
  write_file(dir / "a.ts", recording());
  fs::create_directory(dir / "a.sub");
  EXPECT_EQ(process_recording(c.state, env, path("a.ts")), -3);
  write_file(dir / "b.ts", recording());
  fs::create_symlink(dir / "no-such-dir" / "b.eit", dir / "b.eit");  // dangling: not readable, not creatable
  EXPECT_EQ(process_recording(c.state, env, path("b.ts")), -4);
  write_file(dir / "victim", {});
  fs::create_symlink(dir / "victim", dir / "c.sub");  // never written through nor replaced
  write_file(dir / "c.ts", recording());
  EXPECT_EQ(process_recording(c.state, env, path("c.ts")), -3);
  EXPECT_EQ(console(), "unable to open a subtext file(" + path("a.sub") + ").\nsymbolic link in the way: " +
                           path("b.eit") + "\nunable to open a eit file(" + path("b.eit") +
                           ").\nsymbolic link in the way: " + path("c.sub") + "\nunable to open a subtext file(" +
                           path("c.sub") + ").\n");
  EXPECT_TRUE(fs::is_symlink(dir / "b.eit"));
  EXPECT_TRUE(fs::is_symlink(dir / "c.sub"));
  EXPECT_EQ(fs::file_size(dir / "victim"), 0u);
  EXPECT_FALSE(fs::exists(dir / "no-such-dir"));
  // Nothing is left behind that could mark a recording as done.
  EXPECT_EQ(listing(), (std::set<std::string>{"a.sub", "a.ts", "b.eit", "b.ts", "c.sub", "c.ts", "victim"}));
  EXPECT_EQ(process_recording(c.state, env, "a.t"), -1);
  EXPECT_EQ(process_recording(c.state, env, path("a.TS")), -2);
}

TEST_F(batch_driver, a_recording_modified_after_its_analysis_is_analysed_again) {
  write_file(dir / "x.ts", recording());
  ASSERT_EQ(process_recording(c.state, env, path("x.ts")), 0);
  EXPECT_EQ(fs::last_write_time(dir / "x.eit"), fs::last_write_time(dir / "x.ts"));
  EXPECT_EQ(process_recording(c.state, env, path("x.ts")), -11);
  // An analysis made after the recording's last change (as earlier runs
  // left them) is current too.
  fs::last_write_time(dir / "x.eit", fs::last_write_time(dir / "x.ts") + std::chrono::hours(1));
  EXPECT_EQ(process_recording(c.state, env, path("x.ts")), -11);

  std::ofstream(dir / "x.ts", std::ios::app).write(reinterpret_cast<const char*>(recording().data()), 188 * 1000);
  fs::last_write_time(dir / "x.ts", fs::last_write_time(dir / "x.eit") + std::chrono::seconds(1));
  EXPECT_EQ(process_recording(c.state, env, path("x.ts")), 0);
  EXPECT_EQ(fs::last_write_time(dir / "x.eit"), fs::last_write_time(dir / "x.ts"));
  EXPECT_EQ(occurrences(console(), "now reading "), 2);
}

TEST_F(batch_driver, a_stop_leaves_no_output_and_a_later_run_completes_it) {
  write_file(dir / "x.ts", recording());
  int calls_before_stop = 0;  // a stop, once requested, stays requested
  env.stop_requested = [&] { return --calls_before_stop < 0; };
  EXPECT_EQ(process_recording(c.state, env, path("x.ts")), -6);  // during the wait
  calls_before_stop = 700;  // about half the recording
  EXPECT_EQ(process_recording(c.state, env, path("x.ts")), -6);
  EXPECT_EQ(listing(), std::set<std::string>{"x.ts"});
  EXPECT_EQ(console(), "now reading " + path("x.ts") + "\n");

  env.stop_requested = nullptr;
  write_file(dir / "y.ts", recording());
  ASSERT_EQ(process_recording(c.state, env, path("x.ts")), 0);
  ASSERT_EQ(process_recording(c.state, env, path("y.ts")), 0);
  EXPECT_EQ(read_file(dir / "x.eit"), read_file(dir / "y.eit"));
  EXPECT_EQ(read_file(dir / "x.sub"), read_file(dir / "y.sub"));
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST_F(batch_driver, temporaries_of_dead_runs_are_removed_and_never_taken_for_recordings) {
  write_file(dir / "x.ts", recording());
  write_file(dir / "x.sub.4242.0.tmp", recording());  // a killed run's: no lock held
  write_file(dir / "x.eit.77.3.tmp", {});             // a live run's: locked
  write_file(dir / "x.eit.tmp", {});                  // not a temporary name
  const int live = ::open(path("x.eit.77.3.tmp").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(live, LOCK_EX), 0);
  EXPECT_EQ(walk_directory(c.state, env, dir.string()), 0);
  ::close(live);
  EXPECT_EQ(console(), "now reading " + path("x.ts") + "\n");
  EXPECT_EQ(listing(), (std::set<std::string>{"x.ts", "x.sub", "x.eit", "x.eit.77.3.tmp", "x.eit.tmp"}));

  // A link planted under the final name while the analysis ran is refused
  // at the rename too, and the temporary goes.
  pending_output late;
  ASSERT_TRUE(late.create(path("z.eit")));
  EXPECT_TRUE(is_temporary_of(fs::path(late.temporary_path()).filename().string(), "z.eit"));
  fs::create_symlink(dir / "victim", dir / "z.eit");
  EXPECT_FALSE(late.commit());
  EXPECT_TRUE(fs::is_symlink(dir / "z.eit"));
  EXPECT_EQ(listing(), (std::set<std::string>{"x.ts", "x.sub", "x.eit", "x.eit.77.3.tmp", "x.eit.tmp", "z.eit"}));

  EXPECT_TRUE(is_temporary_of("x.sub.12.0.tmp", "x.sub"));
  EXPECT_FALSE(is_temporary_of("x.sub.12.tmp", "x.sub"));
  EXPECT_FALSE(is_temporary_of("x.sub.1a.0.tmp", "x.sub"));
  EXPECT_FALSE(is_temporary_of("xx.sub.12.0.tmp", "x.sub"));
  EXPECT_FALSE(is_temporary_of("x.sub.12.0.tmp", "x.su"));
}

TEST_F(batch_driver, leading_garbage_and_a_partial_last_packet_change_nothing) {
  write_file(dir / "clean.ts", recording());
  bytes dirty(100, 0x12);
  dirty.insert(dirty.end(), recording().begin(), recording().end());
  dirty.insert(dirty.end(), {0x47, 0x00, 0x12});
  write_file(dir / "dirty.ts", dirty);
  ASSERT_EQ(process_recording(c.state, env, path("clean.ts")), 0);
  ASSERT_EQ(process_recording(c.state, env, path("dirty.ts")), 0);
  const std::string listing = read_file(dir / "clean.eit");
  EXPECT_NE(listing.find("StartTime: 2010/12/6 12:00:00\r\nDuration: 01:30:00\r\n"), std::string::npos);
  EXPECT_EQ(read_file(dir / "dirty.eit"), listing);
  EXPECT_EQ(read_file(dir / "dirty.sub"), read_file(dir / "clean.sub"));
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST(read_loop, resynchronises_once_per_fill_and_hands_whole_packets_on) {
  captured_state c;
  bytes stream(100, 0x00);  // garbage without a sync byte
  for (int i = 0; i < 30; ++i) {
    bytes p = make_packet({.pid = 0x100 + i, .payload = false});
    stream.insert(stream.end(), p.begin(), p.end());
  }
  stream.insert(stream.end(), 50, 0x47);  // a tail shorter than a packet
  memory_source source(stream.data(), stream.size());
  read_loop(c.state, source);
  for (int i = 0; i < 30; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "PID:%x SEQ:0\r\n", 0x100 + i);
    EXPECT_EQ(c.count(line), 1) << line;
  }
  EXPECT_EQ(c.count("PID:"), 30);
}

TEST_F(batch_driver, walks_directories_depth_first_and_takes_only_lower_case_ts) {
  write_file(dir / "a.ts", recording());
  fs::create_directories(dir / "sub dir é");
  fs::create_hard_link(dir / "a.ts", dir / "sub dir é" / "b.ts");
  fs::create_hard_link(dir / "a.ts", dir / "c.TS");
  fs::create_directory_symlink(dir, dir / "loop");  // not followed
  EXPECT_EQ(walk_directory(c.state, env, dir.string()), 0);
  const std::string text = console();
  EXPECT_EQ(occurrences(text, "now reading "), 2) << text;
  EXPECT_NE(text.find("now reading " + path("a.ts") + "\n"), std::string::npos);
  EXPECT_NE(text.find("now reading " + path("sub dir é") + "/b.ts\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir / "sub dir é" / "b.eit"));
  EXPECT_FALSE(fs::exists(dir / "c.eit"));
  EXPECT_EQ(walk_directory(c.state, env, path("missing")), -1);
  EXPECT_EQ(walk_directory(c.state, env, std::string(3581, 'd')), -1);
  handle_argument(c.state, env, path("c.TS"));  // taken for a directory, silently skipped
  EXPECT_EQ(console(), text);
}

TEST_F(batch_driver, run_without_arguments_prints_usage) {
  EXPECT_EQ(run_analyser({"skerrow"}, env), -1);
  EXPECT_EQ(console(), "Usage:skerrow directory or file...\n");
}
