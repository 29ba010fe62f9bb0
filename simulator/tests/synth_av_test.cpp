// Picture and sound through the real ffmpeg: the elementary streams it
// encodes, and what ffprobe and ffmpeg make of a synthesised stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "synth_test_support.h"

namespace {

using namespace synth_test;
namespace fs = std::filesystem;

std::string capture(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

class WithPicture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = fs::temp_directory_path() / ("synth_av_" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  // A stream with picture and sound of `seconds` from `start`.
  static fs::path make(const std::string& name, const std::string& start, int seconds) {
    const fs::path ts = dir / name;
    SynthOptions o;
    o.start = parse_jst(start);
    o.duration_s = seconds;
    o.picture_and_sound = true;
    PosixProcessRunner runner;
    last_report = synthesize(small_scenario(), o, ts, runner);
    return ts;
  }
  // The seconds of the clock at the picture's top right at second `second`,
  // as grey pixels; -ss after -i decodes up to that second, as the page
  // builder's thumbnails do.
  static std::string clock_pixels(const fs::path& ts, int second) {
    return capture("ffmpeg -nostdin -v error -i " + ts.string() + " -ss " + std::to_string(second) +
                   " -frames:v 1 -vf crop=36:22:210:6 -f rawvideo -pix_fmt gray -");
  }
  static double difference(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
      sum += std::abs(static_cast<int>(static_cast<unsigned char>(a[i])) - static_cast<unsigned char>(b[i]));
    return sum / static_cast<double>(a.size());
  }
  static fs::path dir;
  static MuxReport last_report;
};
fs::path WithPicture::dir;
MuxReport WithPicture::last_report;

TEST_F(WithPicture, FfmpegEncodesOneAccessUnitPerFrameAndAdtsAudio) {
  const fs::path work = dir / "es";
  fs::create_directories(work);
  AvRequest r{*parse_jst("2026-12-07T05:00:00"), 4, "局", work};
  PosixProcessRunner runner;
  const AvFiles files = encode_av(r, runner);
  H264Reader video(files.video, kFramesPerSecond);
  int frames = 0;
  while (auto au = video.next()) {
    ASSERT_GE(au->data.size(), 5u);
    const bool aud = (au->data[0] == 0 && au->data[1] == 0 && au->data[2] == 0 && au->data[3] == 1 && (au->data[4] & 0x1F) == 9) ||
                     (au->data[0] == 0 && au->data[1] == 0 && au->data[2] == 1 && (au->data[3] & 0x1F) == 9);
    ASSERT_TRUE(aud) << "frame " << frames;
    EXPECT_EQ(au->pts90, static_cast<std::uint64_t>(frames) * 6000);
    ++frames;
  }
  EXPECT_EQ(frames, 4 * kFramesPerSecond);
  AdtsReader audio(files.audio);
  int audio_frames = 0;
  while (audio.next()) ++audio_frames;
  EXPECT_NEAR(audio_frames, 4 * 48000 / 1024, 3);
}

TEST_F(WithPicture, FfprobeListsTheProgramOnPmtPid1fc8WithVideoAndAudio) {
  const fs::path ts = make("probe.ts", "2026-12-07T05:00:00", 4);
  const std::string json_text = capture("ffprobe -v error -show_programs -of json " + ts.string());
  const auto j = nlohmann::json::parse(json_text);
  ASSERT_EQ(j["programs"].size(), 1u) << json_text;
  const auto& program = j["programs"][0];
  EXPECT_EQ(program["pmt_pid"], 0x1FC8);
  EXPECT_EQ(program["program_num"], 0x5A8);
  std::set<std::string> codecs;
  for (const auto& s : program["streams"])
    if (s.contains("codec_name")) codecs.insert(s["codec_name"].get<std::string>());
  EXPECT_TRUE(codecs.count("h264"));
  EXPECT_TRUE(codecs.count("aac"));
  // Every PES packet went out before its decoder needed it (PTS lies 0.5 s behind).
  EXPECT_LT(last_report.max_lateness_s, 0.4);
  const std::string size = capture("ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 " + ts.string());
  EXPECT_EQ(size.substr(0, 8), "320,180\n");
}

TEST_F(WithPicture, PictureOfSecondNShowsTheClockOfSecondN) {
  const fs::path a = make("a.ts", "2026-12-07T05:00:00", 7);
  const fs::path b = make("b.ts", "2026-12-07T05:00:03", 5);
  ASSERT_EQ(capture("ffmpeg -nostdin -v error -y -i " + a.string() + " -ss 6 -frames:v 1 " + (dir / "a6.png").string() + " && echo ok"), "ok\n");
  EXPECT_GT(fs::file_size(dir / "a6.png"), 1000u);
  // 05:00:06 is second 6 of a and second 3 of b: the same clock seconds.
  const std::string a6 = clock_pixels(a, 6), b3 = clock_pixels(b, 3), b4 = clock_pixels(b, 4);
  std::cout << "clock differences: same second " << difference(a6, b3) << ", next second " << difference(a6, b4) << "\n";
  ASSERT_EQ(a6.size(), 36u * 22);
  EXPECT_LT(difference(a6, b3), 6.0);
  EXPECT_GT(difference(a6, b4), 10.0);
}

}  // namespace
