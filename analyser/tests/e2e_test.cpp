// The real skerrow over synthesised recordings: the .eit and .sub files it
// writes must match, byte for byte, what the broadcast carried.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "arib_text.h"
#include "synthesize.h"

namespace {

namespace fs = std::filesystem;
using namespace oneseg::synth;

std::string euc(const std::string& utf8) { return utf8_to_eucjp(utf8); }

std::string read_file(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

JstSeconds at(const char* text) { return parse_jst(text).value(); }

// Captions of the scenario and the .sub text each must give: only two-byte
// characters survive; alphanumerics and controls are dropped.
const std::map<std::string, std::string> caption_texts = {
    {"こんにちは、世界。", "こんにちは、世界。"},
    {"ABCで→テスト♪", "で→テスト♪"},
    {"天気{sym:7A50}", "天気[UNK7a50]"},
    {"一行目\n二行目", "一行目二行目"},
    {"一つ目", "一つ目"},
    {"二つ目", "二つ目"},
};

Scenario scenario(JstSeconds start, const std::string& station, std::uint8_t management_group, std::uint8_t tag)
{
    Scenario s;
    s.start = start;
    s.duration_s = 150;  // 7.8 MB at 416 kbit/s: above the analyser's minimum size
    s.station.network_id = 0x7FE8;
    s.station.network_name = "テストネット";
    s.station.transport_stream_id = 0x7FE8;
    s.station.service_id = 0x0598;
    s.station.station_name = station;
    s.station.ts_name = "テスト";
    s.station.channel = 27;
    s.picture_and_sound = false;
    s.eit = {EitSpec{}};
    s.caption_management.data_group_id = management_group;
    s.caption_management.languages = {CaptionLanguage{tag, 0, "jpn"}};
    const std::uint8_t group = selected_statement_group(s.caption_management);

    EventInfo news{0x1001, start - 1800, 3600, "夕方のニュース[字]", "全国と地域のニュースをお伝えします。ABC 123", {0x00, 0x01}};
    EventInfo drama{0x1002, start + 1800, 1800, "ドラマ「テスト」", "第１話", {0x30, 0xC0}};
    s.events = {news, drama};
    s.captions = {
        {start + 10, {"こんにちは、世界。"}, group, "c0"},
        {start + 40, {"ABCで→テスト♪"}, group, "c1"},
        {start + 75, {"天気{sym:7A50}"}, group, "c2"},
        {start + 110, {"一行目\n二行目"}, group, "c3"},
        {start + 140, {"一つ目", "二つ目"}, group, "c4"},
    };
    return s;
}

std::string event_block(const std::string& start_line, const std::string& duration, const std::string& station,
                         const std::string& name, const std::string& desc, const std::string& genres)
{
    return "StartTime: " + start_line + "\r\nDuration: " + duration + "\r\nProviderName: " + euc(station) +
           "\r\nEventName: " + euc(name) + "\r\nEventDesc: " + euc(desc) + "\r\nContentNibble: " + euc(genres) +
           "\r\n-\r\n";
}

// The listing the scenario's two events must give, in the order the
// present/following table carries them.
std::string expected_listing(const std::string& station, const std::string& news_start, const std::string& drama_start)
{
    return event_block(news_start, "01:00:00", station, "夕方のニュース[字]",
                       "全国と地域のニュースをお伝えします。ABC 123",
                       " 00 ニュース・報道 定時・総合 01 ニュース・報道 天気") +
           event_block(drama_start, "00:30:00", station, "ドラマ「テスト」", "第１話",
                       " 30 ドラマ 国内ドラマ c0 - -");
}

// One line per caption text, stamped with the time of the last TOT before it.
std::string expected_captions(const MuxReport& report)
{
    std::string sub;
    for (const CaptionTruth& c : report.captions) {
        EXPECT_TRUE(c.selected && c.fits_first_packet) << c.source_text;
        sub += format_time_of_day(c.shown_time) + " " + euc(caption_texts.at(c.source_text)) + "\r\n";
    }
    return sub;
}

struct Recording {
    fs::path ts;
    MuxReport report;
};

Recording write_recording(const fs::path& dir, const std::string& name, const Scenario& s)
{
    Recording r{dir / name, {}};
    const Bytes stream = synthesize_in_memory(s, Window{s.start, s.duration_s}, &r.report);
    std::ofstream(r.ts, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                static_cast<std::streamsize>(stream.size()));
    return r;
}

int run_skerrow(const fs::path& work, const fs::path& argument)
{
    const std::string command = "cd '" + work.string() + "' && ONESEG_TIME_SCALE=0.01 '" SKERROW_PROGRAM "' '" +
                                argument.string() + "' >stdout.txt 2>stderr.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
}

TEST(SkerrowEndToEnd, ListingAndCaptionsOfTwoRecordingsInOneRun)
{
    const fs::path work = fs::temp_directory_path() / ("skerrow_e2e_" + std::to_string(::getpid()));
    fs::remove_all(work);
    const fs::path day = work / "081206";
    fs::create_directories(day);

    // Caption group A (management id 0x00) on the first recording; group B
    // (id 0x20, language tag 1, statements in group 0x22) on the second, so
    // that the selected group is set afresh for each recording.
    const Recording first = write_recording(day, "081206143_Ch27.ts",
                                            scenario(at("2008-12-06T14:30:00"), "テスト放送", 0x00, 0));
    const Recording second = write_recording(day, "081206144_Ch27.ts",
                                             scenario(at("2008-12-06T14:40:00"), "第二テレビ", 0x20, 1));
    ASSERT_EQ(first.report.captions.size(), 6u);
    ASSERT_EQ(second.report.captions.size(), 6u);
    ASSERT_GE(fs::file_size(first.ts), 6'240'000u);

    ASSERT_EQ(run_skerrow(work, day), 0) << read_file(work / "stderr.txt");

    EXPECT_EQ(read_file(day / "081206143_Ch27.eit"),
              expected_listing("テスト放送", "2008/12/6 14:00:00", "2008/12/6 15:00:00"));
    EXPECT_EQ(read_file(day / "081206143_Ch27.sub"), expected_captions(first.report));
    EXPECT_EQ(read_file(day / "081206144_Ch27.eit"),
              expected_listing("第二テレビ", "2008/12/6 14:10:00", "2008/12/6 15:10:00"));
    EXPECT_EQ(read_file(day / "081206144_Ch27.sub"), expected_captions(second.report));

    // The analysis log is gone after the run.
    for (const auto& entry : fs::directory_iterator(work))
        EXPECT_EQ(entry.path().filename().string().rfind("skerrow_", 0), std::string::npos) << entry.path();
    fs::remove_all(work);
}

}  // namespace
