// The synthesised tables as an independent decoder (libdvbpsi) reads them,
// so that our analyser and our synthesiser cannot share one misreading.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdbool>
extern "C" {
// libdvbpsi's headers must come in this order.
#include <dvbpsi/dvbpsi.h>
#include <dvbpsi/psi.h>
#include <dvbpsi/descriptor.h>
#include <dvbpsi/demux.h>
#include <dvbpsi/eit.h>
#include <dvbpsi/pat.h>
#include <dvbpsi/pmt.h>
#include <dvbpsi/sdt.h>
#include <dvbpsi/tot.h>
}

#include <map>
#include <set>
#include <string>

#include "arib_text.h"
#include "si_tables.h"
#include "synth_test_support.h"

namespace {

using namespace synth_test;

struct Decoded {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> pat_programs;  // program, PID
  std::vector<std::tuple<std::uint8_t, std::uint16_t, std::vector<std::uint8_t>>> pmt_streams;  // type, pid, descriptor bytes
  std::uint16_t pcr_pid = 0;
  std::vector<std::uint8_t> service_descriptor;
  std::uint16_t sdt_service = 0;
  std::map<std::uint16_t, std::uint64_t> eit_events;  // event id -> start time bytes
  std::set<std::uint8_t> eit_tables;
  std::vector<std::uint64_t> tot_times;
  int tot_count = 0, tdt_count = 0;
  std::vector<std::string> errors;
};

std::vector<std::uint8_t> descriptors_bytes(dvbpsi_descriptor_t* d) {
  std::vector<std::uint8_t> out;
  for (; d; d = d->p_next) {
    out.push_back(d->i_tag);
    out.push_back(d->i_length);
    out.insert(out.end(), d->p_data, d->p_data + d->i_length);
  }
  return out;
}

void on_message(dvbpsi_t* h, const dvbpsi_msg_level_t level, const char* msg) {
  if (level == DVBPSI_MSG_ERROR) static_cast<Decoded*>(h->p_sys)->errors.push_back(msg);
}

void on_pat(void* data, dvbpsi_pat_t* pat) {
  auto& d = *static_cast<Decoded*>(data);
  if (d.pat_programs.empty())
    for (auto* p = pat->p_first_program; p; p = p->p_next) d.pat_programs.push_back({p->i_number, p->i_pid});
  dvbpsi_pat_delete(pat);
}

void on_pmt(void* data, dvbpsi_pmt_t* pmt) {
  auto& d = *static_cast<Decoded*>(data);
  if (d.pmt_streams.empty()) {
    d.pcr_pid = pmt->i_pcr_pid;
    for (auto* es = pmt->p_first_es; es; es = es->p_next)
      d.pmt_streams.push_back({es->i_type, es->i_pid, descriptors_bytes(es->p_first_descriptor)});
  }
  dvbpsi_pmt_delete(pmt);
}

void on_sdt(void* data, dvbpsi_sdt_t* sdt) {
  auto& d = *static_cast<Decoded*>(data);
  if (sdt->p_first_service) {
    d.sdt_service = sdt->p_first_service->i_service_id;
    d.service_descriptor = descriptors_bytes(sdt->p_first_service->p_first_descriptor);
  }
  dvbpsi_sdt_delete(sdt);
}

void on_eit(void* data, dvbpsi_eit_t* eit) {
  auto& d = *static_cast<Decoded*>(data);
  d.eit_tables.insert(eit->i_table_id);
  for (auto* e = eit->p_first_event; e; e = e->p_next) d.eit_events[e->i_event_id] = e->i_start_time;
  dvbpsi_eit_delete(eit);
}

void on_tot(void* data, dvbpsi_tot_t* tot) {
  auto& d = *static_cast<Decoded*>(data);
  (tot->i_table_id == 0x73 ? d.tot_count : d.tdt_count)++;
  if (tot->i_table_id == 0x73) d.tot_times.push_back(tot->i_utc_time);
  dvbpsi_tot_delete(tot);
}

void on_new_subtable(dvbpsi_t* h, uint8_t table_id, uint16_t extension, void* data) {
  if (table_id == 0x42) dvbpsi_sdt_attach(h, table_id, extension, on_sdt, data);
  if (table_id == 0x4E || table_id == 0x50) dvbpsi_eit_attach(h, table_id, extension, on_eit, data);
  if (table_id == 0x70 || table_id == 0x73) dvbpsi_tot_attach(h, table_id, extension, on_tot, data);
}

Decoded decode(const Bytes& stream, std::uint16_t program) {
  Decoded d;
  std::map<std::uint16_t, dvbpsi_t*> handles;
  for (std::uint16_t pid : {kPatPid, kPmtPid, kSdtPid, kHEitPid, kLEitPid, kTimePid}) {
    dvbpsi_t* h = dvbpsi_new(on_message, DVBPSI_MSG_ERROR);
    h->p_sys = &d;
    if (pid == kPatPid) dvbpsi_pat_attach(h, on_pat, &d);
    else if (pid == kPmtPid) dvbpsi_pmt_attach(h, program, on_pmt, &d);
    else dvbpsi_AttachDemux(h, on_new_subtable, &d);
    handles[pid] = h;
  }
  for (Packet p : packets_of(stream)) {
    const auto it = handles.find(packet_pid(p));
    if (it != handles.end()) dvbpsi_packet_push(it->second, p.data());
  }
  for (auto& [pid, h] : handles) {
    if (pid == kPatPid) dvbpsi_pat_detach(h);
    else if (pid == kPmtPid) dvbpsi_pmt_detach(h);
    else dvbpsi_DetachDemux(h);
    dvbpsi_delete(h);
  }
  return d;
}

class PsiAsLibdvbpsiReadsIt : public ::testing::Test {
 protected:
  Scenario scenario = small_scenario();
};

TEST_F(PsiAsLibdvbpsiReadsIt, PatPmtAndSdtDescribeTheOneSegService) {
  const Decoded d = decode(stream_of(scenario, 20), scenario.station.service_id);
  EXPECT_TRUE(d.errors.empty()) << d.errors.front();
  ASSERT_EQ(d.pat_programs.size(), 2u);
  EXPECT_EQ(d.pat_programs[0], (std::pair<std::uint16_t, std::uint16_t>{0, kNitPid}));
  EXPECT_EQ(d.pat_programs[1], (std::pair<std::uint16_t, std::uint16_t>{0x5A8, 0x1FC8}));

  ASSERT_EQ(d.pmt_streams.size(), 3u);
  EXPECT_EQ(d.pcr_pid, kPcrPid);
  EXPECT_EQ(std::get<0>(d.pmt_streams[0]), 0x1B);  // H.264
  EXPECT_EQ(std::get<0>(d.pmt_streams[1]), 0x0F);  // AAC
  const auto& [type, pid, descriptors] = d.pmt_streams[2];
  EXPECT_EQ(pid, kCaptionPid);
  ASSERT_GE(descriptors.size(), 3u);
  EXPECT_EQ((std::vector<std::uint8_t>(descriptors.begin(), descriptors.begin() + 3)),
            (std::vector<std::uint8_t>{0x52, 0x01, 0x87}));

  EXPECT_EQ(d.sdt_service, 0x5A8);
  const Bytes name = encode_si_text("テスト放送局１");
  ASSERT_EQ(d.service_descriptor.size(), 5 + name.size());
  EXPECT_EQ(d.service_descriptor[0], 0x48);
  EXPECT_EQ(d.service_descriptor[3], 0);  // no provider name: the station name comes next
  EXPECT_EQ(d.service_descriptor[4], name.size());
  EXPECT_TRUE(std::equal(name.begin(), name.end(), d.service_descriptor.begin() + 5));
}

TEST_F(PsiAsLibdvbpsiReadsIt, EitCarriesPresentFollowingAndSchedule) {
  const Decoded d = decode(stream_of(scenario, 12), scenario.station.service_id);
  EXPECT_TRUE(d.errors.empty()) << d.errors.front();
  EXPECT_TRUE(d.eit_tables.count(0x4E));
  EXPECT_TRUE(d.eit_tables.count(0x50));
  ASSERT_TRUE(d.eit_events.count(101));
  ASSERT_TRUE(d.eit_events.count(102));
  // 2026-12-07 is MJD 61381 (0xEFC5); 05:30:00 in BCD.
  EXPECT_EQ(d.eit_events.at(102), 0xEFC5053000ull);
}

TEST_F(PsiAsLibdvbpsiReadsIt, TotEveryFiveSecondsWithAValidCrcAndTheClock) {
  const Decoded d = decode(stream_of(scenario, 30), scenario.station.service_id);
  EXPECT_TRUE(d.errors.empty()) << d.errors.front();
  ASSERT_EQ(d.tot_count, 6);
  EXPECT_EQ(d.tdt_count, 5);  // at 0, 7, 14, 21, 28 s
  EXPECT_EQ(d.tot_times.front(), 0xEFC5050000ull);
  EXPECT_EQ(d.tot_times.back(), 0xEFC5050025ull);
}

TEST_F(PsiAsLibdvbpsiReadsIt, BadTotCrcIsRejectedByTheIndependentDecoder) {
  scenario.faults.push_back({FaultType::bad_tot_crc, 10});
  const Decoded d = decode(stream_of(scenario, 30), scenario.station.service_id);
  EXPECT_EQ(d.tot_count, 5);
  EXPECT_FALSE(d.errors.empty());
}

TEST_F(PsiAsLibdvbpsiReadsIt, PackedSectionsStillDecode) {
  scenario.faults.push_back({FaultType::packed_sections, 0, kHEitPid});
  scenario.faults.push_back({FaultType::packed_sections, 0, kLEitPid});
  const Decoded d = decode(stream_of(scenario, 12), scenario.station.service_id);
  EXPECT_TRUE(d.errors.empty()) << d.errors.front();
  EXPECT_TRUE(d.eit_events.count(101));
  EXPECT_TRUE(d.eit_events.count(102));
}

}  // namespace
