#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "pid_table.h"

namespace skerrow {

struct analysis_state;

// What the batch driver needs from the world besides files: where its
// messages go, how it waits and whether it is asked to stop (tests replace
// both).
struct batch_environment {
  std::FILE* console = stderr;
  std::function<void(int milliseconds)> sleep;  // real waits use scaled_ms() and end early on a stop
  std::function<bool()> stop_requested;         // empty: never
  pid_handler caption_handler = nullptr;        // given to rows claimed for the caption PID
};

constexpr std::int64_t minimum_recording_size = 6240000;
constexpr int stability_wait_ms = 8000;
constexpr int end_of_run_wait_ms = 1000;
constexpr std::size_t longest_directory = 3580;

// Analyses one recording; 0 when it was read to its end and its outputs are
// in place, negative codes for the reasons it was skipped or left undone
// (among them -6 stopped, -7 an output could not be written in full).
int process_recording(analysis_state& state, batch_environment& env, const std::string& path);

// Walks a directory depth first in listing order; 0, or -1 when too long or not listable.
int walk_directory(analysis_state& state, batch_environment& env, const std::string& dir);

// Size in bytes, or -1 when the file cannot be opened.
std::int64_t recording_size(const std::string& path);

// One argument of the command line: a .ts recording or a directory.
void handle_argument(analysis_state& state, batch_environment& env, const std::string& argument);

// The whole run: usage check, analysis log, every argument, log removed at the
// end (at once when asked to stop). Returns the exit status (0, or -1 without
// arguments).
int run_analyser(const std::vector<std::string>& args, batch_environment& env);

}  // namespace skerrow
