#include "stream_builder.h"

#include <algorithm>

#include "crc32.h"

namespace skerrow::testing {

bytes make_packet(const packet_spec& spec) {
  bytes p(188, 0xFF);
  p[0] = 0x47;
  p[1] = static_cast<std::uint8_t>((spec.unit_start ? 0x40 : 0) | ((spec.pid >> 8) & 0x1F));
  p[2] = static_cast<std::uint8_t>(spec.pid & 0xFF);
  const bool adaptation = spec.adaptation_length >= 0;
  p[3] = static_cast<std::uint8_t>((adaptation ? 0x20 : 0) | (spec.payload ? 0x10 : 0) |
                                   (spec.counter & 0x0F));
  std::size_t at = 4;
  if (adaptation) {
    p[4] = static_cast<std::uint8_t>(spec.adaptation_length);
    if (spec.adaptation_length > 0) p[5] = spec.adaptation_flags;
    for (std::size_t i = 0; i < spec.adaptation_body.size() && 6 + i < 188; ++i)
      p[6 + i] = spec.adaptation_body[i];
    at = std::min<std::size_t>(188, 5 + static_cast<std::size_t>(spec.adaptation_length));
  }
  for (std::size_t i = 0; i < spec.payload_bytes.size() && at + i < 188; ++i)
    p[at + i] = spec.payload_bytes[i];
  return p;
}

bytes make_section(int table_id, int extension, const bytes& body, int version) {
  const int length = static_cast<int>(body.size()) + 5 + 4;
  bytes s = {static_cast<std::uint8_t>(table_id),
             static_cast<std::uint8_t>(0xB0 | ((length >> 8) & 0x0F)),
             static_cast<std::uint8_t>(length & 0xFF),
             static_cast<std::uint8_t>(extension >> 8),
             static_cast<std::uint8_t>(extension & 0xFF),
             static_cast<std::uint8_t>(0xC1 | (version & 0x1F) << 1),
             0x00,
             0x00};
  s.insert(s.end(), body.begin(), body.end());
  const std::uint32_t crc = oneseg::crc32_mpeg2(s.data(), s.size());
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<std::uint8_t>(crc >> shift));
  return s;
}

std::vector<bytes> packetize(int pid, int& counter, const std::vector<bytes>& sections) {
  bytes stream = {0x00};  // pointer_field
  for (const bytes& s : sections) stream.insert(stream.end(), s.begin(), s.end());
  std::vector<bytes> packets;
  for (std::size_t at = 0; at < stream.size(); at += 184) {
    packet_spec spec;
    spec.pid = pid;
    spec.counter = counter++ & 0x0F;
    spec.unit_start = at == 0;
    spec.payload_bytes.assign(stream.begin() + static_cast<long>(at),
                              stream.begin() + static_cast<long>(std::min(stream.size(), at + 184)));
    packets.push_back(make_packet(spec));
  }
  return packets;
}

namespace {
void put16(bytes& b, int v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
}
void put_text(bytes& b, const std::string& text) {
  b.push_back(static_cast<std::uint8_t>(text.size()));
  b.insert(b.end(), text.begin(), text.end());
}
}  // namespace

bytes eit_body(const std::vector<event_spec>& events) {
  bytes b;
  put16(b, 0x7FE0);  // transport_stream_id
  put16(b, 0x7FE0);  // original_network_id
  b.push_back(0x00);  // segment_last_section_number
  b.push_back(0x4E);  // last_table_id
  for (const event_spec& e : events) {
    put16(b, e.event_id);
    put16(b, e.mjd);
    b.insert(b.end(), {e.hour, e.minute, e.second});
    b.insert(b.end(), e.duration, e.duration + 3);
    put16(b, 0xF000 | static_cast<int>(e.descriptors.size()));
    b.insert(b.end(), e.descriptors.begin(), e.descriptors.end());
  }
  return b;
}

// ARIB text in the alphanumeric set: LS1 (G1 = alphanumeric) then the letters.
static std::string arib_alnum(const std::string& ascii) { return "\x0E" + ascii; }

