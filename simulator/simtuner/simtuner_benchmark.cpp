// How many stream units a simulated tuner generates, re-stamps and delivers
// per second of processor time: the ceiling of the speed factor.
#include <benchmark/benchmark.h>

#include "test_streams.h"

namespace {

using namespace oneseg::sim;

void BM_StreamDelivery(benchmark::State& state) {
  testing::TempDir dir;
  dir.Write("s.ts", testing::SimpleStream(1000, 50, {2008, 12, 6, 0, 0, 0}));
  testing::Rig rig(R"({"speed": 100, "stations": [{"channel": 27, "stream": "s.ts", "bitrate": 416000}],
                       "devices": [{"model": "A", "queue_bytes": 67108864}]})",
                   dir);
  brannock::SiHandle h = 0;
  rig.usb->SI_Open(0, h);
  const std::uint8_t frames[][5] = {{0, 0x01, 0x75, 0x8A, 0}, {0, 0x01, 0x82, 0x70, 0}, {0, 0x01, 0x84, 0x22, 0},
                                    {0, 0x01, 0x85, 0x94, 0}, {0, 0x01, 0x88, 0x0D, 0}, {2, 0, 0, 0, 0}};  // channel 27
  std::uint32_t written = 0;
  for (const auto& f : frames) rig.usb->SI_Write(h, f, 5, written);
  std::vector<std::uint8_t> buffer(65536);
  std::int64_t bytes = 0;
  for (auto _ : state) {
    rig.clock.Advance(0.1);  // 10 s of broadcast
    std::uint32_t waiting = 0, status = 0;
    rig.usb->SI_CheckRXQueue(h, waiting, status);
    while (waiting > 0) {
      std::uint32_t read = 0;
      rig.usb->SI_Read(h, buffer.data(), std::min<std::uint32_t>(waiting, 65536), read);
      waiting -= read;
      bytes += read;
    }
  }
  if (bytes == 0) state.SkipWithError("the simulated tuner delivered nothing");
  state.SetBytesProcessed(bytes);
  state.counters["units/s"] = benchmark::Counter(static_cast<double>(bytes) / 197, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StreamDelivery)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
