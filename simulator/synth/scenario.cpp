#include "scenario.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>

#include <nlohmann/json.hpp>

#include "arib_text.h"
#include "json_node.h"

namespace oneseg::synth {
namespace {

using nlohmann::json;

constexpr std::pair<const char*, FaultType> kFaultNames[] = {
    {"garbage_before_first_packet", FaultType::garbage_before_first_packet},
    {"trailing_partial_packet", FaultType::trailing_partial_packet},
    {"continuity_error", FaultType::continuity_error},
    {"transport_error", FaultType::transport_error},
    {"packed_sections", FaultType::packed_sections},
    {"long_caption", FaultType::long_caption},
    {"bad_tot_crc", FaultType::bad_tot_crc},
    {"time_step_back", FaultType::time_step_back},
};

using Node = JsonNode<ScenarioError>;

void check_si_text(const Node& n, const std::string& key, const std::string& value, std::size_t max_bytes) {
  try {
    if (encode_si_text(value).size() > max_bytes)
      n.fail(key, "longer than " + std::to_string(max_bytes) + " bytes in the 8-unit code");
  } catch (const TextError& e) {
    n.fail(key, e.what());
  }
}

StationInfo parse_station(const Node& root) {
  StationInfo s;
  const Node network = root.object("network");
  s.network_id = static_cast<std::uint16_t>(network.integer("network_id", 0, 0xFFFF));
  s.network_name = network.text("name");
  check_si_text(network, "name", s.network_name, 255);
  s.area_code = static_cast<std::uint16_t>(network.integer("area_code", 0, 0xFFF, 0));
  s.transport_stream_id = static_cast<std::uint16_t>(root.integer("transport_stream_id", 0, 0xFFFF));
  s.channel = static_cast<int>(root.integer("channel", 13, 62));
  const Node service = root.object("service");
  s.service_id = static_cast<std::uint16_t>(service.integer("service_id", 1, 0xFFFF));
  s.station_name = service.text("station_name");
  check_si_text(service, "station_name", s.station_name, 200);
  s.remote_control_key_id = static_cast<std::uint8_t>(service.integer("remote_control_key_id", 1, 12));
  s.ts_name = service.text("ts_name", s.station_name);
  check_si_text(service, "ts_name", s.ts_name, 63);
  s.broadcaster_id = static_cast<std::uint8_t>(service.integer("broadcaster_id", 0, 255, 1));
  return s;
}

Repetition parse_repetition(const Node& root) {
  Repetition r;
  if (!root.has("repetition_s")) return r;
  const Node n = root.object("repetition_s");
  r.pat = n.number("pat", 0, 60, r.pat);
  r.pmt = n.number("pmt", 0, 60, r.pmt);
  r.nit = n.number("nit", 0, 600, r.nit);
  r.sdt = n.number("sdt", 0, 600, r.sdt);
  r.tot = n.number("tot", 0, 600, r.tot);
  r.tdt = n.number("tdt", 0, 600, r.tdt);
  r.bit = n.number("bit", 0, 600, r.bit);
  const std::pair<const char*, double> periods[] = {{"pat", r.pat}, {"pmt", r.pmt}, {"nit", r.nit}, {"sdt", r.sdt},
                                                    {"tot", r.tot}, {"tdt", r.tdt}, {"bit", r.bit}};
  for (const auto& [key, period] : periods)
    if (period > 0 && period < 0.02) n.fail(key, "must be 0 (off) or at least 0.02 s");
  return r;
}

std::vector<EitSpec> parse_eit(const Node& root) {
  std::vector<EitSpec> out;
  if (!root.has("eit")) return {EitSpec{}, EitSpec{kHEitPid, EitKind::schedule, 10}};
  for (const Node& n : root.array("eit")) {
    EitSpec e;
    e.pid = static_cast<std::uint16_t>(n.integer("pid", 0, 0x1FFF));
    if (e.pid != kHEitPid && e.pid != kMEitPid && e.pid != kLEitPid)
      n.fail("pid", "EIT PIDs are 0x12, 0x26 and 0x27");
    const std::string kind = n.text("kind");
    if (kind == "present_following") e.kind = EitKind::present_following;
    else if (kind == "schedule") e.kind = EitKind::schedule;
    else n.fail("kind", "expected \"present_following\" or \"schedule\", got \"" + kind + "\"");
    e.period_s = n.number("period_s", 0.1, 600, e.period_s);
    out.push_back(e);
  }
  return out;
}

CaptionManagement parse_management(const Node& root) {
  CaptionManagement m;
  if (!root.has("caption_management")) return m;
  const Node n = root.object("caption_management");
  const std::string group = n.text("data_group", "A");
  if (group != "A" && group != "B") n.fail("data_group", "expected \"A\" or \"B\"");
  m.data_group_id = group == "A" ? 0x00 : 0x20;
  m.period_s = n.number("period_s", 0.5, 600, m.period_s);
  if (n.has("languages")) {
    m.languages.clear();
    for (const Node& l : n.array("languages")) {
      CaptionLanguage lang;
      lang.language_tag = static_cast<std::uint8_t>(l.integer("language_tag", 0, 7, 0));
      lang.dmf = static_cast<std::uint8_t>(l.integer("dmf", 0, 15, 0));
      lang.iso_639 = l.text("language", "jpn");
      if (lang.iso_639.size() != 3) l.fail("language", "expected a three-letter ISO 639 code");
      m.languages.push_back(lang);
    }
    if (m.languages.empty() || m.languages.size() > 8) n.fail("languages", "expected 1 to 8 languages");
  }
  return m;
}

CaptionSpec parse_caption_body(const Node& n, JstSeconds time, std::uint8_t default_group) {
  CaptionSpec c;
  c.time = time;
  c.place = n.path();
  const json& t = n.at("text");
  if (t.is_string()) {
    c.texts.push_back(t.get<std::string>());
  } else if (t.is_array() && !t.empty() && std::all_of(t.begin(), t.end(), [](const json& x) { return x.is_string(); })) {
    for (const json& x : t) c.texts.push_back(x.get<std::string>());
  } else {
    n.fail("text", "expected a string or a non-empty array of strings");
  }
  std::size_t size = 0;
  for (const std::string& text : c.texts) {
    try {
      size += encode_caption_text(text).bytes.size() + 5;
    } catch (const TextError& e) {
      n.fail("text", e.what());
    }
  }
  if (size > 60000) n.fail("text", "too long for one data group");
  const auto group = n.integer("data_group", 1, 0x28, default_group);
  if (!(group <= 8 || group >= 0x21)) n.fail("data_group", "statement data groups are 1..8 and 0x21..0x28");
  c.data_group = static_cast<std::uint8_t>(group);
  return c;
}

EventInfo parse_event(const Node& n, std::uint8_t group, std::vector<CaptionSpec>& captions) {
  EventInfo e;
  e.event_id = static_cast<std::uint16_t>(n.integer("event_id", 0, 0xFFFF));
  e.start = n.time("start");
  e.duration_s = n.duration("duration");
  if (e.duration_s == 0) n.fail("duration", "must not be zero");
  e.name = n.text("name");
  e.description = n.text("description", "");
  check_si_text(n, "name", e.name, 120);
  check_si_text(n, "description", e.description, 120);
  if (n.has("genre")) {
    if (!n.at("genre").is_array() || n.at("genre").size() > 7) n.fail("genre", "expected an array of up to 7 content bytes");
    for (std::size_t i = 0; i < n.at("genre").size(); ++i) {
      const json& g = n.at("genre")[i];
      if (!g.is_number_integer() || g.get<int>() < 0 || g.get<int>() > 255)
        n.fail("genre[" + std::to_string(i) + "]", "expected a content byte 0..255");
      e.genres.push_back(static_cast<std::uint8_t>(g.get<int>()));
    }
  }
  const int repeat = static_cast<int>(n.integer("caption_repeat_s", 0, 86400, 0));
  for (const Node& c : n.array("captions")) {
    const int offset = static_cast<int>(c.integer("offset_s", 0, e.duration_s - 1));
    for (int at = offset; at < e.duration_s; at += repeat) {
      captions.push_back(parse_caption_body(c, e.start + at, group));
      if (repeat == 0) break;
    }
  }
  return e;
}

FaultSpec parse_fault(const Node& n) {
  FaultSpec f;
  const std::string type = n.text("type");
  const auto it = std::find_if(std::begin(kFaultNames), std::end(kFaultNames), [&](const auto& row) { return type == row.first; });
  if (it == std::end(kFaultNames)) n.fail("type", "unknown fault \"" + type + "\"");
  f.type = it->second;
  f.at_s = n.number("at_s", 0, 1e6, 0);
  switch (f.type) {
    case FaultType::garbage_before_first_packet:
    case FaultType::trailing_partial_packet:
      f.bytes = static_cast<int>(n.integer("bytes", 1, f.type == FaultType::trailing_partial_packet ? 187 : 100000));
      break;
    case FaultType::continuity_error:
    case FaultType::transport_error:
    case FaultType::packed_sections:
      f.pid = static_cast<std::uint16_t>(n.integer("pid", 0, 0x1FFE));
      f.count = static_cast<int>(n.integer("count", 1, 100000, 1));
      break;
    case FaultType::time_step_back:
      f.by_s = static_cast<int>(n.integer("by_s", 1, 86400));
      break;
    case FaultType::long_caption:
    case FaultType::bad_tot_crc:
      break;
  }
  return f;
}

}  // namespace

const char* fault_name(FaultType type) {
  for (const auto& [name, t] : kFaultNames)
    if (t == type) return name;
  return "?";
}

std::uint8_t selected_statement_group(const CaptionManagement& m) {
  std::uint8_t group = 1;
  for (const CaptionLanguage& l : m.languages)
    if (l.iso_639 == "jpn") group = static_cast<std::uint8_t>(l.language_tag + (m.data_group_id == 0x20 ? 0x21 : 1));
  return group;
}

Scenario parse_scenario(const json& j) {
  if (!j.is_object()) throw ScenarioError("scenario: expected a JSON object");
  const Node root(j, "");
  Scenario s;
  s.start = root.time("start");
  s.duration_s = root.duration("duration");
  if (s.duration_s == 0) root.fail("duration", "must not be zero");
  s.station = parse_station(root);
  s.repetition = parse_repetition(root);
  s.eit = parse_eit(root);
  s.caption_management = parse_management(root);
  s.picture_and_sound = root.flag("picture_and_sound", true);
  const std::uint8_t group = selected_statement_group(s.caption_management);
  std::set<std::uint16_t> ids;
  for (const Node& n : root.array("events")) {
    s.events.push_back(parse_event(n, group, s.captions));
    if (!ids.insert(s.events.back().event_id).second) n.fail("event_id", "used by an earlier event");
  }
  for (const Node& n : root.array("captions")) s.captions.push_back(parse_caption_body(n, n.time("time"), group));
  for (const Node& n : root.array("faults")) s.faults.push_back(parse_fault(n));
  std::stable_sort(s.events.begin(), s.events.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
  std::stable_sort(s.captions.begin(), s.captions.end(), [](const auto& a, const auto& b) { return a.time < b.time; });
  return s;
}

Scenario load_scenario(const std::filesystem::path& file) {
  // A folder would make the stream throw a bare library message, a FIFO block.
  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !std::filesystem::is_regular_file(file, ec))
    throw ScenarioError(file.string() + ": not a regular file");
  std::ifstream in(file);
  if (!in) throw ScenarioError(file.string() + ": cannot be read");
  json j;
  try {
    j = json::parse(in);
  } catch (const json::parse_error& e) {
    throw ScenarioError(file.string() + ": not valid JSON (" + e.what() + ")");
  }
  try {
    return parse_scenario(j);
  } catch (const ScenarioError& e) {
    throw ScenarioError(file.string() + ": " + e.what());
  }
}

}  // namespace oneseg::synth
