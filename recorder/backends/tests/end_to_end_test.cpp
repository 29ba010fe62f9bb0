// The recorder as a process (brannock --headless --simulate) with simulated
// tuners: two USBXpress models on two channels and the driver tuner, played
// at 300 times broadcast speed across a broadcast midnight.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "station_stream.h"
#include "test_streams.h"

namespace {

namespace fs = std::filesystem;
using oneseg::CivilTime;
using oneseg::sim::ReadPacketTime;
using oneseg::sim::testing::SimpleStream;
using oneseg::sim::testing::TempDir;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ReadText(const fs::path& file) {
  const Bytes bytes = ReadFile(file);
  return std::string(bytes.begin(), bytes.end());
}

// The recordings of one channel, in day-folder and name order.
std::vector<fs::path> Recordings(const fs::path& folder, int channel, const std::string& extension) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with("_Ch" + std::to_string(channel) + extension)) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class RecorderEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // 37600 bit/s: 25 packets a second, a time packet every 5 s of broadcast.
    dir_.Write("ch27.ts", SimpleStream(500, 125, {2001, 1, 1, 0, 0, 0}));
    dir_.Write("ch35.ts", SimpleStream(250, 125, {2001, 1, 1, 0, 0, 0}));
    fs::create_directories(dir_.path() + "/cfg");
    fs::create_directories(dir_.path() + "/run");
    fs::create_directories(rec());
    std::ofstream(dir_.path() + "/cfg/OneSeg_Config.ini")
        << "[Config]\nTSFolder=" << rec() << "\n[TunerA0001]\nChannel=27\n[TunerM0001]\nChannel=35\n"
        << "[Tuner__._ISDBT]\nChannel=40\n";
  }

  std::string rec() const { return dir_.path() + "/rec"; }

  // Runs the recorder until `done` holds (at most 40 s), then stops it with SIGTERM.
  void Run(const std::string& start, const std::string& faultsA, const std::string& faultsMini,
           const std::function<bool()>& done) {
    dir_.WriteText("sim.json", R"({"speed": 300, "start": ")" + start + R"(",
      "stations": [{"channel": 27, "stream": "ch27.ts", "bitrate": 37600},
                   {"channel": 35, "stream": "ch35.ts", "bitrate": 37600},
                   {"channel": 40, "stream": "ch35.ts", "bitrate": 37600}],
      "devices": [{"model": "A", "serial": "A0001", "delivery_log": "a.log")" + faultsA + R"(},
                  {"model": "Mini", "serial": "M0001", "delivery_log": "m.log")" + faultsMini + R"(},
                  {"model": "other", "serial": "X0001"},
                  {"model": "driver"}]})");
    RunSimulation(done);
  }

  // Runs the recorder on sim.json until `done` holds (at most 40 s), then stops it with SIGTERM.
  void RunSimulation(const std::function<bool()>& done) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const std::string out = dir_.path() + "/out.txt";
      std::freopen(out.c_str(), "w", stdout);
      ::setenv("XDG_RUNTIME_DIR", (dir_.path() + "/run").c_str(), 1);  // our own instance lock
      ::setenv("ONESEG_TIME_SCALE", "0.01", 1);
      ::chdir(dir_.path().c_str());
      ::execl(BRANNOCK_EXE, BRANNOCK_EXE, "--headless", "--simulate", "sim.json", "--config-dir", "cfg",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    while (!done() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    output_ = ReadText(dir_.path() + "/out.txt");
    ASSERT_TRUE(WIFEXITED(status)) << output_;
    EXPECT_EQ(0, WEXITSTATUS(status)) << output_;
  }

  bool Exists(const std::string& relative) const { return fs::exists(rec() + "/" + relative); }
  // True once the channel has a recording whose period begins at `base` (yymmddhhm) or later.
  bool ReachedPeriod(int channel, const std::string& base) const {
    const auto files = fs::exists(rec()) ? Recordings(rec(), channel, ".ts") : std::vector<fs::path>{};
    return !files.empty() && files.back().stem().string() >= base + "_Ch";
  }

  // The channel's .ts files, concatenated in order.
  Bytes Recorded(int channel) {
    Bytes recorded;
    for (const fs::path& file : Recordings(rec(), channel, ".ts")) {
      const Bytes bytes = ReadFile(file);
      recorded.insert(recorded.end(), bytes.begin(), bytes.end());
    }
    return recorded;
  }

  // The intact packets of a delivery log (sequence number and packet per entry).
  std::vector<const std::uint8_t*> Delivered(const Bytes& log) {
    std::vector<const std::uint8_t*> packets;
    for (std::size_t at = 0; at + 196 <= log.size(); at += 196)
      if (log[at + 8] == 0x47) packets.push_back(&log[at + 8]);
    return packets;
  }

  // Every packet delivered from the first recorded one on is in the channel's
  // .ts files, byte for byte and in order, and nothing else is.
  void ExpectDeliveredPacketsRecorded(const std::string& log, int channel) {
    const Bytes delivered = ReadFile(dir_.path() + "/" + log);
    const Bytes recorded = Recorded(channel);
    ASSERT_EQ(0u, recorded.size() % 188);
    ASSERT_GE(recorded.size(), 188u);
    const auto packets = Delivered(delivered);
    const auto first = std::find_if(packets.begin(), packets.end(),
                                     [&](const std::uint8_t* p) { return std::memcmp(p, recorded.data(), 188) == 0; });
    ASSERT_NE(packets.end(), first);
    ASSERT_EQ(recorded.size() / 188, static_cast<std::size_t>(packets.end() - first));
    for (std::size_t i = 0; i < recorded.size() / 188; ++i)
      ASSERT_EQ(0, std::memcmp(first[static_cast<std::ptrdiff_t>(i)], &recorded[i * 188], 188)) << "packet " << i;
  }

  // The recorded packets are delivered ones in delivery order, with at most
  // `missing` delivered ones left out (while a released tuner had no file open).
  void ExpectRecordedInDeliveryOrder(const std::string& log, int channel, std::size_t missing) {
    const Bytes delivered = ReadFile(dir_.path() + "/" + log);
    const Bytes recorded = Recorded(channel);
    ASSERT_EQ(0u, recorded.size() % 188);
    const auto packets = Delivered(delivered);
    auto next = std::find_if(packets.begin(), packets.end(),
                             [&](const std::uint8_t* p) { return std::memcmp(p, recorded.data(), 188) == 0; });
    ASSERT_NE(packets.end(), next);
    const auto first = next;
    for (std::size_t i = 0; i < recorded.size() / 188; ++i, ++next) {
      next = std::find_if(next, packets.end(),
                          [&](const std::uint8_t* p) { return std::memcmp(p, &recorded[i * 188], 188) == 0; });
      ASSERT_NE(packets.end(), next) << "packet " << i << " was never delivered after its predecessor";
    }
    EXPECT_LE(static_cast<std::size_t>(packets.end() - first), recorded.size() / 188 + missing);
  }

  // Every index record names a time packet of its .ts file by offset and time,
  // and every file begins with a time packet of its own ten-minute period.
  void ExpectIndexesPointAtTimePackets(int channel) {
    for (const fs::path& idx : Recordings(rec(), channel, ".idx")) {
      fs::path ts = idx;
      ts.replace_extension(".ts");
      const Bytes records = ReadFile(idx);
      const Bytes stream = ReadFile(ts);
      ASSERT_EQ(0u, records.size() % 9);
      ASSERT_GE(records.size(), 9u) << idx;
      EXPECT_EQ(0u, records[5] | records[6] << 8 | records[7] << 16 | records[8] << 24) << idx;
      for (std::size_t r = 0; r < records.size(); r += 9) {
        const std::size_t offset = records[r + 5] | records[r + 6] << 8 | records[r + 7] << 16 |
                                   static_cast<std::size_t>(records[r + 8]) << 24;
        ASSERT_LE(offset + 188, stream.size());
        ASSERT_EQ(0x47, stream[offset]);
        EXPECT_EQ(0x14, stream[offset + 2]);
        EXPECT_EQ(0, std::memcmp(&records[r], &stream[offset + 8], 5)) << idx << " record " << r / 9;
      }
      CivilTime t;
      ASSERT_TRUE(ReadPacketTime(stream.data(), t));
      char base[64];
      std::snprintf(base, sizeof base, "%02d%02d%02d%02d%d", t.year % 100, t.month, t.day, t.hour, t.minute / 10);
      EXPECT_EQ(std::string(base) + "_Ch" + std::to_string(channel), idx.stem().string());
      EXPECT_EQ(std::string(base).substr(0, 6), idx.parent_path().filename().string());
    }
  }

  int Count(const std::string& line) const {
    int n = 0;
    for (std::size_t at = output_.find(line); at != std::string::npos; at = output_.find(line, at + 1)) ++n;
    return n;
  }

  TempDir dir_;
  std::string output_;
};

