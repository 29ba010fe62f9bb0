#pragma once
// The oneseg-synth command line.
#include <ostream>
#include <string>
#include <vector>

#include "av_source.h"

namespace oneseg::synth {

// Runs the tool on its arguments (without the program name). Returns the
// exit status: 0 done, 1 the scenario or the synthesis failed, 2 bad usage.
int run_synth_tool(const std::vector<std::string>& args, ProcessRunner& runner, std::ostream& out, std::ostream& err);

}  // namespace oneseg::synth