bytes service_descriptor(const std::string& name) {
  const std::string text = arib_alnum(name);
  bytes b = {0x48, static_cast<std::uint8_t>(3 + text.size()), 0x01, 0x00};
  put_text(b, text);
  return b;
}

bytes sdt_body(const std::string& station) {
  bytes b = {0x7F, 0xE0, 0xFF, 0x04, 0x08, 0x03};  // network, reserved, service_id, EIT flags
  const bytes service = service_descriptor(station);
  put16(b, 0x8000 | static_cast<int>(service.size()));  // running, descriptors_loop_length
  b.insert(b.end(), service.begin(), service.end());
  return b;
}

bytes short_event_descriptor(const std::string& name, const std::string& text) {
  const std::string n = arib_alnum(name), t = arib_alnum(text);
  bytes b = {0x4D, static_cast<std::uint8_t>(3 + 1 + n.size() + 1 + t.size()), 'j', 'p', 'n'};
  put_text(b, n);
  put_text(b, t);
  return b;
}

bytes pmt_body(int caption_pid) {
  bytes b;
  put16(b, 0xE000 | 0x0101);  // PCR_PID
  put16(b, 0xF000);           // program_info_length 0
  const auto entry = [&b](int type, int pid, int tag) {
    b.push_back(static_cast<std::uint8_t>(type));
    put16(b, 0xE000 | pid);
    put16(b, 0xF000 | 3);
    b.insert(b.end(), {0x52, 0x01, static_cast<std::uint8_t>(tag)});
  };
  entry(0x1B, 0x0101, 0x81);
  entry(0x0F, 0x0111, 0x83);
  entry(0x06, caption_pid, 0x87);
  return b;
}

bytes tot_packet(int counter, std::uint16_t mjd, std::uint8_t h, std::uint8_t m, std::uint8_t s) {
  bytes section = {0x73, 0x70, 0x0A, static_cast<std::uint8_t>(mjd >> 8),
                   static_cast<std::uint8_t>(mjd & 0xFF), h, m, s, 0xF0, 0x00};
  const std::uint32_t crc = oneseg::crc32_mpeg2(section.data(), section.size());
  for (int shift = 24; shift >= 0; shift -= 8) section.push_back(static_cast<std::uint8_t>(crc >> shift));
  packet_spec spec;
  spec.pid = 0x0014;
  spec.counter = counter;
  spec.unit_start = true;
  spec.payload_bytes = {0x00};
  spec.payload_bytes.insert(spec.payload_bytes.end(), section.begin(), section.end());
  return make_packet(spec);
}

bytes caption_pes(const bytes& euc_text) {
  bytes unit = {0x1F, 0x20};
  const auto size = static_cast<int>(euc_text.size());
  unit.insert(unit.end(), {static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 8),
                           static_cast<std::uint8_t>(size)});
  unit.insert(unit.end(), euc_text.begin(), euc_text.end());
  bytes group_data = {0x00};  // TMD 0
  const auto loop = static_cast<int>(unit.size());
  group_data.insert(group_data.end(), {static_cast<std::uint8_t>(loop >> 16),
                                       static_cast<std::uint8_t>(loop >> 8),
                                       static_cast<std::uint8_t>(loop)});
  group_data.insert(group_data.end(), unit.begin(), unit.end());
  bytes group = {0x01 << 2, 0x00, 0x00};  // statement data of group 1
  put16(group, static_cast<int>(group_data.size()));
  group.insert(group.end(), group_data.begin(), group_data.end());
  group.insert(group.end(), {0x00, 0x00});  // CRC_16, not checked
  bytes pes = {0x00, 0x00, 0x01, 0xBD, 0x00, 0x00, 0x80, 0x80, 0x05, 0x21, 0x00, 0x01, 0x00, 0x01,
               0x80, 0xFF, 0xF0};  // header, PTS, data_identifier, stream id, header length
  pes.insert(pes.end(), group.begin(), group.end());
  const auto pes_length = static_cast<int>(pes.size()) - 6;
  pes[4] = static_cast<std::uint8_t>(pes_length >> 8);
  pes[5] = static_cast<std::uint8_t>(pes_length & 0xFF);
  return pes;
}

