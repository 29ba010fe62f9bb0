// The road of a recording through the whole suite, with every program as a
// real process: oneseg-synth makes two stations from their scenarios,
// brannock records them with simulated tuners at high speed, skerrow analyses
// the recordings, pellatt builds the pages, chromium renders one, and
// make_index.sh lists them all. Everything is checked against the
// synthesiser's truth files. ONESEG_E2E_KEEP=1 keeps the work folder;
// ONESEG_E2E_SCREENSHOT=FILE.png also has chromium draw one page.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "broadcast_time.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPacket = 188;
constexpr std::uintmax_t kAnalyserMinimum = 6'240'000;
// The stretch of the scenarios the tuners play. The tuners boot during its
// first minutes; then up to three ten-minute periods are recorded, the first
// and the last of them partly.
constexpr const char* kWindowStart = "2026-12-07T06:01:00";
constexpr const char* kSimStart = "2026-12-07 06:01:00";
constexpr const char* kWindowLength = "00:23:00";
constexpr const char* kStopAt = "26/12/07 06:22:";  // broadcast time at which the recorder is stopped
constexpr const char* kLastPeriod = "261207062";
constexpr int kSpeed = 60;

struct Station {
  int channel;
  const char* scenario;
  const char* serial;  // the simulated tuner that plays it
};
const Station kStations[] = {{27, "hibari_ch27_day.json", "A0001"}, {22, "minato_ch22_day.json", "M0001"}};

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

Bytes ReadBytes(const fs::path& file) {
  const std::string text = ReadText(file);
  return Bytes(text.begin(), text.end());
}

std::string Quote(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command line; returns its exit status (-1 when it did not exit).
int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Convert(const std::string& text, const char* from, const char* to) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<iconv unavailable>";
  std::string out(text.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size(), out_left = out.size();
  char* o = out.data();
  const std::size_t r = iconv(cd, &in, &in_left, &o, &out_left);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1)) return "<not convertible: " + text + ">";
  out.resize(out.size() - out_left);
  return out;
}
std::string Euc(const std::string& utf8) { return Convert(utf8, "UTF-8", "EUC-JP"); }

