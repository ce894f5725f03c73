#pragma once
// The panel on the simulated fixture: per-node raw counts, touches and faults.

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace varnex2::sim {

// A line shorted on the panel. Kind 1 = short to the supply, 2 = short to ground,
// 3 = short between signals (the kind byte of the self-test report).
struct LineShort {
  bool xLine = true;  // true: an X line, false: a Y line
  int line = 0;       // counted from 0
  int kind = 2;       // 1..3
};

enum class NodeFaultType { Dead, High, Low };

// One node reading wrong: Dead reads 0, High and Low read `value`.
struct NodeFault {
  int x = 0;
  int y = 0;
  NodeFaultType type = NodeFaultType::Dead;
  int value = 0;  // 0: the type's default (High 65000, Low 4000)
};

// A finger on the panel: lowers the counts of node (x, y) by `strength` and of its eight
// neighbours by half of it.
struct Touch {
  int x = 0;
  int y = 0;
  int strength = 400;
};

// The strength of the sweeping finger.
inline constexpr int kSweepStrength = 400;

struct PanelState {
  bool placed = false;     // false: the fixture is empty
  int level = 29500;       // raw count of a placed panel at node (0, 0)
  int emptyLevel = 16000;  // raw count of the empty fixture
  int gradientX = 10;      // added per X line
  int gradientY = 6;       // added per Y line
  int noise = 120;         // raw counts vary by up to +-noise from frame to frame
  int deltaNoise = 3;      // deltas vary by up to +-deltaNoise
  std::vector<LineShort> shorts;
  std::vector<NodeFault> nodeFaults;
  std::vector<Touch> touches;
  // Finger sweep for the finger test: when > 0, every X line in turn is touched along its
  // whole length for this long, starting at `sweepStart` (repeats after the last line).
  std::chrono::milliseconds sweepInterval{0};
  std::chrono::steady_clock::time_point sweepStart{};
  bool powerFault = false;  // the controller's supply test fails
};

// Computes node values of a matrix of `xLines` x `yLines` nodes, X-major
// (value of X line x, Y line y at index x * yLines + y). Deterministic for a given seed:
// every call of a noisy frame advances the generator.
class PanelModel {
 public:
  PanelModel(int xLines, int yLines, std::uint64_t seed);

  void SetState(const PanelState& state);
  const PanelState& State() const { return state_; }
  PanelState& MutableState() { return state_; }
  void SetSeed(std::uint64_t seed) { rng_ = seed ? seed : 1; }

  int XLines() const { return x_; }
  int YLines() const { return y_; }

  // Raw counts with noise and touches (what the controller measures now).
  void RawFrame(std::span<std::uint16_t> out, std::chrono::steady_clock::time_point now);
  // References: raw counts without noise and without touches.
  void ReferenceFrame(std::span<std::uint16_t> out) const;
  // Signed deltas: touches (negative) plus a little noise; 0 on dead nodes.
  void DeltaFrame(std::span<std::int16_t> out, std::chrono::steady_clock::time_point now);

  // The first line short of the panel, or nullptr (an empty fixture has none).
  const LineShort* FirstShort() const;

 private:
  int BaseValue(int x, int y) const;
  int TouchEffect(int x, int y, std::chrono::steady_clock::time_point now) const;
  const NodeFault* FaultAt(int x, int y) const;
  int Noise(int amplitude);

  int x_;
  int y_;
  std::uint64_t rng_;
  PanelState state_;
};

}  // namespace varnex2::sim
