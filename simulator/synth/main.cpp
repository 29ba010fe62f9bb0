#include <iostream>

#include "synth_cli.h"

int main(int argc, char** argv) {
  oneseg::synth::PosixProcessRunner runner;
  return oneseg::synth::run_synth_tool(std::vector<std::string>(argv + 1, argv + argc), runner, std::cout, std::cerr);
}
