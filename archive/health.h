#pragma once
// The health of a recording, read from its .ts in one pass: what a drop-out,
// a corrupted stretch or a short file leaves behind.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace oneseg::archive {

struct StreamHealth {
  std::int64_t packets = 0;
  std::int64_t continuity_errors = 0;   // over all PIDs but the null packets
  std::int64_t transport_errors = 0;    // packets flagged by the demodulator
  std::int64_t sync_losses = 0;         // places where bytes were skipped to find packets again
  std::optional<std::int64_t> first_time, last_time;  // broadcast seconds of time packets
  int longest_gap_s = 0;                // between consecutive time packets
  int typical_spacing_s = 0;            // the median spacing of time packets
};

// Reads the whole file; nullopt when it cannot be opened.
std::optional<StreamHealth> measure_health(const std::filesystem::path& ts);

// Counts packets of a stream given in pieces of any size.
class HealthCounter {
 public:
  HealthCounter();
  void feed(const std::uint8_t* data, std::size_t size);
  StreamHealth finish();

 private:
  void packet(const std::uint8_t* p);
  void time_packet(const std::uint8_t* p);

  StreamHealth health_;
  std::uint8_t last_counter_[8192];   // 0xFF: no packet of the PID yet
  std::uint8_t carry_[188];
  std::size_t carried_ = 0;
  bool in_sync_ = true;
  std::int64_t previous_time_ = -1;
  std::vector<int> spacings_;
};

inline constexpr const char* needs_checking_mark = "要確認";
inline constexpr int recording_length_s = 600;
inline constexpr int continuity_error_limit = 3;
inline constexpr int transport_error_limit = 3;
inline constexpr int coverage_tolerance_s = 5;

inline constexpr int name_clock_tolerance_s = 300;

// Whether the stream's clock puts the recording more than five minutes away
// from the ten minutes its name (the recorder's clock) says: one of the two
// clocks is wrong, often by a whole day.
bool clock_disagrees_with_name(std::int64_t first_time, std::int64_t name_start);

// "要確認" when packets are missing or damaged beyond a small number, time
// packets stop for a stretch, the time covered falls short of the ten
// minutes, or the stream's clock disagrees with the name; "" otherwise.
std::string health_mark(const StreamHealth& health, std::int64_t name_start);

}  // namespace oneseg::archive
