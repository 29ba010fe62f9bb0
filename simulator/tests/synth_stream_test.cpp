// Whole synthesised streams, walked packet by packet independently of the
// multiplexer: timing, counters, the time packets a recorder relies on, the
// caption PES a caption reader walks, the truth beside them, and the faults.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "arib_text.h"
#include "broadcast_time.h"
#include "crc32.h"
#include "si_tables.h"
#include "synth_test_support.h"

namespace {

using namespace synth_test;

std::uint64_t pcr_of(const Packet& p) {
  const std::uint64_t base = std::uint64_t{p[6]} << 25 | p[7] << 17 | p[8] << 9 | p[9] << 1 | p[10] >> 7;
  return base * 300 + ((p[10] & 1) << 8 | p[11]);
}

// The clock a time packet carries, as "HH:MM:SS" (the section at byte 5).
std::string time_of(const Packet& p) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x", p[10], p[11], p[12]);
  return buf;
}

struct Walk {
  std::map<std::uint16_t, int> discontinuities, packets;
  int transport_errors = 0;
  std::vector<std::uint64_t> pcr_slots, pcrs;
  std::vector<std::string> tot_times;
  std::vector<std::string> caption_times;  // clock of the last TOT/TDT at each caption statement PES
  std::vector<std::size_t> caption_pes_packets;
  bool time_packets_at_byte_five = true;
  int pointer_above_zero = 0, packets_with_two_starts = 0;
};

Walk walk(const std::vector<Packet>& packets, std::uint16_t packed_pid = 0) {
  Walk w;
  std::map<std::uint16_t, int> last_cc;
  std::string clock = "--";
  for (std::size_t i = 0; i < packets.size(); ++i) {
    const Packet& p = packets[i];
    const std::uint16_t pid = packet_pid(p);
    if (pid == kNullPid) continue;
    ++w.packets[pid];
    if (p[1] & 0x80) ++w.transport_errors;
    if (packet_has_payload(p)) {
      if (last_cc.count(pid) && packet_cc(p) != ((last_cc[pid] + 1) & 15)) ++w.discontinuities[pid];
      last_cc[pid] = packet_cc(p);
    }
    if (pid == kPcrPid && (p[5] & 0x10)) {
      w.pcr_slots.push_back(i);
      w.pcrs.push_back(pcr_of(p));
    }
    if (pid == kTimePid && packet_unit_start(p)) {
      w.time_packets_at_byte_five &= p[4] == 0 && (p[3] & 0x30) == 0x10 && (p[5] == 0x73 || p[5] == 0x70);
      clock = time_of(p);
      if (p[5] == 0x73) w.tot_times.push_back(clock);
    }
    if (pid == kCaptionPid && packet_unit_start(p)) {
      const std::size_t off = payload_offset(p);
      const std::size_t group = off + 9 + p[off + 8] + 3;
      if ((p[group] >> 2) != 0x00 && (p[group] >> 2) != 0x20) {
        w.caption_times.push_back(clock);
        std::size_t n = 1;
        while (i + n < packets.size() && packet_pid(packets[i + n]) == kCaptionPid && !packet_unit_start(packets[i + n])) ++n;
        w.caption_pes_packets.push_back(n);
      }
    }
    if (pid == packed_pid && packet_unit_start(p)) {
      if (p[4] > 0) ++w.pointer_above_zero;
      const std::size_t first = 5 + p[4];
      const std::size_t length = static_cast<std::size_t>((p[first + 1] & 0x0F) << 8 | p[first + 2]);
      if (first + 3 + length < kPacketSize && p[first + 3 + length] != 0xFF) ++w.packets_with_two_starts;
    }
  }
  return w;
}

class SynthesisedStream : public ::testing::Test {
 protected:
  Scenario scenario = small_scenario();
  MuxReport report;
  std::vector<Packet> make(int seconds) { return packets_of(stream_of(scenario, seconds, &report)); }
};

TEST_F(SynthesisedStream, TenMinutesAreAbout31MegabytesOfWholeValidPackets) {
  const Bytes stream = stream_of(scenario, 600, &report);
  EXPECT_EQ(stream.size() % kPacketSize, 0u);
  EXPECT_NEAR(static_cast<double>(stream.size()), 600 * 52010.0, 600 * 52010.0 * 0.01);
  EXPECT_EQ(report.bytes, stream.size());
  for (std::size_t i = 0; i < stream.size(); i += kPacketSize) ASSERT_EQ(stream[i], 0x47) << "at " << i;
}

