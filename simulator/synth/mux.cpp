#include "mux.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <limits>
#include <map>

#include "arib_text.h"
#include "caption_pes.h"
#include "si_tables.h"

namespace oneseg::synth {
namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kPcrStart = 2 * kTicksPerSecond;  // PCR of the first packet
constexpr std::uint64_t kAvDelay = kTicksPerSecond / 2;   // PTS lies this far behind the due time
constexpr std::uint64_t kPcrPeriod = kTicksPerSecond / 20;

std::uint64_t ticks(double seconds) { return static_cast<std::uint64_t>(std::llround(seconds * kTicksPerSecond)); }
double seconds(std::uint64_t t) { return static_cast<double>(t) / kTicksPerSecond; }
std::uint64_t pts_of(std::uint64_t due) { return (due + kPcrStart + kAvDelay) / 300; }

// One thing to send: the packets of a repetition of a table, of a PES packet,
// with what the truth needs to know when its first packet goes out.
struct Chunk {
  enum class Kind { plain, time, management, caption, eit };
  std::uint64_t due = 0;
  Kind kind = Kind::plain;
  std::vector<Packet> packets;
  JstSeconds time_value = 0;  // time: the clock it carries
  std::uint8_t group = 0;     // management: the statement group it selects
  std::vector<CaptionTruth> captions;
  std::vector<std::uint16_t> event_ids;
};

class Source {
 public:
  virtual ~Source() = default;
  virtual std::uint64_t next_due() const = 0;  // kNever when finished
  virtual Chunk take() = 0;
};

class PeriodicSource : public Source {
 public:
  PeriodicSource(double period_s, std::uint64_t end, std::function<Chunk(std::uint64_t)> build)
      : period_(ticks(period_s)), end_(period_s > 0 ? end : 0), build_(std::move(build)) {}
  std::uint64_t next_due() const override { return next_ < end_ ? next_ : kNever; }
  Chunk take() override {
    Chunk c = build_(next_);
    c.due = next_;
    next_ += period_;
    return c;
  }

 private:
  std::uint64_t period_, end_, next_ = 0;
  std::function<Chunk(std::uint64_t)> build_;
};

class CaptionSource : public Source {
 public:
  CaptionSource(std::vector<CaptionSpec> captions, const Window& w) : captions_(std::move(captions)), window_(w) {}
  std::uint64_t next_due() const override {
    return next_ < captions_.size() ? ticks(static_cast<double>(captions_[next_].time - window_.start)) : kNever;
  }
  Chunk take() override;

 private:
  std::vector<CaptionSpec> captions_;
  Window window_;
  std::size_t next_ = 0;
};

class AvSource : public Source {
 public:
  AvSource(std::unique_ptr<AccessUnitReader> reader, std::uint16_t pid, std::uint8_t stream_id, int units_per_pes,
           std::uint64_t end)
      : reader_(std::move(reader)), pid_(pid), stream_id_(stream_id), units_(units_per_pes), end_(end) {
    ahead_ = reader_->next();
  }
  std::uint64_t next_due() const override {
    return ahead_ && ahead_->pts90 * 300 < end_ ? ahead_->pts90 * 300 : kNever;
  }
  Chunk take() override {
    Chunk c;
    c.due = ahead_->pts90 * 300;
    const bool random_access = ahead_->random_access;
    Bytes payload;
    for (int i = 0; i < units_ && ahead_ && ahead_->pts90 * 300 < end_; ++i) {
      append(payload, ahead_->data);
      ahead_ = reader_->next();
    }
    ContinuityCounters scratch;
    c.packets = packetize_pes(pid_, build_pes(stream_id_, pts_of(c.due), payload), scratch, random_access);
    return c;
  }