std::vector<std::string> Lines(const std::string& text) {  // CR LF or LF ends
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// "2026-12-07T06:00:15" from the five JST_time bytes.
std::string JstText(const std::uint8_t* five) {
  oneseg::CivilTime t;
  if (!oneseg::decode_jst_time(five, t)) return "invalid";
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return text;
}

// Seconds since midnight of "...THH:MM:SS" (all times here lie on one day).
int SecondsOfDay(const std::string& t) {
  const std::size_t at = t.find('T') + 1;
  return std::stoi(t.substr(at, 2)) * 3600 + std::stoi(t.substr(at + 3, 2)) * 60 + std::stoi(t.substr(at + 6, 2));
}

// The recording base name (yymmddhhm) of a broadcast time "YYYY-MM-DDTHH:MM:SS".
std::string PeriodName(const std::string& t) {
  return t.substr(2, 2) + t.substr(5, 2) + t.substr(8, 2) + t.substr(11, 2) + t.substr(14, 1);
}

// "2026-12-07T06:00:00" -> "2026/12/7 06:00:00", the listing's StartTime form.
std::string ListingTime(const std::string& t) {
  return t.substr(0, 4) + "/" + std::to_string(std::stoi(t.substr(5, 2))) + "/" +
         std::to_string(std::stoi(t.substr(8, 2))) + " " + t.substr(11);
}

struct Recording {
  fs::path ts;
  std::string base;      // e.g. 261207060_Ch27
  std::string first_time, last_time;  // broadcast times of its first and last index record
  fs::path With(const std::string& extension) const {
    fs::path p = ts;
    return p.replace_extension(extension);
  }
};

// The suite's run, made once for all the checks below.
class RoadOfARecording : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    work_ = new fs::path(fs::temp_directory_path() / ("oneseg_e2e_" + std::to_string(::getpid())));
    fs::remove_all(*work_);
    for (const char* sub : {"streams", "cfg", "run", "rec", "chromium"}) fs::create_directories(*work_ / sub);
    problem_ = new std::string(Synthesise());
    if (problem_->empty()) *problem_ = Record();
    if (problem_->empty()) *problem_ = AnalyseAndBuildPages();
  }
  static void TearDownTestSuite() {
    if (std::getenv("ONESEG_E2E_KEEP") == nullptr) fs::remove_all(*work_);
    delete work_;
    delete problem_;
  }
  void SetUp() override { ASSERT_EQ(*problem_, "") << "while preparing " << work_->string(); }

  static fs::path W(const std::string& relative) { return *work_ / relative; }

  static std::string Synthesise() {
    std::string command;
    for (const Station& s : kStations)
      command += Quote(SYNTH_EXE) + " " + Quote(std::string(SCENARIO_DIR) + "/" + s.scenario) + " -o " +
                 Quote(W("streams/ch" + std::to_string(s.channel) + ".ts")) + " --picture --start " + kWindowStart +
                 " --duration " + kWindowLength + " > " + Quote(W("synth_" + std::to_string(s.channel) + ".log")) +
                 " 2>&1 & ";
    // Both at once, and the status of each.
    command += "a=0; for p in $(jobs -p); do wait $p || a=1; done; exit $a";
    if (Shell("bash -c " + Quote(command)) != 0)
      return "oneseg-synth failed: " + ReadText(W("synth_27.log")) + ReadText(W("synth_22.log"));
    return "";
  }

  static std::string Record() {
    std::ofstream(W("cfg/OneSeg_Config.ini")) << "[Config]\nTSFolder=" << W("rec").string()
                                               << "\nRecDays=3650\n[TunerA0001]\nChannel=27\n[TunerM0001]\n"
                                                  "Channel=22\n[Tuner__._ISDBT]\nChannel=27\n";
    std::ofstream(W("sim.json")) << R"({"speed": )" << kSpeed << R"(, "start": ")" << kSimStart << R"(",
      "stations": [{"channel": 27, "stream": "streams/ch27.ts", "bitrate": 416000},
                   {"channel": 22, "stream": "streams/ch22.ts", "bitrate": 416000}],
      "devices": [{"model": "A", "serial": "A0001", "queue_bytes": 67108864},
                  {"model": "Mini", "serial": "M0001", "queue_bytes": 67108864},
                  {"model": "driver"}]})";
    const pid_t pid = ::fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
      const int out = ::open(W("brannock.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(out, 2);
      ::setenv("XDG_RUNTIME_DIR", W("run").c_str(), 1);  // our own instance lock
      ::setenv("ONESEG_TIME_SCALE", "0.01", 1);
      ::execl(BRANNOCK_EXE, BRANNOCK_EXE, "--headless", "--simulate", W("sim.json").c_str(), "--config-dir",
              W("cfg").c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool reached = false;
    while (!reached && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const std::string log = ReadText(W("brannock.log"));
      reached = Count(log, std::string("A0001：放送受信：") + kStopAt) > 0 &&
                Count(log, std::string("M0001：放送受信：") + kStopAt) > 0;
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!reached) return "the recorder did not reach " + std::string(kStopAt) + ":\n" + ReadText(W("brannock.log"));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the recorder did not stop cleanly";
    return "";
  }

  static std::string AnalyseAndBuildPages() {
    const std::string env = "cd " + Quote(work_->string()) + " && ONESEG_TIME_SCALE=0.01 ";
    if (Shell(env + Quote(SKERROW_EXE) + " " + Quote(W("rec").string()) + " > skerrow.log 2>&1") != 0)
      return "skerrow failed: " + ReadText(W("skerrow.log"));
    for (const Station& s : kStations) {
      // From the first recording long enough for the analyser.
      const auto recordings = RecordingsOf(s.channel);
      const auto first = std::find_if(recordings.begin(), recordings.end(),
                                      [](const Recording& r) { return fs::file_size(r.ts) >= kAnalyserMinimum; });
      if (first == recordings.end()) return "nothing to analyse on channel " + std::to_string(s.channel);
      const std::string log = "pellatt_" + std::to_string(s.channel) + ".log";
      const int status = Shell(env + Quote(PELLATT_EXE) + " --batch " + Quote(first->ts.string()) +
                             " --continue --fast-thumbnails --interval 30 > " + log + " 2>&1");
      if (status != 0) return "pellatt ended with " + std::to_string(status) + ": " + ReadText(W(log));
    }
    return "";
  }

  // The recordings of a channel in time order, with their index times.
  static std::vector<Recording> RecordingsOf(int channel) {
    std::vector<Recording> out;
    for (const auto& entry : fs::recursive_directory_iterator(W("rec"))) {
      const std::string name = entry.path().filename().string();
      if (!name.ends_with("_Ch" + std::to_string(channel) + ".ts")) continue;
      Recording r{entry.path(), entry.path().stem().string(), "", ""};
      const Bytes idx = ReadBytes(r.With(".idx"));
      if (idx.size() >= 9) {
        r.first_time = JstText(&idx[0]);
        r.last_time = JstText(&idx[idx.size() - 9]);
      }
      out.push_back(r);
    }
    std::sort(out.begin(), out.end(), [](const Recording& a, const Recording& b) { return a.base < b.base; });
    return out;
  }

  static json Truth(int channel) {
    return json::parse(ReadText(W("streams/ch" + std::to_string(channel) + ".truth.json")));
  }

  // The .sub lines a recording must hold: every caption of the scenario shown
  // between its first and its last time packet. A caption stamped with the
  // very last time packet of the channel may have come after the recorder
  // stopped; it is `optional`.
  struct ExpectedCaptions {
    std::vector<std::string> lines, optional;
  };
  static ExpectedCaptions CaptionsOf(const json& truth, const Recording& r, bool last_of_channel) {
    ExpectedCaptions e;
    for (const json& c : truth["captions"]) {
      const std::string t = c["broadcast_time"];
      const std::string line = c["time"].get<std::string>() + " " + c["text"].get<std::string>();
      if (t >= r.first_time && (t < r.last_time || (t == r.last_time && !last_of_channel))) e.lines.push_back(line);
      if (t == r.last_time && last_of_channel) e.optional.push_back(line);
    }
    return e;
  }

  static fs::path* work_;
  static std::string* problem_;
};

fs::path* RoadOfARecording::work_ = nullptr;
std::string* RoadOfARecording::problem_ = nullptr;

TEST_F(RoadOfARecording, RecordingsAreNamedByBroadcastTimeInTheirDayFolder) {
  std::size_t files = 0;
  for (const Station& s : kStations) {
    const std::string ch = "_Ch" + std::to_string(s.channel);
    const auto recordings = RecordingsOf(s.channel);
    ASSERT_GE(recordings.size(), 2u) << "channel " << s.channel;
    EXPECT_EQ(recordings.back().base, kLastPeriod + ch);
    for (std::size_t i = 0; i < recordings.size(); ++i) {
      const Recording& r = recordings[i];
      EXPECT_EQ(r.ts.parent_path(), W("rec/261207")) << r.ts;
      // Each file is opened by the first time packet of its own ten-minute period.
      EXPECT_EQ(PeriodName(r.first_time) + ch, r.base);
      EXPECT_EQ(PeriodName(r.last_time) + ch, r.base);
      const std::string period_start = r.first_time.substr(0, 15) + "0:00";
      const std::string period_last = r.first_time.substr(0, 15) + "9:55";  // time packets every 5 s
      if (i > 0) {
        EXPECT_EQ(r.first_time, period_start) << r.base << " lost its beginning";
        EXPECT_EQ(SecondsOfDay(r.first_time) - SecondsOfDay(recordings[i - 1].first_time.substr(0, 15) + "0:00"), 600)
            << r.base << " does not follow " << recordings[i - 1].base;
      }
      if (i + 1 < recordings.size()) {
        EXPECT_EQ(r.last_time, period_last) << r.base << " lost its end";
      }
    }
    files += recordings.size();
  }
  // The driver tuner carries no stream and makes no file; nothing else was recorded.
  std::size_t all = 0;
  for (const auto& entry : fs::recursive_directory_iterator(W("rec"))) all += entry.path().extension() == ".ts";
  EXPECT_EQ(all, files);
}

TEST_F(RoadOfARecording, IndexRecordsPointAtEveryTimePacketAndTheStreamIsRecordedWhole) {
  for (const Station& s : kStations) {
    const Bytes stream = ReadBytes(W("streams/ch" + std::to_string(s.channel) + ".ts"));
    Bytes recorded;
    for (const Recording& r : RecordingsOf(s.channel)) {
      const Bytes ts = ReadBytes(r.ts);
      const Bytes idx = ReadBytes(r.With(".idx"));
      ASSERT_EQ(ts.size() % kPacket, 0u) << r.base;
      ASSERT_EQ(idx.size() % 9, 0u) << r.base;
      ASSERT_GE(idx.size(), 9u) << r.base;
      // Every time packet of the file has its record, in order, and nothing else has one.
      std::vector<std::size_t> time_packets;
      for (std::size_t at = 0; at < ts.size(); at += kPacket)
        if (ts[at] == 0x47 && (ts[at + 1] & 0x1F) == 0 && ts[at + 2] == 0x14 && ts[at + 5] == 0x73)
          time_packets.push_back(at);
      ASSERT_EQ(time_packets.size(), idx.size() / 9) << r.base;
      std::string previous;
      for (std::size_t i = 0; i < time_packets.size(); ++i) {
        const std::uint8_t* rec = &idx[i * 9];
        const std::size_t offset = rec[5] | rec[6] << 8 | rec[7] << 16 | static_cast<std::size_t>(rec[8]) << 24;
        EXPECT_EQ(offset, time_packets[i]) << r.base << " record " << i;
        EXPECT_EQ(0, std::memcmp(rec, &ts[time_packets[i] + 8], 5)) << r.base << " record " << i;
        // The stream sends its time every 5 s: no time packet was lost.
        const std::string t = JstText(rec);
        if (!previous.empty()) {
          EXPECT_EQ(SecondsOfDay(t) - SecondsOfDay(previous), 5) << r.base << " at " << t;
        }
        previous = t;
      }
      EXPECT_EQ(time_packets.front(), 0u) << r.base << " starts with the packet that opened it";
      recorded.insert(recorded.end(), ts.begin(), ts.end());
    }
    // The recordings of a channel joined are one stretch of the synthesised
    // stream, byte for byte: the tuner re-stamps the time packets with the
    // same clock the stream carries.
    ASSERT_GE(stream.size(), recorded.size());
    std::size_t start = stream.size();
    for (std::size_t at = 0; at + kPacket <= stream.size() && start == stream.size(); at += kPacket)
      if (std::memcmp(&stream[at], recorded.data(), kPacket) == 0) start = at;
    ASSERT_LT(start, stream.size()) << "channel " << s.channel << ": first recorded packet not in the stream";
    ASSERT_LE(start + recorded.size(), stream.size());
    const auto difference = std::mismatch(recorded.begin(), recorded.end(), stream.begin() + static_cast<long>(start));
    EXPECT_EQ(difference.first, recorded.end())
        << "channel " << s.channel << ": packet " << (difference.first - recorded.begin()) / kPacket << " differs";
  }
}

TEST_F(RoadOfARecording, ListingsHoldTheScenarioProgrammes) {
  for (const Station& s : kStations) {
    const json truth = Truth(s.channel);
    const std::string station = truth["station"]["name"];
    for (const Recording& r : RecordingsOf(s.channel)) {
      if (fs::file_size(r.ts) < kAnalyserMinimum) {
        EXPECT_FALSE(fs::exists(r.With(".eit"))) << r.base << " is too small to be analysed";
        continue;
      }
      const std::string listing = ReadText(r.With(".eit"));
      ASSERT_FALSE(listing.empty()) << r.base;
      EXPECT_EQ(Count(listing, "\n"), Count(listing, "\r\n")) << "CR LF line ends";
      std::size_t blocks = 0;
      for (const json& e : truth["events"]) {
        const std::string start = e["start"];
        const std::string block = "StartTime: " + ListingTime(start) + "\r\nDuration: " +
                                  e["duration"].get<std::string>() + "\r\nProviderName: " + Euc(station) +
                                  "\r\nEventName: " + Euc(e["name"]) + "\r\nEventDesc: " + Euc(e["description"]) +
                                  "\r\nContentNibble:";
        const std::size_t n = Count(listing, block);
        EXPECT_LE(n, 1u) << r.base << ": " << e["name"] << " listed twice";
        blocks += n;
        // The programme on air during the recording is always listed.
        const int begins = SecondsOfDay(start), ends = begins + SecondsOfDay("T" + e["duration"].get<std::string>());
        const bool on_air = begins <= SecondsOfDay(r.last_time) && ends > SecondsOfDay(r.first_time);
        if (on_air) {
          EXPECT_EQ(n, 1u) << r.base << " lacks " << e["name"] << "\n" << Convert(listing, "EUC-JP", "UTF-8");
        }
      }
      // Nothing but the scenario's programmes: one block per "-" end line.
      EXPECT_EQ(blocks, Count(listing, "\r\n-\r\n")) << Convert(listing, "EUC-JP", "UTF-8");
    }
  }
}

TEST_F(RoadOfARecording, EveryCaptionIsInItsRecordingsSubFileAtItsTime) {
  for (const Station& s : kStations) {
    const json truth = Truth(s.channel);
    const auto recordings = RecordingsOf(s.channel);
    std::size_t checked = 0;
    for (std::size_t i = 0; i < recordings.size(); ++i) {
      const Recording& r = recordings[i];
      if (fs::file_size(r.ts) < kAnalyserMinimum) {
        EXPECT_FALSE(fs::exists(r.With(".sub"))) << r.base;
        continue;
      }
      const ExpectedCaptions expected = CaptionsOf(truth, r, i + 1 == recordings.size());
      std::vector<std::string> got;
      for (const std::string& line : Lines(ReadText(r.With(".sub")))) got.push_back(Convert(line, "EUC-JP", "UTF-8"));
      // A caption the recorder may or may not have caught before it stopped.
      if (got.size() > expected.lines.size() &&
          std::find(expected.optional.begin(), expected.optional.end(), got.back()) != expected.optional.end())
        got.pop_back();
      EXPECT_EQ(got, expected.lines) << r.base;
      EXPECT_GT(expected.lines.size(), 5u) << r.base;
      checked += expected.lines.size();
    }
    EXPECT_GT(checked, 40u) << "channel " << s.channel;
  }
}

// The page of every analysed recording: its captions in time order, the
// thumbnails, and the links to the recording and to its neighbours.
TEST_F(RoadOfARecording, PagesShowTheCaptionsAndLinkBackAndNext) {
  for (const Station& s : kStations) {
    const std::string ch = "_Ch" + std::to_string(s.channel);
    for (const Recording& r : RecordingsOf(s.channel)) {
      if (fs::file_size(r.ts) < kAnalyserMinimum) continue;
      const std::string page = ReadText(r.With(".html"));
      ASSERT_FALSE(page.empty()) << r.base;
      EXPECT_EQ(page.rfind("<?xml version=\"1.0\" encoding=\"EUC-JP\"?>\r\n", 0), 0u);
      EXPECT_EQ(Count(page, "<a href='" + r.base + ".ts'>ts file</a></br>"), 2u) << r.base;
      // Back and next are the pages ten minutes before and after, in the same folder.
      const int period = std::stoi(r.base.substr(6, 3));  // hhm
      const auto neighbour = [&](int step) {
        const int minutes = (period / 10) * 60 + period % 10 * 10 + step;
        char hhm[32];
        std::snprintf(hhm, sizeof hhm, "%02d%d", minutes / 60, minutes % 60 / 10);
        return r.base.substr(0, 6) + hhm + ch + ".html";
      };
      EXPECT_EQ(Count(page, "<a href='" + neighbour(-10) + "'>back</a>\r\n<a href='" + neighbour(10) +
                                "'>next</a></br>"),
                2u)
          << r.base;
      // Every caption line of the .sub, in its order.
      std::size_t at = 0, captions = 0;
      for (const std::string& line : Lines(ReadText(r.With(".sub")))) {
        const std::size_t found = page.find("\r\n" + line.substr(9) + "\r\n", at);
        ASSERT_NE(found, std::string::npos) << r.base << ": " << Convert(line, "EUC-JP", "UTF-8");
        at = found + 1;
        ++captions;
      }
      EXPECT_GT(captions, 5u);
      // Thumbnails every 30 s, each a picture file.
      const std::string first_thumb = r.base + "thm/30.jpg";
      EXPECT_NE(page.find("<img src=\"" + first_thumb + "\">"), std::string::npos) << r.base;
      EXPECT_EQ(ReadText(r.ts.parent_path() / first_thumb).substr(0, 2), "\xff\xd8");
    }
  }
}

// chromium decodes the EUC-JP page; the text it shows holds the captions.
TEST_F(RoadOfARecording, BrowserShowsTheCaptions) {
  if (Shell("command -v chromium > /dev/null") != 0) GTEST_SKIP() << "chromium is not installed";
  const auto recordings = RecordingsOf(27);
  const Recording r = *std::max_element(recordings.begin(), recordings.end(), [](const auto& a, const auto& b) {
    return fs::file_size(a.ts) < fs::file_size(b.ts);
  });
  const std::string flags =
      "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking "
      "--disable-component-update --disable-sync --user-data-dir=" + Quote(W("chromium").string()) + " ";
  const std::string url = Quote("file://" + r.With(".html").string());
  ASSERT_EQ(Shell(flags + "--dump-dom " + url + " > " + Quote(W("dom.html").string()) + " 2> /dev/null"), 0);
  const std::string dom = ReadText(W("dom.html"));
  ASSERT_NE(dom.find("<table"), std::string::npos) << dom.substr(0, 400);
  std::size_t at = 0;
  for (const std::string& line : Lines(ReadText(r.With(".sub")))) {
    const std::string text = Convert(line.substr(9), "EUC-JP", "UTF-8");
    const std::size_t found = dom.find(text, at);
    ASSERT_NE(found, std::string::npos) << text;
    at = found;
  }
  EXPECT_EQ(dom.find("\xef\xbf\xbd"), std::string::npos) << "replacement characters: wrong decoding";
  if (const char* shot = std::getenv("ONESEG_E2E_SCREENSHOT"))
    Shell(flags + "--window-size=1200,1600 --screenshot=" + Quote(shot) + " " + url + " 2> /dev/null");
}

TEST_F(RoadOfARecording, IndexListsStationsRecordingsProgrammesAndPages) {
  ASSERT_EQ(Shell(Quote(MAKE_INDEX) + " " + Quote(W("rec").string()) + " " + Quote(W("index.html").string())), 0);
  const std::string index = ReadText(W("index.html"));
  EXPECT_NE(index.find("<meta charset=\"UTF-8\">"), std::string::npos);
  for (const Station& s : kStations) {
    const json truth = Truth(s.channel);
    EXPECT_EQ(Count(index, "<h2 id=\"ch" + std::to_string(s.channel) + "\">" +
                               truth["station"]["name"].get<std::string>() + "（" + std::to_string(s.channel) +
                               " ch）</h2>"),
              1u);
    for (const Recording& r : RecordingsOf(s.channel)) {
      const std::string link = "rec/261207/" + r.base;
      const std::size_t at = index.find("<a href=\"" + link + ".ts\">ts</a>");
      ASSERT_NE(at, std::string::npos) << r.base;
      const std::size_t row = index.rfind("<tr><td>", at);
      ASSERT_NE(row, std::string::npos);
      const std::string cells = index.substr(row, at - row);
      if (fs::file_size(r.ts) < kAnalyserMinimum) {
        EXPECT_EQ(cells.find("<li>"), std::string::npos) << r.base << " has no listing";
        continue;
      }
      EXPECT_NE(cells.find("<a href=\"" + link + ".html\">" + r.base + "</a>"), std::string::npos) << cells;
      EXPECT_NE(cells.find("<td>" + std::to_string(Lines(ReadText(r.With(".sub"))).size()) + "</td>"),
                std::string::npos)
          << "caption count of " << r.base;
      // The programmes on the air during its ten minutes, in time order, and no others.
      const int period = SecondsOfDay(r.first_time.substr(0, 15) + "0:00");
      std::vector<json> events(truth["events"].begin(), truth["events"].end());
      std::sort(events.begin(), events.end(), [](const json& a, const json& b) { return a["start"] < b["start"]; });
      std::size_t after = 0;
      for (const json& e : events) {
        const int begins = SecondsOfDay(e["start"]), ends = begins + SecondsOfDay("T" + e["duration"].get<std::string>());
        const std::size_t found = cells.find("<b>" + e["name"].get<std::string>() + "</b>");
        if (begins < period + 600 && ends > period) {
          EXPECT_NE(found, std::string::npos) << r.base << " lacks " << e["name"];
          EXPECT_GT(found, after) << r.base << ": " << e["name"] << " out of order";
          after = found;
        } else {
          EXPECT_EQ(found, std::string::npos) << r.base << " lists " << e["name"];
        }
      }
    }
  }
}

}  // namespace
