#pragma once
// Node maps set up the way the station sets them up, shared by the tests and the
// benchmarks (benchmarks have tests/ on their include path). Model only, no Qt:
// model_grid.h adds the widget around them.

#include <cstdint>

#include "judging/node_map.h"
#include "judging/panel_layout.h"

namespace varnex2::judging::testing {

// The three judging modes together.
inline constexpr std::int32_t kJudgingModes = TestMode::THRESHOLD | TestMode::LIMITS | TestMode::ADJACENT;

// Every whole-area statistics check on (max 26000, min 21000, range 3000, spread
// 500, spread ignored up to a range of 100) and every view bit.
inline StatisticsSettings AllStatisticsChecks() {
  StatisticsSettings s;
  s.ScreenThresholdEnable = true;
  s.RawdataMax = 26000;
  s.RawdataMaxEnable = true;
  s.RawdataMin = 21000;
  s.RawdataMinEnable = true;
  s.RawdataRange = 3000;
  s.RawdataRangeEnable = true;
  s.RawdataVariance = 500;
  s.RawdataVarianceEnable = true;
  s.RawdataRangeDiscardVariance = 100;
  s.RawdataRangeDiscardVarianceEnable = true;
  s.ViewMode = ViewModeBit::LABELS | ViewModeBit::TITLE | ViewModeBit::STATUS;
  return s;
}

// The judging set-up of a station: the default 52 x 32 map, the three judging
// modes, every check, the touch area over the whole map (enabled, group 0),
// 15 % adjacent-point percentages, touch thresholds 19000..28000, sample limits
// 20000..27000 and every statistics check. No key area.
inline void JudgingStationMap(NodeMap& map) {
  map.SetGridSize(kDefaultColumns, kDefaultRows);
  map.SetTestModeFlags(kJudgingModes);
  map.SetCheckEnables(CheckEnable::ALL);
  map.AddArea(0, 0, kDefaultRows, kDefaultColumns, 0);
  map.MutableArea(0)->bEnabled = true;
  map.StampAreaGroup(0, 0);
  map.SetAllPercent(1500.0);
  map.SetTouchThresholds(19000, 28000);
  map.SetUpperLimits(NodeFrame(kDefaultColumns, kDefaultRows, 27000));
  map.SetLowerLimits(NodeFrame(kDefaultColumns, kDefaultRows, 20000));
  map.SetStatisticsSettings(AllStatisticsChecks());
}

// The station's picture, one judged frame: 52 x 32 values with a HIGH, a LOW and
// a ZERO node, the touch area (columns 0..43) and the key area (44..51, rows
// 0..7) both enabled, the key block masked with two keys, a shorted line and two
// statistics labels.
inline void StationMap(NodeMap& m, std::int32_t modes) {
  m.SetGridSize(52, 32);
  m.SetTestModeFlags(modes);
  m.SetTouchThresholds(19000, 28000);
  m.SetKeyThresholds(15000, 26000);
  m.AddArea(0, 0, 32, 44, 0);
  m.AddArea(0, 44, 8, 8, 1);
  CommitArea(m, 0, true);
  CommitArea(m, 1, true);
  m.SetNodeFlags(44, 0, 51, 7, NodeFlag::MASK, NodeFlag::MASK, FlagOp::Set);
  m.SetNodeFlags(46, 2, 46, 2, NodeFlag::KEY, 0, FlagOp::Set);
  m.SetNodeFlags(49, 5, 49, 5, NodeFlag::KEY, 0, FlagOp::Set);
  m.SetAllPercent(1500.0);
  m.SetCheckEnables(CheckEnable::ALL);
  NodeFrame frame(52, 32);
  for (int c = 0; c < 52; ++c)
    for (int r = 0; r < 32; ++r) frame(c, r) = 21000 + c * 80 + r * 60 + ((c * 7 + r * 13) % 17) * 40;
  frame(10, 10) = 29500;
  frame(20, 25) = 12000;
  frame(30, 5) = 0;
  m.Evaluate(frame);
  m.MarkPinFault(1, 2, 0, 15);
  m.SetLabel(1, "最大值=29500(NG) ", true, MakeRgb(255, 0, 0), MakeRgb(255, 255, 255));
  m.SetLabel(2, "最小值=0 ", true, MakeRgb(0, 0, 255), MakeRgb(255, 255, 255));
}

}  // namespace varnex2::judging::testing
