#pragma once
// A scenario: the broadcast that a synthesised stream carries, read from JSON.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "caption_pes.h"
#include "jst_clock.h"
#include "si_tables.h"
#include "ts_packets.h"

namespace oneseg::synth {

// A scenario that cannot be used; what() names the field and where it is,
// e.g. "events[2].start: expected a date-time \"YYYY-MM-DDTHH:MM:SS\"".
struct ScenarioError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct CaptionSpec {
  JstSeconds time = 0;
  std::vector<std::string> texts;  // one statement-body data unit each
  std::uint8_t data_group = 0;     // caption statement data group id
  std::string place;               // where it came from, e.g. "events[1].captions[0]"
};

enum class EitKind { present_following, schedule };

struct EitSpec {
  std::uint16_t pid = kLEitPid;
  EitKind kind = EitKind::present_following;
  double period_s = 2;
};

struct Repetition {  // seconds between repetitions; 0 leaves the table out
  double pat = 0.1, pmt = 0.1, nit = 2, sdt = 2, tot = 5, tdt = 0, bit = 3;
};

struct CaptionManagement {
  std::uint8_t data_group_id = 0x00;  // 0x00 (group A) or 0x20 (group B)
  std::vector<CaptionLanguage> languages{CaptionLanguage{}};
  double period_s = 10;
};

enum class FaultType {
  garbage_before_first_packet,  // `bytes` bytes (never 0x47) before the first packet
  trailing_partial_packet,      // `bytes` bytes of a packet after the last one
  continuity_error,             // the first packet of `pid` from `at_s` skips a counter
  transport_error,              // `count` packets of `pid` from `at_s` flagged erroneous
  packed_sections,              // sections of `pid` back to back (pointer_field > 0, shared packets)
  long_caption,                 // a caption at `at_s` whose data group spans several packets
  bad_tot_crc,                  // the first TOT from `at_s` has a wrong CRC_32
  time_step_back,               // from `at_s` the clock reads `by_s` seconds earlier
};

struct FaultSpec {
  FaultType type{};
  double at_s = 0;
  std::uint16_t pid = 0;
  int count = 1;
  int bytes = 0;
  int by_s = 0;
};

struct Scenario {
  JstSeconds start = 0;  // broadcast start, Japan time
  int duration_s = 0;
  StationInfo station;
  std::vector<EventInfo> events;     // sorted by start
  std::vector<CaptionSpec> captions;  // sorted by time
  std::vector<EitSpec> eit;
  Repetition repetition;
  CaptionManagement caption_management;
  bool picture_and_sound = true;
  std::vector<FaultSpec> faults;
};

Scenario parse_scenario(const nlohmann::json& j);
// Reads and parses a scenario file; errors name the file too.
Scenario load_scenario(const std::filesystem::path& file);

const char* fault_name(FaultType type);

// The caption statement group a receiver selects from the management data.
std::uint8_t selected_statement_group(const CaptionManagement& m);

}  // namespace oneseg::synth
