#pragma once
#include "pid_table.h"

namespace skerrow {

// Handlers of the fixed pid_table rows. Each returns 0 after interpreting a
// section, 1 when nothing was interpreted, and takes ownership of the packet.
int handle_nit(analysis_state& state, pid_entry& row, ts_packet* packet);
int handle_sdt(analysis_state& state, pid_entry& row, ts_packet* packet);
int handle_eit(analysis_state& state, pid_entry& row, ts_packet* packet);
int handle_tot(analysis_state& state, pid_entry& row, ts_packet* packet);
int handle_bit(analysis_state& state, pid_entry& row, ts_packet* packet);
int handle_pmt(analysis_state& state, pid_entry& row, ts_packet* packet);

}  // namespace skerrow
