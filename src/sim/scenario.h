#pragma once
// Scenarios: timed scripts of what happens on the simulated box (panels placed and removed,
// faults, touches, unplug and replug, scanned codes). The text format is described in README.md.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/panel_model.h"

namespace varnex2::sim {

enum class ScenarioOp {
  Place,        // a panel is laid on the fixture (clears faults and touches)
  Remove,       // the fixture becomes empty (clears faults and touches)
  Short,        // a line short: xLine, a (line), b (kind)
  NodeFault,    // nodeFault
  ClearFaults,  // removes shorts, node faults and the power fault
  Touch,        // a finger at (a, b) with strength c
  Release,      // all fingers lifted, sweep stopped
  Sweep,        // finger sweep over all X lines, interval in `duration`
  PowerFault,   // flag: on/off
  Unplug,       // function(s) leave the bus
  Plug,         // function(s) come back
  Scan,         // a barcode scanned: text
  Loop,         // the timeline starts again from 0
};

enum class ScenarioTarget { Both, Controller, Bridge };

struct ScenarioAction {
  ScenarioOp op = ScenarioOp::Place;
  // Place: panel parameters; only those named in the line replace the defaults.
  bool hasLevel = false, hasNoise = false, hasGradientX = false, hasGradientY = false;
  int level = 0, noise = 0, gradientX = 0, gradientY = 0;
  bool xLine = true;
  int a = 0, b = 0, c = 0;
  bool flag = false;
  NodeFault nodeFault;
  ScenarioTarget target = ScenarioTarget::Both;
  std::chrono::milliseconds duration{0};
  std::string text;
};

struct ScenarioStep {
  std::chrono::milliseconds at{0};  // from the start of the timeline
  ScenarioAction action;
};

struct Scenario {
  std::string name;
  std::uint64_t seed = 1;
  std::vector<ScenarioStep> steps;  // ordered by `at`
};

struct ScenarioError {
  int line = 0;  // 1-based line of the offending input, 0 when not about a line
  std::string message;
};

// Limits that keep a scenario from outside bounded.
inline constexpr std::size_t kMaxScenarioBytes = 1 << 20;
inline constexpr std::size_t kMaxScenarioSteps = 100000;
inline constexpr std::int64_t kMaxScenarioTimeMs = 7LL * 24 * 3600 * 1000;

// Parses scenario text. Never throws; on failure returns false and fills `error`.
bool ParseScenario(std::string_view text, Scenario& out, ScenarioError& error);

// Built-in scenarios: "production", "idle", "faulty", "unplug", "finger", "selftest".
bool BuiltinScenario(std::string_view name, Scenario& out);
std::vector<std::string> BuiltinScenarioNames();
// The text of a built-in scenario (empty when unknown).
std::string_view BuiltinScenarioText(std::string_view name);

// A built-in scenario by name, otherwise the scenario file at that path (at most
// kMaxScenarioBytes). On failure `error` says why (with the file's line number when the text
// is at fault).
bool LoadScenario(const std::string& nameOrPath, Scenario& out, ScenarioError& error);

}  // namespace varnex2::sim
