// One RecordTimer pass over 16 streaming tuners, each with 50 ms of stream
// (13 units of 197 bytes, about 2,600 bytes) waiting, written to real files.
#include <benchmark/benchmark.h>

#include <cstring>

#include "datetime.h"
#include "engine_fakes.h"

namespace brannock::test {
namespace {

constexpr int kTuners = 16;
constexpr int kUnitsPerTick = 13;

// Hands every tuner the same block once per tick, without bookkeeping costs.
class BlockOps : public ScriptedOps {
 public:
  std::vector<std::uint8_t> block;
  std::map<const TOneSegTuner*, std::uint32_t> left;
  int CheckRxQueue(TOneSegTuner& t, std::uint32_t& waiting) override {
    waiting = left[&t];
    return 0;
  }
  int ReadStream(TOneSegTuner& t, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got) override {
    std::uint32_t& rest = left[&t];
    got = std::min(count, rest);
    std::memcpy(buffer, block.data() + (block.size() - rest), got);
    rest -= got;
    return 0;
  }
  void Refill() {
    for (auto& [tuner, rest] : left) rest = static_cast<std::uint32_t>(block.size());
  }
};

void BM_RecordTimerPass(benchmark::State& state) {
  TempFolder folder;
  FakeClock clock;
  FakeUsb usb;
  FakeDriver driver;
  BlockOps ops;
  PosixFileSystem files;
  std::filesystem::create_directories(folder.path() / "rec");
  RecorderEngine engine({clock, usb, driver, ops, files});
  engine.FormCreate(folder.str());
  engine.SetTSFolder((folder.path() / "rec").string());
  for (int i = 0; i < kTuners; ++i) usb.devices.push_back({"PCTV-hiwasa", "T" + std::to_string(i)});
  engine.ScanTuners();
  for (auto& tuner : engine.Tuners) {
    tuner->State = Streaming;
    tuner->Channel = 13 + static_cast<int>(ops.left.size());
    ops.left[tuner.get()] = 0;
  }
  // The first pass opens every tuner's pair with a time packet.
  std::deque<std::uint8_t> units;
  AppendUnit(units, TotPacket(2008, 12, 6, 14, 35, 7), 197);
  for (int u = 1; u < kUnitsPerTick; ++u) AppendUnit(units, PlainPacket(0x100, static_cast<std::uint8_t>(u)), 197);
  ops.block.assign(units.begin(), units.end());
  ops.Refill();
  engine.RecordTimerTimer();
  // Later passes: plain packets, as between time packets.
  units.clear();
  for (int u = 0; u < kUnitsPerTick; ++u) AppendUnit(units, PlainPacket(0x100, static_cast<std::uint8_t>(u)), 197);
  ops.block.assign(units.begin(), units.end());
  for (auto _ : state) {
    ops.Refill();
    engine.RecordTimerTimer();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTuners * kUnitsPerTick * 197);
}
BENCHMARK(BM_RecordTimerPass)->Unit(benchmark::kMicrosecond)->Iterations(3000);

}  // namespace
}  // namespace brannock::test

BENCHMARK_MAIN();