TEST_F(RecorderEndToEnd, RecordsTwoTunersIntoRotatingFilesAcrossMidnight) {
  Run("2008-12-06 23:35:00", "", "",
      [&] { return ReachedPeriod(27, "081207002") && ReachedPeriod(35, "081207002"); });
  // The supervisor takes one step a second: the first tuner streams after about
  // two seconds (ten broadcast minutes), the second two seconds later.
  EXPECT_FALSE(Recordings(rec() + "/081206", 27, ".ts").empty()) << output_;
  EXPECT_TRUE(Exists("081207/081207000_Ch27.ts"));
  EXPECT_TRUE(Exists("081207/081207001_Ch27.ts"));
  EXPECT_TRUE(Exists("081207/081207001_Ch35.ts"));
  ExpectDeliveredPacketsRecorded("a.log", 27);
  ExpectDeliveredPacketsRecorded("m.log", 35);
  ExpectIndexesPointAtTimePackets(27);
  ExpectIndexesPointAtTimePackets(35);
  // The driver tuner boots and tunes, but its driver carries no stream: no file of its own.
  EXPECT_EQ(1, Count("__._ISDBT：初期化完了")) << output_;
  EXPECT_EQ(0, Count("__._ISDBT：放送受信"));
  EXPECT_TRUE(Recordings(rec(), 40, ".ts").empty());
  EXPECT_EQ(0, Count("X0001"));  // not a tuner
  // A full ten-minute file holds 600 s × 25 packets; the middle ones are complete.
  EXPECT_EQ(600u * 25 * 188, fs::file_size(rec() + "/081207/081207001_Ch27.ts"));
  EXPECT_EQ(600u * 25 * 188, fs::file_size(rec() + "/081207/081207001_Ch35.ts"));
}

