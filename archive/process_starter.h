#pragma once
// How the archive starts other programs (the analyser); tests replace it.
#include <string>
#include <vector>

namespace oneseg::archive {

class ProcessStarter {
 public:
  virtual ~ProcessStarter() = default;
  // Runs the program to its end; returns its exit status, or -1 when it
  // could not be started or did not exit normally.
  virtual int run(const std::string& program, const std::vector<std::string>& args) = 0;
};

class RealProcessStarter : public ProcessStarter {
 public:
  int run(const std::string& program, const std::vector<std::string>& args) override;
};

}  // namespace oneseg::archive
