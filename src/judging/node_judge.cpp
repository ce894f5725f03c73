#include "judging/node_judge.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace varnex2::judging {

namespace {

// std::trunc without the library call: below 2^52 the integer conversion is
// exact; larger magnitudes, infinities and NaN are already "integral".
inline double TruncTowardZero(double x) {
  return std::fabs(x) < 4503599627370496.0 ? static_cast<double>(static_cast<std::int64_t>(x)) : x;
}

}  // namespace

// Adjacent-point hits of one column in int32: scaledHigh/scaledLow hold the
// node's truncated scaled values on entry and the hit masks (-1 = hit) on
// return. "Largest neighbour above scaledHigh" is "some neighbour above it":
// neighbour columns read INT32_MIN (max side) or INT32_MAX (min side) where no
// neighbour is compared, which never compare above or below an int32, and the
// up/down comparisons are masked per row.
__attribute__((noinline)) void CompareNeighbours(
    std::size_t rows, const std::int32_t* __restrict leftMax, const std::int32_t* __restrict rightMax,
    const std::int32_t* __restrict leftMin, const std::int32_t* __restrict rightMin,
    const std::int32_t* __restrict columnMax, const std::int32_t* __restrict columnMin,
    const std::int32_t* __restrict upMask, const std::int32_t* __restrict downMask, std::int32_t* __restrict scaledHigh,
    std::int32_t* __restrict scaledLow) {
  const std::int32_t* __restrict upMax = columnMax - 1;
  const std::int32_t* __restrict downMax = columnMax + 1;
  const std::int32_t* __restrict upMin = columnMin - 1;
  const std::int32_t* __restrict downMin = columnMin + 1;
  for (std::size_t r = 0; r < rows; ++r) {
    const std::int32_t h = scaledHigh[r];
    const std::int32_t l = scaledLow[r];
    const std::int32_t um = upMask[r];
    const std::int32_t dm = downMask[r];
    const std::int32_t high = (leftMax[r] > h ? -1 : 0) | (rightMax[r] > h ? -1 : 0) | ((upMax[r] > h ? -1 : 0) & um) |
                              ((downMax[r] > h ? -1 : 0) & dm);
    const std::int32_t low = (leftMin[r] < l ? -1 : 0) | (rightMin[r] < l ? -1 : 0) | ((upMin[r] < l ? -1 : 0) & um) |
                             ((downMin[r] < l ? -1 : 0) & dm);
    scaledHigh[r] = high;
    scaledLow[r] = low;
  }
}

// Loop-invariant inputs of JudgeColumn.
struct JudgeBounds {
  std::int32_t touchHigh;
  std::int32_t touchLow;
  std::int32_t keyHigh;
  std::int32_t keyLow;
  std::int32_t zeroBit;  // NodeFlag::ZERO while the ZERO check is on, else 0
  std::int32_t highOn;   // -1 while the HIGH check is on, else 0
  std::int32_t lowOn;
};

