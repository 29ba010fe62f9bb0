// pellatt following the recorder as real processes: oneseg-synth makes the
// recordings, the suite's skerrow analyses them, pellatt --batch --continue
// builds the pages. Thumbnails are left out (an interval past the range), so
// no ffmpeg is needed; ONESEG_TIME_SCALE=0.1 shortens the programs' waits.
#include <iconv.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "fakes.h"
#include "recording_name.h"

extern char** environ;

namespace pellatt::testing {
namespace {

using nlohmann::json;

std::string quote(const std::string& text) { return "'" + text + "'"; }

int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `seconds` of ひばりテレビ without picture from `start` (Japan time) into `out`.
void synthesize(const std::string& out, const std::string& start, int seconds) {
  ASSERT_EQ(shell(std::string(SYNTH_EXE) + " " + SCENARIO + " -o " + quote(out) + " --start " + start +
                  " --duration " + std::to_string(seconds) + " --no-picture > /dev/null"),
            0);
}

std::string pellatt_command(const std::string& ts, const std::string& log) {
  return "exec env ONESEG_TIME_SCALE=0.1 timeout 300 " + quote(PELLATT_PATH) + " --batch " + quote(ts) +
         " --continue --interval 1000 > " + quote(log) + " 2>&1";
}

std::string euc_to_utf8(const std::string& text) {
  iconv_t cd = iconv_open("UTF-8", "EUC-JP");
  std::string out(text.size() * 2 + 16, '\0');
  char* in_at = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char* out_at = out.data();
  size_t out_left = out.size();
  iconv(cd, &in_at, &in_left, &out_at, &out_left);
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// "HH:MM:SS text" of every caption the synthesiser put into a stream.
std::vector<std::string> truth_lines(const std::string& ts) {
  const json truth = json::parse(read_file(ts.substr(0, ts.size() - 3) + ".truth.json"));
  std::vector<std::string> lines;
  for (const json& c : truth["captions"]) lines.push_back(c["time"].get<std::string>() + " " + c["text"].get<std::string>());
  return lines;
}

class Following : public ::testing::Test {
 protected:
  TempFolder work;
  std::string rec = work / "rec";
  void SetUp() override { ::mkdir(rec.c_str(), 0777); }
  std::string day(const std::string& yymmdd) {
    ::mkdir((rec + "/" + yymmdd).c_str(), 0777);
    return rec + "/" + yymmdd + "/";
  }
};

TEST_F(Following, ContinuousRunCrossesMidnightAndEndsByItself) {
  const std::string first = day("261207") + "261207235_Ch27.ts";
  const std::string second = day("261208") + "261208000_Ch27.ts";
  const std::string third = rec + "/261208/261208001_Ch27.ts";
  synthesize(first, "2026-12-07T23:50:00", 600);
  synthesize(second, "2026-12-08T00:00:00", 600);
  synthesize(third, "2026-12-08T00:10:00", 600);
  ASSERT_EQ(shell(pellatt_command(first, work / "log.txt")), 0) << read_file(work / "log.txt");

  const std::string log = read_file(work / "log.txt");
  for (const std::string& ts : {first, second, third}) {
    EXPECT_NE(log.find(ts + "の処理開始"), std::string::npos) << ts;
    // Every page shows its recording's captions.
    const auto sub = lines_of(read_file(change_ext(ts, ".sub")));
    ASSERT_GT(sub.size(), 5u) << ts;
    const std::string page = read_file(change_ext(ts, ".html"));
    EXPECT_NE(page.find("\r\n" + sub[sub.size() / 2].substr(9) + "\r\n"), std::string::npos) << ts;
  }
  const std::string before = read_file(change_ext(first, ".html"));
  const std::string after = read_file(change_ext(second, ".html"));
  EXPECT_NE(before.find("<a href='../261208/261208000_Ch27.html'>next</a></br>"), std::string::npos);
  EXPECT_NE(after.find("<a href='../261207/261207235_Ch27.html'>back</a>"), std::string::npos);
  EXPECT_NE(after.find("<a href='261208001_Ch27.html'>next</a></br>"), std::string::npos);
}

// The recording is named for ten minutes still to come, as a live one is, so
// only the next recording tells pellatt it is finished.
TEST_F(Following, DropOutInALiveRecordingKeepsEveryCaption) {
  const std::time_t period = (std::time(nullptr) + 600) / 600 * 600;
  const std::time_t japan = period + 9 * 3600;
  std::tm parts{};
  gmtime_r(&japan, &parts);
  char name[16];
  std::strftime(name, sizeof name, "%y%m%d%H", &parts);
  const std::string base = day(std::string(name).substr(0, 6)) + name + std::to_string(parts.tm_min / 10) + "_Ch27";
  const std::string ts = base + ".ts";
  // Four minutes, 20 s without signal, then the rest of the ten minutes.
  synthesize(work / "before.ts", "2026-12-07T06:00:00", 240);
  synthesize(work / "after.ts", "2026-12-07T06:04:20", 340);
  const std::string before = read_file(work / "before.ts");
  const std::string after = read_file(work / "after.ts");

  std::ofstream out(ts, std::ios::binary);
  const auto feed = [&](const std::string& bytes, size_t from) {
    for (size_t at = from; at < bytes.size(); at += bytes.size() / 8) {
      out.write(bytes.data() + at, static_cast<std::streamsize>(std::min(bytes.size() - at, bytes.size() / 8)));
      out.flush();
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
  };
  out.write(before.data(), static_cast<std::streamsize>(before.size() / 2));
  out.flush();
  const std::string command = pellatt_command(ts, work / "log.txt");
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  feed(before, before.size() / 2);
  std::this_thread::sleep_for(std::chrono::seconds(3));  // 30 s of pellatt's scaled time
  feed(after, 0);
  out.close();
  write_file(neighbour_base(base, start_minutes_of(file_name_of(base)), 10) + ".ts", "");

  for (int i = 0; i < 600 && !exists(base + ".html"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::kill(pid, SIGTERM);  // it now waits for the next recording to be finished (timeout passes it on)
  ::waitpid(pid, nullptr, 0);
  ASSERT_TRUE(exists(base + ".html")) << read_file(work / "log.txt");

  std::vector<std::string> expected = truth_lines(work / "before.ts");
  for (const auto& line : truth_lines(work / "after.ts")) expected.push_back(line);
  ASSERT_GT(expected.size(), 20u);
  EXPECT_EQ(lines_of(euc_to_utf8(read_file(base + ".sub"))), expected);
}

}  // namespace
}  // namespace pellatt::testing
