#pragma once
// The questions the set-up procedures put to the operator while they run: an area's
// thresholds and gain, an adjacent-point percentage, one node's own limits. The window
// answers them with its dialogs; tests answer them with scripted values. Each Ask returns
// true when the operator confirmed (the prompt then holds the entered values) and false on
// cancel (the prompt's values are then meaningless).

#include <cstdint>
#include <string>

namespace varnex2::station {

// GroupSetting: the thresholds and gain of an area.
struct AreaPrompt {
  int scope = 0;       // -1 whole panel (no areas), 0 touch area, 1 key area
  std::string info;    // the area's statistics, shown read-only
  std::int32_t upper = 0;
  std::int32_t lower = 0;
  std::int32_t gain = 0;
};

// CAdjacentDlg: one percentage for a node, the whole map or a selected rectangle.
struct AdjacentPrompt {
  int scope = 0;  // 0 single node, 1 whole touch area, 2 selected rectangle
  // First Y line, first X line, last Y line, last X line (a single node: both corners).
  int y0 = 0;
  int x0 = 0;
  int y1 = 0;
  int x1 = 0;
  int lineBase = 0;           // 0 or 1: added to the line numbers shown
  std::int32_t percent = 0;   // whole percent, in and out
};

// CCellParaSettingDlg: one node's upper and lower limit (sample-limit mode).
struct CellLimitsPrompt {
  int y = 0;
  int x = 0;
  std::int32_t upper = 0;    // in and out
  std::int32_t average = 0;  // shown only
  std::int32_t lower = 0;    // in and out
};

class SetupPrompts {
 public:
  virtual ~SetupPrompts() = default;
  virtual bool AskAreaParams(AreaPrompt& prompt) = 0;
  virtual bool AskAdjacentPercent(AdjacentPrompt& prompt) = 0;
  virtual bool AskCellLimits(CellLimitsPrompt& prompt) = 0;
};

}  // namespace varnex2::station
