// Packet, section, PES and time-packet builders.
#include <gtest/gtest.h>

#include "caption_pes.h"
#include "crc32.h"
#include "sections.h"
#include "si_tables.h"
#include "time_packet.h"
#include "ts_packets.h"

namespace {

using namespace oneseg::synth;

Bytes section_of_size(std::uint8_t table_id, std::size_t total) {
  return build_section({table_id, 1, 0, 0, 0}, Bytes(total - 12, 0x55));
}

std::size_t pointer_field(const Packet& p) { return p[4]; }

TEST(Sections, LongFormHeaderLengthAndCrc) {
  const Bytes s = build_section({0x42, 0x1234, 5, 1, 2}, Bytes{0xAA, 0xBB});
  ASSERT_EQ(s.size(), 8u + 2 + 4);
  EXPECT_EQ(s[0], 0x42);
  EXPECT_EQ(((s[1] & 0x0F) << 8 | s[2]), 11);  // from after the length to the end of the CRC
  EXPECT_EQ(s[1] & 0x80, 0x80);                // section_syntax_indicator
  EXPECT_EQ((s[3] << 8 | s[4]), 0x1234);
  EXPECT_EQ(s[5], 0xC1 | 5 << 1);              // version 5, current
  EXPECT_EQ(s[6], 1);
  EXPECT_EQ(s[7], 2);
  EXPECT_EQ(oneseg::crc32_mpeg2(s.data(), s.size()), 0u);
}

TEST(Sections, ShortFormWithAndWithoutCrc) {
  const Bytes tdt = build_tdt(0);
  EXPECT_EQ(tdt.size(), 8u);
  EXPECT_EQ(tdt[1] & 0x80, 0);
  const Bytes tot = build_tot(0);
  EXPECT_EQ(tot[0], 0x73);
  EXPECT_EQ(oneseg::crc32_mpeg2(tot.data(), tot.size()), 0u);
  EXPECT_THROW(build_short_section(0x70, Bytes(4092, 0), true), std::length_error);
}

TEST(PacketizeSections, OwnPacketsStartEverySectionWithPointerZeroAndStuffTheRest) {
  ContinuityCounters cc;
  const std::vector<Bytes> sections{section_of_size(0x4E, 100), section_of_size(0x4E, 300)};
  const auto packets = packetize_sections(0x27, sections, cc);
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_TRUE(packet_unit_start(packets[0]));
  EXPECT_EQ(pointer_field(packets[0]), 0u);
  EXPECT_EQ(packets[0][5 + 100], 0xFF);  // stuffing after the first section
  EXPECT_TRUE(packet_unit_start(packets[1]));
  EXPECT_FALSE(packet_unit_start(packets[2]));
  EXPECT_EQ(packets[2][4], sections[1][183]);  // continuation bytes right after the header
  for (std::size_t i = 0; i < packets.size(); ++i) EXPECT_EQ(packet_cc(packets[i]), i);
}

TEST(PacketizeSections, PackedSectionsShareAPacketAndSplitWithPointerAboveZero) {
  ContinuityCounters cc;
  const std::vector<Bytes> sections{section_of_size(0x4E, 30), section_of_size(0x4E, 200), section_of_size(0x4E, 40)};
  const auto packets = packetize_sections(0x12, sections, cc, SectionPacking::packed);
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(pointer_field(packets[0]), 0u);
  EXPECT_EQ(packets[0][5 + 30], 0x4E);  // second section right behind the first
  EXPECT_TRUE(packet_unit_start(packets[1]));
  // The tail of the 200-byte section (200 - (183 - 30) = 47 bytes) precedes the third.
  EXPECT_EQ(pointer_field(packets[1]), 47u);
  EXPECT_EQ(packets[1][5 + 47], 0x4E);
  EXPECT_EQ(packets[1][5 + 47 + 40], 0xFF);
}

TEST(PacketizeSections, PackedNeverHidesASectionStartInAPacketWithoutUnitStart) {
  // The second section would begin on the last byte of a packet without a pointer_field.
  ContinuityCounters cc;
  const std::vector<Bytes> sections{section_of_size(0x4E, 183 + 183), section_of_size(0x4E, 20)};
  const auto packets = packetize_sections(0x12, sections, cc, SectionPacking::packed);
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_FALSE(packet_unit_start(packets[1]));
  EXPECT_EQ(packets[1][187], 0xFF);
  EXPECT_TRUE(packet_unit_start(packets[2]));
  EXPECT_EQ(pointer_field(packets[2]), 0u);
  EXPECT_EQ(packets[2][5], 0x4E);
}

TEST(ContinuityCounters, WrapAndPacketsWithoutPayloadKeepTheCounter) {
  ContinuityCounters cc;
  for (int i = 0; i < 16; ++i) EXPECT_EQ(cc.next(0x130), i);
  EXPECT_EQ(cc.next(0x130), 0);
  EXPECT_EQ(cc.last(0x130), 0);
  EXPECT_EQ(packet_cc(pcr_packet(0x130, 0, cc)), 0);
  cc.skip(0x130);
  EXPECT_EQ(cc.next(0x130), 2);
}

TEST(PcrPacket, EncodesBaseAndExtension) {
  ContinuityCounters cc;
  const std::uint64_t pcr = (0x1FFFFFFFFull * 300) + 299;
  const Packet p = pcr_packet(0x1FF, pcr, cc);
  EXPECT_EQ(p[3] & 0x30, 0x20);  // adaptation only
  EXPECT_EQ(p[4], 183);
  EXPECT_EQ(p[5], 0x10);
  const std::uint64_t base = std::uint64_t{p[6]} << 25 | p[7] << 17 | p[8] << 9 | p[9] << 1 | p[10] >> 7;
  EXPECT_EQ(base, 0x1FFFFFFFFull);
  EXPECT_EQ(((p[10] & 1) << 8 | p[11]), 299);
}

TEST(PacketizePes, ShortPesIsPaddedByAdaptationStuffingNotTrailingBytes) {
  ContinuityCounters cc;
  const Bytes pes = build_pes(0xBD, 90000, Bytes(50, 0x11));
  const auto packets = packetize_pes(0x130, pes, cc);
  ASSERT_EQ(packets.size(), 1u);
  const std::size_t off = payload_offset(packets[0]);
  EXPECT_EQ(off, kPacketSize - pes.size());
  EXPECT_TRUE(std::equal(pes.begin(), pes.end(), packets[0].begin() + static_cast<std::ptrdiff_t>(off)));
  // One byte short of a full packet needs an adaptation field of length 0.
  const auto one_short = packetize_pes(0x130, Bytes(183, 0x22), cc);
  EXPECT_EQ(one_short[0][4], 0);
  EXPECT_EQ(payload_offset(one_short[0]), 5u);
  const auto two = packetize_pes(0x130, Bytes(185, 0x22), cc);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_FALSE(packet_unit_start(two[1]));
  EXPECT_EQ(payload_offset(two[1]), 187u);
}

TEST(Pes, PtsAndLengthFields) {
  const Bytes pes = build_pes(0xE0, 0x1ABCDEF01ull, Bytes(10, 0));
  EXPECT_EQ((pes[4] << 8 | pes[5]), static_cast<int>(pes.size() - 6));
  EXPECT_EQ(pes[7], 0x80);
  EXPECT_EQ(pes[8], 5);
  const std::uint64_t pts = std::uint64_t(pes[9] >> 1 & 7) << 30 | std::uint64_t(pes[10]) << 22 |
                            std::uint64_t(pes[11] >> 1) << 15 | std::uint64_t(pes[12]) << 7 | pes[13] >> 1;
  EXPECT_EQ(pts, 0x1ABCDEF01ull);
  EXPECT_EQ(build_pes(0xE0, std::nullopt, Bytes(70000, 0))[4], 0);  // unbounded video PES
}

TEST(CaptionPes, LayoutAsACaptionReaderWalksIt) {
  const Bytes text{0xA4, 0xA2, 0xA4, 0xA4};
  const Bytes group = build_data_group(0x01, 0, build_caption_statement({{kStatementBody, text}}));
  const Bytes pes = build_caption_pes(12345, group);
  EXPECT_EQ(pes[3], 0xBD);
  const std::size_t data = 9 + pes[8];
  EXPECT_EQ(pes[data], 0x80);      // data_identifier: synchronised PES
  EXPECT_EQ(pes[data + 1], 0xFF);  // private_stream_id
  EXPECT_EQ(pes[data + 2] & 0x0F, 0);
  const std::size_t g = data + 3;
  EXPECT_EQ(pes[g] >> 2, 0x01);
  const std::size_t size = pes[g + 3] << 8 | pes[g + 4];
  EXPECT_EQ(g + 5 + size + 2, pes.size());  // data, then CRC_16
  EXPECT_EQ(pes[g + 5] >> 6, 0);           // TMD free
  EXPECT_EQ((pes[g + 6] << 16 | pes[g + 7] << 8 | pes[g + 8]), 5 + 4);
  EXPECT_EQ(pes[g + 9], 0x1F);
  EXPECT_EQ(pes[g + 10], 0x20);
  EXPECT_EQ((pes[g + 11] << 16 | pes[g + 12] << 8 | pes[g + 13]), 4);
  EXPECT_TRUE(std::equal(text.begin(), text.end(), pes.begin() + static_cast<std::ptrdiff_t>(g + 14)));
  EXPECT_EQ(crc16_ccitt(std::span(pes).subspan(g)), 0);  // CRC over the group with its CRC is 0
}

TEST(CaptionPes, ManagementDataNamesTheLanguages) {
  const Bytes m = build_caption_management({{0, 0, "jpn"}, {1, 0x0C, "eng"}});
  const Bytes expected{0x3F, 2, 0x10, 'j', 'p', 'n', 0, 0x3C, 0x00, 'e', 'n', 'g', 0, 0, 0, 0};
  EXPECT_EQ(m, expected);
}

TEST(Crc16, CcittCheckValue) {
  const std::string check = "123456789";
  EXPECT_EQ(crc16_ccitt(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())), 0x31C3);
}

