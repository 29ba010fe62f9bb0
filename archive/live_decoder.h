#pragma once
// Reads a recording while the recorder writes it: the bytes that follow
// those read before go through the analyser's own packet layer and caption
// decoder, so a line is the same as the analyser's .sub will hold, and the
// programme on the air comes from the same EIT listing. The health figures
// are counted over the same bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "eucjp.h"
#include "health.h"
#include "recording_files.h"

namespace skerrow {
struct analysis_state;
}

namespace oneseg::archive {

class LiveDecoder {
 public:
  // recording_start: the broadcast seconds the recording's name stands for,
  // the date of its lines until the stream's own clock is read.
  explicit LiveDecoder(std::int64_t recording_start);
  ~LiveDecoder();
  LiveDecoder(const LiveDecoder&) = delete;
  LiveDecoder& operator=(const LiveDecoder&) = delete;

  // The next bytes of the recording, of any size.
  void feed(const std::uint8_t* data, std::size_t size);

  // Lines and listing entries completed since the last call.
  std::vector<CaptionRecord> take_captions();
  std::vector<ListingEntry> take_listing();

  // Over every byte fed so far.
  StreamHealth health();

 private:
  std::unique_ptr<skerrow::analysis_state> state_;
  std::int64_t recording_start_;
  std::string captions_text_, listing_text_;  // the analyser's .sub and .eit text not yet taken
  std::vector<std::uint8_t> partial_packet_;
  HealthCounter health_;
  EucJpDecoder decoder_;
};

}  // namespace oneseg::archive
