#include "analysis_state.h"

#include <cstdio>

namespace skerrow {

analysis_state::~analysis_state() {
  // Queued packets belong to the pool; give them back before it goes.
  reset_pid_table(*this);
}

void reset_recording_state(analysis_state& state) {
  state.caption_pid = 0;
  state.stop = false;
  state.listed.clear();
  std::snprintf(state.caption_time, sizeof state.caption_time, "00:00:00");
  state.selected_statement_group = 1;
  state.provider_name[0] = '\0';
  state.provider_name_length = 0;
  state.event_written = false;
  state.event_listing_open = false;
  state.event_listing = nullptr;
  state.current_elementary_pid = 0;
  reset_pid_table(state);
}

}  // namespace skerrow