TEST_F(RecorderEndToEnd, SupervisorRecoversFromInjectedFaults) {
  // Seconds of the recorder's clock: 1 s is 5 minutes of broadcast. Both tuners
  // stream from about 4 s on (one supervisor step a second). Then the first
  // one's queue query fails and the second one is unplugged for two seconds.
  Run("2008-12-07 10:00:00",
      R"(, "faults": [{"type": "corrupt_units", "at": 3.5, "duration": 0.5},
                      {"type": "rx_queue_fail", "at": 4, "duration": 0.5}])",
      R"(, "faults": [{"type": "vanish", "at": 4.5, "duration": 2}])",
      [&] { return ReachedPeriod(27, "081207104") && ReachedPeriod(35, "081207104"); });
  EXPECT_GE(Count("A0001：チューナー停止"), 1) << output_;
  EXPECT_GE(Count("A0001：初期化完了"), 2) << output_;
  EXPECT_GT(output_.rfind("A0001：放送受信"), output_.rfind("A0001：チューナー停止"));  // recording resumed
  EXPECT_EQ(1, Count("チューナー取り外し：M0001")) << output_;
  EXPECT_EQ(2, Count("チューナー検出：M0001"));
  const std::size_t unplugged = output_.find("チューナー取り外し：M0001");
  EXPECT_NE(std::string::npos, output_.find("M0001：初期化完了", unplugged));  // booted afresh
  EXPECT_GT(output_.rfind("M0001：放送受信"), unplugged);
  // The first tuner's files stayed open through the failure: recording went on in them.
  ExpectDeliveredPacketsRecorded("a.log", 27);
  ExpectIndexesPointAtTimePackets(27);
  // The unplugged tuner's files were closed with it; the packets it delivered
  // after coming back and before its next time packet (5 s of broadcast) are not kept.
  ExpectRecordedInDeliveryOrder("m.log", 35, 5 * 25);
  ExpectIndexesPointAtTimePackets(35);
}

// A station clock that stays three years ahead for a while: its time packets
// confirm each other, but retention does not take them from one channel
// against the (simulated) PC's clock, so today's recordings stay.
TEST_F(RecorderEndToEnd, AStationClockYearsAheadDeletesNothing) {
  std::ofstream(dir_.path() + "/cfg/OneSeg_Config.ini")
      << "[Config]\nTSFolder=" << rec() << "\nRecDays=1\n[TunerA0001]\nChannel=27\n";
  const std::vector<std::string> today = {"261207/261207120_Ch27.ts", "261207/261207120_Ch27.idx",
                                          "261207/261207121_Ch27.ts"};
  for (const std::string& file : today) {
    fs::create_directories(fs::path(rec() + "/" + file).parent_path());
    std::ofstream(rec() + "/" + file) << "recorded";
  }
  dir_.WriteText("sim.json", R"({"speed": 1, "start": "2026-12-07 15:00:00",
    "stations": [{"channel": 27, "stream": "ch27.ts", "bitrate": 37600}],
    "devices": [{"model": "A", "serial": "A0001",
                 "faults": [{"type": "time_jump", "at": 20, "duration": 30, "offset": 94608000}]}]})");
  const std::string held = "がPCの時計と合わないため古い録画を削除しません";
  std::optional<std::chrono::steady_clock::time_point> heldSince;
  // Until ten seconds of time packets three years ahead have come (the
  // second confirmed the first, which once deleted every recording).
  RunSimulation([&] {
    if (!heldSince && ReadText(dir_.path() + "/out.txt").find(held) != std::string::npos) {
      heldSince = std::chrono::steady_clock::now();
    }
    return heldSince && std::chrono::steady_clock::now() - *heldSince > std::chrono::seconds(10);
  });
  EXPECT_EQ(1, Count("古い録画を削除：26/12/07 15:00")) << output_;  // the true time swept
  EXPECT_EQ(0, Count("古い録画を削除：29/")) << output_;
  EXPECT_EQ(1, Count("\n放送時刻 29/12/06 15:00:")) << output_;  // said once...
  EXPECT_EQ(1, Count("通知：放送時刻 29/12/06 15:00:")) << output_;  // ...and notified
  EXPECT_GE(Count("A0001：放送受信：29/12/06"), 1);  // recorded on meanwhile
  for (const std::string& file : today) EXPECT_TRUE(Exists(file)) << file;
}

}  // namespace