 private:
  std::unique_ptr<AccessUnitReader> reader_;
  std::uint16_t pid_;
  std::uint8_t stream_id_;
  int units_;
  std::uint64_t end_;
  std::optional<AccessUnit> ahead_;
};

Chunk section_chunk(std::uint16_t pid, const std::vector<Bytes>& sections, SectionPacking packing,
                    Chunk::Kind kind = Chunk::Kind::plain) {
  Chunk c;
  c.kind = kind;
  ContinuityCounters scratch;
  c.packets = packetize_sections(pid, sections, scratch, packing);
  return c;
}

Chunk caption_chunk(std::uint64_t due, std::uint8_t data_group, std::span<const std::uint8_t> data, Chunk::Kind kind) {
  Chunk c;
  c.kind = kind;
  c.due = due;
  ContinuityCounters scratch;
  c.packets = packetize_pes(kCaptionPid, build_caption_pes(pts_of(due), build_data_group(data_group, 0, data)), scratch);
  return c;
}

Chunk CaptionSource::take() {
  const CaptionSpec& spec = captions_[next_++];
  const std::uint64_t due = ticks(static_cast<double>(spec.time - window_.start));
  std::vector<DataUnit> units;
  std::vector<CaptionTruth> truth;
  for (const std::string& text : spec.texts) {
    CaptionBody body = encode_caption_text(text);
    units.push_back({kStatementBody, body.bytes});
    truth.push_back({0, 0, body.visible_text, text, spec.data_group, false, false});
  }
  Chunk c = caption_chunk(due, spec.data_group, build_caption_statement(units), Chunk::Kind::caption);
  const bool fits = c.packets.size() == 1;
  for (CaptionTruth& t : truth) t.fits_first_packet = fits;
  c.captions = std::move(truth);
  return c;
}

const FaultSpec* find_fault(const Scenario& s, FaultType type) {
  for (const FaultSpec& f : s.faults)
    if (f.type == type) return &f;
  return nullptr;
}

// Where the stream's clock stands at a tick of the window, with the steps
// back that the scenario asks for.
class BroadcastClock {
 public:
  BroadcastClock(const Scenario& s, const Window& w) : start_(w.start) {
    for (const FaultSpec& f : s.faults)
      if (f.type == FaultType::time_step_back) steps_.push_back({ticks(f.at_s), f.by_s});
  }
  JstSeconds at(std::uint64_t tick) const {
    JstSeconds t = start_ + static_cast<JstSeconds>(tick / kTicksPerSecond);
    for (const auto& [from, by] : steps_)
      if (tick >= from) t -= by;
    return t;
  }

 private:
  JstSeconds start_;
  std::vector<std::pair<std::uint64_t, int>> steps_;
};

// The present and the following event at a broadcast time.
std::pair<const EventInfo*, const EventInfo*> present_following(const std::vector<EventInfo>& events, JstSeconds now) {
  const EventInfo* present = nullptr;
  const EventInfo* following = nullptr;
  for (const EventInfo& e : events) {
    if (e.start <= now && now < e.start + e.duration_s) present = &e;
    else if (e.start > now && !following) following = &e;
  }
  return {present, following};
}

std::vector<std::uint16_t> ids_of(std::initializer_list<const EventInfo*> events) {
  std::vector<std::uint16_t> ids;
  for (const EventInfo* e : events)
    if (e) ids.push_back(e->event_id);
  return ids;
}

class SourceSet {
 public:
  void add(std::unique_ptr<Source> s) { sources_.push_back(std::move(s)); }
  // The source whose chunk is due first (the earlier-added one on a tie).
  Source* earliest() {
    Source* best = nullptr;
    for (auto& s : sources_)
      if (s->next_due() != kNever && (!best || s->next_due() < best->next_due())) best = s.get();
    return best;
  }

