// Arbitrary bytes into the scenario parser. Every input ends in a result (no crash, bounded
// memory); a refused one names a reason and leaves no steps; an accepted one is ordered,
// bounded, has "loop" only last, and can be applied to a box whose frames still stream.
// The same bytes then drive the controller's command processor and configuration writes:
// two REPORTALLs in a row carry one checksum, CALIBRATE gives CAL set then cleared, only the
// backup key stores.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "sim/scenario.h"
#include "sim/sim_box.h"

using namespace varnex2::sim;

namespace {

struct Controller {
  SimBox& box;
  std::uint64_t session;

  ControllerReport Request(std::vector<std::uint8_t> r) {
    if (box.ControllerOut(session, r) != OutResult::Ok) std::abort();
    ControllerReport a{};
    if (box.PopControllerIn(session, a, std::chrono::microseconds(0)) != InResult::Report) std::abort();
    return a;
  }
  void Write(std::uint16_t address, std::uint8_t value) {
    const auto a = Request({0x01, 0x51, 0x03, 0x00, static_cast<std::uint8_t>(address & 0xFF),
                            static_cast<std::uint8_t>(address >> 8), value});
    if (a[1] != 0x04) std::abort();
  }
  std::uint8_t Read(std::uint16_t address) {
    const auto a = Request(
        {0x01, 0x51, 0x02, 0x01, static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8)});
    if (a[1] != 0x00 || a[2] != 1) std::abort();
    return a[3];
  }
  // Pending T6 messages (status, checksum); the others are read and dropped.
  std::vector<std::pair<std::uint8_t, std::uint32_t>> T6Messages() {
    std::vector<std::pair<std::uint8_t, std::uint32_t>> out;
    const int count = Read(box.ObjectAddress(44));
    if (count > 64) std::abort();  // the queue's capacity
    const std::uint16_t t5 = box.ObjectAddress(5);
    for (int i = 0; i < count; ++i) {
      const auto a = Request({0x01, 0x51, 0x02, 0x05, static_cast<std::uint8_t>(t5 & 0xFF),
                              static_cast<std::uint8_t>(t5 >> 8)});
      if (a[1] != 0x00 || a[3] == 0xFF) std::abort();  // counted but empty
      if (a[3] == box.ReportIdOf(6)) out.emplace_back(a[4], a[5] | (a[6] << 8) | (a[7] << 16));
    }
    if (Read(box.ObjectAddress(44)) != 0) std::abort();
    return out;
  }
};

// Up to 64 command pairs (what, value) from the input: T6 commands other than reset (it takes
// the controller off the bus), diagnostic commands and configuration bytes.
void DriveCommands(SimBox& box, std::uint64_t session, const uint8_t* data, size_t size) {
  Controller c{box, session};
  const std::uint16_t t6 = box.ObjectAddress(6);
  const std::uint16_t first = box.ObjectAddress(7);
  const auto last = static_cast<std::uint16_t>(box.ObjectAddress(62) + box.ObjectSize(62));
  for (size_t i = 0; i + 1 < size && i < 128; i += 2) {
    const std::uint8_t value = data[i + 1];
    c.T6Messages();
    switch (data[i] % 5) {
      case 0: {  // BACKUPNV
        const std::uint64_t before = box.BackupCount();
        c.Write(static_cast<std::uint16_t>(t6 + 1), value);
        if (box.BackupCount() != before + (value == 0x55 ? 1u : 0u)) std::abort();
        break;
      }
      case 1: {  // CALIBRATE
        c.Write(static_cast<std::uint16_t>(t6 + 2), value);
        const auto m = c.T6Messages();
        if (value == 0 ? !m.empty()
                       : (m.size() != 2 || m[0].first != 0x10 || m[1].first != 0x00 || m[0].second != m[1].second)) {
          std::abort();
        }
        break;
      }
      case 2: {  // REPORTALL twice
        c.Write(static_cast<std::uint16_t>(t6 + 3), value | 1);
        c.Write(static_cast<std::uint16_t>(t6 + 3), value | 1);
        const auto m = c.T6Messages();
        if (m.size() != 2 || m[0].first != 0 || m[1].first != 0 || m[0].second != m[1].second ||
            m[0].second > 0xFFFFFFu) {
          std::abort();
        }
        break;
      }
      case 3:  // diagnostic
        c.Write(static_cast<std::uint16_t>(t6 + 5), value);
        break;
      default:  // a configuration byte (reporting switches, self-test commands among them)
        if (last > first) c.Write(static_cast<std::uint16_t>(first + (value * 7u + i) % (last - first)), value);
        break;
    }
  }
}

}  // namespace

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

  DriveCommands(box, session, data, size);
  return 0;
}
