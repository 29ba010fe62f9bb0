#include "synthesize.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "si_tables.h"

namespace oneseg::synth {
namespace {

using nlohmann::json;

class FileSink : public ByteSink {
 public:
  explicit FileSink(const std::filesystem::path& file) : file_(file), out_(file, std::ios::binary | std::ios::trunc) {
    if (!out_) throw std::runtime_error("cannot create " + file.string());
  }
  void write(std::span<const std::uint8_t> bytes) override {
    out_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out_) throw std::runtime_error(file_.string() + ": write failed (disk full?)");
  }
  void close() {
    out_.close();
    if (!out_) throw std::runtime_error(file_.string() + ": write failed (disk full?)");
  }

 private:
  std::filesystem::path file_;
  std::ofstream out_;
};

// A scratch folder that is removed with everything in it.
class ScratchDir {
 public:
  explicit ScratchDir(const std::filesystem::path& near) {
    std::string pattern = (near.parent_path().empty() ? std::filesystem::path(".") : near.parent_path()) / ".oneseg-synth-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a scratch folder beside " + near.string());
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string hms(int seconds) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buf;
}

}  // namespace

Window choose_window(const Scenario& s, const SynthOptions& o) {
  Window w{o.start.value_or(s.start), 0};
  const JstSeconds end = s.start + s.duration_s;
  if (w.start < s.start || w.start >= end)
    throw ScenarioError("--start: " + format_jst(w.start) + " lies outside the broadcast " + format_jst(s.start) +
                        " .. " + format_jst(end));
  w.duration_s = o.duration_s.value_or(static_cast<int>(end - w.start));
  if (w.duration_s <= 0 || w.start + w.duration_s > end)
    throw ScenarioError("--duration: the window must be at least 1 s and end by " + format_jst(end));
  return w;
}

std::filesystem::path truth_path(const std::filesystem::path& ts) {
  std::filesystem::path p = ts;
  p.replace_extension(".truth.json");
  return p;
}

json truth_json(const Scenario& s, const Window& w, bool picture_and_sound, const MuxReport& r) {
  const StationInfo& st = s.station;
  json events = json::array();
  for (const EventTruth& e : r.events)
    events.push_back({{"event_id", e.event.event_id},
                      {"start", format_jst(e.event.start)},
                      {"duration", hms(e.event.duration_s)},
                      {"name", e.event.name},
                      {"description", e.event.description},
                      {"genre", e.event.genres},
                      {"first_seen_s", e.first_seen_s}});
  json captions = json::array();
  for (const CaptionTruth& c : r.captions)
    captions.push_back({{"time", format_time_of_day(c.shown_time)},
                        {"broadcast_time", format_jst(c.shown_time)},
                        {"offset_s", c.offset_s},
                        {"text", c.text},
                        {"source_text", c.source_text},
                        {"data_group", c.data_group},
                        {"selected", c.selected},
                        {"fits_first_packet", c.fits_first_packet}});
  json faults = json::array();
  for (const FaultSpec& f : s.faults)
    faults.push_back({{"type", fault_name(f.type)}, {"at_s", f.at_s}, {"pid", f.pid}});
  return {{"stream",
           {{"start", format_jst(w.start)},
            {"duration_s", w.duration_s},
            {"bit_rate", kStreamBitRate},
            {"packets", r.packets},
            {"bytes", r.bytes},
            {"picture_and_sound", picture_and_sound}}},
          {"station",
           {{"name", st.station_name},
            {"network_name", st.network_name},
            {"network_id", st.network_id},
            {"transport_stream_id", st.transport_stream_id},
            {"service_id", st.service_id},
            {"channel", st.channel},
            {"remote_control_key_id", st.remote_control_key_id}}},
          {"pids",
           {{"pmt", kPmtPid}, {"video", kVideoPid}, {"audio", kAudioPid}, {"caption", kCaptionPid}, {"pcr", kPcrPid}}},
          {"events", events},
          {"captions", captions},
          {"faults", faults}};
}

Bytes synthesize_in_memory(const Scenario& s, const Window& w, MuxReport* report) {
  MemorySink sink;
  sink.data.reserve(static_cast<std::size_t>(w.duration_s) * kStreamBitRate / 8 + kPacketSize);
  MuxReport r = multiplex(s, w, {}, sink);
  if (report) *report = std::move(r);
  return std::move(sink.data);
}

MuxReport synthesize(const Scenario& s, const SynthOptions& o, const std::filesystem::path& ts, ProcessRunner& runner) {
  const Window w = choose_window(s, o);
  const bool with_av = o.picture_and_sound.value_or(s.picture_and_sound);
  ScratchDir scratch(ts);
  AvInput av;
  if (with_av) {
    AvRequest request{w.start, w.duration_s, s.station.station_name, scratch.path(), o.ffmpeg, o.font};
    const AvFiles files = encode_av(request, runner);
    av.video = std::make_unique<H264Reader>(files.video, kFramesPerSecond);
    av.audio = std::make_unique<AdtsReader>(files.audio);
  }
  const std::filesystem::path ts_tmp = scratch.path() / "stream.ts", truth_tmp = scratch.path() / "truth.json";
  FileSink sink(ts_tmp);
  MuxReport report = multiplex(s, w, std::move(av), sink);
  sink.close();
  {
    std::ofstream out(truth_tmp, std::ios::binary);
    out << truth_json(s, w, with_av, report).dump(1) << '\n';
    if (!out) throw std::runtime_error("cannot write " + truth_tmp.string());
  }
  std::filesystem::rename(truth_tmp, truth_path(ts));
  std::filesystem::rename(ts_tmp, ts);
  return report;
}

}  // namespace oneseg::synth
