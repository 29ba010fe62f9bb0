#pragma once
// An analysis state whose streams write into strings, and feeding helpers.
#include <string>
#include <vector>

#include "analysis_state.h"
#include "packet_layer.h"
#include "stream_builder.h"

namespace skerrow::testing {

inline int occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

struct captured_state {
  std::string log, listing, captions;  // declared first: the writers flush into them at the end
  analysis_state state;

  captured_state() {
    state.log.open_memory(&log);
    state.listing.open_memory(&listing);
    state.captions.open_memory(&captions);
    reset_recording_state(state);
  }
  // Everything written so far, as the files would hold it.
  const std::string& log_text() {
    state.log.flush();
    return log;
  }
  const std::string& listing_text() {
    state.listing.flush();
    return listing;
  }
  void feed(const bytes& packet) {
    ts_packet* p = state.packets.acquire();
    std::copy(packet.begin(), packet.end(), p->data);
    handle_packet(state, p);
  }
  void feed_all(const std::vector<bytes>& packets) {
    for (const bytes& p : packets) feed(p);
  }
  int count(const std::string& needle) { return occurrences(log_text(), needle); }
};

}  // namespace skerrow::testing
