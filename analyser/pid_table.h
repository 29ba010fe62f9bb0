#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "section.h"
#include "ts_packet.h"

namespace skerrow {

struct analysis_state;
struct pid_entry;

// A row's consumer. It takes ownership of the packet (release_packet() it, or
// keep it in a queue); packet->offset points at the first payload byte, after
// any adaptation field, and may lie beyond 188 when the adaptation field is bad.
using pid_handler = int (*)(analysis_state& state, pid_entry& row, ts_packet* packet);

struct pid_entry {
  std::int32_t PID = -1;  // -1: free row
  pid_handler handler = nullptr;
  std::unique_ptr<section_context> context;  // created by the handler at first use
};

constexpr int pid_table_rows = 22;
constexpr int fixed_pid_rows = 8;  // NIT, SDT, EIT x3, TOT/TDT, BIT, PMT

struct pid_table {
  std::array<pid_entry, pid_table_rows> rows;
};

// Fixed rows for the one-segment SI and PMT PIDs, the rest free.
void setup_pid_table(pid_table& table);

// Start of a recording: empties every section context (queues and continuity
// counters) and frees the rows claimed for caption PIDs, so that nothing of
// the previous recording leaks into this one.
void reset_pid_table(analysis_state& state);

}  // namespace skerrow
