#pragma once
// Shared by the synthesiser's tests: a small scenario and stream helpers.
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "scenario.h"
#include "synthesize.h"
#include "ts_packets.h"

namespace synth_test {

using namespace oneseg::synth;

// One hour of a made-up station with two events and a few captions.
inline nlohmann::json small_scenario_json() {
  return nlohmann::json::parse(R"({
    "start": "2026-12-07T05:00:00",
    "duration": "01:00:00",
    "network": {"network_id": "0x7FE8", "name": "テスト放送", "area_code": "0x1B5"},
    "transport_stream_id": "0x7FE8",
    "channel": 27,
    "service": {"service_id": "0x5A8", "station_name": "テスト放送局１", "remote_control_key_id": 3},
    "repetition_s": {"tdt": 7},
    "events": [
      {"event_id": 101, "start": "2026-12-07T05:00:00", "duration": "00:30:00",
       "name": "朝のニュース[字]", "description": "今日のできごとをお伝えします。ABC 123", "genre": [0, 1],
       "captions": [{"offset_s": 5, "text": "おはようございます。{sym:7C21}ニュースです"},
                    {"offset_s": 12, "text": ["二行目の", "字幕です"]}],
       "caption_repeat_s": 30},
      {"event_id": 102, "start": "2026-12-07T05:30:00", "duration": "00:30:00",
       "name": "天気予報", "description": "全国の天気", "genre": [1]}
    ],
    "picture_and_sound": false
  })");
}

inline Scenario small_scenario() { return parse_scenario(small_scenario_json()); }

// The whole 188-byte packets of a stream that starts with a packet.
inline std::vector<Packet> packets_of(const Bytes& stream) {
  std::vector<Packet> out(stream.size() / kPacketSize);
  for (std::size_t i = 0; i < out.size(); ++i) std::memcpy(out[i].data(), stream.data() + i * kPacketSize, kPacketSize);
  return out;
}

inline Bytes stream_of(const Scenario& s, int seconds, MuxReport* report = nullptr) {
  return synthesize_in_memory(s, Window{s.start, seconds}, report);
}

}  // namespace synth_test
