#include "health.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "broadcast_time.h"
#include "broadcast_clock.h"
#include "ts_packet.h"

namespace oneseg::archive {

namespace {

using skerrow::ts_packet_size;
using skerrow::ts_sync_byte;

constexpr int null_pid = 0x1FFF;
constexpr int time_pid = 0x14;
constexpr std::uint8_t no_counter = 0xFF;
constexpr std::size_t read_size = ts_packet_size * 8192;  // 1.5 MB

int pid_of(const std::uint8_t* p) { return (p[1] & 0x1F) << 8 | p[2]; }

// Where the payload starts, past the adaptation field; 188 when there is none.
std::size_t payload_start(const std::uint8_t* p)
{
  const int control = (p[3] >> 4) & 3;
  if ((control & 1) == 0) return ts_packet_size;
  if ((control & 2) == 0) return 4;
  return std::min<std::size_t>(ts_packet_size, 5 + std::size_t{p[4]});
}

bool discontinuity_flagged(const std::uint8_t* p) { return (p[3] & 0x20) && p[4] > 0 && (p[5] & 0x80); }

}  // namespace

HealthCounter::HealthCounter() { std::memset(last_counter_, no_counter, sizeof last_counter_); }

void HealthCounter::feed(const std::uint8_t* data, std::size_t size)
{
  std::size_t at = 0;
  if (carried_ > 0) {
    const std::size_t take = std::min(size, ts_packet_size - carried_);
    std::memcpy(carry_ + carried_, data, take);
    carried_ += take;
    at = take;
    if (carried_ < ts_packet_size) return;
    carried_ = 0;
    if (carry_[0] == ts_sync_byte) {
      packet(carry_);
    } else {  // look for the next packet from the start of this piece
      if (in_sync_) ++health_.sync_losses;
      in_sync_ = false;
      at = 0;
    }
  }
  while (at + ts_packet_size <= size) {
    if (data[at] == ts_sync_byte) {
      in_sync_ = true;
      packet(data + at);
      at += ts_packet_size;
      continue;
    }
    // Lost: count the place once and take the next byte that starts a
    // packet followed by another (or by the end of what is here).
    if (in_sync_) ++health_.sync_losses;
    in_sync_ = false;
    ++at;
    while (at + ts_packet_size <= size &&
           !(data[at] == ts_sync_byte && (at + ts_packet_size >= size || data[at + ts_packet_size] == ts_sync_byte)))
      ++at;
  }
  carried_ = size - at;
  std::memcpy(carry_, data + at, carried_);
}

void HealthCounter::packet(const std::uint8_t* p)
{
  ++health_.packets;
  if (p[1] & 0x80) {  // the header itself may be wrong: no counter check
    ++health_.transport_errors;
    return;
  }
  const int pid = pid_of(p);
  if (pid == null_pid) return;
  const std::uint8_t counter = p[3] & 0x0F;
  const bool payload = (p[3] & 0x10) != 0;
  std::uint8_t& last = last_counter_[pid];
  if (payload && last != no_counter && !discontinuity_flagged(p) && counter != ((last + 1) & 0x0F) &&
      counter != last)  // one repetition of a packet is allowed
    ++health_.continuity_errors;
  if (payload || last == no_counter) last = counter;
  if (pid == time_pid && (p[1] & 0x40)) time_packet(p);
}

// TOT or TDT: pointer_field, then table_id 0x70/0x73, length, JST_time.
void HealthCounter::time_packet(const std::uint8_t* p)
{
  const std::size_t at = payload_start(p);
  if (at >= ts_packet_size) return;
  const std::size_t section = at + 1 + p[at];
  if (section + 8 > ts_packet_size || (p[section] != 0x70 && p[section] != 0x73)) return;
  oneseg::CivilTime t;
  if (!oneseg::decode_jst_time(p + section + 3, t) || t.hour > 23 || t.minute > 59 || t.second > 59 || t.year < 1901 ||
      t.year > 2099)
    return;
  const std::int64_t seconds = broadcast_seconds(t.year, t.month, t.day, t.hour, t.minute, t.second);
  if (!health_.first_time) health_.first_time = seconds;
  if (previous_time_ >= 0 && seconds > previous_time_) {
    const std::int64_t gap = seconds - previous_time_;
    health_.longest_gap_s = static_cast<int>(std::max<std::int64_t>(health_.longest_gap_s, std::min<std::int64_t>(gap, 1 << 30)));
    spacings_.push_back(static_cast<int>(std::min<std::int64_t>(gap, 1 << 30)));
  }
  previous_time_ = seconds;
  health_.last_time = std::max(health_.last_time.value_or(seconds), seconds);
}

StreamHealth HealthCounter::finish()
{
  if (!spacings_.empty()) {
    auto middle = spacings_.begin() + static_cast<std::ptrdiff_t>(spacings_.size() / 2);
    std::nth_element(spacings_.begin(), middle, spacings_.end());
    health_.typical_spacing_s = *middle;
  }
  return health_;
}

std::optional<StreamHealth> measure_health(const std::filesystem::path& ts)
{
  // Never through a symbolic link, which may lead out of the root.
  const int fd = ::open(ts.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(::fdopen(fd, "rb"), std::fclose);
  if (!file) return ::close(fd), std::nullopt;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[read_size]);
  HealthCounter counter;
  while (const std::size_t n = std::fread(buffer.get(), 1, read_size, file.get())) counter.feed(buffer.get(), n);
  return counter.finish();
}

bool clock_disagrees_with_name(std::int64_t first_time, std::int64_t name_start)
{
  return first_time < name_start - name_clock_tolerance_s ||
         first_time > name_start + recording_length_s + name_clock_tolerance_s;
}

std::string health_mark(const StreamHealth& h, std::int64_t name_start)
{
  if (h.continuity_errors > continuity_error_limit || h.transport_errors > transport_error_limit ||
      h.sync_losses > 0 || !h.first_time || clock_disagrees_with_name(*h.first_time, name_start))
    return needs_checking_mark;
  // A stretch without time packets is a stretch lost; the spacing a station
  // uses is learnt from the recording itself.
  const int spacing = std::max(h.typical_spacing_s, 1);
  if (h.longest_gap_s > 3 * spacing && h.longest_gap_s > 10) return needs_checking_mark;
  // The last time packet comes up to one spacing before the end.
  const std::int64_t covered = *h.last_time - *h.first_time + spacing;
  return covered < recording_length_s - coverage_tolerance_s ? needs_checking_mark : "";
}

}  // namespace oneseg::archive
