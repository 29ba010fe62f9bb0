// Reading scenarios, choosing windows, and the command line's answers to bad input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "synth_cli.h"
#include "synth_test_support.h"

namespace {

using namespace synth_test;
using nlohmann::json;
namespace fs = std::filesystem;

std::string error_of(const json& j) {
  try {
    parse_scenario(j);
  } catch (const ScenarioError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(Scenario, SmallScenarioReadsAndRepeatsEventCaptions) {
  const Scenario s = small_scenario();
  EXPECT_EQ(format_jst(s.start), "2026-12-07T05:00:00");
  EXPECT_EQ(s.duration_s, 3600);
  EXPECT_EQ(s.station.network_id, 0x7FE8);
  EXPECT_EQ(s.station.remote_control_key_id, 3);
  ASSERT_EQ(s.events.size(), 2u);
  EXPECT_EQ(s.events[0].genres, (std::vector<std::uint8_t>{0, 1}));
  // Two captions every 30 s through the 30-minute event.
  ASSERT_EQ(s.captions.size(), 120u);
  EXPECT_EQ(format_jst(s.captions[1].time), "2026-12-07T05:00:12");
  EXPECT_EQ(s.captions[1].texts.size(), 2u);
  EXPECT_EQ(format_jst(s.captions.back().time), "2026-12-07T05:29:42");
  EXPECT_EQ(s.captions[0].place, "events[0].captions[0]");
  EXPECT_EQ(s.captions[0].data_group, 1);
}

TEST(Scenario, DefaultsAndCaptionGroupFollowTheManagementData) {
  json j = small_scenario_json();
  j["caption_management"] = {{"data_group", "B"}, {"languages", {{{"language_tag", 1}, {"language", "jpn"}}}}};
  const Scenario s = parse_scenario(j);
  EXPECT_EQ(s.caption_management.data_group_id, 0x20);
  EXPECT_EQ(selected_statement_group(s.caption_management), 0x22);
  EXPECT_EQ(s.captions[0].data_group, 0x22);
  EXPECT_EQ(s.repetition.tot, 5);
  EXPECT_EQ(s.repetition.tdt, 7);
  ASSERT_EQ(s.eit.size(), 2u);
}

TEST(Scenario, ErrorsNameTheFieldAndItsPlace) {
  json j = small_scenario_json();
  j.erase("start");
  EXPECT_EQ(error_of(j), "start: missing");

  j = small_scenario_json();
  j["events"][1]["start"] = "2026-12-07 25:00:00";
  EXPECT_NE(error_of(j).find("events[1].start: expected a date-time"), std::string::npos) << error_of(j);

  j = small_scenario_json();
  j["channel"] = 70;
  EXPECT_EQ(error_of(j), "channel: 70 is outside 13..62");

  j = small_scenario_json();
  j["service"]["service_id"] = "0x5G8";
  EXPECT_EQ(error_of(j), "service.service_id: expected an integer, got \"0x5G8\"");

  j = small_scenario_json();
  j["channel"] = "027";  // decimal, not octal
  EXPECT_EQ(parse_scenario(j).station.channel, 27);

  j = small_scenario_json();
  j["events"][0]["captions"][1]["text"] = "ｱｲｳ";
  EXPECT_NE(error_of(j).find("events[0].captions[1].text: character outside JIS X 0208"), std::string::npos)
      << error_of(j);

  j = small_scenario_json();
  j["faults"] = {{{"type", "gremlins"}}};
  EXPECT_EQ(error_of(j), "faults[0].type: unknown fault \"gremlins\"");

  j = small_scenario_json();
  j["events"][1]["event_id"] = 101;
  EXPECT_EQ(error_of(j), "events[1].event_id: used by an earlier event");

  j = small_scenario_json();
  j["events"][0]["duration"] = "0:61:00";
  EXPECT_NE(error_of(j).find("events[0].duration"), std::string::npos);

  j = small_scenario_json();
  j["repetition_s"]["tot"] = 0.001;
  EXPECT_EQ(error_of(j), "repetition_s.tot: must be 0 (off) or at least 0.02 s");

  EXPECT_EQ(error_of(json::array()), "scenario: expected a JSON object");
}

TEST(Window, PicksAPartOfTheBroadcastOrRefuses) {
  const Scenario s = small_scenario();
  SynthOptions o;
  EXPECT_EQ(choose_window(s, o).duration_s, 3600);
  o.start = s.start + 600;
  EXPECT_EQ(choose_window(s, o).duration_s, 3000);
  o.duration_s = 3001;
  EXPECT_THROW(choose_window(s, o), ScenarioError);
  o.start = s.start - 1;
  o.duration_s.reset();
  EXPECT_THROW(choose_window(s, o), ScenarioError);
}

class FailingRunner : public ProcessRunner {
 public:
  int run(const std::vector<std::string>& argv) override {
    last = argv;
    return status;
  }
  int status = 1;
  std::vector<std::string> last;
};

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("synth_tool_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path write_scenario(const json& j) {
    std::ofstream(dir / "s.json") << j.dump();
    return dir / "s.json";
  }
  int run(std::vector<std::string> args) {
    out.str("");
    err.str("");
    return run_synth_tool(args, runner, out, err);
  }
  fs::path dir;
  FailingRunner runner;
  std::ostringstream out, err;
};

TEST_F(Tool, MakesAStreamAndItsTruthFile) {
  const fs::path ts = dir / "a.ts";
  ASSERT_EQ(run({write_scenario(small_scenario_json()), "-o", ts, "--start", "2026-12-07T05:29:00", "--duration", "00:02:00"}), 0)
      << err.str();
  EXPECT_EQ(fs::file_size(ts), 120u * 416000 / 1504 * 188);  // whole packets at 416 kbit/s
  std::ifstream in(truth_path(ts));
  const json truth = json::parse(in);
  EXPECT_EQ(truth["station"]["name"], "テスト放送局１");
  EXPECT_EQ(truth["stream"]["start"], "2026-12-07T05:29:00");
  // Captions of 05:29:05, 05:29:12 (two units), 05:29:35, 05:29:42 (two units).
  EXPECT_EQ(truth["captions"].size(), 6u);
  EXPECT_EQ(truth["events"].size(), 2u);
  EXPECT_TRUE(runner.last.empty());  // no picture, no ffmpeg
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);  // no scratch left
}

TEST_F(Tool, BadScenarioGivesOneMessageStatusOneAndNoFile) {
  json j = small_scenario_json();
  j["events"][1].erase("name");
  const fs::path ts = dir / "a.ts";
  EXPECT_EQ(run({write_scenario(j), "-o", ts}), 1);
  EXPECT_EQ(err.str(), "oneseg-synth: " + (dir / "s.json").string() + ": events[1].name: missing\n");
  EXPECT_FALSE(fs::exists(ts));
  EXPECT_FALSE(fs::exists(truth_path(ts)));
}

TEST_F(Tool, BrokenJsonAndMissingFile) {
  std::ofstream(dir / "bad.json") << "{\"start\": ";
  EXPECT_EQ(run({(dir / "bad.json").string(), "-o", (dir / "a.ts").string()}), 1);
  EXPECT_NE(err.str().find("not valid JSON"), std::string::npos);
  EXPECT_EQ(run({(dir / "none.json").string(), "-o", (dir / "a.ts").string()}), 1);
  EXPECT_NE(err.str().find("cannot be read"), std::string::npos);
  // A folder given as the scenario or as the output is named, never a bare library message.
  EXPECT_EQ(run({dir.string(), "-o", (dir / "a.ts").string()}), 1);
  EXPECT_EQ(err.str(), "oneseg-synth: " + dir.string() + ": not a regular file\n");
  EXPECT_EQ(run({write_scenario(small_scenario_json()), "-o", dir.string(), "--duration", "10"}), 1);
  EXPECT_NE(err.str().find(dir.string()), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(dir / "a.ts"));
}

TEST_F(Tool, UsageErrors) {
  EXPECT_EQ(run({}), 2);
  EXPECT_NE(err.str().find("usage:"), std::string::npos);
  EXPECT_EQ(run({"s.json"}), 2);
  EXPECT_NE(err.str().find("-o OUT.ts"), std::string::npos);
  EXPECT_EQ(run({"s.json", "-o", "x.ts", "--duration", "soon"}), 2);
  EXPECT_EQ(run({"s.json", "-o", "x.ts", "--start", "2026-13-01T00:00:00"}), 2);
  EXPECT_EQ(run({"s.json", "-o", "x.ts", "--bogus"}), 2);
}

TEST_F(Tool, FailingFfmpegLeavesNoOutput) {
  json j = small_scenario_json();
  j["picture_and_sound"] = true;
  const fs::path ts = dir / "a.ts";
  EXPECT_EQ(run({write_scenario(j), "-o", ts, "--duration", "10"}), 1);
  EXPECT_NE(err.str().find("ffmpeg failed with exit status 1"), std::string::npos) << err.str();
  ASSERT_FALSE(runner.last.empty());
  EXPECT_EQ(runner.last[0], "ffmpeg");
  EXPECT_FALSE(fs::exists(ts));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // just s.json
  runner.status = -1;
  EXPECT_EQ(run({write_scenario(j), "-o", ts, "--duration", "10", "--ffmpeg", "no-such-ffmpeg"}), 1);
  EXPECT_NE(err.str().find("cannot start no-such-ffmpeg"), std::string::npos) << err.str();
}

}  // namespace

