// The packet layer: header checks, adaptation field, PES lines, dispatch and
// the caption row claim.
#include <gtest/gtest.h>

#include "test_support.h"

using namespace skerrow;
using namespace skerrow::testing;

namespace {

int caption_calls = 0;
int counting_caption_handler(analysis_state& state, pid_entry&, ts_packet* packet) {
  ++caption_calls;
  release_packet(state, packet);
  return 7;
}

struct packet_layer : ::testing::Test {
  captured_state c;
  void SetUp() override {
    caption_calls = 0;
    c.state.caption_handler = counting_caption_handler;
  }
};

}  // namespace

TEST_F(packet_layer, drops_bad_sync_and_transport_errors_silently) {
  bytes bad_sync = make_packet({.pid = 0x12});
  bad_sync[0] = 0x46;
  bytes transport_error = make_packet({.pid = 0x12});
  transport_error[1] |= 0x80;
  c.feed(bad_sync);
  c.feed(transport_error);
  EXPECT_EQ(c.log_text(), "");
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST_F(packet_layer, logs_header_and_releases_adaptation_only_packets) {
  c.feed(make_packet({.pid = 0x1FC8, .counter = 0xA, .unit_start = true, .payload = false,
                      .adaptation_length = 183, .adaptation_flags = 0x82}));
  EXPECT_EQ(c.log_text(),
            "PID:1fc8 SEQ:a\r\nSTART PACKET\r\nAdaptation Field:(183) \r\n"
            "Flag:82 DISCON      TPD \r\n");
  EXPECT_EQ(c.count("PMT"), 0);  // never dispatched
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST_F(packet_layer, pcr_base_is_unsigned_33_bits) {
  c.feed(make_packet({.pid = 0x100, .payload = false, .adaptation_length = 7, .adaptation_flags = 0x10,
                      .adaptation_body = {0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x2C}}));
  EXPECT_NE(c.log_text().find("PCR:base 8589934591 ext 300\r\n"), std::string::npos) << c.log;
}

TEST_F(packet_layer, pcr_needs_a_nonzero_adaptation_length) {
  bytes p = make_packet({.pid = 0x100, .adaptation_length = 0, .payload_bytes = {0x10}});
  c.feed(p);
  EXPECT_EQ(c.count("PCR:base"), 0);
}

TEST_F(packet_layer, pes_start_lines_with_stream_class) {
  c.feed(make_packet({.pid = 0x101, .payload_bytes = {0, 0, 1, 0xE0, 0x12, 0x34}}));
  c.feed(make_packet({.pid = 0x101, .payload_bytes = {0, 0, 1, 0xF7, 0x00, 0x10}}));
  c.feed(make_packet({.pid = 0x101, .payload_bytes = {0, 0, 1, 0xC5, 0x00, 0x10}}));
  c.feed(make_packet({.pid = 0x101, .payload_bytes = {0, 0, 1, 0xF9, 0x00, 0x10}}));
  const std::string& log = c.log_text();
  EXPECT_NE(log.find("PES:SID:e0 1234\r\nVideoStream No.0\r\n"), std::string::npos);
  EXPECT_NE(log.find("PES:SID:f7 10\r\nH222.1 D\r\n"), std::string::npos);
  EXPECT_NE(log.find("PES:SID:c5 10\r\nAudio Stream No.5\r\n"), std::string::npos);
  EXPECT_TRUE(log.ends_with("PES:SID:f9 10\r\n"));  // no class line
}

TEST_F(packet_layer, pes_start_needs_six_bytes_before_the_packet_end) {
  // Adaptation field leaves 5 payload bytes: 00 00 01 e0 12.
  bytes p = make_packet({.pid = 0x101, .adaptation_length = 178, .payload_bytes = {0, 0, 1, 0xE0, 0x12}});
  c.feed(p);
  EXPECT_EQ(c.count("PES"), 0);
}

TEST_F(packet_layer, eit_pids_share_the_handler_with_separate_contexts) {
  for (int pid : {0x12, 0x26, 0x27}) c.feed(make_packet({.pid = pid, .unit_start = true, .payload_bytes = {0}}));
  const auto& rows = c.state.pids.rows;
  EXPECT_EQ(rows[2].handler, rows[5].handler);
  EXPECT_EQ(rows[2].handler, rows[6].handler);
  ASSERT_TRUE(rows[2].context && rows[5].context && rows[6].context);
  EXPECT_NE(rows[2].context.get(), rows[5].context.get());
  EXPECT_NE(rows[5].context.get(), rows[6].context.get());
}

TEST_F(packet_layer, caption_pid_claims_the_first_free_row_once) {
  c.state.caption_pid = 0x130;
  c.feed(make_packet({.pid = 0x131}));  // not the caption PID: dropped
  c.feed(make_packet({.pid = 0x130}));
  c.feed(make_packet({.pid = 0x130, .counter = 1}));
  EXPECT_EQ(caption_calls, 2);
  EXPECT_EQ(c.state.pids.rows[8].PID, 0x130);
  EXPECT_EQ(c.state.pids.rows[9].PID, -1);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST_F(packet_layer, with_every_row_in_use_new_caption_pids_are_dropped) {
  for (int pid = 0x200; pid < 0x200 + 14; ++pid) {
    c.state.caption_pid = pid;
    c.feed(make_packet({.pid = pid}));
  }
  EXPECT_EQ(caption_calls, 14);
  c.state.caption_pid = 0x300;
  c.feed(make_packet({.pid = 0x300}));
  EXPECT_EQ(caption_calls, 14);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
}

TEST_F(packet_layer, a_new_recording_gives_caption_rows_back_and_empties_queues) {
  c.state.caption_pid = 0x130;
  c.feed(make_packet({.pid = 0x130}));
  // A section left pending on the PMT PID.
  c.feed(make_packet({.pid = 0x1FC8, .counter = 5, .unit_start = true, .payload_bytes = {0x00, 0x02, 0xB1, 0x00}}));
  EXPECT_EQ(c.state.packets.records_in_use(), 1u);
  reset_recording_state(c.state);
  EXPECT_EQ(c.state.pids.rows[8].PID, -1);
  EXPECT_EQ(c.state.packets.records_in_use(), 0u);
  EXPECT_EQ(c.state.pids.rows[7].context->expected_counter, -1);
  EXPECT_EQ(c.state.caption_pid, 0);
  EXPECT_STREQ(c.state.caption_time, "00:00:00");
}
