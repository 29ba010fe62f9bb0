#include "synth_cli.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "synthesize.h"

namespace oneseg::synth {
namespace {

constexpr const char* kUsage =
    "usage: oneseg-synth SCENARIO.json -o OUT.ts [--start YYYY-MM-DDTHH:MM:SS]\n"
    "                    [--duration HH:MM:SS|SECONDS] [--no-picture | --picture]\n"
    "                    [--ffmpeg PROGRAM] [--font FILE]\n"
    "Writes OUT.ts, a one-segment transport stream of the scenario's broadcast\n"
    "(or of the window given by --start/--duration), and OUT.truth.json.\n";

std::optional<int> parse_duration(const std::string& s) {
  int h = 0, m = 0, sec = 0, n = 0;
  if (std::sscanf(s.c_str(), "%d:%d:%d%n", &h, &m, &sec, &n) == 3 && static_cast<std::size_t>(n) == s.size() &&
      h >= 0 && m >= 0 && m < 60 && sec >= 0 && sec < 60)
    return h * 3600 + m * 60 + sec;
  if (std::sscanf(s.c_str(), "%d%n", &sec, &n) == 1 && static_cast<std::size_t>(n) == s.size() && sec > 0) return sec;
  return std::nullopt;
}

struct Arguments {
  std::string scenario, output;
  SynthOptions options;
};

// Fills `a`; returns an error message, empty when the arguments are good.
std::string parse_arguments(const std::vector<std::string>& args, Arguments& a) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--no-picture") {
      a.options.picture_and_sound = false;
    } else if (arg == "--picture") {
      a.options.picture_and_sound = true;
    } else if (arg == "-o" || arg == "--start" || arg == "--duration" || arg == "--ffmpeg" || arg == "--font") {
      if (!has_value) return arg + " needs a value";
      const std::string& v = args[++i];
      if (arg == "-o") a.output = v;
      else if (arg == "--ffmpeg") a.options.ffmpeg = v;
      else if (arg == "--font") a.options.font = v;
      else if (arg == "--start") {
        a.options.start = parse_jst(v);
        if (!a.options.start) return "--start: expected YYYY-MM-DDTHH:MM:SS, got \"" + v + "\"";
      } else {
        a.options.duration_s = parse_duration(v);
        if (!a.options.duration_s) return "--duration: expected HH:MM:SS or seconds, got \"" + v + "\"";
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return "unknown option " + arg;
    } else if (a.scenario.empty()) {
      a.scenario = arg;
    } else {
      return "more than one scenario given";
    }
  }
  if (a.scenario.empty()) return "no scenario given";
  if (a.output.empty()) return "no output file given (-o OUT.ts)";
  return {};
}

}  // namespace

int run_synth_tool(const std::vector<std::string>& args, ProcessRunner& runner, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (const std::string problem = parse_arguments(args, a); !problem.empty()) {
    err << "oneseg-synth: " << problem << "\n" << kUsage;
    return 2;
  }
  try {
    const auto started = std::chrono::steady_clock::now();
    const Scenario s = load_scenario(a.scenario);
    const MuxReport r = synthesize(s, a.options, a.output, runner);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    out << "wrote " << a.output << " (" << r.bytes << " bytes, " << r.captions.size() << " captions, "
        << r.events.size() << " events) and " << truth_path(a.output).string() << " in " << took << " s\n";
    return 0;
  } catch (const std::exception& e) {
    err << "oneseg-synth: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace oneseg::synth
