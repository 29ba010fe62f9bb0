#include "si_tables.h"

#include <algorithm>

#include "analysis_state.h"
#include "descriptors.h"
#include "mjd_time.h"

namespace skerrow {

namespace {

section_context& context_of(pid_entry& row) {
  if (!row.context) row.context = std::make_unique<section_context>();
  return *row.context;
}

unsigned u16(const std::uint8_t* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }
int len12(const std::uint8_t* p) { return (p[0] & 0x0F) << 8 | p[1]; }

// Index of the first CRC_32 byte: descriptor loops end there at the latest,
// whatever lengths the section claims.
int crc_start(const section_context& c) { return c.section_length - 1; }

void walk_descriptors(analysis_state& state, const std::uint8_t* s, int begin, int declared_end,
                      int bound) {
  const int end = std::min(declared_end, bound);
  for (int at = begin; at < end;)
    at += dump_descriptor(state, s + at, end - at, descriptor_names) + 2;
}

void interpret_nit(analysis_state& state, const section_context& c) {
  const std::uint8_t* s = c.section;
  const int bound = crc_start(c);
  const int network_length = len12(s + 8);
  walk_descriptors(state, s, 10, 10 + network_length, bound);
  const int at = 10 + network_length;
  if (at + 2 > bound) return;
  const int loop_length = len12(s + at);
  state.log.text("len ").hex(static_cast<unsigned>(loop_length)).newline();
  const int end = std::min(at + 2 + loop_length, bound);
  for (int e = at + 2; e + 6 <= end;) {
    const int descriptors_length = len12(s + e + 4);
    state.log.text("TSID:").hex(u16(s + e)).newline();
    state.log.text("Original Network ID:").hex(u16(s + e + 2)).newline();
    state.log.hex(static_cast<unsigned>(descriptors_length)).newline();
    walk_descriptors(state, s, e + 6, e + 6 + descriptors_length, end);
    e += 6 + descriptors_length;
  }
}

void interpret_sdt(analysis_state& state, const section_context& c) {
  const std::uint8_t* s = c.section;
  const int bound = crc_start(c);
  state.log.text("Original Program Id:").hex(u16(s + 8)).newline();
  for (int e = 11; e < bound - 3;) {
    const int descriptors_length = len12(s + e + 3);
    state.log.text("Service Id:").hex(u16(s + e)).newline();
    state.log.text("EIT Flags:").hex(s[e + 2]).newline();
    state.log.text("Running status: ").hex(s[e + 3] >> 5).newline();
    state.log.text("FreeCA: ").hex((s[e + 3] >> 4) & 1).newline();
    walk_descriptors(state, s, e + 5, e + 5 + descriptors_length, bound);
    e += 5 + descriptors_length;
  }
}

void open_event_listing(analysis_state& state, const std::uint8_t* event) {
  const std::uint8_t* start_time = event + 2;
  const std::uint8_t* duration = event + 7;
  text_writer& listing = state.listing;
  state.listed.add(static_cast<std::uint16_t>(u16(event)));
  listing.text("StartTime: ");
  format_mjd_time(start_time, &listing, midnight_rule::valid);
  listing.text("Duration: ").hex02(duration[0]).ch(':').hex02(duration[1]).ch(':')
      .hex02(duration[2]).newline();
  state.event_written = true;
  state.event_listing_open = true;
  state.event_listing = &listing;
}

void close_event_listing(analysis_state& state) {
  if (!state.event_written) return;
  state.listing.text("-\n");
  state.event_written = false;
  state.event_listing_open = false;
  state.event_listing = nullptr;
}

void interpret_event(analysis_state& state, const std::uint8_t* s, int e, int bound) {
  const std::uint8_t* event = s + e;
  const auto event_id = static_cast<std::uint16_t>(u16(event));
  text_writer& log = state.log;
  log.text("Ev ID: ").hex(event_id).newline();
  if (!state.listed.contains(event_id) && state.provider_name_length > 0 &&
      format_mjd_time(event + 2, nullptr, midnight_rule::valid) == 0)
    open_event_listing(state, event);
  log.text("Start Time: ");
  format_mjd_time(event + 2, &log, midnight_rule::valid);
  log.text("Duration: ").hex(event[7]).ch(' ').hex(event[8]).ch(' ').hex(event[9]).newline();
  const int descriptors_length = len12(event + 10);
  log.text("Length ").hex(static_cast<unsigned>(descriptors_length)).newline();
  walk_descriptors(state, s, e + 12, e + 12 + descriptors_length, bound);
  close_event_listing(state);
}

void interpret_eit(analysis_state& state, const section_context& c) {
  const std::uint8_t* s = c.section;
  const int bound = crc_start(c);
  text_writer& log = state.log;
  log.text("TS Id:").hex(u16(s + 8)).newline();
  log.text("Original Network Id:").hex(u16(s + 10)).newline();
  log.text("Segment List section no ").hex(s[12]).newline();
  log.text("Last table ID ").hex(s[13]).newline();
  for (int e = 14; e < bound - 7;) {
    interpret_event(state, s, e, bound);
    e += 12 + len12(s + e + 10);
  }
}

void interpret_bit(analysis_state& state, const section_context& c) {
  const std::uint8_t* s = c.section;
  const int bound = crc_start(c);
  const int first_length = len12(s + 8);
  state.log.text("LENGTH: ").hex(static_cast<unsigned>(first_length)).newline();
  walk_descriptors(state, s, 10, 10 + first_length, bound);
  for (int e = 10 + first_length; e < bound - 3;) {
    const int descriptors_length = len12(s + e + 1);
    state.log.text("Broadcaster Id:").hex(s[e]).newline();
    walk_descriptors(state, s, e + 3, e + 3 + descriptors_length, bound);
    e += 3 + descriptors_length;
  }
}

void interpret_pmt(analysis_state& state, const section_context& c) {
  const std::uint8_t* s = c.section;
  const int bound = crc_start(c);
  text_writer& log = state.log;
  const int program_info_length = len12(s + 10);
  log.text("PCR_PID:").hex(u16(s + 8) & 0x1FFF).newline();
  log.text("LEN:").hex(static_cast<unsigned>(program_info_length)).newline();
  walk_descriptors(state, s, 12, 12 + program_info_length, bound);
  for (int e = 12 + program_info_length; e < bound - 3;) {
    const int es_info_length = len12(s + e + 3);
    state.current_elementary_pid = static_cast<std::int32_t>(u16(s + e + 1) & 0x1FFF);
    log.text("Type:").hex(s[e]).newline();
    log.text("PID: ").hex(static_cast<unsigned>(state.current_elementary_pid)).newline();
    log.text("LEN: ").hex(static_cast<unsigned>(es_info_length)).newline();
    walk_descriptors(state, s, e + 5, e + 5 + es_info_length, bound);
    log.newline();
    e += 5 + es_info_length;
  }
}

using interpreter = void (*)(analysis_state& state, const section_context& c);

// NIT, SDT and BIT: one section per packet; a section that follows in the
// same packet stays queued until the next packet of the PID arrives.
int handle_one_section(analysis_state& state, pid_entry& row, ts_packet* packet,
                       const char* label, interpreter interpret) {
  state.log.text(label);
  section_context& c = context_of(row);
  if (assemble_section(state, c, packet) != 0) return 1;
  interpret(state, c);
  another_section_follows(state, c);
  return 0;
}

}  // namespace

int handle_nit(analysis_state& state, pid_entry& row, ts_packet* packet) {
  return handle_one_section(state, row, packet, "NIT\n", interpret_nit);
}

int handle_sdt(analysis_state& state, pid_entry& row, ts_packet* packet) {
  return handle_one_section(state, row, packet, "SDT\n", interpret_sdt);
}

int handle_bit(analysis_state& state, pid_entry& row, ts_packet* packet) {
  return handle_one_section(state, row, packet, "BIT\n", interpret_bit);
}

// Every section that the packet completes is interpreted at once.
int handle_eit(analysis_state& state, pid_entry& row, ts_packet* packet) {
  section_context& c = context_of(row);
  int result = 1;
  while (assemble_section(state, c, packet) == 0) {
    packet = nullptr;
    result = 0;
    state.log.text("EIT\n");
    interpret_eit(state, c);
    if (!another_section_follows(state, c)) break;
  }
  return result;
}

int handle_pmt(analysis_state& state, pid_entry& row, ts_packet* packet) {
  state.log.text("PMT------------------\n");
  section_context& c = context_of(row);
  if (assemble_section(state, c, packet) != 0) return 1;
  interpret_pmt(state, c);
  if (c.queue_head != nullptr) {
    state.log.text("ts->proceed ").hex(static_cast<unsigned>(c.queue_head->offset)).newline();
    another_section_follows(state, c);
  }
  state.log.text("---------------PMT\n");
  return 0;
}

// Reads the time straight from the section that starts in this packet.
int handle_tot(analysis_state& state, pid_entry&, ts_packet* packet) {
  const int at = packet->offset;
  if (!packet->unit_start || at >= ts_packet_size ||
      at + 1 + packet->data[at] + 8 > ts_packet_size) {
    release_packet(state, packet);
    return 1;
  }
  const std::uint8_t* s = packet->data + at + 1 + packet->data[at];
  text_writer& log = state.log;
  log.text("TOT or TDT\n");
  log.text("Table ID").hex(s[0]).newline();
  log.text("Length: ").hex(static_cast<unsigned>(len12(s + 1))).newline();
  set_caption_time(state, s + 3);
  format_mjd_time(s + 3, &log, midnight_rule::valid);
  release_packet(state, packet);
  return 0;
}

}  // namespace skerrow
