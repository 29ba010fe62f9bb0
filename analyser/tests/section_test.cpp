// Section assembly: continuity, pointer_field, after-section rules, and
// corrupt input that must neither crash nor hoard packets.
#include <gtest/gtest.h>

#include "section.h"
#include "test_support.h"

using namespace skerrow;
using namespace skerrow::testing;

namespace {

constexpr int nit_pid = 0x10, eit_pid = 0x12, pmt_pid = 0x1FC8;

bytes concat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

bytes payload_packet(int pid, int counter, bool unit_start, const bytes& payload) {
  return make_packet({.pid = pid, .counter = counter, .unit_start = unit_start, .payload_bytes = payload});
}

// A section of exactly `total` bytes (header, filler body, CRC).
bytes section_of_size(int table_id, int total) {
  return make_section(table_id, 1, bytes(static_cast<std::size_t>(total - 12), 0x00));
}

section_context& context(captured_state& c, int row) { return *c.state.pids.rows[static_cast<std::size_t>(row)].context; }

}  // namespace

TEST(section_assembly, continuity_counters_wrap_and_repeats_are_out_of_sequence) {
  captured_state c;
  const bytes pmt = make_section(0x02, 1, pmt_body(0x130));
  for (int cc : {14, 15, 0, 1}) c.feed(payload_packet(pmt_pid, cc, true, concat({{0x00}, pmt})));
  EXPECT_EQ(c.count("OUT OF SEQ"), 0);
  EXPECT_EQ(c.count("---------------PMT"), 4);
  c.feed(payload_packet(pmt_pid, 1, true, concat({{0x00}, pmt})));  // repeated
  EXPECT_EQ(c.count("OUT OF SEQ2 1\r\n"), 1);
  c.feed(payload_packet(pmt_pid, 3, true, concat({{0x00}, pmt})));  // skips 2
  EXPECT_EQ(c.count("OUT OF SEQ2 3\r\n"), 1);
  c.feed(payload_packet(pmt_pid, 4, true, concat({{0x00}, pmt})));
  EXPECT_EQ(c.count("---------------PMT"), 5);
}

TEST(section_assembly, continuity_error_drops_the_pending_section) {
  captured_state c;
  const bytes big = section_of_size(0x40, 300);
  c.feed(payload_packet(nit_pid, 0, true, concat({{0x00}, bytes(big.begin(), big.begin() + 183)})));
  EXPECT_EQ(c.state.packets.records_in_use(), 1u);
  c.feed(payload_packet(nit_pid, 2, false, bytes(big.begin() + 183, big.end())));
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
  EXPECT_EQ(c.count("table id"), 0);
}

TEST(section_assembly, pointer_field_skips_a_foreign_tail_when_nothing_is_pending) {
  captured_state c;
  const bytes pmt = make_section(0x02, 1, pmt_body(0x130));
  c.feed(payload_packet(pmt_pid, 0, true, concat({{20}, bytes(20, 0x55), pmt})));
  EXPECT_EQ(c.count("table id 2\r\n"), 1);
  EXPECT_EQ(c.count("PID: 130\r\n"), 1);
}

TEST(section_assembly, pointer_field_bytes_complete_the_pending_section) {
  captured_state c;
  const bytes first = section_of_size(0x40, 203);   // 183 bytes in packet 1, 20 in packet 2
  const bytes second = section_of_size(0x40, 30);
  c.feed(payload_packet(nit_pid, 0, true, concat({{0x00}, bytes(first.begin(), first.begin() + 183)})));
  EXPECT_EQ(c.count("NEED LONGER PACKET"), 1);
  c.feed(payload_packet(nit_pid, 1, true, concat({{20}, bytes(first.begin() + 183, first.end()), second})));
  EXPECT_EQ(c.count("length c8\r\n"), 1);  // 203 - 3
  c.feed(payload_packet(nit_pid, 2, false, bytes(184, 0xFF)));  // the next packet of the PID
  EXPECT_EQ(c.count("length 1b\r\n"), 1);   // 30 - 3
}

TEST(section_assembly, pmt_followed_by_stuffing_is_interpreted_once_and_released) {
  captured_state c;
  c.feed(payload_packet(pmt_pid, 0, true, concat({{0x00}, make_section(0x02, 1, pmt_body(0x130))})));
  EXPECT_EQ(c.count("PMT------------------"), 1);
  EXPECT_EQ(c.count("---------------PMT"), 1);
  EXPECT_EQ(c.count("ts->proceed"), 1);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
  EXPECT_EQ(context(c, 7).queue_head, nullptr);
}

