// Throughput of the synthesiser without picture (target: 100 MB of stream
// per second), into memory and into a file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "synthesize.h"

namespace {

using namespace oneseg::synth;

const Scenario& day() {
  static const Scenario s = load_scenario(SYNTH_SCENARIO_DIR "/hibari_ch27_day.json");
  return s;
}

void TenMinutesInMemory(benchmark::State& state) {
  const Scenario& s = day();
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    MuxReport r;
    const Bytes stream = synthesize_in_memory(s, Window{s.start + 8 * 3600, 600}, &r);
    bytes += stream.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(TenMinutesInMemory)->Unit(benchmark::kMillisecond);

void TenMinutesToFile(benchmark::State& state) {
  const Scenario& s = day();
  const std::filesystem::path ts = std::filesystem::temp_directory_path() / "synth_benchmark.ts";
  SynthOptions o;
  o.start = s.start + 8 * 3600;
  o.duration_s = 600;
  o.picture_and_sound = false;
  PosixProcessRunner runner;
  std::uint64_t bytes = 0;
  for (auto _ : state) bytes += synthesize(s, o, ts, runner).bytes;
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  std::filesystem::remove(ts);
  std::filesystem::remove(truth_path(ts));
}
BENCHMARK(TenMinutesToFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