// The node pass over the judged rows of one column: ZERO, HIGH and LOW bits
// and the touch/key hit masks, branch-free (every condition a 0 / -1 mask).
__attribute__((noinline)) void JudgeColumn(std::size_t rows, const std::int32_t* __restrict values,
                                           const std::int32_t* __restrict upper, const std::int32_t* __restrict lower,
                                           const std::int32_t* __restrict hitHigh,
                                           const std::int32_t* __restrict hitLow, const JudgeBounds& bounds,
                                           std::int32_t* __restrict flags, std::int32_t& touchNg, std::int32_t& keyNg) {
  const std::int32_t touchHigh = bounds.touchHigh;
  const std::int32_t touchLow = bounds.touchLow;
  const std::int32_t keyHigh = bounds.keyHigh;
  const std::int32_t keyLow = bounds.keyLow;
  const std::int32_t zeroBit = bounds.zeroBit;
  const std::int32_t highOn = bounds.highOn;
  const std::int32_t lowOn = bounds.lowOn;
  std::int32_t touchAny = 0;
  std::int32_t keyAny = 0;
  for (std::size_t r = 0; r < rows; ++r) {
    const std::int32_t value = values[r];
    std::int32_t f = flags[r];
    f = (f & ~zeroBit) | (value == 0 ? zeroBit : 0);
    const std::int32_t live = (f & NodeFlag::ZERO) ? 0 : -1;
    const std::int32_t touch = ((f & NodeFlag::TOUCH) ? -1 : 0) & live;
    const std::int32_t key = ((f & NodeFlag::KEY) ? -1 : 0) & live;
    // value > min(threshold, limit) is value > threshold or value > limit.
    const std::int32_t aboveLimit = value > upper[r] ? -1 : 0;
    const std::int32_t belowLimit = value < lower[r] ? -1 : 0;
    const std::int32_t touchHit = touch & highOn & ((value > touchHigh ? -1 : 0) | aboveLimit | hitHigh[r]);
    const std::int32_t keyHit = key & highOn & ((value > keyHigh ? -1 : 0) | aboveLimit);
    const std::int32_t touchLowHit = touch & lowOn & ((value < touchLow ? -1 : 0) | belowLimit | hitLow[r]);
    const std::int32_t keyLowHit = key & lowOn & ((value < keyLow ? -1 : 0) | belowLimit);
    f = (f & ~(NodeFlag::HIGH & highOn)) | ((touchHit | keyHit) & NodeFlag::HIGH);
    f = (f & ~(NodeFlag::LOW & lowOn)) | ((touchLowHit | keyLowHit) & NodeFlag::LOW);
    flags[r] = f;
    touchAny |= touchHit | touchLowHit;
    keyAny |= keyHit | keyLowHit;
  }
  touchNg |= touchAny;
  keyNg |= keyAny;
}

// Every node's value for the neighbour maximum and minimum (INT32_MIN /
// INT32_MAX for nodes without TOUCH), and the range of all values.
__attribute__((noinline)) void NeighbourValues(std::size_t nodes, const std::int32_t* __restrict values,
                                               const std::int32_t* __restrict flags, std::int32_t* __restrict forMax,
                                               std::int32_t* __restrict forMin, std::int32_t& lo, std::int32_t& hi) {
  constexpr std::int32_t kTop = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kBottom = std::numeric_limits<std::int32_t>::min();
  std::int32_t low = lo;
  std::int32_t high = hi;
  for (std::size_t i = 0; i < nodes; ++i) {
    const std::int32_t v = values[i];
    const std::int32_t touch = (flags[i] & NodeFlag::TOUCH) ? -1 : 0;
    forMax[i] = (v & touch) | (kBottom & ~touch);
    forMin[i] = (v & touch) | (kTop & ~touch);
    low = low < v ? low : v;
    high = high > v ? high : v;
  }
  lo = low;
  hi = high;
}

// ---- Size, limits and percentages ------------------------------------------------

void NodeJudge::Resize(int columns, int rows) {
  const std::size_t nodes = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
  const std::size_t rowCount = static_cast<std::size_t>(rows);
  neighbourMax_.assign(nodes + 2, std::numeric_limits<std::int32_t>::min());
  neighbourMin_.assign(nodes + 2, std::numeric_limits<std::int32_t>::max());
  neutralMax_.assign(rowCount, std::numeric_limits<std::int32_t>::min());
  neutralMin_.assign(rowCount, std::numeric_limits<std::int32_t>::max());
  neutralUpper_.assign(rowCount, std::numeric_limits<std::int32_t>::max());
  neutralLower_.assign(rowCount, std::numeric_limits<std::int32_t>::min());
  zeroColumn_.assign(rowCount, 0);
  upMask_.assign(rowCount, 0);
  downMask_.assign(rowCount, 0);
  adjacentHigh_.assign(rowCount, 0);
  adjacentLow_.assign(rowCount, 0);
  highFactor_.assign(nodes, 1.0);
  lowFactor_.assign(nodes, 1.0);
  UpperLimits_.Resize(columns, rows);
  LowerLimits_.Resize(columns, rows);
}