namespace {

// Which scripts a UTF-8 text uses.
struct Scripts {
  bool hiragana = false, katakana = false, kanji = false, alphanumeric = false, symbol = false;
};

void note_scripts(const std::string& text, Scripts& s) {
  if (text.find("{sym:") != std::string::npos) s.symbol = true;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    char32_t cp = b;
    std::size_t n = 1;
    if (b >= 0xF0) { cp = b & 0x07; n = 4; }
    else if (b >= 0xE0) { cp = b & 0x0F; n = 3; }
    else if (b >= 0xC0) { cp = b & 0x1F; n = 2; }
    for (std::size_t k = 1; k < n && i + k < text.size(); ++k) cp = cp << 6 | (text[i + k] & 0x3F);
    i += n;
    if (cp >= 0x3041 && cp <= 0x3096) s.hiragana = true;
    if (cp >= 0x30A1 && cp <= 0x30FA) s.katakana = true;
    if (cp >= 0x4E00 && cp <= 0x9FFF) s.kanji = true;
    if ((cp >= U'0' && cp <= U'z' && std::isalnum(static_cast<int>(cp))) || (cp >= 0xFF10 && cp <= 0xFF5A)) s.alphanumeric = true;
  }
}

TEST(ReadyScenarios, TwoStationsWithADayOfProgrammesAndCaptionsInEveryScript) {
  std::set<int> channels;
  std::set<std::string> names;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(SYNTH_SCENARIO_DIR)) {
    if (entry.path().extension() != ".json") continue;
    ++files;
    SCOPED_TRACE(entry.path().string());
    const Scenario s = load_scenario(entry.path());
    channels.insert(s.station.channel);
    names.insert(s.station.station_name);
    EXPECT_EQ(s.duration_s, 86400);
    ASSERT_GE(s.events.size(), 15u);
    EXPECT_EQ(s.events.front().start, s.start);
    for (std::size_t i = 1; i < s.events.size(); ++i)
      EXPECT_EQ(s.events[i].start, s.events[i - 1].start + s.events[i - 1].duration_s) << s.events[i].name;
    EXPECT_EQ(s.events.back().start + s.events.back().duration_s, s.start + s.duration_s);
    EXPECT_GT(s.captions.size(), 5000u);  // captions through the whole day
    Scripts scripts;
    for (const CaptionSpec& c : s.captions)
      for (const std::string& t : c.texts) note_scripts(t, scripts);
    EXPECT_TRUE(scripts.hiragana && scripts.katakana && scripts.kanji && scripts.alphanumeric && scripts.symbol);
    // A window out of the day, without picture.
    MuxReport report;
    synthesize_in_memory(s, Window{s.start + 3 * 3600, 600}, &report);
    EXPECT_GT(report.captions.size(), 40u);
    EXPECT_GE(report.events.size(), s.events.size());
  }
  EXPECT_GE(files, 2);
  EXPECT_EQ(channels.size(), static_cast<std::size_t>(files));
  EXPECT_EQ(names.size(), static_cast<std::size_t>(files));
}

}  // namespace
