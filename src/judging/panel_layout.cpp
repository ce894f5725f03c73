#include "judging/panel_layout.h"

namespace varnex2::judging {

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;

bool IsWholeDefaultMatrix(const config::AreaParams& a) {
  return a.nXOrigin == 0 && a.nYOrigin == 0 && a.nXSize == kDefaultRows && a.nYSize == kDefaultColumns;
}
}  // namespace

void CommitArea(NodeMap& map, int index, bool enabled) {
  Lock lock(map.Mutex());
  if (!map.StampAreaGroup(index, index)) return;
  map.UpdateColours();
  map.MutableArea(index)->bEnabled = enabled;
}

void LayOutAreas(NodeMap& map, const config::PanelConfig& panel) {
  Lock lock(map.Mutex());
  const config::AreaParams& touch = panel.touchArea;
  const config::AreaParams& key = panel.keyArea;

  map.SetGridSize(kDefaultColumns, kDefaultRows);
  const config::NodeExtents extents = config::ComputeNodeExtents(touch, key);
  map.SetGridSize(extents.nY, extents.nX);
  map.FillValues(0);
  map.ClearAreas();

  if (!IsWholeDefaultMatrix(touch)) {
    map.AddArea(touch.nXOrigin, touch.nYOrigin, touch.nXSize, touch.nYSize, 0);
    CommitArea(map, 0, touch.bEnable != 0);
    map.SetAreaThresholds(touch.nThresUpper, touch.nThresLower, 0);
  }
  if (key.bEnable != 0) {
    map.AddArea(key.nXOrigin, key.nYOrigin, key.nXSize, key.nYSize, 1);
    CommitArea(map, 1, true);
    map.SetAreaThresholds(touch.nThresUpper, touch.nThresLower, 1);
    map.SetNodeFlags(key.nYOrigin, key.nXOrigin, key.nYOrigin + key.nYSize - 1, key.nXOrigin + key.nXSize - 1,
                     NodeFlag::MASK, NodeFlag::MASK, FlagOp::Set);
  }
}

void DrawUserMarks(NodeMap& map, const config::PanelConfig& panel) {
  Lock lock(map.Mutex());
  for (const config::UserMark& mark : panel.marks) {
    if (!mark.bEnable || mark.nX >= map.Rows() || mark.nY >= map.Columns()) continue;
    const int col = mark.nY;
    const int row = mark.nX;
    if (mark.nType == 1) map.SetNodeFlags(col, row, col, row, NodeFlag::KEY, 0, FlagOp::Set);
    if (mark.nType == 2) map.SetNodeFlags(col, row, col, row, NodeFlag::MASK, 0, FlagOp::Set);
  }
}

NodeFrame ToNodeFrame(const config::Int32Array2D& array) {
  NodeFrame frame(array.Rows(), array.Cols());
  for (int y = 0; y < array.Rows(); ++y)
    for (int x = 0; x < array.Cols(); ++x) frame(y, x) = array(y, x);
  return frame;
}

config::Int32Array2D ToArray2D(const NodeFrame& frame) {
  config::Int32Array2D array(frame.Columns(), frame.Rows());
  for (int y = 0; y < frame.Columns(); ++y)
    for (int x = 0; x < frame.Rows(); ++x) array(y, x) = frame(y, x);
  return array;
}

StatisticsSettings ToStatisticsSettings(const config::ScreenLevelSettings& s) {
  StatisticsSettings out;
  out.ViewMode = s.ViewMode;
  out.ScreenThresholdEnable = s.ScreenThresholdEnable != 0;
  out.RawdataMax = s.RawdataMax;
  out.RawdataMaxEnable = s.RawdataMaxEnable != 0;
  out.RawdataMin = s.RawdataMin;
  out.RawdataMinEnable = s.RawdataMinEnable != 0;
  out.RawdataRange = s.RawdataRange;
  out.RawdataRangeEnable = s.RawdataRangeEnable != 0;
  out.RawdataVariance = s.RawdataVariance;
  out.RawdataVarianceEnable = s.RawdataVarianceEnable != 0;
  out.RawdataRangeDiscardVariance = s.RawdataRangeDiscardVariance;
  out.RawdataRangeDiscardVarianceEnable = s.RawdataRangeDiscardVarianceEnable != 0;
  return out;
}

config::ScreenLevelSettings FromStatisticsSettings(const StatisticsSettings& s) {
  config::ScreenLevelSettings out;
  out.ViewMode = s.ViewMode;
  out.ScreenThresholdEnable = s.ScreenThresholdEnable ? 1 : 0;
  out.RawdataMax = s.RawdataMax;
  out.RawdataMaxEnable = s.RawdataMaxEnable ? 1 : 0;
  out.RawdataMin = s.RawdataMin;
  out.RawdataMinEnable = s.RawdataMinEnable ? 1 : 0;
  out.RawdataRange = s.RawdataRange;
  out.RawdataRangeEnable = s.RawdataRangeEnable ? 1 : 0;
  out.RawdataVariance = s.RawdataVariance;
  out.RawdataVarianceEnable = s.RawdataVarianceEnable ? 1 : 0;
  out.RawdataRangeDiscardVariance = s.RawdataRangeDiscardVariance;
  out.RawdataRangeDiscardVarianceEnable = s.RawdataRangeDiscardVarianceEnable ? 1 : 0;
  return out;
}

void ApplyConfigToNodeMap(NodeMap& map, const config::PanelConfig& panel) {
  Lock lock(map.Mutex());
  LayOutAreas(map, panel);
  DrawUserMarks(map, panel);
  map.SetTestModeFlags(static_cast<std::int32_t>(panel.nTestModeFlags));
  map.SetAllPercent(0);
  map.SetPercentArray(ToNodeFrame(panel.adjacentPercent));
  const NodeFrame upper = ToNodeFrame(panel.sampleLimits.rawUpper);
  const NodeFrame lower = ToNodeFrame(panel.sampleLimits.rawLower);
  map.SetUpperLimits(upper);  // ignored unless the shape equals the map's
  map.SetLowerLimits(lower);
  map.SetStatisticsSettings(ToStatisticsSettings(panel.screen));
  map.SetDisplayStyle(panel.nUiColorMode);
  map.SetTouchThresholds(panel.touchArea.nThresLower, panel.touchArea.nThresUpper);
  if (panel.keyArea.bEnable != 0) map.SetKeyThresholds(panel.keyArea.nThresLower, panel.keyArea.nThresUpper);
}

}  // namespace varnex2::judging