class RestampTimePacket : public ::testing::Test {
 protected:
  ContinuityCounters cc;
  const JstSeconds t0 = *parse_jst("2008-12-06T14:35:07");
  const JstSeconds t1 = *parse_jst("2009-01-06T05:39:16");
};

TEST_F(RestampTimePacket, TotGetsTheNewTimeAndAValidCrc) {
  Packet p = tot_packet(t0, cc);
  ASSERT_TRUE(restamp_time_packet(p, t1));
  const std::size_t len = static_cast<std::size_t>((p[6] & 0x0F) << 8 | p[7]);
  EXPECT_EQ(oneseg::crc32_mpeg2(p.data() + 5, len + 3), 0u);
  std::uint8_t expected[5];
  encode_jst(t1, expected);
  EXPECT_TRUE(std::equal(expected, expected + 5, p.begin() + 8));
  EXPECT_EQ(p[8], 0xD6);  // 2009-01-06 is MJD 54837 = 0xD635
  EXPECT_EQ(p[9], 0x35);
}

TEST_F(RestampTimePacket, TdtAndBadCrcAndForeignPackets) {
  Packet tdt = tdt_packet(t0, cc);
  EXPECT_TRUE(restamp_time_packet(tdt, t1));
  EXPECT_EQ(tdt[10], 0x05);

  Packet bad = tot_packet(t0, cc);
  bad[5 + 3 + 5 + 2 + 15] ^= 1;  // break the CRC
  ASSERT_TRUE(restamp_time_packet(bad, t1));
  EXPECT_NE(oneseg::crc32_mpeg2(bad.data() + 5, 3 + 5 + 2 + 15 + 4), 0u);

  const Bytes pat = build_pat(StationInfo{});
  Packet other = packetize_sections(kPatPid, std::span(&pat, 1), cc).front();
  const Packet before = other;
  EXPECT_FALSE(restamp_time_packet(other, t1));
  EXPECT_EQ(other, before);

  Packet cut = tot_packet(t0, cc);
  cut[4] = 180;  // pointer_field that sends the section past the packet
  EXPECT_FALSE(restamp_time_packet(cut, t1));
}