 private:
  std::vector<std::unique_ptr<Source>> sources_;
};

SectionPacking packing_for(const Scenario& s, std::uint16_t pid) {
  for (const FaultSpec& f : s.faults)
    if (f.type == FaultType::packed_sections && f.pid == pid) return SectionPacking::packed;
  return SectionPacking::own_packets;
}

// TOT and TDT on PID 0x0014, from the broadcast clock; the TOT of the
// bad-CRC fault goes out once with a broken CRC_32.
void add_time_sources(SourceSet& set, const Scenario& s, std::uint64_t end, std::shared_ptr<BroadcastClock> clock) {
  auto bad_crc = std::make_shared<std::optional<std::uint64_t>>();
  if (const FaultSpec* f = find_fault(s, FaultType::bad_tot_crc)) *bad_crc = ticks(f->at_s);
  const SectionPacking packing = packing_for(s, kTimePid);
  auto time_chunk = [clock, bad_crc, packing](std::uint64_t t, bool tot) {
    Bytes section = tot ? build_tot(clock->at(t)) : build_tdt(clock->at(t));
    if (tot && *bad_crc && t >= **bad_crc) {
      section.back() ^= 0x5A;
      bad_crc->reset();
    }
    Chunk c = section_chunk(kTimePid, {section}, packing, Chunk::Kind::time);
    c.time_value = clock->at(t);
    return c;
  };
  set.add(std::make_unique<PeriodicSource>(s.repetition.tot, end, [time_chunk](std::uint64_t t) { return time_chunk(t, true); }));
  set.add(std::make_unique<PeriodicSource>(s.repetition.tdt, end, [time_chunk](std::uint64_t t) { return time_chunk(t, false); }));
}

void add_fixed_tables(SourceSet& set, const Scenario& s, const Window& w, std::uint64_t end) {
  const StationInfo& st = s.station;
  const Repetition& r = s.repetition;
  auto fixed = [&](std::uint16_t pid, std::vector<Bytes> sections) {
    const SectionPacking packing = packing_for(s, pid);
    return [pid, sections = std::move(sections), packing](std::uint64_t) { return section_chunk(pid, sections, packing); };
  };
  set.add(std::make_unique<PeriodicSource>(r.pat, end, fixed(kPatPid, {build_pat(st)})));
  set.add(std::make_unique<PeriodicSource>(r.pmt, end, fixed(kPmtPid, {build_pmt(st, oneseg_streams())})));
  set.add(std::make_unique<PeriodicSource>(r.sdt, end, fixed(kSdtPid, {build_sdt(st)})));
  set.add(std::make_unique<PeriodicSource>(r.nit, end, fixed(kNitPid, {build_nit(st)})));
  set.add(std::make_unique<PeriodicSource>(r.bit, end, fixed(kBitPid, {build_bit(st, w.start)})));
}

void add_eit_sources(SourceSet& set, const Scenario& s, const Window& w, std::uint64_t end) {
  for (const EitSpec& e : s.eit) {
    const SectionPacking packing = packing_for(s, e.pid);
    if (e.kind == EitKind::present_following) {
      set.add(std::make_unique<PeriodicSource>(e.period_s, end, [&s, w, e, packing](std::uint64_t t) {
        const auto [present, following] = present_following(s.events, w.start + static_cast<JstSeconds>(t / kTicksPerSecond));
        Chunk c = section_chunk(e.pid, build_eit_pf(s.station, present, following), packing, Chunk::Kind::eit);
        c.event_ids = ids_of({present, following});
        return c;
      }));
      continue;
    }
    std::vector<std::uint16_t> carried;
    Chunk schedule = section_chunk(e.pid, build_eit_schedule(s.station, s.events, w.start, 0, &carried), packing,
                                   Chunk::Kind::eit);
    schedule.event_ids = std::move(carried);
    if (!schedule.packets.empty())
      set.add(std::make_unique<PeriodicSource>(e.period_s, end, [schedule](std::uint64_t) { return schedule; }));
  }
}

std::vector<CaptionSpec> captions_in(const Scenario& s, const Window& w) {
  std::vector<CaptionSpec> out;
  for (const CaptionSpec& c : s.captions)
    if (c.time >= w.start && c.time < w.start + w.duration_s) out.push_back(c);
  if (const FaultSpec* f = find_fault(s, FaultType::long_caption)) {
    CaptionSpec c;
    c.time = w.start + static_cast<JstSeconds>(f->at_s);
    std::string text;
    for (int i = 0; i < 4; ++i) text += "この字幕は一つのパケットに収まらない長さの試験用の文です。";
    c.texts = {text};
    c.data_group = selected_statement_group(s.caption_management);
    c.place = "faults.long_caption";
    out.insert(std::upper_bound(out.begin(), out.end(), c, [](const auto& a, const auto& b) { return a.time < b.time; }), c);
  }
  return out;
}

void add_caption_sources(SourceSet& set, const Scenario& s, const Window& w, std::uint64_t end) {
  const CaptionManagement& m = s.caption_management;
  const Bytes management = build_caption_management(m.languages);
  const std::uint8_t selects = selected_statement_group(m);
  set.add(std::make_unique<PeriodicSource>(m.period_s, end, [management, selects, id = m.data_group_id](std::uint64_t t) {
    Chunk c = caption_chunk(t, id, management, Chunk::Kind::management);
    c.group = selects;
    return c;
  }));
  set.add(std::make_unique<CaptionSource>(captions_in(s, w), w));
}

// Sends packets: continuity counters, PCR stamps, injected packet faults and
// the bookkeeping of the truth.
class Emitter {
 public:
  Emitter(const Scenario& s, ByteSink& sink, MuxReport& report) : sink_(sink), report_(report) {
    for (const FaultSpec& f : s.faults)
      if (f.type == FaultType::continuity_error || f.type == FaultType::transport_error)
        faults_.push_back({f.type, f.pid, ticks(f.at_s), f.type == FaultType::continuity_error ? 1 : f.count});
    buffer_.reserve(kPacketSize * 2048);
  }
  ~Emitter() { flush(); }

  void raw(std::span<const std::uint8_t> bytes) {
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    report_.bytes += bytes.size();
  }

  void chunk_starts(const Chunk& c, std::uint64_t t) {
    report_.max_lateness_s = std::max(report_.max_lateness_s, seconds(t - c.due));
    switch (c.kind) {
      case Chunk::Kind::time: last_time_ = c.time_value; break;
      case Chunk::Kind::management: selected_ = c.group; break;
      case Chunk::Kind::caption:
        for (CaptionTruth truth : c.captions) {
          truth.shown_time = last_time_;
          truth.offset_s = seconds(t);
          truth.selected = truth.data_group == selected_;
          report_.captions.push_back(std::move(truth));
        }
        break;
      case Chunk::Kind::eit:
        for (std::uint16_t id : c.event_ids)
          if (seen_events_.emplace(id, seconds(t)).second) first_seen_.push_back(id);
        break;
      case Chunk::Kind::plain: break;
    }
  }