TEST_F(SynthesisedStream, CountersContinuousAndPcrFollowsTheByteRate) {
  const Walk w = walk(make(60));
  EXPECT_TRUE(w.discontinuities.empty());
  EXPECT_EQ(w.transport_errors, 0);
  ASSERT_GT(w.pcrs.size(), 500u);
  for (std::size_t k = 1; k < w.pcrs.size(); ++k) {
    const std::uint64_t expected = (w.pcr_slots[k] - w.pcr_slots[0]) * 1504 * 27'000'000 / 416'000;
    ASSERT_NEAR(static_cast<double>(w.pcrs[k] - w.pcrs[0]), static_cast<double>(expected), 1.0);
    ASSERT_LE(w.pcrs[k] - w.pcrs[k - 1], 27'000'000u / 10);  // at most 100 ms apart
  }
}

TEST_F(SynthesisedStream, TimePacketsAreWholeSectionsAtByteFiveWithTheClock) {
  const Walk w = walk(make(30));
  EXPECT_TRUE(w.time_packets_at_byte_five);
  EXPECT_EQ(w.tot_times, (std::vector<std::string>{"05:00:00", "05:00:05", "05:00:10", "05:00:15", "05:00:20", "05:00:25"}));
}

TEST_F(SynthesisedStream, TruthCaptionsCarryTheClockOfTheLastTimePacketBeforeThem) {
  const Walk w = walk(make(100));
  ASSERT_EQ(report.captions.size(), 10u);  // at 5, 12 (two units), 35, 42 (two), 65, 72 (two), 95 s
  std::vector<std::string> truth_times;
  for (std::size_t i = 0; i < report.captions.size(); ++i) {
    if (i > 0 && report.captions[i].offset_s == report.captions[i - 1].offset_s) continue;  // same PES
    truth_times.push_back(format_time_of_day(report.captions[i].shown_time));
  }
  EXPECT_EQ(truth_times, w.caption_times);
  EXPECT_EQ(report.captions[0].text, "おはようございます。→ニュースです");
  EXPECT_EQ(format_time_of_day(report.captions[0].shown_time), "05:00:05");
  EXPECT_TRUE(report.captions[0].selected);
  EXPECT_TRUE(report.captions[0].fits_first_packet);
  ASSERT_EQ(report.events.size(), 2u);
  EXPECT_EQ(report.events[0].event.event_id, 101);
  EXPECT_LT(report.events[0].first_seen_s, 1.0);
}

TEST_F(SynthesisedStream, CaptionPesAsTheCaptionReaderFindsIt) {
  const auto packets = make(10);
  const auto it = std::find_if(packets.begin(), packets.end(), [](const Packet& p) {
    if (packet_pid(p) != kCaptionPid) return false;
    const std::size_t off = payload_offset(p);
    return (p[off + 9 + p[off + 8] + 3] >> 2) == 1;
  });
  ASSERT_NE(it, packets.end());
  const Packet& p = *it;
  const std::size_t off = payload_offset(p);
  EXPECT_EQ(p[off + 3], 0xBD);
  const std::size_t data = off + 9 + p[off + 8];
  EXPECT_EQ(p[data], 0x80);
  EXPECT_EQ(p[data + 1], 0xFF);
  const std::size_t unit = data + 3 + 5 + 1 + 3;
  EXPECT_EQ(p[unit], 0x1F);
  EXPECT_EQ(p[unit + 1], 0x20);
  const std::size_t size = static_cast<std::size_t>(p[unit + 2] << 16 | p[unit + 3] << 8 | p[unit + 4]);
  const std::string euc(p.begin() + static_cast<std::ptrdiff_t>(unit + 5), p.begin() + static_cast<std::ptrdiff_t>(unit + 5 + size));
  EXPECT_EQ(euc.substr(0, 4), utf8_to_eucjp("おは"));
}

