// Table handlers: the programme listing decisions, TOT/TDT caption time,
// the PMT's caption PID, and the MJD date conversion.
#include <gtest/gtest.h>

#include <cstring>

#include "mjd_time.h"
#include "test_support.h"

using namespace skerrow;
using namespace skerrow::testing;

namespace {

constexpr int eit_pid = 0x12;

void give_provider_name(captured_state& c, const char* name) {
  std::snprintf(c.state.provider_name, sizeof c.state.provider_name, "%s", name);
  c.state.provider_name_length = static_cast<int>(std::strlen(name));
}

void feed_eit(captured_state& c, int pid, int& counter, const std::vector<event_spec>& events) {
  c.feed_all(packetize(pid, counter, {make_section(0x4E, 1, eit_body(events))}));
}

std::string formatted(std::initializer_list<std::uint8_t> five, midnight_rule rule = midnight_rule::invalid) {
  std::string out;
  text_writer w;
  w.open_memory(&out);
  const std::vector<std::uint8_t> b(five);
  if (format_mjd_time(b.data(), &w, rule) != 0) return "invalid";
  w.flush();
  return out;
}

}  // namespace

TEST(mjd_time, converts_dates_and_rejects_invalid_values) {
  EXPECT_EQ(formatted({0xD8, 0xF0, 0x12, 0x00, 0x00}), "2010/12/6 12:00:00\r\n");
  EXPECT_EQ(formatted({0xC0, 0x79, 0x12, 0x45, 0x00}), "invalid");  // 1993: before 2000
  EXPECT_EQ(formatted({0xD6, 0x35, 0x05, 0x39, 0x16}), "2009/1/6 05:39:16\r\n");
  EXPECT_EQ(formatted({0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "invalid");
  EXPECT_EQ(formatted({0xD8, 0xF0, 0x24, 0x00, 0x00}), "invalid");
  EXPECT_EQ(formatted({0xD8, 0xF0, 0x23, 0x60, 0x00}), "invalid");
  EXPECT_EQ(formatted({0xD8, 0xF0, 0x23, 0x59, 0x60}), "invalid");
  EXPECT_EQ(formatted({0xD8, 0xF0, 0x23, 0x59, 0x59}), "2010/12/6 23:59:59\r\n");
}

TEST(mjd_time, midnight_is_invalid_only_under_the_strict_rule) {
  EXPECT_EQ(formatted({0xD8, 0xF0, 0x00, 0x00, 0x00}), "invalid");
  EXPECT_EQ(formatted({0xD8, 0xF0, 0x00, 0x00, 0x00}, midnight_rule::valid), "2010/12/6 00:00:00\r\n");
  EXPECT_EQ(formatted({0xD8, 0xF0, 0x00, 0x00, 0x01}), "2010/12/6 00:00:01\r\n");
  std::uint8_t b[5] = {0xD8, 0xF0, 0, 0, 0};
  EXPECT_EQ(format_mjd_time(b, nullptr), -1);
  EXPECT_EQ(format_mjd_time(b, nullptr, midnight_rule::valid), 0);
}

TEST(programme_listing, lists_an_event_once_with_its_header_and_end_lines) {
  captured_state c;
  give_provider_name(c, "TestTV");
  event_spec e;
  e.event_id = 0x1234;
  int cc12 = 0, cc26 = 0;
  feed_eit(c, eit_pid, cc12, {e});
  feed_eit(c, eit_pid, cc12, {e});  // repeated
  feed_eit(c, 0x26, cc26, {e});     // schedule PID
  EXPECT_EQ(c.listing_text(), "StartTime: 2010/12/6 12:00:00\r\nDuration: 01:30:00\r\n-\r\n");
  EXPECT_EQ(c.count("Start Time: 2010/12/6 12:00:00\r\nDuration: 1 30 0\r\nLength 0\r\n"), 3);
  EXPECT_FALSE(c.state.event_listing_open);
}

TEST(programme_listing, more_than_sixteen_events_are_all_listed_once) {
  captured_state c;
  give_provider_name(c, "TestTV");
  std::vector<event_spec> events(40);
  for (int i = 0; i < 40; ++i) events[static_cast<std::size_t>(i)].event_id = 0x100 + i;
  int cc = 0;
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < 40; i += 4)
      feed_eit(c, eit_pid, cc, std::vector<event_spec>(events.begin() + i, events.begin() + i + 4));
  EXPECT_EQ(occurrences(c.listing_text(), "StartTime: "), 40);
  EXPECT_EQ(c.state.listed.count(), 40);
}

TEST(programme_listing, event_at_midnight_is_listed_but_undefined_times_are_not) {
  captured_state c;
  give_provider_name(c, "TestTV");
  event_spec midnight, undefined;
  midnight.event_id = 1;
  midnight.hour = 0x00;
  undefined.event_id = 2;
  undefined.mjd = 0xFFFF;
  undefined.hour = undefined.minute = undefined.second = 0xFF;
  int cc = 0;
  feed_eit(c, eit_pid, cc, {midnight, undefined});
  EXPECT_EQ(c.listing_text(), "StartTime: 2010/12/6 00:00:00\r\nDuration: 01:30:00\r\n-\r\n");
  // The undefined time logs nothing after its label.
  EXPECT_EQ(c.count("Ev ID: 2\r\nStart Time: Duration: "), 1);
}

TEST(programme_listing, events_wait_for_the_provider_name) {
  captured_state c;
  event_spec e;
  int cc = 0;
  feed_eit(c, eit_pid, cc, {e});
  EXPECT_EQ(c.listing_text(), "");
  EXPECT_EQ(c.count("Ev ID: 1\r\n"), 1);
  give_provider_name(c, "TestTV");
  feed_eit(c, eit_pid, cc, {e});
  EXPECT_EQ(occurrences(c.listing_text(), "StartTime: "), 1);
}

TEST(programme_listing, event_loop_stops_at_the_section_end_despite_a_huge_descriptor_length) {
  captured_state c;
  give_provider_name(c, "TestTV");
  event_spec e;
  e.descriptors = short_event_descriptor("News", "Text");
  bytes body = eit_body({e});
  body[6 + 10] = 0xFF;  // descriptors_loop_length 0xFFF
  body[6 + 11] = 0xFF;
  int cc = 0;
  c.feed_all(packetize(eit_pid, cc, {make_section(0x4E, 1, body)}));
  EXPECT_EQ(c.count("Length fff\r\n"), 1);
  EXPECT_EQ(c.count("Ev ID"), 1);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST(tot, sets_the_caption_time_from_the_section_bytes) {
  captured_state c;
  c.feed(tot_packet(0, 0xD8F0, 0x21, 0x05, 0x09));
  EXPECT_STREQ(c.state.caption_time, "21:05:09");
  EXPECT_EQ(c.count("TOT or TDT\r\nTable ID73\r\nLength: a\r\n2010/12/6 21:05:09\r\n"), 1);
}

TEST(tot, follows_adaptation_field_and_pointer_field) {
  captured_state c;
  const bytes plain = tot_packet(0, 0xD8F0, 0x10, 0x20, 0x30);
  bytes section(plain.begin() + 5, plain.begin() + 5 + 17);
  bytes payload = {3, 0xAA, 0xBB, 0xCC};
  payload.insert(payload.end(), section.begin(), section.end());
  c.feed(make_packet({.pid = 0x14, .unit_start = true, .adaptation_length = 8, .payload_bytes = payload}));
  EXPECT_STREQ(c.state.caption_time, "10:20:30");
}

TEST(tot, keeps_the_caption_time_when_the_time_is_not_valid_bcd) {
  captured_state c;
  c.feed(tot_packet(0, 0xD8F0, 0x08, 0x00, 0x00));
  c.feed(tot_packet(1, 0xD8F0, 0xFF, 0xFF, 0xFF));
  c.feed(tot_packet(2, 0xD8F0, 0x25, 0x00, 0x00));
  c.feed(tot_packet(3, 0xD8F0, 0x1A, 0x00, 0x00));
  EXPECT_STREQ(c.state.caption_time, "08:00:00");
  // Midnight is a valid broadcast time.
  c.feed(tot_packet(4, 0xD8F0, 0x00, 0x00, 0x00));
  EXPECT_STREQ(c.state.caption_time, "00:00:00");
  EXPECT_EQ(c.count("2010/12/6 00:00:00\r\n"), 1);
}

TEST(tot, ignores_continuation_packets_and_sections_cut_by_the_packet_end) {
  captured_state c;
  bytes continuation = tot_packet(0, 0xD8F0, 0x11, 0x11, 0x11);
  continuation[1] &= static_cast<std::uint8_t>(~0x40);
  c.feed(continuation);
  c.feed(make_packet({.pid = 0x14, .unit_start = true, .payload_bytes = {180}}));
  EXPECT_EQ(c.count("TOT or TDT"), 0);
  EXPECT_STREQ(c.state.caption_time, "00:00:00");
}

TEST(pmt, names_the_caption_pid_and_walks_every_stream) {
  captured_state c;
  int cc = 0;
  c.feed_all(packetize(0x1FC8, cc, {make_section(0x02, 0x0408, pmt_body(0x130))}));
  EXPECT_EQ(c.state.caption_pid, 0x130);
  EXPECT_EQ(c.count("PCR_PID:101\r\nLEN:0\r\n"), 1);
  EXPECT_EQ(c.count("Type:6\r\nPID: 130\r\nLEN: 3\r\n"), 1);
  EXPECT_EQ(c.count("Type:"), 3);
}

TEST(sdt_and_nit, are_walked_to_their_loop_bounds) {
  captured_state c;
  int cc11 = 0, cc10 = 0;
  c.feed_all(packetize(0x11, cc11, {make_section(0x42, 0x7FE0, sdt_body("TestTV"))}));
  EXPECT_EQ(c.count("Original Program Id:7fe0\r\nService Id:408\r\nEIT Flags:3\r\n"
                    "Running status: 4\r\nFreeCA: 0\r\nDESCRIPTOR:\r\n"), 1);
  EXPECT_STREQ(c.state.provider_name, "TestTV");
  const bytes nit_body = {0xF0, 0x00, 0xF0, 0x06, 0x7F, 0xE0, 0x7F, 0xE1, 0xF0, 0x00};
  c.feed_all(packetize(0x10, cc10, {make_section(0x40, 0x7FE0, nit_body)}));
  EXPECT_EQ(c.count("len 6\r\nTSID:7fe0\r\nOriginal Network ID:7fe1\r\n0\r\n"), 1);
}
