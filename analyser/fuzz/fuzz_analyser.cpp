// libFuzzer entry: arbitrary bytes as a recording, through the read loop,
// packet layer, sections, tables, descriptors and captions.
#include <cstddef>
#include <cstdint>
#include <string>

#include "analysis_state.h"
#include "captions.h"
#include "read_loop.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One state for the whole run, as in a batch run over many recordings: each
  // input starts with the reset every recording gets.
  static std::string log, listing, captions;
  static skerrow::analysis_state state;
  log.clear();
  listing.clear();
  captions.clear();
  state.caption_handler = skerrow::handle_caption_packet;
  state.log.open_memory(&log);
  state.listing.open_memory(&listing);
  state.captions.open_memory(&captions);
  skerrow::reset_recording_state(state);
  skerrow::memory_source source(data, size);
  skerrow::read_loop(state, source);
  state.log.close();
  state.listing.close();
  state.captions.close();
  // Every packet record was released by its last owner, or sits in a section
  // queue that the next recording's reset empties.
  skerrow::reset_recording_state(state);
  if (state.packets.records_in_use() != 0) __builtin_trap();
  return 0;
}
