#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "job_env.h"
#include "job_settings.h"

namespace pellatt {

struct BatchOptions {
  std::string file;
  JobSettings settings;
  bool yes = false;  // answer every question "yes"
  bool help = false;     // print the usage and stop
  bool version = false;  // print the version and stop
};

// Parses the arguments after "--batch" and checks every setting, so a bad one
// stops pellatt before anything is written. Throws JobError on a bad command
// line; --help and --version end the parsing.
BatchOptions parse_batch_options(const std::vector<std::string>& args);

std::string batch_usage();

// Runs the job window-less with the log on `out`; returns the exit status:
// 0 when every page was written, 1 when a page or every thumbnail is missing,
// 2 when the job stopped on an error.
int run_batch(const BatchOptions& options, ProcessStarter& starter, Clock& clock, std::ostream& out, std::ostream& err);

}  // namespace pellatt
