#include "packet_layer.h"

#include "analysis_state.h"

namespace skerrow {

namespace {

void log_adaptation_field(analysis_state& state, ts_packet* packet) {
  static const char* const flag_words[8] = {"DISCON", "RND", "ELEM", "PCR",
                                            "OPCR",   "SPL", "TPD",  "EXT"};
  const std::uint8_t* d = packet->data;
  const int length = d[packet->offset];
  packet->offset += 1 + length;
  text_writer& log = state.log;
  log.text("Adaptation Field:(").dec(length).text(") \n");
  const std::uint8_t flags = d[5];
  log.text("Flag:").hex(flags);
  for (int bit = 0; bit < 8; ++bit) log.ch(' ').text((flags & (0x80 >> bit)) ? flag_words[bit] : "");
  log.newline();
  if (length != 0 && (flags & 0x10)) {
    const std::uint64_t base = (std::uint64_t{d[6]} << 25) | (std::uint64_t{d[7]} << 17) |
                               (std::uint64_t{d[8]} << 9) | (std::uint64_t{d[9]} << 1) |
                               (d[10] >> 7);
    const int extension = (d[10] & 1) << 8 | d[11];
    log.text("PCR:base ").dec(static_cast<std::int64_t>(base)).text(" ext ").dec(extension).newline();
  }
}

const char* pes_class_line(int stream_id) {
  switch (stream_id) {
    case 0xBC: return "Program Stream Map\n";
    case 0xBD: return "Private Stream\n";
    case 0xBE: return "Padding stream\n";
    case 0xBF: return "Private Stream2\n";
    case 0xF0: return "ECM\n";
    case 0xF1: return "EMM\n";
    case 0xF2: return "DSMMC\n";
    case 0xF3: return "13522\n";
    case 0xF4: return "H222.1 A\n";
    case 0xF5: return "H222.1 B\n";
    case 0xF6: return "H222.1 C\n";
    case 0xF7: return "H222.1 D\n";
    case 0xF8: return "H222.1 E\n";
    case 0xFA: return "14496 Packet\n";
    case 0xFB: return "14496 FullMux\n";
    case 0xFF: return "Program Stream Directory\n";
    default: return nullptr;
  }
}

void log_pes_start(analysis_state& state, const ts_packet* packet) {
  const int at = packet->offset;
  if (ts_packet_size - at < 6) return;
  const std::uint8_t* p = packet->data + at;
  if (p[0] != 0 || p[1] != 0 || p[2] != 1) return;
  const int stream_id = p[3];
  text_writer& log = state.log;
  log.text("PES:SID:").hex(static_cast<unsigned>(stream_id)).ch(' ')
      .hex(static_cast<unsigned>(p[4] << 8 | p[5])).newline();
  if (stream_id >= 0xC0 && stream_id <= 0xDF)
    log.text("Audio Stream No.").dec(stream_id & 0x1F).newline();
  else if (stream_id >= 0xE0 && stream_id <= 0xEF)
    log.text("VideoStream No.").dec(stream_id & 0x0F).newline();
  else if (const char* line = pes_class_line(stream_id))
    log.text(line);
}

}  // namespace

void handle_packet(analysis_state& state, ts_packet* packet) {
  const std::uint8_t* d = packet->data;
  const unsigned header = static_cast<unsigned>(d[1] << 8 | d[2]);
  if (d[0] != ts_sync_byte || (header & 0x8000u)) {
    release_packet(state, packet);
    return;
  }
  packet->PID = static_cast<std::int32_t>(header & 0x1FFF);
  packet->unit_start = header & 0x4000;
  packet->priority = header & 0x2000;
  packet->scrambling = d[3] >> 6;
  packet->has_adaptation = d[3] & 0x20;
  packet->has_payload = d[3] & 0x10;
  packet->continuity_counter = d[3] & 0x0F;
  packet->offset = 4;
  packet->next = nullptr;
  state.log.text("PID:").hex(static_cast<unsigned>(packet->PID)).text(" SEQ:")
      .hex(packet->continuity_counter).newline();
  if (packet->unit_start) state.log.text("START PACKET\n");
  if (packet->has_adaptation) log_adaptation_field(state, packet);
  if (packet->has_payload)
    dispatch_packet(state, packet);
  else
    release_packet(state, packet);
}

int dispatch_packet(analysis_state& state, ts_packet* packet) {
  log_pes_start(state, packet);
  for (pid_entry& row : state.pids.rows) {
    if (row.PID == packet->PID) return row.handler(state, row, packet);
    if (row.PID != -1) continue;
    // First free row: the caption stream claims it.
    if (packet->PID == state.caption_pid && state.caption_handler != nullptr) {
      row.PID = state.caption_pid;
      row.handler = state.caption_handler;
      row.context.reset();
      return row.handler(state, row, packet);
    }
    break;
  }
  release_packet(state, packet);
  return 0;
}

}  // namespace skerrow
