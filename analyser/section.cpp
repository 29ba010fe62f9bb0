#include "section.h"

#include <cstring>

#include "analysis_state.h"

namespace skerrow {

namespace {

// A section needs at most 4096 bytes, i.e. 24 packets; a queue longer than
// this can only come from a corrupt stream (or from many tiny sections piling
// up on a PID whose handler takes one section per packet), and is dropped so
// that memory stays bounded.
constexpr int max_queued_packets = 64;

void unlink_head(analysis_state& state, section_context& c) {
  ts_packet* packet = c.queue_head;
  c.queue_head = packet->next;
  if (c.queue_head == nullptr) c.queue_tail = &c.queue_head;
  --c.queued_packets;
  release_packet(state, packet);
}

void drop_queue(analysis_state& state, section_context& c) {
  while (c.queue_head != nullptr) unlink_head(state, c);
  c.tail_section_start = -1;
}

void append(section_context& c, ts_packet* packet) {
  packet->next = nullptr;
  *c.queue_tail = packet;
  c.queue_tail = &packet->next;
  ++c.queued_packets;
  c.tail_section_start = -1;
}

ts_packet* queue_tail_packet(section_context& c) {
  ts_packet* p = c.queue_head;
  while (p != nullptr && p->next != nullptr) p = p->next;
  return p;
}

// Byte `index` of the queue's byte stream, or -1 when it has not arrived yet.
int peek(const section_context& c, int index) {
  for (const ts_packet* p = c.queue_head; p != nullptr; p = p->next) {
    const int available = ts_packet_size - p->offset;
    if (index < available) return p->data[p->offset + index];
    index -= available;
  }
  return -1;
}

// Continuity: true when the packet follows the last accepted one (or is the first).
bool in_sequence(analysis_state& state, section_context& c, const ts_packet* packet) {
  const auto received = static_cast<std::int32_t>(packet->continuity_counter);
  if (c.expected_counter == -1) {
    c.expected_counter = received;
    return true;
  }
  const std::int32_t expected = (c.expected_counter + 1) % 16;
  c.expected_counter = received;
  if (expected == received) return true;
  state.log.text("OUT OF SEQ").hex(static_cast<unsigned>(expected)).ch(' ')
      .hex(static_cast<unsigned>(received)).newline();
  return false;
}

// Steps taken with a new packet; false when nothing was added to the queue.
bool accept_packet(analysis_state& state, section_context& c, ts_packet* packet) {
  const bool beyond_packet = packet->offset > ts_packet_size;
  if (beyond_packet) state.log.text("TS IS LONGER ").dec(packet->offset).newline();
  if (!in_sequence(state, c, packet)) {
    release_packet(state, packet);
    drop_queue(state, c);
    return false;
  }
  const bool queue_was_empty = c.queue_head == nullptr;
  if (beyond_packet || (!packet->unit_start && queue_was_empty) ||
      packet->offset >= ts_packet_size) {
    release_packet(state, packet);
    return false;
  }
  std::int32_t next_section_start = -1;
  if (packet->unit_start) {
    const int pointer_field = packet->data[packet->offset];
    packet->offset += 1;
    if (queue_was_empty)
      packet->offset += pointer_field;  // skip the tail of a section whose start we never saw
    else
      next_section_start = packet->offset + pointer_field;
  }
  if (packet->offset >= ts_packet_size) {  // the packet holds no byte of any section
    release_packet(state, packet);
    return false;
  }
  append(c, packet);
  if (next_section_start < ts_packet_size) c.tail_section_start = next_section_start;
  if (c.queued_packets > max_queued_packets) {
    drop_queue(state, c);
    return false;
  }
  return true;
}

// The pending section cannot be right: go on with the next section start the
// stream announced (the pointer_field of the last unit-start packet queued
// behind it), or drop everything. False when nothing is left to try.
bool resynchronise(analysis_state& state, section_context& c) {
  ts_packet* tail = queue_tail_packet(c);
  const std::int32_t start = c.tail_section_start;
  if (tail == nullptr || tail == c.queue_head || start < 0) {
    drop_queue(state, c);
    return false;
  }
  while (c.queue_head != tail) unlink_head(state, c);
  tail->offset = start;
  c.tail_section_start = -1;
  return true;
}

void log_section_header(analysis_state& state, const std::uint8_t* s, int length) {
  text_writer& log = state.log;
  log.text("table id ").hex(s[0]).newline();
  log.text("section bit ").hex(s[1] & 0xF0u).newline();
  log.text("length ").hex(static_cast<unsigned>(length)).newline();
  log.text("Program No. ").hex(static_cast<unsigned>(s[3] << 8 | s[4])).newline();
  log.text("VersionCURNXT ").hex(s[5]).newline();
  log.text("Section ").hex(s[6]).newline();
  log.text("LastSection ").hex(s[7]).newline();
}

int take_section(analysis_state& state, section_context& c) {
  for (;;) {
    if (c.queue_head == nullptr) return 1;
    const int b1 = peek(c, 1), b2 = peek(c, 2);
    if (b2 < 0) return 1;
    const int length = (b1 & 0x0F) << 8 | b2;
    if (length + 3 > section_buffer_size) {
      state.log.text("SECTION TOO LONG ").dec(length).newline();
      if (!resynchronise(state, c)) return 1;
      continue;
    }
    if (take_section_bytes(state, c, length + 3, nullptr) > 0) {
      state.log.text("NEED LONGER PACKET ").dec(length).newline();
      return 1;
    }
    take_section_bytes(state, c, length + 3, c.section);
    c.section_length = length;
    // Fixed header fields of a section shorter than its table's header read
    // as zeros, not as the previous section's bytes.
    const int end = length + 3;
    const int clear_to = end + 16 < section_buffer_size ? end + 16 : section_buffer_size;
    std::memset(c.section + end, 0, static_cast<std::size_t>(clear_to - end));
    log_section_header(state, c.section, length);
    return 0;
  }
}

}  // namespace

int take_section_bytes(analysis_state& state, section_context& context, int n,
                       std::uint8_t* destination) {
  ts_packet* p = context.queue_head;
  while (p != nullptr && n > 0) {
    const int available = ts_packet_size - p->offset;
    const int take = n < available ? n : available;
    n -= take;
    ts_packet* next = p->next;
    if (destination != nullptr) {
      std::memcpy(destination, p->data + p->offset, static_cast<std::size_t>(take));
      destination += take;
      p->offset += take;
      if (p->offset >= ts_packet_size) unlink_head(state, context);  // p is the head here
    }
    p = next;
  }
  return n;
}

int assemble_section(analysis_state& state, section_context& context, ts_packet* packet) {
  if (packet != nullptr && !accept_packet(state, context, packet) &&
      context.queue_head == nullptr)
    return 1;
  return take_section(state, context);
}

void reset_section_context(analysis_state& state, section_context& context) {
  drop_queue(state, context);
  context.expected_counter = -1;
  context.section_length = 0;
}

}  // namespace skerrow

namespace skerrow {

bool another_section_follows(analysis_state& state, section_context& context) {
  // No section starts with 0xFF, so whole stuffing packets queued behind go too.
  while (context.queue_head != nullptr &&
         context.queue_head->data[context.queue_head->offset] == 0xFF)
    unlink_head(state, context);
  return context.queue_head != nullptr;
}

}  // namespace skerrow
