#pragma once
#include <cstdint>

#include "ts_packet.h"

namespace skerrow {

struct analysis_state;

constexpr int section_buffer_size = 4096;

// Rebuilds sections of one PID from its packet payloads. The queued packets,
// each read from its own offset to its end, form one continuous byte stream.
struct section_context {
  ts_packet* queue_head = nullptr;
  ts_packet** queue_tail = &queue_head;  // where the next packet is linked
  int queued_packets = 0;
  std::int32_t expected_counter = -1;    // continuity counter of the last accepted packet
  // Where the tail packet's pointer_field says the next section starts, when
  // the tail was a unit-start packet appended behind a pending section; -1 otherwise.
  std::int32_t tail_section_start = -1;
  std::int32_t section_length = 0;
  std::uint8_t section[section_buffer_size] = {};
};

// 0 when a complete section has just been copied into context.section, 1 otherwise.
// Takes ownership of packet (which may be null: then only what is queued is used).
int assemble_section(analysis_state& state, section_context& context, ts_packet* packet);

// n minus the bytes that were available; copies and consumes them when destination is given.
int take_section_bytes(analysis_state& state, section_context& context, int n,
                       std::uint8_t* destination);

// Releases every queued packet and forgets the continuity counter.
void reset_section_context(analysis_state& state, section_context& context);

}  // namespace skerrow

namespace skerrow {

// After a section was taken: while the head packet's next byte is 0xFF
// (stuffing) the head packet is released. Returns true when another section
// begins in the queue.
bool another_section_follows(analysis_state& state, section_context& context);

}  // namespace skerrow