namespace {

struct recording_writer {
  bytes out;
  int counters[0x2000] = {};

  void add(const bytes& packet) { out.insert(out.end(), packet.begin(), packet.end()); }
  void add_sections(int pid, const std::vector<bytes>& sections) {
    for (const bytes& p : packetize(pid, counters[pid], sections)) add(p);
  }
  void add_pes(int pid, int stream_id, int length, long pcr) {
    bytes pes = {0x00, 0x00, 0x01, static_cast<std::uint8_t>(stream_id), 0x00, 0x00, 0x80, 0x80, 0x05,
                 0x21, 0x00, 0x01, 0x00, 0x01};
    for (int at = 0; at < length; at += 184) {
      packet_spec spec;
      spec.pid = pid;
      spec.counter = counters[pid]++ & 0x0F;
      spec.unit_start = at == 0;
      if (at == 0 && pcr >= 0) {
        spec.adaptation_length = 7;
        spec.adaptation_flags = 0x10;
        const auto base = static_cast<std::uint64_t>(pcr);
        spec.adaptation_body = {static_cast<std::uint8_t>(base >> 25), static_cast<std::uint8_t>(base >> 17),
                                static_cast<std::uint8_t>(base >> 9), static_cast<std::uint8_t>(base >> 1),
                                static_cast<std::uint8_t>((base & 1) << 7 | 0x7E), 0x00};
      }
      spec.payload_bytes = at == 0 ? pes : bytes(184, static_cast<std::uint8_t>(at));
      add(make_packet(spec));
    }
  }
};

}  // namespace

bytes make_recording(int seconds) {
  recording_writer w;
  constexpr int caption_pid = 0x0130;
  const std::vector<bytes> nit = {make_section(0x40, 0x7FE0, {0xF0, 0x00, 0xF0, 0x00})};
  const std::vector<bytes> sdt = {make_section(0x42, 0x7FE0, sdt_body("BenchTV"))};
  const std::vector<bytes> pmt = {make_section(0x02, 0x0408, pmt_body(caption_pid))};
  const std::uint16_t mjd = 0xD8F0;
  for (int second = 0; second < seconds; ++second) {
    const std::uint8_t minute = static_cast<std::uint8_t>(((second / 60) / 10) << 4 | ((second / 60) % 10));
    const std::uint8_t sec = static_cast<std::uint8_t>(((second % 60) / 10) << 4 | ((second % 60) % 10));
    w.add(tot_packet(w.counters[0x14]++ & 0x0F, mjd, 0x21, minute, sec));
    w.add_sections(0x0011, sdt);
    w.add_sections(0x0010, nit);
    event_spec now, next;
    now.event_id = 0x100 + second / 300;
    now.descriptors = short_event_descriptor("News", "Today's news in brief");
    next.event_id = now.event_id + 1;
    next.hour = 0x13;
    w.add_sections(0x0012, {make_section(0x4E, 0x0408, eit_body({now}), 1),
                            make_section(0x4E, 0x0408, eit_body({next}), 1)});
    if (second % 3 == 0) {
      const bytes text = {0xA4, 0xCB, 0xA5, 0xE5, 0xA1, 0xBC, 0xA5, 0xB9};
      packet_spec spec;
      spec.pid = caption_pid;
      spec.counter = w.counters[caption_pid]++ & 0x0F;
      spec.unit_start = true;
      spec.payload_bytes = caption_pes(text);
      w.add(make_packet(spec));
    }
    for (int tenth = 0; tenth < 10; ++tenth) {
      w.add_sections(0x1FC8, pmt);
      const long pcr = (static_cast<long>(second) * 10 + tenth) * 9000;
      w.add_pes(0x0101, 0xE0, 184 * 20, pcr);  // video
      w.add_pes(0x0111, 0xC0, 184 * 5, -1);    // audio
      w.add_pes(0x0101, 0xE0, 184 * 2, -1);
    }
  }
  return w.out;
}

}  // namespace skerrow::testing