void NodeJudge::SetUpperLimits(const NodeFrame& limits) {
  if (limits.Columns() != UpperLimits_.Columns() || limits.Rows() != UpperLimits_.Rows()) return;
  UpperLimits_ = limits;
}

void NodeJudge::SetLowerLimits(const NodeFrame& limits) {
  if (limits.Columns() != LowerLimits_.Columns() || limits.Rows() != LowerLimits_.Rows()) return;
  LowerLimits_ = limits;
}

void NodeJudge::RefreshPercentFactors(const NodeCells& cells) {
  double bound = 0.0;
  bool finite = true;
  for (std::size_t i = 0; i < cells.Nodes(); ++i) {
    // Percentage in units of 0.01 %, truncated to an integer.
    const double p = std::trunc(cells.Percent(i));
    highFactor_[i] = p / 10000.0 + 1.0;
    lowFactor_[i] = 1.0 - p / 10000.0;
    finite = finite && std::isfinite(highFactor_[i]) && std::isfinite(lowFactor_[i]);
    bound = std::max({bound, std::fabs(highFactor_[i]), std::fabs(lowFactor_[i])});
  }
  factorBound_ = finite ? bound : std::numeric_limits<double>::infinity();
}

// ---- Judging ----------------------------------------------------------------------

// Adjacent-point hits of the judged rows of one column into adjacentHigh_ and
// adjacentLow_ (-1 = hit), for every node; Judge keeps them for touch nodes.
// exactInt32: every scaled value lies strictly inside the int32 range, so it
// truncates exactly to int32 and an int32 neighbour extreme with INT32_MIN /
// INT32_MAX for "no neighbour" compares with it exactly as the doubles would.
// Otherwise every node takes the general double path.
void NodeJudge::AdjacentColumn(const NodeCells& cells, int col, int rows, bool leftOk, bool rightOk, bool exactInt32) {
  const std::size_t stride = static_cast<std::size_t>(cells.Rows());
  const std::size_t base = cells.Index(col, 0);
  const std::int32_t* __restrict values = cells.Values() + base;
  const double* __restrict high = highFactor_.data() + base;
  const double* __restrict low = lowFactor_.data() + base;
  const std::int32_t* __restrict upMask = upMask_.data();
  const std::int32_t* __restrict downMask = downMask_.data();
  std::int32_t* __restrict hitHigh = adjacentHigh_.data();
  std::int32_t* __restrict hitLow = adjacentLow_.data();
  const std::size_t count = static_cast<std::size_t>(rows);
  if (exactInt32) {
    // neighbourMax_/neighbourMin_ carry one spare entry in front.
    const std::int32_t* __restrict nMaxCol = neighbourMax_.data() + 1 + base;
    const std::int32_t* __restrict nMinCol = neighbourMin_.data() + 1 + base;
    const std::int32_t* __restrict leftMax = leftOk ? nMaxCol - stride : neutralMax_.data();
    const std::int32_t* __restrict leftMin = leftOk ? nMinCol - stride : neutralMin_.data();
    const std::int32_t* __restrict rightMax = rightOk ? nMaxCol + stride : neutralMax_.data();
    const std::int32_t* __restrict rightMin = rightOk ? nMinCol + stride : neutralMin_.data();
    // Scaled values first (a loop of its own vectorises), then the comparisons.
    for (std::size_t r = 0; r < count; ++r) {
      hitHigh[r] = static_cast<std::int32_t>(static_cast<double>(values[r]) * high[r]);
      hitLow[r] = static_cast<std::int32_t>(low[r] * static_cast<double>(values[r]));
    }
    CompareNeighbours(count, leftMax, rightMax, leftMin, rightMin, nMaxCol, nMinCol, upMask, downMask, hitHigh, hitLow);
    return;
  }
  const std::int32_t* __restrict flags = cells.Flags() + base;
  for (std::size_t r = 0; r < count; ++r) {
    // Largest and smallest value among the compared TOUCH neighbours.
    double nMax = -std::numeric_limits<double>::infinity();
    double nMin = std::numeric_limits<double>::infinity();
    auto take = [&](std::ptrdiff_t offset) {
      const std::ptrdiff_t j = static_cast<std::ptrdiff_t>(r) + offset;
      if ((flags[j] & NodeFlag::TOUCH) == 0) return;
      nMax = std::max(nMax, static_cast<double>(values[j]));
      nMin = std::min(nMin, static_cast<double>(values[j]));
    };
    if (leftOk) take(-static_cast<std::ptrdiff_t>(stride));
    if (rightOk) take(static_cast<std::ptrdiff_t>(stride));
    if (upMask[r]) take(-1);
    if (downMask[r]) take(1);
    const std::int32_t v = values[r];
    hitHigh[r] = nMax > TruncTowardZero(v * high[r]) ? -1 : 0;
    hitLow[r] = nMin < TruncTowardZero(low[r] * v) ? -1 : 0;
  }
}

