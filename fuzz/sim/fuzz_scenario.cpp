// Arbitrary bytes into the scenario parser. Every input ends in a result (no crash, bounded
// memory); a refused one names a reason and leaves no steps; an accepted one is ordered,
// bounded, has "loop" only last, and can be applied to a box whose frames still stream.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "sim/scenario.h"
#include "sim/sim_box.h"

using namespace varnex2::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Scenario scenario;
  ScenarioError error;
  if (!ParseScenario(text, scenario, error)) {
    if (error.message.empty() || !scenario.steps.empty() || error.line < 0) std::abort();
    return 0;
  }
  if (scenario.steps.size() > kMaxScenarioSteps) std::abort();
  std::chrono::milliseconds last{0};
  for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
    const ScenarioStep& step = scenario.steps[i];
    if (step.at < last || step.at.count() > kMaxScenarioTimeMs) std::abort();
    if (step.action.op == ScenarioOp::Loop && (i + 1 != scenario.steps.size() || step.at.count() <= 0)) std::abort();
    last = step.at;
  }

  // Apply at most a few hundred steps (plugs, faults anywhere, touches off the matrix), then
  // stream one frame.
  SimBox box;
  std::size_t applied = 0;
  for (const auto& step : scenario.steps) {
    if (++applied > 300) break;
    box.Apply(step.action);
  }
  box.Plug(BoxFunction::Controller);
  const std::uint64_t session = box.Session(BoxFunction::Controller);
  const std::uint16_t command = box.CommandAddress();
  const std::vector<std::uint8_t> mode = {
      0x01, 0x51, 0x03, 0x00, static_cast<std::uint8_t>(command & 0xFF), static_cast<std::uint8_t>(command >> 8), 0x20};
  const std::vector<std::uint8_t> start = {0x01, 0xE1};
  box.ControllerOut(session, mode);
  box.ControllerOut(session, start);
  ControllerReport r{};
  int reports = 0;
  while (box.PopControllerIn(session, r, std::chrono::microseconds(0)) == InResult::Report) ++reports;
  if (reports != 58) std::abort();  // write answer, start acknowledgement, 56 pages
  return 0;
}
