#include "live_decoder.h"

#include "analysis_state.h"
#include "captions.h"
#include "read_loop.h"

namespace oneseg::archive {

namespace {

// The text up to and including the last occurrence of `end`, taken out of
// text; what follows (still being written) stays.
std::string take_through_last(std::string& text, std::string_view end)
{
  const std::size_t at = text.rfind(end);
  if (at == std::string::npos) return {};
  std::string done = text.substr(0, at + end.size());
  text.erase(0, at + end.size());
  return done;
}

}  // namespace

LiveDecoder::LiveDecoder(std::int64_t recording_start)
    : state_(std::make_unique<skerrow::analysis_state>()), recording_start_(recording_start)
{
  skerrow::reset_recording_state(*state_);
  state_->caption_handler = skerrow::handle_caption_packet;
  state_->captions.open_memory(&captions_text_);
  state_->listing.open_memory(&listing_text_);
}

LiveDecoder::~LiveDecoder() = default;

void LiveDecoder::feed(const std::uint8_t* data, std::size_t size)
{
  health_.feed(data, size);
  // The analyser's read loop is handed whole packets only; the start of an
  // unfinished one waits for the rest.
  partial_packet_.insert(partial_packet_.end(), data, data + size);
  const std::size_t whole = partial_packet_.size() - partial_packet_.size() % static_cast<std::size_t>(skerrow::ts_packet_size);
  skerrow::memory_source source(partial_packet_.data(), whole);
  skerrow::read_loop(*state_, source);
  partial_packet_.erase(partial_packet_.begin(), partial_packet_.begin() + static_cast<std::ptrdiff_t>(whole));
  state_->captions.flush();
  state_->listing.flush();
}

std::vector<CaptionRecord> LiveDecoder::take_captions()
{
  const std::string lines = take_through_last(captions_text_, "\n");
  if (lines.empty()) return {};
  // Dated by the stream's clock once it is known, as the index dates the .sub.
  const StreamHealth h = health_.finish();
  return parse_captions(lines, h.first_time.value_or(recording_start_), decoder_);
}

std::vector<ListingEntry> LiveDecoder::take_listing()
{
  return parse_listing(take_through_last(listing_text_, "\n-\r\n"), decoder_);
}

StreamHealth LiveDecoder::health() { return health_.finish(); }

}  // namespace oneseg::archive
