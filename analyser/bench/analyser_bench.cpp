// Speed of the analyser on a realistic ten-minute recording (about 31 MB:
// video, audio, SI tables repeated, a caption every 3 seconds), with the full
// analysis log, listing and captions written to real files.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "analysis_state.h"
#include "batch_driver.h"
#include "captions.h"
#include "read_loop.h"
#include "stream_builder.h"

namespace fs = std::filesystem;
using namespace skerrow;

namespace {

const testing::bytes& ten_minutes() {
  static const testing::bytes recording = testing::make_recording(600);
  return recording;
}

fs::path scratch(const char* name) {
  return fs::temp_directory_path() / (std::string("analyser_bench_") + std::to_string(::getpid()) + "_" + name);
}

// Read loop and packet layer (with the tables, descriptors and captions they
// reach) over the recording held in memory.
void read_loop_with_full_log(benchmark::State& bench) {
  const testing::bytes& recording = ten_minutes();
  const fs::path log = scratch("log"), listing = scratch("eit"), captions = scratch("sub");
  for (auto _ : bench) {
    analysis_state state;
    state.caption_handler = handle_caption_packet;
    state.log.open_file(log);
    state.listing.open_file(listing);
    state.captions.open_file(captions);
    reset_recording_state(state);
    memory_source source(recording.data(), recording.size());
    read_loop(state, source);
    state.log.close();
  }
  bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) *
                          static_cast<std::int64_t>(recording.size()));
  bench.counters["log_MB"] = static_cast<double>(fs::file_size(log)) / 1e6;
  fs::remove(log);
  fs::remove(listing);
  fs::remove(captions);
}
BENCHMARK(read_loop_with_full_log)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Whole-recording analysis from a file as the batch driver does it (minus the
// stability wait): size checks, output files, reading, listing and captions.
void whole_recording_from_file(benchmark::State& bench) {
  const fs::path dir = scratch("dir");
  fs::create_directories(dir);
  const fs::path ts = dir / "101206210_Ch27.ts";
  {
    std::ofstream out(ts, std::ios::binary);
    out.write(reinterpret_cast<const char*>(ten_minutes().data()),
              static_cast<std::streamsize>(ten_minutes().size()));
  }
  batch_environment env;
  env.console = std::fopen("/dev/null", "w");
  env.sleep = [](int) {};
  const fs::path log = dir / "skerrow.log";
  for (auto _ : bench) {
    fs::remove(dir / "101206210_Ch27.eit");
    analysis_state state;
    state.caption_handler = handle_caption_packet;
    state.log.open_file(log);
    benchmark::DoNotOptimize(process_recording(state, env, ts.string()));
    state.log.close();
  }
  bench.SetBytesProcessed(static_cast<std::int64_t>(bench.iterations()) *
                          static_cast<std::int64_t>(ten_minutes().size()));
  std::fclose(env.console);
  fs::remove_all(dir);
}
BENCHMARK(whole_recording_from_file)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
