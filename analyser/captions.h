// The caption stream: caption management and statement data of one PES
// packet's first transport packet, written as time-stamped .sub lines.
#pragma once

#include "pid_table.h"

namespace skerrow {

struct analysis_state;
struct ts_packet;

// Handler of the pid_table row claimed for the caption PID. Takes ownership
// of the packet and releases it in every path; returns 0.
int handle_caption_packet(analysis_state& state, pid_entry& row, ts_packet* packet);

// Statement bodies of this size or more are not written to the .sub file.
constexpr int max_statement_body = 1900;

}  // namespace skerrow
