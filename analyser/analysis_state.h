#pragma once
#include <bitset>
#include <cstdint>

#include "pid_table.h"
#include "text_writer.h"
#include "ts_packet.h"

namespace skerrow {

// Event IDs already written to the .eit listing of the recording. Every
// distinct event is listed once, however many events a recording carries.
class listed_events {
 public:
  bool contains(std::uint16_t event_id) const { return seen_.test(event_id); }
  void add(std::uint16_t event_id) {
    if (!seen_.test(event_id)) ++count_;
    seen_.set(event_id);
  }
  int count() const { return count_; }
  void clear() {
    seen_.reset();
    count_ = 0;
  }

 private:
  std::bitset<65536> seen_;
  int count_ = 0;
};

// Everything the analyser's procedures share, passed explicitly to each of
// them: the output streams of the run and of the recording being read, the
// per-recording decoding state and the PID dispatch table.
struct analysis_state {
  // Output streams (all in text mode: "\n" is stored as CR LF).
  text_writer log;       // analysis log (skerrow_<n>.log, or standard output)
  text_writer listing;   // .eit programme listing of the recording
  text_writer captions;  // .sub caption file of the recording

  // Per recording, reset by reset_recording_state().
  std::int32_t caption_pid = 0;          // 0: the PMT has named none yet
  bool stop = false;                     // set when a packet record cannot be created
  listed_events listed;                  // event IDs written to the listing
  char caption_time[9] = "00:00:00";     // broadcast time of day of the last TOT/TDT
  int selected_statement_group = 1;      // caption data group whose statements are written
  char provider_name[4096] = {};         // station name, EUC-JP, NUL-terminated
  int provider_name_length = 0;          // 0: no provider name yet

  // Event listing: set while the EIT handler writes one event's block.
  bool event_written = false;
  bool event_listing_open = false;       // short event / content handlers write only while set
  text_writer* event_listing = nullptr;  // target of the open event listing (&listing)

  // Elementary PID of the PMT entry whose descriptors are being walked.
  std::int32_t current_elementary_pid = 0;

  // Dispatch.
  pid_table pids;
  pid_handler caption_handler = nullptr;  // handler given to rows claimed for the caption PID
  packet_pool packets;

  analysis_state() { setup_pid_table(pids); }
  analysis_state(const analysis_state&) = delete;
  analysis_state& operator=(const analysis_state&) = delete;
  ~analysis_state();
};

inline void release_packet(analysis_state& state, ts_packet* packet) {
  state.packets.release(packet);
}

// Start of every recording: clean per-recording values, empty section queues,
// caption rows given back.
void reset_recording_state(analysis_state& state);

}  // namespace skerrow
