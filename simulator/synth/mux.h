#pragma once
// The multiplexer: lays the tables, captions, picture and sound of a
// scenario's time window onto a constant 416 kbit/s packet stream and notes,
// as it goes, what a receiver should make of it (the truth).
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "av_source.h"
#include "scenario.h"

namespace oneseg::synth {

constexpr std::uint64_t kTicksPerSecond = 27'000'000;  // PCR clock
constexpr std::uint64_t kStreamBitRate = 416'000;

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(std::span<const std::uint8_t> bytes) = 0;
};

class MemorySink : public ByteSink {
 public:
  void write(std::span<const std::uint8_t> bytes) override { data.insert(data.end(), bytes.begin(), bytes.end()); }
  Bytes data;
};

struct Window {
  JstSeconds start = 0;
  int duration_s = 0;
};

struct CaptionTruth {
  JstSeconds shown_time = 0;  // clock of the last TOT/TDT before the caption
  double offset_s = 0;        // position in the stream
  std::string text;           // what a receiver shows (see CaptionBody::visible_text)
  std::string source_text;    // as the scenario wrote it
  std::uint8_t data_group = 0;
  bool selected = false;           // its group is the one the management data selected
  bool fits_first_packet = false;  // the whole PES packet lies in its first transport packet
};

struct EventTruth {
  EventInfo event;
  double first_seen_s = 0;  // stream position of the first EIT section carrying it
};

struct MuxReport {
  std::uint64_t packets = 0, bytes = 0;
  std::vector<CaptionTruth> captions;
  std::vector<EventTruth> events;
  double max_lateness_s = 0;  // how far behind its due time any payload went out
};

// Picture and sound for the window, when the stream carries them.
struct AvInput {
  std::unique_ptr<AccessUnitReader> video, audio;
};

// Writes the window of the scenario to `sink`. Faults of the scenario are
// applied; `av` may be empty, and then null packets fill the stream.
MuxReport multiplex(const Scenario& scenario, const Window& window, AvInput av, ByteSink& sink);

// The window's stream position of a 27 MHz tick and back.
std::uint64_t slot_tick(std::uint64_t slot);

}  // namespace oneseg::synth
