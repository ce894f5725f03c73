// The sample-limit editor's logic, shared by the station's dialog and the offline
// judge: samples of known-good panels taken from the node map, the selection of
// the samples that count, and the per-node upper and lower limits computed from
// them (a percentage of the base or fixed offsets around it).
//
// The editor works on its own copy of a SampleLimitSet; the caller copies it back
// (Data()) when the operator confirms. It uses the node map's current values,
// flags, areas and statistics, and displays arrays on the map through Evaluate.
// Window or test thread only; the test cycle must be stopped while it runs,
// except inside the fresh-frame call of TakeSample.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "config/panel_config.h"
#include "judging/node_map.h"

namespace varnex2::judging {

// Operator texts of the editor's refusals.
inline constexpr const char* kMsgKeepOneSampleSelected = "至少选择一行数据！";
inline constexpr const char* kMsgNoSampleSelected = "没有选择样本，无法计算上下限！";

enum class SampleLimitStatus {
  kOk,
  kExtentsDiffer,       // the stored samples do not have the node map's extents (or none)
  kRowsDiffer,          // sample list and stored frames disagree on the number of samples
  kNoSampleSelected,    // nothing selected: no limits computed (kMsgNoSampleSelected)
  kLastSelectedSample,  // unselecting would leave none selected (kMsgKeepOneSampleSelected)
  kNoSuchRow,           // the row names no sample (or no limit array)
};

// What "compute" reads from the controls.
struct LimitParameters {
  std::int32_t nLimitMode = 0;  // 0 percent, 1 offset
  std::int32_t nPercentX100 = 1000;
  std::int32_t nOffsetLower = 1000;
  std::int32_t nOffsetUpper = 1000;
};

// The sample list's columns: 0 selected, 1..4 touch max/min/average/spread,
// 5..8 the same of the key area (-1 without one).
inline constexpr int kSampleListColumns = 9;
inline constexpr int kParaListRows = 3;
inline constexpr int kParaListColumns = 8;
// Sample rows beyond this are not displayed on the map by a click.
inline constexpr int kViewableSampleRows = 100;

// Rows of the limit table and of paraList: 1 upper, 2 base, 3 lower.
enum class LimitRow { kUpper = 1, kBase = 2, kLower = 3 };

class SampleLimitEditor {
 public:
  // Copies the set: sampleFrames only when all three extents are non-zero, every
  // other array with its shape, and the four parameters.
  SampleLimitEditor(NodeMap& map, const config::SampleLimitSet& data);

  const config::SampleLimitSet& Data() const { return data_; }

  // Rows of the sample table, its header row included (one more than the
  // samples the sample list holds; 1 when it holds none).
  int SampleTableRows() const;
  int SampleCount() const { return SampleTableRows() - 1; }
  bool IsSelected(int row) const;  // row 1..SampleCount()
  int SelectedCount() const;

  // Takes one sample from the node map: re-shapes the stored frames to
  // [R][Y][X] and the sample list to [R + 1][9] (R = SampleTableRows(), Y and X
  // the map's extents, overlaps kept), calls freshFrame (the test cycle's fresh
  // frame; may be empty), copies the map's node values into the new frame and
  // its statistics into the new, selected row. Returns the new row (R).
  int TakeSample(const std::function<void()>& freshFrame = {});

  // Selects or unselects sample row 1..SampleCount(). Unselecting the last
  // selected row is refused (kLastSelectedSample) and changes nothing.
  SampleLimitStatus SetSelected(int row, bool selected);

  // The mode radio buttons change the mode at once.
  void SetLimitMode(std::int32_t mode) { data_.nLimitMode = mode; }

  // Computes rawAvg, rawUpper, rawLower and paraList from the selected samples,
  // sets the sample-limit test mode on the map and hands it the limits; the map is
  // left showing rawAvg. Refused (nothing changes) when the stored frames lack
  // the map's extents, when sample list and frames disagree, or when no sample
  // is selected.
  SampleLimitStatus ComputeLimits(const LimitParameters& parameters);

  // Empties the samples and the five 2-D arrays; the parameters stay.
  void Clear();

  // Displays sample row 1..kViewableSampleRows, or a limit array shaped to the
  // map's extents, on the map (the array is evaluated as a frame).
  SampleLimitStatus ShowSample(int row);
  SampleLimitStatus ShowLimitArray(LimitRow row);

  // Replaces the whole copy (e.g. an imported set), with the copy rules of opening.
  void Reset(const config::SampleLimitSet& data);

 private:
  NodeMap& map_;
  config::SampleLimitSet data_;
};

// Evaluates a [Y][X] array on the map as a frame.
void ShowArrayOnMap(NodeMap& map, const config::Int32Array2D& array);
// The map's current node values as a [Y][X] array.
config::Int32Array2D NodeValuesArray(const NodeMap& map);

// The percentage text as hundredths of a percent: the leading real number of
// the text times 100, truncated toward zero, as the decimal text states it
// ("10.239" gives 1023, "0.29" gives 29); beyond the 32-bit range saturated.
// Lenient: leading blanks skipped, no number gives 0.
std::int32_t PercentTextToX100(std::string_view text);
// Strict: the whole text must be a real number within range, else no value.
std::optional<std::int32_t> StrictPercentTextToX100(std::string_view text);

// nTestModeFlags after the editor closes: OK sets the sample-limit mode; Cancel
// clears it and sets the threshold mode.
std::uint32_t TestModeAfterConfirm(std::uint32_t flags);
std::uint32_t TestModeAfterCancel(std::uint32_t flags);

}  // namespace varnex2::judging