  void packet(Packet p, std::uint64_t t) {
    const std::uint16_t pid = packet_pid(p);
    if (pid != kNullPid) {
      for (PacketFault& f : faults_) {
        if (f.pid != pid || t < f.from || f.left == 0 || !packet_has_payload(p)) continue;
        if (f.type == FaultType::continuity_error) counters_.skip(pid);
        else p[1] |= 0x80;
        --f.left;
      }
      const std::uint8_t cc = packet_has_payload(p) ? counters_.next(pid) : counters_.last(pid);
      p[3] = static_cast<std::uint8_t>((p[3] & 0xF0) | cc);
    }
    raw(p);
    ++report_.packets;
    if (buffer_.size() >= kPacketSize * 2000) flush();
  }

  void pcr(std::uint64_t t) { packet(pcr_packet(kPcrPid, t + kPcrStart, counters_), t); }

  void flush() {
    if (!buffer_.empty()) sink_.write(buffer_);
    buffer_.clear();
  }

  const std::vector<std::uint16_t>& events_in_order() const { return first_seen_; }
  double first_seen(std::uint16_t id) const { return seen_events_.at(id); }

 private:
  struct PacketFault {
    FaultType type;
    std::uint16_t pid;
    std::uint64_t from;
    int left;
  };
  ByteSink& sink_;
  MuxReport& report_;
  ContinuityCounters counters_;
  std::vector<PacketFault> faults_;
  Bytes buffer_;
  JstSeconds last_time_ = 0;
  std::uint8_t selected_ = 1;
  std::map<std::uint16_t, double> seen_events_;
  std::vector<std::uint16_t> first_seen_;
};

Bytes garbage(int n) {
  Bytes out(static_cast<std::size_t>(n));
  std::uint32_t x = 0x2545F491u;
  for (std::uint8_t& b : out) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
    if (b == 0x47) b = 0x46;  // never a sync byte, so the first packet is unambiguous
  }
  return out;
}

}  // namespace

std::uint64_t slot_tick(std::uint64_t slot) {
  return slot * kPacketSize * 8 * kTicksPerSecond / kStreamBitRate;
}

MuxReport multiplex(const Scenario& scenario, const Window& window, AvInput av, ByteSink& sink) {
  MuxReport report;
  const std::uint64_t end = static_cast<std::uint64_t>(window.duration_s) * kTicksPerSecond;
  const std::uint64_t slots = static_cast<std::uint64_t>(window.duration_s) * kStreamBitRate / (kPacketSize * 8);
  auto clock = std::make_shared<BroadcastClock>(scenario, window);

  SourceSet sources;
  add_time_sources(sources, scenario, end, clock);
  add_fixed_tables(sources, scenario, window, end);
  add_eit_sources(sources, scenario, window, end);
  add_caption_sources(sources, scenario, window, end);
  if (av.video) sources.add(std::make_unique<AvSource>(std::move(av.video), kVideoPid, 0xE0, 1, end));
  if (av.audio) sources.add(std::make_unique<AvSource>(std::move(av.audio), kAudioPid, 0xC0, 4, end));

  {
    Emitter out(scenario, sink, report);
    if (const FaultSpec* f = find_fault(scenario, FaultType::garbage_before_first_packet)) out.raw(garbage(f->bytes));
    std::deque<Chunk> pending;
    Chunk current;
    std::size_t sent = 0;
    Source* next = sources.earliest();
    std::uint64_t next_pcr = 0;
    const Packet null = null_packet();
    for (std::uint64_t slot = 0; slot < slots; ++slot) {
      const std::uint64_t t = slot_tick(slot);
      while (next && next->next_due() <= t) {
        pending.push_back(next->take());
        next = sources.earliest();
      }
      if (t >= next_pcr) {
        out.pcr(t);
        next_pcr += kPcrPeriod;
        continue;
      }
      while (sent == current.packets.size() && !pending.empty()) {
        current = std::move(pending.front());
        pending.pop_front();
        sent = 0;
        out.chunk_starts(current, t);
      }
      out.packet(sent < current.packets.size() ? current.packets[sent++] : null, t);
    }
    if (const FaultSpec* f = find_fault(scenario, FaultType::trailing_partial_packet))
      out.raw(std::span(null.data(), static_cast<std::size_t>(f->bytes)));
    for (std::uint16_t id : out.events_in_order()) {
      const auto it = std::find_if(scenario.events.begin(), scenario.events.end(), [id](const auto& e) { return e.event_id == id; });
      report.events.push_back({*it, out.first_seen(id)});
    }
  }
  return report;
}

}  // namespace oneseg::synth