TEST_F(RestampTimePacket, AnyBytesOnTheTimePidAreSafe) {
  std::uint32_t x = 12345;
  int restamped = 0;
  for (int i = 0; i < 20000; ++i) {
    Packet p;
    for (std::uint8_t& byte : p) byte = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>(0x40 | (p[1] & 0x80));
    p[2] = 0x14;
    if (i % 2) {  // a plausible TOT start behind a short pointer_field, no adaptation field
      p[3] = static_cast<std::uint8_t>(0x10 | (p[3] & 0x0F));
      p[4] = p[4] % 8;
      p[5 + p[4]] = 0x73;
    }
    restamped += restamp_time_packet(p, t1);
  }
  EXPECT_GT(restamped, 0);  // some random packets do look like time sections
}

}  // namespace

namespace {

EventInfo event_at(std::uint16_t id, const char* start) {
  EventInfo e;
  e.event_id = id;
  e.start = *parse_jst(start);
  e.duration_s = 1800;
  e.name = "番組";
  e.description = std::string(30, 'x');
  return e;
}

TEST(EitSchedule, ThreeHourSegmentsFromMidnightOverFourDays) {
  StationInfo st;
  st.service_id = 0x5A8;
  const std::vector<EventInfo> events{event_at(1, "2026-12-06T23:30:00"),  // the day before: left out
                                      event_at(2, "2026-12-07T01:00:00"),  // segment 0
                                      event_at(3, "2026-12-07T07:00:00"),  // segment 2
                                      event_at(4, "2026-12-07T08:30:00"),  // segment 2
                                      event_at(5, "2026-12-11T00:00:00")};  // fifth day: left out
  std::vector<std::uint16_t> carried;
  const auto sections = build_eit_schedule(st, events, *parse_jst("2026-12-07T05:00:00"), 0, &carried);
  EXPECT_EQ(carried, (std::vector<std::uint16_t>{2, 3, 4}));
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0][6], 0);    // section_number of segment 0
  EXPECT_EQ(sections[1][6], 16);   // segment 2 starts at section 16
  EXPECT_EQ(sections[1][7], 16);   // last_section_number
  EXPECT_EQ(sections[1][12], 16);  // segment_last_section_number
  EXPECT_EQ(sections[1][13], 0x50);
}

TEST(EitPresentFollowing, PresentInSectionZeroFollowingInSectionOne) {
  StationInfo st;
  const EventInfo now = event_at(7, "2026-12-07T05:00:00"), next = event_at(8, "2026-12-07T05:30:00");
  const auto pf = build_eit_pf(st, &now, &next);
  ASSERT_EQ(pf.size(), 2u);
  EXPECT_EQ((pf[0][14] << 8 | pf[0][15]), 7);
  EXPECT_EQ(pf[0][24] >> 5, 4);  // running
  EXPECT_EQ((pf[1][14] << 8 | pf[1][15]), 8);
  EXPECT_EQ(pf[1][6], 1);
  const auto empty = build_eit_pf(st, nullptr, nullptr);
  EXPECT_EQ(empty[0].size(), 14u + 4);  // header only
}

}  // namespace