TEST(section_assembly, two_eit_sections_in_one_packet_are_both_interpreted_at_once) {
  captured_state c;
  event_spec a, b;
  a.event_id = 0x11;
  b.event_id = 0x22;
  c.feed(payload_packet(eit_pid, 0, true,
                        concat({{0x00}, make_section(0x4E, 1, eit_body({a})), make_section(0x4E, 1, eit_body({b}))})));
  EXPECT_EQ(c.count("EIT\r\n"), 2);
  EXPECT_EQ(c.count("Ev ID: 11\r\n"), 1);
  EXPECT_EQ(c.count("Ev ID: 22\r\n"), 1);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST(section_assembly, second_nit_section_waits_for_the_next_packet) {
  captured_state c;
  const bytes s1 = section_of_size(0x40, 40), s2 = section_of_size(0x41, 40);
  c.feed(payload_packet(nit_pid, 0, true, concat({{0x00}, s1, s2})));
  EXPECT_EQ(c.count("table id 40"), 1);
  EXPECT_EQ(c.count("table id 41"), 0);
  c.feed(payload_packet(nit_pid, 1, false, bytes(184, 0xFF)));
  EXPECT_EQ(c.count("table id 41"), 1);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST(section_assembly, section_ending_exactly_at_the_packet_end_is_interpreted) {
  captured_state c;
  // 1 pointer byte + 183 section bytes fill the payload exactly.
  c.feed(payload_packet(nit_pid, 0, true, concat({{0x00}, section_of_size(0x40, 183)})));
  EXPECT_EQ(c.count("len "), 1);
  const bytes two = section_of_size(0x40, 183 + 184);
  c.feed(payload_packet(nit_pid, 1, true, concat({{0x00}, bytes(two.begin(), two.begin() + 183)})));
  c.feed(payload_packet(nit_pid, 2, false, bytes(two.begin() + 183, two.end())));
  EXPECT_EQ(c.count("len "), 2);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST(section_assembly, oversized_section_length_resynchronises_at_the_next_section_start) {
  captured_state c;
  bytes bogus = {0x40, 0xBF, 0xFF};  // section_length 0xFFF: cannot fit 4096 bytes
  c.feed(payload_packet(nit_pid, 0, true, concat({{0x00}, bogus, bytes(150, 0x00)})));
  // It was dropped at once (bytes 1-2 had arrived), nothing kept.
  EXPECT_EQ(c.count("SECTION TOO LONG 4095"), 1);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
  c.feed(payload_packet(nit_pid, 1, true, concat({{0x00}, section_of_size(0x40, 40)})));
  EXPECT_EQ(c.count("table id 40"), 1);
}

TEST(section_assembly, oversized_length_found_late_keeps_the_section_announced_behind_it) {
  captured_state c;
  // Only the table_id of the pending section lies in the first packet; its
  // length arrives with a packet that also announces a new section start.
  c.feed(payload_packet(nit_pid, 0, true, concat({{182}, bytes(182, 0x00), {0x40}})));
  const bytes good = section_of_size(0x40, 40);
  c.feed(payload_packet(nit_pid, 1, true, concat({{2}, {0xBF, 0xFF}, good})));
  EXPECT_EQ(c.count("SECTION TOO LONG"), 1);
  EXPECT_EQ(c.count("length 25\r\n"), 1);
}

TEST(section_assembly, adaptation_field_past_the_packet_drops_only_that_packet) {
  captured_state c;
  bytes broken = payload_packet(nit_pid, 0, true, {0x00});
  broken[3] |= 0x20;
  broken[4] = 200;  // adaptation_field_length beyond the packet
  c.feed(broken);
  EXPECT_EQ(c.count("TS IS LONGER 205\r\n"), 1);
  c.feed(payload_packet(nit_pid, 1, true, concat({{0x00}, section_of_size(0x40, 40)})));
  EXPECT_EQ(c.count("OUT OF SEQ"), 0);
  EXPECT_EQ(c.count("table id 40"), 1);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST(section_assembly, pointer_field_past_the_packet_is_dropped) {
  captured_state c;
  c.feed(payload_packet(pmt_pid, 0, true, concat({{250}, bytes(183, 0x02)})));
  c.feed(payload_packet(pmt_pid, 1, true, {183}));  // section would start at byte 188
  EXPECT_EQ(c.count("table id"), 0);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST(section_assembly, zero_length_sections_are_taken_and_read_as_zeros) {
  captured_state c;
  // Many 3-byte sections back to back on the EIT PID: all taken while handling the packet.
  bytes payload = {0x00};
  for (int i = 0; i < 60; ++i) payload.insert(payload.end(), {0x4E, 0xB0, 0x00});
  c.feed(payload_packet(eit_pid, 0, true, payload));
  EXPECT_EQ(c.count("EIT\r\n"), 60);
  EXPECT_EQ(c.count("Ev ID"), 0);
  EXPECT_EQ(c.count("TS Id:0\r\n"), 60);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST(section_assembly, memory_stays_bounded_when_sections_never_complete_or_pile_up) {
  captured_state c;
  // A section that claims 4000 bytes but whose PID carries nothing but continuations...
  c.feed(payload_packet(pmt_pid, 0, true, {0x00, 0x02, 0xBF, 0xA0}));
  for (int i = 1; i < 2000; ++i) c.feed(payload_packet(pmt_pid, i & 15, false, bytes(184, 0x01)));
  EXPECT_LE(c.state.packets.records_in_use(), 64u);
  // ...and tiny NIT sections arriving faster than one per packet is taken.
  for (int i = 0; i < 2000; ++i) {
    bytes payload = {0x00};
    for (int k = 0; k < 61; ++k) payload.insert(payload.end(), {0x40, 0xB0, 0x00});
    c.feed(payload_packet(nit_pid, i & 15, true, payload));
  }
  EXPECT_LE(c.state.packets.records_in_use(), 2u * 64u);
}

TEST(section_assembly, take_section_bytes_counts_across_packets) {
  captured_state c;
  const bytes big = section_of_size(0x40, 300);
  c.feed(payload_packet(nit_pid, 0, true, concat({{0x00}, bytes(big.begin(), big.begin() + 183)})));
  section_context& ctx = context(c, 0);
  EXPECT_EQ(take_section_bytes(c.state, ctx, 100, nullptr), 0);
  EXPECT_EQ(take_section_bytes(c.state, ctx, 200, nullptr), 17);
  std::uint8_t out[50];
  EXPECT_EQ(take_section_bytes(c.state, ctx, 50, out), 0);
  EXPECT_EQ(out[0], 0x40);
  EXPECT_EQ(ctx.queue_head->offset, 5 + 50);
}
