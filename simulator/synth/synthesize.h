#pragma once
// A whole synthesised recording: the .ts file and its truth file, from a
// scenario and a choice of time window.
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "av_source.h"
#include "mux.h"
#include "scenario.h"

namespace oneseg::synth {

struct SynthOptions {
  std::optional<JstSeconds> start;      // default: the scenario's start
  std::optional<int> duration_s;        // default: to the scenario's end
  std::optional<bool> picture_and_sound;  // default: as the scenario says
  std::string ffmpeg = "ffmpeg";
  std::string font = AvRequest{}.font;
};

// The window the options pick out of the scenario; throws ScenarioError when
// it does not lie inside the broadcast.
Window choose_window(const Scenario& s, const SynthOptions& o);

// The truth file's content (UTF-8 JSON) for a multiplexed window.
nlohmann::json truth_json(const Scenario& s, const Window& w, bool picture_and_sound, const MuxReport& r);

// The truth file that belongs beside a stream: "x.ts" -> "x.truth.json".
std::filesystem::path truth_path(const std::filesystem::path& ts);

// Writes `ts` and its truth file. Both are written under temporary names and
// renamed at the end, so a failure leaves neither behind. Throws
// ScenarioError for a bad window, std::runtime_error for other failures.
MuxReport synthesize(const Scenario& s, const SynthOptions& o, const std::filesystem::path& ts,
                     ProcessRunner& runner);

// The stream of a window without picture and sound, in memory (for tests).
Bytes synthesize_in_memory(const Scenario& s, const Window& w, MuxReport* report = nullptr);

}  // namespace oneseg::synth
