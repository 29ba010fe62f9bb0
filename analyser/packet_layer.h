#pragma once
#include "ts_packet.h"

namespace skerrow {

struct analysis_state;

// Entry point of the read loop for every 188-byte packet; takes ownership.
void handle_packet(analysis_state& state, ts_packet* packet);

// Routes a payload-carrying packet through the pid_table; returns the
// handler's result, or 0 when the packet was released.
int dispatch_packet(analysis_state& state, ts_packet* packet);

}  // namespace skerrow
