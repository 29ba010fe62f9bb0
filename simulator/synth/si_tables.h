#pragma once
// The PSI/SI tables of a one-segment service, built from plain records.
#include <cstdint>
#include <string>
#include <vector>

#include "jst_clock.h"
#include "sections.h"

namespace oneseg::synth {

// Fixed PIDs of the one-segment multiplex.
constexpr std::uint16_t kPatPid = 0x0000, kNitPid = 0x0010, kSdtPid = 0x0011, kHEitPid = 0x0012,
                        kTimePid = 0x0014, kBitPid = 0x0024, kMEitPid = 0x0026, kLEitPid = 0x0027,
                        kPmtPid = 0x1FC8;
constexpr std::uint16_t kVideoPid = 0x0181, kAudioPid = 0x0183, kCaptionPid = 0x0130,
                        kPcrPid = 0x01FF;
constexpr std::uint8_t kCaptionComponentTag = 0x87;

struct StationInfo {
  std::uint16_t network_id = 0;
  std::string network_name;
  std::uint16_t transport_stream_id = 0;
  std::uint16_t service_id = 0;
  std::string station_name;
  std::string ts_name;
  std::uint8_t remote_control_key_id = 1;
  int channel = 13;  // UHF 13..62
  std::uint16_t area_code = 0;
  std::uint8_t broadcaster_id = 1;
};

struct EsInfo {
  std::uint8_t stream_type = 0;
  std::uint16_t pid = 0;
  std::uint8_t component_tag = 0;
  Bytes extra_descriptors;
};

struct EventInfo {
  std::uint16_t event_id = 0;
  JstSeconds start = 0;
  int duration_s = 0;
  std::string name, description;
  std::vector<std::uint8_t> genres;  // content bytes (level 1 << 4 | level 2)
};

Bytes build_pat(const StationInfo& s, std::uint8_t version = 0);
Bytes build_pmt(const StationInfo& s, const std::vector<EsInfo>& streams, std::uint8_t version = 0);
// The elementary streams of the one-segment service: H.264 video, AAC audio
// and the caption stream marked by component_tag 0x87.
std::vector<EsInfo> oneseg_streams();
Bytes build_nit(const StationInfo& s, std::uint8_t version = 0);
Bytes build_sdt(const StationInfo& s, std::uint8_t version = 0);
Bytes build_bit(const StationInfo& s, JstSeconds update_time, std::uint8_t version = 0);
Bytes build_tot(JstSeconds now);
Bytes build_tdt(JstSeconds now);

// EIT present/following (table 0x4E): section 0 holds `present` (if any),
// section 1 `following` (if any).
std::vector<Bytes> build_eit_pf(const StationInfo& s, const EventInfo* present,
                                const EventInfo* following, std::uint8_t version = 0);
// EIT schedule (table 0x50): the events sorted into three-hour segments
// counted from midnight of `day_start`, four days of them; events outside
// those days, and beyond eight sections of about 1 KB in one segment, are
// left out. `carried` (if given) receives the event_ids that went in.
std::vector<Bytes> build_eit_schedule(const StationInfo& s, const std::vector<EventInfo>& events,
                                      JstSeconds day_start, std::uint8_t version = 0,
                                      std::vector<std::uint16_t>* carried = nullptr);

// Terrestrial delivery frequency of a UHF channel in units of 1/7 MHz.
std::uint16_t uhf_frequency_units(int channel);

}  // namespace oneseg::synth
