// Throughput of the text decoder and the caption path, the two decoders that
// run for every EIT repetition and every caption packet.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "analysis_state.h"
#include "arib_text.h"
#include "captions.h"

namespace {

using namespace skerrow;

// An event description as broadcast: Kanji, hiragana in GR, alphanumerics
// after LS1, a control and an additional symbol.
std::vector<unsigned char> event_text()
{
    std::vector<unsigned char> t;
    for (int i = 0; i < 12; ++i) {
        const unsigned char piece[] = {0x30, 0x21, 0x34, 0x41, 0xA4, 0xCE, 0xA4, 0xC8, 0x0E, 0x41, 0x42,
                                       0x0F, 0x7A, 0x56, 0x0D, 0x0A};
        t.insert(t.end(), piece, piece + sizeof piece);
    }
    return t;
}

void BM_DecodeAribText(benchmark::State& s)
{
    const auto text = event_text();
    std::string out;
    text_writer w;
    w.open_memory(&out);
    for (auto _ : s) {
        decode_arib_text(text.data(), text.size(), w);
        w.flush();
        out.clear();
    }
    s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * text.size()));
}
BENCHMARK(BM_DecodeAribText);

// One caption packet: PES header, statement data group, one statement body of
// about 60 characters with control codes between them.
void BM_CaptionPacket(benchmark::State& s)
{
    std::vector<unsigned char> body;
    for (int i = 0; i < 30; ++i) {
        const unsigned char piece[] = {0xA4, 0xA2, 0xB0, 0xA1, 0x89};
        body.insert(body.end(), piece, piece + sizeof piece);
    }
    std::vector<unsigned char> payload = {0x00, 0x00, 0x01, 0xBD, 0x00, 0x00, 0x80, 0x80, 0x00, 0x80, 0xFF, 0xF0};
    const int loop = 5 + static_cast<int>(body.size());
    const int size = 1 + 3 + loop;
    const unsigned char group[] = {0x04, 0x00, 0x00, static_cast<unsigned char>(size >> 8), static_cast<unsigned char>(size),
                                   0x3F, 0x00, static_cast<unsigned char>(loop >> 8), static_cast<unsigned char>(loop),
                                   0x1F, 0x20, 0x00, static_cast<unsigned char>(body.size() >> 8),
                                   static_cast<unsigned char>(body.size())};
    payload.insert(payload.end(), group, group + sizeof group);
    payload.insert(payload.end(), body.begin(), body.end());

    std::string log, captions;
    analysis_state state;
    state.log.open_memory(&log);
    state.captions.open_memory(&captions);
    for (auto _ : s) {
        ts_packet* p = state.packets.acquire();
        std::memset(p->data, 0xFF, sizeof p->data);
        p->data[0] = 0x47;
        p->offset = 4;
        std::memcpy(p->data + 4, payload.data(), payload.size());
        handle_caption_packet(state, state.pids.rows[8], p);
        state.log.flush();
        state.captions.flush();
        log.clear();
        captions.clear();
    }
    s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * ts_packet_size));
}
BENCHMARK(BM_CaptionPacket);

}  // namespace

BENCHMARK_MAIN();
