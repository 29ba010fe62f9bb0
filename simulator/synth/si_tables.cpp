#include "si_tables.h"

#include <algorithm>
#include <map>

#include "arib_text.h"
#include "broadcast_time.h"

namespace oneseg::synth {
namespace {

constexpr std::uint8_t kOnesegServiceType = 0xC0;

Bytes text_descriptor_body(const std::string& utf8) { return encode_si_text(utf8); }

Bytes bcd_duration(int seconds) {
  return {int_to_bcd(seconds / 3600 % 100), int_to_bcd(seconds / 60 % 60), int_to_bcd(seconds % 60)};
}

Bytes short_event_descriptor(const EventInfo& e) {
  Bytes body{'j', 'p', 'n'};
  const Bytes name = encode_si_text(e.name), text = encode_si_text(e.description);
  body.push_back(static_cast<std::uint8_t>(name.size()));
  append(body, name);
  body.push_back(static_cast<std::uint8_t>(text.size()));
  append(body, text);
  return descriptor(0x4D, body);
}

Bytes content_descriptor(const EventInfo& e) {
  Bytes body;
  for (std::uint8_t g : e.genres) body.insert(body.end(), {g, 0xFF});
  return descriptor(0x54, body);
}

Bytes event_entry(const EventInfo& e, int running_status) {
  Bytes out;
  put16(out, e.event_id);
  std::uint8_t start[5];
  encode_jst(e.start, start);
  out.insert(out.end(), start, start + 5);
  append(out, bcd_duration(e.duration_s));
  Bytes descriptors = short_event_descriptor(e);
  if (!e.genres.empty()) append(descriptors, content_descriptor(e));
  put16(out, static_cast<unsigned>(running_status << 13 | descriptors.size()));
  append(out, descriptors);
  return out;
}

Bytes eit_body_header(const StationInfo& s, std::uint8_t segment_last, std::uint8_t last_table_id) {
  Bytes body;
  put16(body, s.transport_stream_id);
  put16(body, s.network_id);
  body.push_back(segment_last);
  body.push_back(last_table_id);
  return body;
}

}  // namespace

std::uint16_t uhf_frequency_units(int channel) {
  return static_cast<std::uint16_t>((473 + (channel - 13) * 6) * 7 + 1);
}

Bytes build_pat(const StationInfo& s, std::uint8_t version) {
  Bytes body;
  put16(body, 0);
  put16(body, 0xE000 | kNitPid);
  put16(body, s.service_id);
  put16(body, 0xE000 | kPmtPid);
  return build_section({0x00, s.transport_stream_id, version, 0, 0}, body);
}

std::vector<EsInfo> oneseg_streams() {
  // data_component_id 0x0008 (captions) with its additional caption info byte.
  const Bytes caption_component = descriptor(0xFD, Bytes{0x00, 0x08, 0x3D});
  return {{0x1B, kVideoPid, 0x81, {}},
          {0x0F, kAudioPid, 0x83, {}},
          {0x06, kCaptionPid, kCaptionComponentTag, caption_component}};
}

Bytes build_pmt(const StationInfo& s, const std::vector<EsInfo>& streams, std::uint8_t version) {
  Bytes body;
  put16(body, 0xE000 | kPcrPid);
  put_loop(body, {});
  for (const EsInfo& es : streams) {
    body.push_back(es.stream_type);
    put16(body, 0xE000 | es.pid);
    Bytes descriptors = descriptor(0x52, Bytes{es.component_tag});
    append(descriptors, es.extra_descriptors);
    put_loop(body, descriptors);
  }
  return build_section({0x02, s.service_id, version, 0, 0}, body);
}

Bytes build_nit(const StationInfo& s, std::uint8_t version) {
  Bytes network = descriptor(0x40, text_descriptor_body(s.network_name));
  Bytes ts_descriptors;
  Bytes service_list;
  put16(service_list, s.service_id);
  service_list.push_back(kOnesegServiceType);
  append(ts_descriptors, descriptor(0x41, service_list));

  const Bytes ts_name = encode_si_text(s.ts_name);
  Bytes ts_info{s.remote_control_key_id, static_cast<std::uint8_t>((ts_name.size() & 0x3F) << 2 | 1)};
  append(ts_info, ts_name);
  ts_info.insert(ts_info.end(), {0xAF, 1});  // transmission type of the partial-reception layer
  put16(ts_info, s.service_id);
  append(ts_descriptors, descriptor(0xCD, ts_info));

  Bytes delivery;
  put16(delivery, static_cast<unsigned>(s.area_code << 4 | 0x3 << 2 | 0x2));  // guard 1/4, mode 3
  put16(delivery, uhf_frequency_units(s.channel));
  append(ts_descriptors, descriptor(0xFA, delivery));
  Bytes partial;
  put16(partial, s.service_id);
  append(ts_descriptors, descriptor(0xFB, partial));

  Bytes ts_entry;
  put16(ts_entry, s.transport_stream_id);
  put16(ts_entry, s.network_id);
  put_loop(ts_entry, ts_descriptors);

  Bytes body;
  put_loop(body, network);
  put_loop(body, ts_entry);
  return build_section({0x40, s.network_id, version, 0, 0}, body);
}

Bytes build_sdt(const StationInfo& s, std::uint8_t version) {
  const Bytes name = encode_si_text(s.station_name);
  Bytes service{kOnesegServiceType, 0, static_cast<std::uint8_t>(name.size())};
  append(service, name);
  Bytes body;
  put16(body, s.network_id);
  body.push_back(0xFF);
  put16(body, s.service_id);
  body.push_back(0xE3);  // EIT schedule and present/following present
  const Bytes descriptors = descriptor(0x48, service);
  put16(body, static_cast<unsigned>(4 << 13 | descriptors.size()));  // running
  append(body, descriptors);
  return build_section({0x42, s.transport_stream_id, version, 0, 0}, body);
}

Bytes build_bit(const StationInfo& s, JstSeconds update_time, std::uint8_t version) {
  std::uint8_t jst[5];
  encode_jst(update_time, jst);
  // SI transmission parameters: repetition of NIT, SDT and the EIT kinds.
  Bytes params{0x00, jst[0], jst[1]};
  params.insert(params.end(), {0x40, 1, 0x0A, 0x42, 1, 0x0A, 0x4E, 1, 0x02, 0x50, 1, 0x0A});
  Bytes broadcaster{s.broadcaster_id};
  put_loop(broadcaster, descriptor(0xD7, params));
  Bytes body;
  put_loop(body, {});  // no first descriptors; the top bits give broadcast_view_propriety 1
  append(body, broadcaster);
  return build_section({0xC4, s.network_id, version, 0, 0}, body);
}

Bytes build_tot(JstSeconds now) {
  Bytes body(5);
  encode_jst(now, body.data());
  // Local time offset: Japan, no offset, no change announced.
  const Bytes offset{'J', 'P', 'N', 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  put_loop(body, descriptor(0x58, offset));
  return build_short_section(0x73, body, true);
}

Bytes build_tdt(JstSeconds now) {
  Bytes body(5);
  encode_jst(now, body.data());
  return build_short_section(0x70, body, false);
}

std::vector<Bytes> build_eit_pf(const StationInfo& s, const EventInfo* present,
                                const EventInfo* following, std::uint8_t version) {
  std::vector<Bytes> out;
  const EventInfo* events[2] = {present, following};
  for (std::uint8_t n = 0; n < 2; ++n) {
    Bytes body = eit_body_header(s, 1, 0x4E);
    if (events[n]) append(body, event_entry(*events[n], n == 0 ? 4 : 1));
    out.push_back(build_section({0x4E, s.service_id, version, n, 1}, body));
  }
  return out;
}

std::vector<Bytes> build_eit_schedule(const StationInfo& s, const std::vector<EventInfo>& events,
                                      JstSeconds day_start, std::uint8_t version,
                                      std::vector<std::uint16_t>* carried) {
  const JstSeconds midnight = day_start - ((day_start % 86400) + 86400) % 86400;
  std::map<int, std::vector<const EventInfo*>> segments;
  for (const EventInfo& e : events)
    if (e.start >= midnight && e.start < midnight + 4 * 86400)
      segments[static_cast<int>((e.start - midnight) / (3 * 3600))].push_back(&e);
  if (segments.empty()) return {};
  // Each segment takes up to eight sections; entries fill a section to ~1 KB.
  std::vector<std::pair<int, std::vector<Bytes>>> sections;  // section_number, entries
  for (const auto& [segment, in_segment] : segments) {
    const std::size_t first = sections.size();
    std::size_t size = 0;
    for (const EventInfo* e : in_segment) {
      Bytes entry = event_entry(*e, 1);
      if (sections.size() == first || size + entry.size() > 1024) {
        if (sections.size() - first == 8) break;
        sections.push_back({segment * 8 + static_cast<int>(sections.size() - first), {}});
        size = 0;
      }
      size += entry.size();
      sections.back().second.push_back(std::move(entry));
      if (carried) carried->push_back(e->event_id);
    }
  }
  const auto last = static_cast<std::uint8_t>(sections.back().first);
  std::vector<Bytes> out;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const int segment_of = sections[i].first / 8;
    int segment_last = sections[i].first;
    for (std::size_t k = i + 1; k < sections.size() && sections[k].first / 8 == segment_of; ++k)
      segment_last = sections[k].first;
    Bytes body = eit_body_header(s, static_cast<std::uint8_t>(segment_last), 0x50);
    for (const Bytes& entry : sections[i].second) append(body, entry);
    out.push_back(build_section({0x50, s.service_id, version, static_cast<std::uint8_t>(sections[i].first), last}, body));
  }
  return out;
}

}  // namespace oneseg::synth