TEST_F(SynthesisedStream, ContinuityAndTransportErrorFaults) {
  scenario.faults.push_back({FaultType::continuity_error, 3, kSdtPid});
  scenario.faults.push_back({FaultType::transport_error, 5, kPmtPid, 4});
  const Walk w = walk(make(20));
  EXPECT_EQ(w.discontinuities, (std::map<std::uint16_t, int>{{kSdtPid, 1}}));
  EXPECT_EQ(w.transport_errors, 4);
}

TEST_F(SynthesisedStream, GarbageBeforeAndPartialPacketAfter) {
  scenario.faults.push_back({FaultType::garbage_before_first_packet, 0, 0, 1, 1000});
  scenario.faults.push_back({FaultType::trailing_partial_packet, 0, 0, 1, 100});
  const Bytes with = stream_of(scenario, 10);
  scenario.faults.clear();
  const Bytes without = stream_of(scenario, 10);
  ASSERT_EQ(with.size(), without.size() + 1100);
  EXPECT_EQ(std::count(with.begin(), with.begin() + 1000, 0x47), 0);
  EXPECT_TRUE(std::equal(without.begin(), without.end(), with.begin() + 1000));
  EXPECT_EQ(with[with.size() - 100], 0x47);
}

TEST_F(SynthesisedStream, BadTotCrcOnceAndTimeSteppingBack) {
  scenario.faults.push_back({FaultType::bad_tot_crc, 10});
  scenario.faults.push_back({FaultType::time_step_back, 20, 0, 1, 0, 60});
  int bad = 0;
  for (const Packet& p : make(30))
    if (packet_pid(p) == kTimePid && p[5] == 0x73 && oneseg::crc32_mpeg2(p.data() + 5, 29) != 0) ++bad;
  EXPECT_EQ(bad, 1);
  const Walk w = walk(make(30));
  EXPECT_EQ(w.tot_times, (std::vector<std::string>{"05:00:00", "05:00:05", "05:00:10", "05:00:15", "04:59:20", "04:59:25"}));
}

TEST_F(SynthesisedStream, PackedSectionsGivePointerFieldsAndSharedPackets) {
  // Enough events for several schedule sections on the H-EIT PID.
  nlohmann::json j = small_scenario_json();
  for (int k = 0; k < 24; ++k) {
    char start[32];
    std::snprintf(start, sizeof start, "2026-12-07T%02d:%02d:00", 6 + k / 4, k % 4 * 15);
    j["events"].push_back({{"event_id", 200 + k}, {"start", start}, {"duration", "00:15:00"},
                           {"name", "天気と交通情報"}, {"description", "各地の天気と道路の混雑状況を詳しくお伝えします。"}});
  }
  scenario = parse_scenario(j);
  scenario.faults.push_back({FaultType::packed_sections, 0, kHEitPid});
  const Walk w = walk(make(12), kHEitPid);
  EXPECT_GT(w.pointer_above_zero, 0);
  EXPECT_GT(w.packets_with_two_starts, 0);
}

TEST_F(SynthesisedStream, LongCaptionRunsPastItsFirstPacket) {
  scenario.faults.push_back({FaultType::long_caption, 20});
  const Walk w = walk(make(30));
  const auto it = std::find_if(report.captions.begin(), report.captions.end(), [](const auto& c) { return !c.fits_first_packet; });
  ASSERT_NE(it, report.captions.end());
  EXPECT_NEAR(it->offset_s, 20, 0.1);
  EXPECT_GT(*std::max_element(w.caption_pes_packets.begin(), w.caption_pes_packets.end()), 1u);
}

TEST_F(SynthesisedStream, CaptionsOfAnotherGroupAreMarkedNotSelected) {
  nlohmann::json j = small_scenario_json();
  j["caption_management"] = {{"data_group", "A"}, {"languages", {{{"language_tag", 1}}}}};
  j["captions"] = {{{"time", "2026-12-07T05:00:03"}, {"text", "別グループ"}, {"data_group", 1}}};
  scenario = parse_scenario(j);
  make(10);
  ASSERT_FALSE(report.captions.empty());
  EXPECT_EQ(report.captions[0].data_group, 1);
  EXPECT_FALSE(report.captions[0].selected);  // management selected group 2
  EXPECT_TRUE(report.captions[1].selected);
}

}  // namespace
