// NodeJudge: judging and limits — the touch and key thresholds, the per-node
// upper and lower limits, the adjacent-point factors derived from every node's
// percentage, the test modes, the check enables and the result word; the node
// pass of Evaluate and the short marks of MarkPinFault.
//
// No lock of its own: NodeMap calls it under the map's lock.
#pragma once

#include <cstdint>
#include <vector>

#include "judging/node_cells.h"
#include "judging/node_types.h"

namespace varnex2::judging {

class NodeJudge {
 public:
  // Sizes the limits (zeroed) and Judge's scratch for columns x rows; the
  // percentage factors are refreshed separately (RefreshPercentFactors).
  void Resize(int columns, int rows);

  // Recomputes the adjacent-point factors from every node's percentage; after
  // each change of a percentage.
  void RefreshPercentFactors(const NodeCells& cells);

  // ---- Thresholds and limits -----------------------------------------------------
  void SetTouchThresholds(std::int32_t low, std::int32_t high) {
    nTouchLow = low;
    nTouchHigh = high;
  }
  void SetKeyThresholds(std::int32_t low, std::int32_t high) {
    nKeyLow = low;
    nKeyHigh = high;
  }
  std::int32_t TouchHigh() const { return nTouchHigh; }
  std::int32_t TouchLow() const { return nTouchLow; }
  std::int32_t KeyHigh() const { return nKeyHigh; }
  std::int32_t KeyLow() const { return nKeyLow; }
  // Copied only when the extents equal the limits' (the map's).
  void SetUpperLimits(const NodeFrame& limits);
  void SetLowerLimits(const NodeFrame& limits);
  const NodeFrame& UpperLimits() const { return UpperLimits_; }
  const NodeFrame& LowerLimits() const { return LowerLimits_; }
  void SetLegacySampleRange(std::int32_t low, std::int32_t high) {
    nLegacySampleLow = low;
    nLegacySampleHigh = high;
  }
  std::int32_t LegacySampleLow() const { return nLegacySampleLow; }
  std::int32_t LegacySampleHigh() const { return nLegacySampleHigh; }

  // ---- Modes and result word -----------------------------------------------------
  void SetTestModeFlags(std::int32_t flags) { nTestModeFlags = flags; }
  std::int32_t TestModeFlags() const { return nTestModeFlags; }
  void SetCheckEnables(std::int32_t enables) { nCheckEnables = enables; }
  std::int32_t CheckEnables() const { return nCheckEnables; }
  void SetResultFlags(std::int32_t flags) { nResultFlags = flags; }
  std::int32_t ResultFlags() const { return nResultFlags; }
  void AddResultFlags(std::int32_t flags) { nResultFlags |= flags; }
  void ClearNodeVerdicts() { nResultFlags &= ~(ResultFlag::TOUCH_NG | ResultFlag::KEY_NG); }

  // ---- Judging -------------------------------------------------------------------
  // Stores the frame in the cells and judges every stored node: ZERO, HIGH and LOW
  // into the cells' pending flags (PendingFlags), TOUCH_NG / KEY_NG into the result
  // word. Allocates nothing.
  void Judge(NodeCells& cells, const NodeFrame& frame);
  // Clears every short mark; a result other than 0 marks the reported lines.
  void MarkPinFault(NodeCells& cells, int result, int type, int rowLine, int colLine);

 private:
  void AdjacentColumn(const NodeCells& cells, int col, int rows, bool leftOk, bool rightOk, bool exactInt32);

  std::int32_t nTouchHigh = 0;
  std::int32_t nTouchLow = 0;
  std::int32_t nKeyHigh = 0;
  std::int32_t nKeyLow = 0;
  NodeFrame UpperLimits_{0, 0};
  NodeFrame LowerLimits_{0, 0};
  std::int32_t nLegacySampleLow = 0;
  std::int32_t nLegacySampleHigh = 0;
  std::int32_t nTestModeFlags = TestMode::THRESHOLD;
  std::int32_t nCheckEnables = 0;
  std::int32_t nResultFlags = ResultFlag::EVALUATION_SHOWN;

  // Adjacent-point factors derived from every node's percentage, and the
  // largest magnitude among them (infinity when one is not finite).
  std::vector<double> highFactor_;
  std::vector<double> lowFactor_;
  double factorBound_ = 1.0;

  // Judge's scratch, sized with the map: every node's value for the neighbour
  // maximum and minimum (INT32_MIN / INT32_MAX for non-TOUCH nodes), with one
  // spare entry at each end so the up/down reads stay in bounds.
  std::vector<std::int32_t> neighbourMax_;
  std::vector<std::int32_t> neighbourMin_;
  std::vector<std::int32_t> neutralMax_;  // one column of "no neighbour"
  std::vector<std::int32_t> neutralMin_;
  std::vector<std::int32_t> neutralUpper_;  // one column of limits no value exceeds
  std::vector<std::int32_t> neutralLower_;
  std::vector<std::int32_t> zeroColumn_;  // one column of "no adjacent-point hit"
  std::vector<std::int32_t> upMask_;      // per row: -1 when the up neighbour is compared
  std::vector<std::int32_t> downMask_;
  std::vector<std::int32_t> adjacentHigh_;  // per row of one column: -1 on an adjacent-point hit
  std::vector<std::int32_t> adjacentLow_;
};

}  // namespace varnex2::judging
