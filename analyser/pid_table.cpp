#include "pid_table.h"

#include "analysis_state.h"
#include "si_tables.h"

namespace skerrow {

namespace {
struct fixed_row {
  std::int32_t PID;
  pid_handler handler;
};
// The service information and programme map PIDs of a one-segment broadcast.
constexpr fixed_row fixed_rows[fixed_pid_rows] = {
    {0x0010, handle_nit}, {0x0011, handle_sdt}, {0x0012, handle_eit}, {0x0014, handle_tot},
    {0x0024, handle_bit}, {0x0026, handle_eit}, {0x0027, handle_eit}, {0x1FC8, handle_pmt},
};
}  // namespace

void setup_pid_table(pid_table& table) {
  for (int i = 0; i < pid_table_rows; ++i) {
    pid_entry& row = table.rows[static_cast<std::size_t>(i)];
    row.PID = i < fixed_pid_rows ? fixed_rows[i].PID : -1;
    row.handler = i < fixed_pid_rows ? fixed_rows[i].handler : nullptr;
    row.context.reset();
  }
}

void reset_pid_table(analysis_state& state) {
  for (int i = 0; i < pid_table_rows; ++i) {
    pid_entry& row = state.pids.rows[static_cast<std::size_t>(i)];
    if (row.context) reset_section_context(state, *row.context);
    if (i >= fixed_pid_rows) {
      row.PID = -1;
      row.handler = nullptr;
      row.context.reset();
    }
  }
}

}  // namespace skerrow