// Which neighbours the adjacent-point rule compares depends on the node's place
// on the touch area's rectangle (corners compare two, edges three, every other
// node four, the colFirst cases taking precedence). Worked through case by case
// that table separates into one condition per direction:
//   left  unless col == colFirst;
//   right unless col == colLast and col != colFirst;
//   up    unless row == rowFirst;
//   down  unless row == rowLast and row != rowFirst;
// and a neighbour outside the matrix is skipped.
void NodeJudge::Judge(NodeCells& cells, const NodeFrame& frame) {
  ClearNodeVerdicts();
  const int columns = cells.Columns();
  const int rowsOfMap = cells.Rows();
  const int cols = std::min(frame.Columns(), columns);
  const int rows = std::min(frame.Rows(), rowsOfMap);
  const std::size_t nodes = cells.Nodes();

  // Store the whole frame first, so that the adjacent-point rule compares every
  // node with this frame's neighbours (a neighbour outside the frame keeps its
  // stored value) and the verdict never depends on the previous frame.
  cells.StoreFrame(frame, cols, rows);

  // Adjacent-point rule: only with an enabled touch area.
  const std::vector<GridArea>& areas = cells.Areas();
  const bool adjacent = (nTestModeFlags & TestMode::ADJACENT) && !areas.empty() && areas[0].bEnabled;
  int colFirst = 0, colLast = 0, rowFirst = 0, rowLast = 0;
  if (adjacent) cells.AreaLineRange(0, colFirst, colLast, rowFirst, rowLast);

  const bool threshold = (nTestModeFlags & TestMode::THRESHOLD) != 0;
  const bool limits = (nTestModeFlags & TestMode::LIMITS) != 0;
  const bool checkZero = (nCheckEnables & CheckEnable::ZERO) != 0;
  const bool checkHigh = (nCheckEnables & CheckEnable::HIGH) != 0;
  const bool checkLow = (nCheckEnables & CheckEnable::LOW) != 0;
  const bool compare = adjacent && (checkHigh || checkLow);
  constexpr std::int32_t kTop = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kBottom = std::numeric_limits<std::int32_t>::min();
  std::int32_t* const flags = cells.PendingFlags();
  const std::int32_t* const values = cells.Values();

  bool exactInt32 = false;
  if (compare) {
    // Every node's value for the neighbour extremes, neutral for non-TOUCH
    // nodes, and the value range that decides whether the scaled values fit
    // in int32.
    std::int32_t lo = kTop;
    std::int32_t hi = kBottom;
    NeighbourValues(nodes, values, flags, neighbourMax_.data() + 1, neighbourMin_.data() + 1, lo, hi);
    const double largest = std::max(std::fabs(static_cast<double>(lo)), std::fabs(static_cast<double>(hi)));
    // |value * factor| rounds to at most largest * factorBound_ rounded.
    exactInt32 = nodes > 0 && largest * factorBound_ < 2147483648.0;
    for (int r = 0; r < rowsOfMap; ++r) {
      const std::size_t k = static_cast<std::size_t>(r);
      upMask_[k] = (r != rowFirst && r > 0) ? -1 : 0;
      downMask_[k] = ((r != rowLast || r == rowFirst) && r + 1 < rowsOfMap) ? -1 : 0;
    }
  }

  // A mode that is off becomes a bound no int32 value can pass, so every node
  // needs one comparison per direction: value against the tighter bound.
  const std::int32_t touchHigh = threshold ? nTouchHigh : kTop;
  const std::int32_t touchLow = threshold ? nTouchLow : kBottom;
  const std::int32_t keyHigh = threshold ? nKeyHigh : kTop;
  const std::int32_t keyLow = threshold ? nKeyLow : kBottom;
  // Disabled checks leave their bits and results alone.
  const std::int32_t zeroBit = checkZero ? NodeFlag::ZERO : 0;
  const std::int32_t highOn = checkHigh ? -1 : 0;
  const std::int32_t lowOn = checkLow ? -1 : 0;
  const JudgeBounds bounds{touchHigh, touchLow, keyHigh, keyLow, zeroBit, highOn, lowOn};
  std::int32_t touchNg = 0;
  std::int32_t keyNg = 0;

  for (int c = 0; c < cols; ++c) {
    const std::size_t base = cells.Index(c, 0);
    const std::int32_t* __restrict hitHigh = zeroColumn_.data();
    const std::int32_t* __restrict hitLow = zeroColumn_.data();
    if (compare) {
      const bool leftOk = c != colFirst && c > 0;
      const bool rightOk = (c != colLast || c == colFirst) && c + 1 < columns;
      AdjacentColumn(cells, c, rows, leftOk, rightOk, exactInt32);
      hitHigh = adjacentHigh_.data();
      hitLow = adjacentLow_.data();
    }
    const std::int32_t* __restrict upper = limits ? UpperLimits_.Data().data() + base : neutralUpper_.data();
    const std::int32_t* __restrict lower = limits ? LowerLimits_.Data().data() + base : neutralLower_.data();
    JudgeColumn(static_cast<std::size_t>(rows), values + base, upper, lower, hitHigh, hitLow, bounds, flags + base,
                touchNg, keyNg);
  }
  nResultFlags |= (touchNg ? ResultFlag::TOUCH_NG : 0) | (keyNg ? ResultFlag::KEY_NG : 0);
}

void NodeJudge::MarkPinFault(NodeCells& cells, int result, int type, int rowLine, int colLine) {
  cells.ClearFlagBits(NodeFlag::SHORT_ANY);
  if (result == 0) {
    nResultFlags &= ~(ResultFlag::SHORT_FOUND | ResultFlag::SHORT_LINE_NOT_FOUND);
    return;
  }
  std::int32_t flag = 0;
  if (type == 1) flag = NodeFlag::SHORT1;
  if (type == 2) flag = NodeFlag::SHORT2;
  if (type == 3) flag = NodeFlag::SHORT3;

  // The flag goes to every node of each line whose number is the reported line - 1; a
  // report that names no line of the list sets the not-found bit instead.
  auto markLines = [&](bool rowLines, int reported) {
    if (reported <= 0) return;
    const bool found = cells.MarkLines(rowLines, reported - 1, flag);
    nResultFlags |= found ? ResultFlag::SHORT_FOUND : ResultFlag::SHORT_LINE_NOT_FOUND;
  };
  markLines(true, rowLine);
  markLines(false, colLine);
}

}  // namespace varnex2::judging
