#include "judging/node_map.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <limits>

namespace varnex2::judging {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr Rgb kWhite = MakeRgb(255, 255, 255);
constexpr Rgb kRed = MakeRgb(255, 0, 0);
constexpr Rgb kBlue = MakeRgb(0, 0, 255);
constexpr Rgb kGrey = MakeRgb(128, 128, 128);

// Label texts and statistics texts stay well below this; reserving it keeps
// Evaluate from reallocating them in steady state.
constexpr std::size_t kLabelCapacity = 96;
constexpr std::size_t kStatisticsCapacity = 384;

__extension__ typedef unsigned __int128 Uint128;

std::int32_t ClampToInt32(double v) {
  if (!(v == v)) return 0;  // NaN
  if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

std::int32_t ClampToInt32(std::int64_t v) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Line number at a list position; a position outside the list (an area left
// over from a larger map) stands for itself.
int LineNumberAt(const std::vector<GridLine>& lines, int pos) {
  if (pos >= 0 && static_cast<std::size_t>(pos) < lines.size()) return lines[static_cast<std::size_t>(pos)].nNumber;
  return pos;
}

void ApplyFlagOp(std::int32_t& flags, std::int32_t value, FlagOp op) {
  switch (op) {
    case FlagOp::Set: flags = value; break;
    case FlagOp::Or: flags |= value; break;
    case FlagOp::Clear: flags &= ~value; break;
  }
}

// Largest k with k*k*n <= sumSquares, i.e. trunc(sqrt(sumSquares / n)).
std::int64_t IntegerRootOfMean(Uint128 sumSquares, std::int64_t n) {
  const Uint128 un = static_cast<Uint128>(n);
  double approx = std::sqrt(static_cast<double>(sumSquares) / static_cast<double>(n));
  std::int64_t k = approx > 9.0e18 ? static_cast<std::int64_t>(9.0e18) : static_cast<std::int64_t>(approx);
  auto fits = [&](std::int64_t v) {
    const Uint128 uv = static_cast<Uint128>(v);
    return uv * uv * un <= sumSquares;
  };
  while (k > 0 && !fits(k)) --k;
  while (fits(k + 1)) ++k;
  return k;
}

}  // namespace

// Count, sum, max and min of one column's selected values (rowMask -1) that
// lack MASK, added to the running figures.
__attribute__((noinline)) void GatherColumn(const std::int32_t* __restrict values, const std::int32_t* __restrict flags,
                  const std::int32_t* __restrict rowMask, std::size_t rows, std::int32_t& hi, std::int32_t& lo,
                  std::int64_t& sum, std::int64_t& count) {
  std::int32_t n = 0;
  std::int64_t s = 0;
  std::int32_t columnHi = hi;
  std::int32_t columnLo = lo;
  for (std::size_t r = 0; r < rows; ++r) {
    const std::int32_t v = values[r];
    const std::int32_t in = rowMask[r] & (((flags[r] & NodeFlag::MASK) != 0) - 1);
    const std::int32_t forHi = (v & in) | (std::numeric_limits<std::int32_t>::min() & ~in);
    const std::int32_t forLo = (v & in) | (std::numeric_limits<std::int32_t>::max() & ~in);
    columnHi = columnHi > forHi ? columnHi : forHi;
    columnLo = columnLo < forLo ? columnLo : forLo;
    s += v & in;
    n -= in;
  }
  hi = columnHi;
  lo = columnLo;
  sum += s;
  count += n;
}

// Adjacent-point hits of one column in int32: scaledHigh/scaledLow hold the
// node's truncated scaled values on entry and the hit masks (-1 = hit) on
// return. "Largest neighbour above scaledHigh" is "some neighbour above it":
// neighbour columns read INT32_MIN (max side) or INT32_MAX (min side) where no
// neighbour is compared, which never compare above or below an int32, and the
// up/down comparisons are masked per row.
__attribute__((noinline)) void CompareNeighbours(std::size_t rows, const std::int32_t* __restrict leftMax,
                                                 const std::int32_t* __restrict rightMax,
                                                 const std::int32_t* __restrict leftMin,
                                                 const std::int32_t* __restrict rightMin,
                                                 const std::int32_t* __restrict columnMax,
                                                 const std::int32_t* __restrict columnMin,
                                                 const std::int32_t* __restrict upMask,
                                                 const std::int32_t* __restrict downMask,
                                                 std::int32_t* __restrict scaledHigh, std::int32_t* __restrict scaledLow) {
  const std::int32_t* __restrict upMax = columnMax - 1;
  const std::int32_t* __restrict downMax = columnMax + 1;
  const std::int32_t* __restrict upMin = columnMin - 1;
  const std::int32_t* __restrict downMin = columnMin + 1;
  for (std::size_t r = 0; r < rows; ++r) {
    const std::int32_t h = scaledHigh[r];
    const std::int32_t l = scaledLow[r];
    const std::int32_t um = upMask[r];
    const std::int32_t dm = downMask[r];
    const std::int32_t high = (leftMax[r] > h ? -1 : 0) | (rightMax[r] > h ? -1 : 0) |
                              ((upMax[r] > h ? -1 : 0) & um) | ((downMax[r] > h ? -1 : 0) & dm);
    const std::int32_t low = (leftMin[r] < l ? -1 : 0) | (rightMin[r] < l ? -1 : 0) |
                             ((upMin[r] < l ? -1 : 0) & um) | ((downMin[r] < l ? -1 : 0) & dm);
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
                                           const std::int32_t* __restrict upper,
                                           const std::int32_t* __restrict lower,
                                           const std::int32_t* __restrict hitHigh,
                                           const std::int32_t* __restrict hitLow, const JudgeBounds& bounds,
                                           std::int32_t* __restrict flags, std::int32_t& touchNg,
                                           std::int32_t& keyNg) {
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
                                               const std::int32_t* __restrict flags,
                                               std::int32_t* __restrict forMax, std::int32_t* __restrict forMin,
                                               std::int32_t& lo, std::int32_t& hi) {
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

// ---- NodeFrame ---------------------------------------------------------------

NodeFrame::NodeFrame(int columns, int rows, std::int32_t fill) { Resize(columns, rows, fill); }

void NodeFrame::Resize(int columns, int rows, std::int32_t fill) {
  columns_ = std::max(columns, 0);
  rows_ = std::max(rows, 0);
  data_.assign(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_), fill);
}

void NodeFrame::Fill(std::int32_t value) { std::fill(data_.begin(), data_.end(), value); }

// ---- NodeMap: construction and size ------------------------------------------

NodeMap::NodeMap() {
  // Four segments of 256: blue->cyan, cyan->green, green->yellow, yellow->red.
  for (int i = 0; i < 256; ++i) {
    palette_[static_cast<std::size_t>(i)] = MakeRgb(0, i, 255);
    palette_[static_cast<std::size_t>(256 + i)] = MakeRgb(0, 255, 255 - i);
    palette_[static_cast<std::size_t>(512 + i)] = MakeRgb(i, 255, 0);
    palette_[static_cast<std::size_t>(768 + i)] = MakeRgb(255, 255 - i, 0);
  }
  strStatistics.reserve(kStatisticsCapacity);
  for (auto& label : labels_) label.strText.reserve(kLabelCapacity);
  notice_.strText.reserve(kLabelCapacity);
  strWindowText.reserve(16);
  strLastVerdict.reserve(16);
}

void NodeMap::SetListener(NodeMapListener* listener) {
  Lock lock(mutex_);
  listener_ = listener;
}

void NodeMap::SetGridSize(int columns, int rows) {
  if (columns < 0 || rows < 0 || columns > kMaxLines || rows > kMaxLines) return;
  Lock lock(mutex_);
  std::vector<GridCell> cells(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
  for (int c = 0; c < columns; ++c) {
    for (int r = 0; r < rows; ++r) {
      GridCell& cell = cells[static_cast<std::size_t>(c) * static_cast<std::size_t>(rows) + static_cast<std::size_t>(r)];
      cell = GridCell{};
      if (c < columns_ && r < rows_) cell.dPercent = CellAt(c, r).dPercent;
    }
  }
  cells_.swap(cells);
  columns_ = columns;
  rows_ = rows;
  const std::size_t nodes = cells_.size();
  const std::size_t rowCount = static_cast<std::size_t>(rows);
  value_.assign(nodes, 0);
  flags_.assign(nodes, NodeFlag::TOUCH);
  group_.assign(nodes, 0);
  groupsPresent_ = nodes > 0 ? 1u : 0u;
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
  paletteIndex_.assign(nodes, 0);
  highFactor_.assign(cells_.size(), 1.0);
  lowFactor_.assign(cells_.size(), 1.0);
  RefreshPercentFactors();
  UpperLimits_.Resize(columns, rows);
  LowerLimits_.Resize(columns, rows);
  columnLines_.assign(static_cast<std::size_t>(columns), GridLine{});
  rowLines_.assign(static_cast<std::size_t>(rows), GridLine{});
  RebuildLines();
  LayoutLocked();
  UpdateColoursLocked();
}

int NodeMap::Columns() const {
  Lock lock(mutex_);
  return columns_;
}

int NodeMap::Rows() const {
  Lock lock(mutex_);
  return rows_;
}

bool NodeMap::IsEmpty() const {
  Lock lock(mutex_);
  return cells_.empty();
}

void NodeMap::FillValues(std::int32_t value) {
  Lock lock(mutex_);
  for (auto& cell : cells_) {
    cell.nValue = value;
    cell.nRaw = value;
  }
  std::fill(value_.begin(), value_.end(), value);
  nResultFlags &= ~(ResultFlag::TOUCH_NG | ResultFlag::KEY_NG);
  UpdateColoursLocked();
}

void NodeMap::SetAllOffsets(std::int32_t offset) {
  Lock lock(mutex_);
  for (auto& cell : cells_) cell.nOffset = offset;
  nResultFlags &= ~(ResultFlag::TOUCH_NG | ResultFlag::KEY_NG);
  UpdateColoursLocked();
}

void NodeMap::SetAllPercent(double percent) {
  Lock lock(mutex_);
  for (auto& cell : cells_) cell.dPercent = percent;
  RefreshPercentFactors();
  UpdateColoursLocked();
}

void NodeMap::SetNodePercent(int col, int row, double percent) {
  Lock lock(mutex_);
  if (!InMap(col, row)) return;
  CellAt(col, row).dPercent = percent;
  RefreshPercentFactors();
}

int NodeMap::GetNodePercent(int col, int row) const {
  Lock lock(mutex_);
  if (!InMap(col, row)) return 0;
  return ClampToInt32(CellAt(col, row).dPercent);
}

void NodeMap::SetPercentInRect(int col1, int row1, int col2, int row2, double percent, std::int32_t skipMask) {
  Lock lock(mutex_);
  if (!InMap(col1, row1) || !InMap(col2, row2)) return;
  const auto [c0, c1] = std::minmax(col1, col2);
  const auto [r0, r1] = std::minmax(row1, row2);
  for (int c = c0; c <= c1; ++c) {
    for (int r = r0; r <= r1; ++r) {
      GridCell& cell = CellAt(c, r);
      if ((cell.nFlags & skipMask) == 0) cell.dPercent = percent;
    }
  }
  RefreshPercentFactors();
}

void NodeMap::SetPercentArray(const NodeFrame& percents) {
  Lock lock(mutex_);
  const int cols = std::min(columns_, percents.Columns());
  const int rows = std::min(rows_, percents.Rows());
  for (int c = 0; c < cols; ++c)
    for (int r = 0; r < rows; ++r) CellAt(c, r).dPercent = percents(c, r);
  RefreshPercentFactors();
}

NodeFrame NodeMap::GetPercentArray() const {
  Lock lock(mutex_);
  NodeFrame out(columns_, rows_);
  for (int c = 0; c < columns_; ++c)
    for (int r = 0; r < rows_; ++r) out(c, r) = ClampToInt32(CellAt(c, r).dPercent);
  return out;
}

NodeFrame NodeMap::GetRawFrame() const {
  Lock lock(mutex_);
  NodeFrame out(columns_, rows_);
  for (int c = 0; c < columns_; ++c)
    for (int r = 0; r < rows_; ++r) out(c, r) = CellAt(c, r).nRaw;
  return out;
}

NodeFrame NodeMap::GetFlagsFrame() const {
  Lock lock(mutex_);
  NodeFrame out(columns_, rows_);
  for (int c = 0; c < columns_; ++c)
    for (int r = 0; r < rows_; ++r) out(c, r) = CellAt(c, r).nFlags;
  return out;
}

// ---- Thresholds and limits -------------------------------------------------------

void NodeMap::SetTouchThresholds(std::int32_t low, std::int32_t high) {
  Lock lock(mutex_);
  nTouchLow = low;
  nTouchHigh = high;
  UpdateColoursLocked();
}

void NodeMap::SetKeyThresholds(std::int32_t low, std::int32_t high) {
  Lock lock(mutex_);
  nKeyLow = low;
  nKeyHigh = high;
}

std::int32_t NodeMap::TouchHigh() const { Lock lock(mutex_); return nTouchHigh; }
std::int32_t NodeMap::TouchLow() const { Lock lock(mutex_); return nTouchLow; }
std::int32_t NodeMap::KeyHigh() const { Lock lock(mutex_); return nKeyHigh; }
std::int32_t NodeMap::KeyLow() const { Lock lock(mutex_); return nKeyLow; }

void NodeMap::SetUpperLimits(const NodeFrame& limits) {
  Lock lock(mutex_);
  if (limits.Columns() != columns_ || limits.Rows() != rows_) return;
  UpperLimits_ = limits;
}

void NodeMap::SetLowerLimits(const NodeFrame& limits) {
  Lock lock(mutex_);
  if (limits.Columns() != columns_ || limits.Rows() != rows_) return;
  LowerLimits_ = limits;
}

const NodeFrame& NodeMap::UpperLimits() const { Lock lock(mutex_); return UpperLimits_; }
const NodeFrame& NodeMap::LowerLimits() const { Lock lock(mutex_); return LowerLimits_; }

void NodeMap::SetLegacySampleRange(std::int32_t low, std::int32_t high) {
  Lock lock(mutex_);
  nLegacySampleLow = low;
  nLegacySampleHigh = high;
}

std::int32_t NodeMap::LegacySampleLow() const { Lock lock(mutex_); return nLegacySampleLow; }
std::int32_t NodeMap::LegacySampleHigh() const { Lock lock(mutex_); return nLegacySampleHigh; }

// ---- Modes and result word ---------------------------------------------------------

void NodeMap::SetTestModeFlags(std::int32_t flags) { Lock lock(mutex_); nTestModeFlags = flags; }
std::int32_t NodeMap::TestModeFlags() const { Lock lock(mutex_); return nTestModeFlags; }
void NodeMap::SetCheckEnables(std::int32_t enables) { Lock lock(mutex_); nCheckEnables = enables; }
std::int32_t NodeMap::CheckEnables() const { Lock lock(mutex_); return nCheckEnables; }
void NodeMap::SetResultFlags(std::int32_t flags) { Lock lock(mutex_); nResultFlags = flags; }
std::int32_t NodeMap::ResultFlags() const { Lock lock(mutex_); return nResultFlags; }

// ---- Areas -------------------------------------------------------------------------

void NodeMap::ClearAreas() {
  Lock lock(mutex_);
  areas_.clear();
  for (auto& cell : cells_) cell.nGroup = 0;
  std::fill(group_.begin(), group_.end(), 0);
  groupsPresent_ = cells_.empty() ? 0u : 1u;
}

void NodeMap::AddArea(int xStart, int yStart, int xCount, int yCount, int index) {
  Lock lock(mutex_);
  if (!((index == 0 && areas_.empty()) || (index == 1 && areas_.size() == 1))) return;
  GridArea area;
  area.nFirstCol = yStart;
  area.nFirstRow = xStart;
  area.nSecondCol = yStart + yCount - 1;
  area.nSecondRow = xStart + xCount - 1;
  area.nHigh = 30000;
  area.nLow = 10000;
  area.bEnabled = false;
  areas_.push_back(std::move(area));
}

int NodeMap::AppendArea(const GridArea& area) {
  Lock lock(mutex_);
  if (areas_.size() >= 2) return -1;
  areas_.push_back(area);
  return static_cast<int>(areas_.size()) - 1;
}

void NodeMap::SetAreaThresholds(std::int32_t high, std::int32_t low, int index) {
  Lock lock(mutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= areas_.size()) return;
  GridArea& area = areas_[static_cast<std::size_t>(index)];
  if (!area.bEnabled) return;
  area.nHigh = high;
  area.nLow = low;
}

bool NodeMap::GetAreaRect(int index, int& xStart, int& yStart, int& xCount, int& yCount) const {
  Lock lock(mutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= areas_.size()) return false;
  const GridArea& a = areas_[static_cast<std::size_t>(index)];
  // Normalised: an area dragged from bottom-right to top-left still reports
  // its top-left corner and positive counts.
  xStart = std::min(a.nFirstRow, a.nSecondRow);
  yStart = std::min(a.nFirstCol, a.nSecondCol);
  xCount = std::abs(a.nSecondRow - a.nFirstRow) + 1;
  yCount = std::abs(a.nSecondCol - a.nFirstCol) + 1;
  return true;
}

const std::vector<GridArea>& NodeMap::Areas() const { Lock lock(mutex_); return areas_; }

int NodeMap::AreaCount() const {
  Lock lock(mutex_);
  return static_cast<int>(areas_.size());
}

GridArea* NodeMap::MutableArea(int index) {
  Lock lock(mutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= areas_.size()) return nullptr;
  return &areas_[static_cast<std::size_t>(index)];
}

bool NodeMap::AreaLineRange(int index, int& colFirst, int& colLast, int& rowFirst, int& rowLast) const {
  Lock lock(mutex_);
  if (index < 0 || static_cast<std::size_t>(index) >= areas_.size()) return false;
  const GridArea& a = areas_[static_cast<std::size_t>(index)];
  const int c1 = LineNumberAt(columnLines_, a.nFirstCol);
  const int c2 = LineNumberAt(columnLines_, a.nSecondCol);
  const int r1 = LineNumberAt(rowLines_, a.nFirstRow);
  const int r2 = LineNumberAt(rowLines_, a.nSecondRow);
  colFirst = std::min(c1, c2);
  colLast = std::max(c1, c2);
  rowFirst = std::min(r1, r2);
  rowLast = std::max(r1, r2);
  return true;
}

// ---- Flags and groups ----------------------------------------------------------------

void NodeMap::SetNodeFlags(int col1, int row1, int col2, int row2, std::int32_t value, std::int32_t skipMask,
                           FlagOp op) {
  Lock lock(mutex_);
  if (!InMap(col1, row1) || !InMap(col2, row2)) return;
  const auto [c0, c1] = std::minmax(col1, col2);
  const auto [r0, r1] = std::minmax(row1, row2);
  for (int c = c0; c <= c1; ++c) {
    for (int r = r0; r <= r1; ++r) {
      GridCell& cell = CellAt(c, r);
      if ((cell.nFlags & skipMask) == 0) {
        ApplyFlagOp(cell.nFlags, value, op);
        flags_[CellIndex(c, r)] = cell.nFlags;
      }
    }
  }
}

void NodeMap::SetAllNodeFlags(std::int32_t value, FlagOp op) {
  Lock lock(mutex_);
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    ApplyFlagOp(cells_[i].nFlags, value, op);
    flags_[i] = cells_[i].nFlags;
  }
}

std::int32_t NodeMap::GetNodeFlags(int col, int row) const {
  Lock lock(mutex_);
  if (!InMap(col, row)) return 0;
  return CellAt(col, row).nFlags;
}

void NodeMap::SetNodeGroup(int col1, int row1, int col2, int row2, int group) {
  Lock lock(mutex_);
  if (!InMap(col1, row1) || !InMap(col2, row2)) return;
  const auto [c0, c1] = std::minmax(col1, col2);
  const auto [r0, r1] = std::minmax(row1, row2);
  for (int c = c0; c <= c1; ++c) {
    for (int r = r0; r <= r1; ++r) {
      CellAt(c, r).nGroup = static_cast<std::uint8_t>(group);
      group_[CellIndex(c, r)] = static_cast<std::uint8_t>(group);
    }
  }
  RefreshGroupsPresent();
}

void NodeMap::RefreshGroupsPresent() {
  std::uint32_t present = 0;
  for (const std::int32_t g : group_) present |= g < kGroupCount ? (1u << g) : (1u << 31);
  groupsPresent_ = present;
}

bool NodeMap::StampAreaGroup(int index, int group) {
  Lock lock(mutex_);
  int colFirst = 0, colLast = 0, rowFirst = 0, rowLast = 0;
  if (!AreaLineRange(index, colFirst, colLast, rowFirst, rowLast)) return false;
  for (int c = 0; c < columns_; ++c) {
    const GridLine& cl = columnLines_[static_cast<std::size_t>(c)];
    if (!cl.bVisible || cl.nNumber < colFirst || cl.nNumber > colLast) continue;
    for (int r = 0; r < rows_; ++r) {
      const GridLine& rl = rowLines_[static_cast<std::size_t>(r)];
      if (!rl.bVisible || rl.nNumber < rowFirst || rl.nNumber > rowLast) continue;
      CellAt(c, r).nGroup = static_cast<std::uint8_t>(group);
      group_[CellIndex(c, r)] = static_cast<std::uint8_t>(group);
    }
  }
  RefreshGroupsPresent();
  return true;
}

int NodeMap::GetNodeGroup(int col, int row) const {
  Lock lock(mutex_);
  if (!InMap(col, row)) return 0;
  return CellAt(col, row).nGroup;
}

// ---- Display ---------------------------------------------------------------------------

void NodeMap::SetDisplayStyle(int style) {
  Lock lock(mutex_);
  nDisplayStyle = (style >= kStyleColour && style <= kStyleBackground) ? style : kStyleColour;
  UpdateColoursLocked();
}

int NodeMap::GetDisplayStyle() const { Lock lock(mutex_); return nDisplayStyle; }

void NodeMap::UpdateColours() {
  Lock lock(mutex_);
  UpdateColoursLocked();
}

void NodeMap::UpdateColoursLocked(bool flagsPending) {
  // 1-2. Range of every group; nodes that are exactly MASK take no part. One
  // branch-free pass over the flat arrays per group that has nodes.
  constexpr std::int32_t kTop = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kBottom = std::numeric_limits<std::int32_t>::min();
  std::array<std::int32_t, kGroupCount> gmin;
  std::array<std::int32_t, kGroupCount> gmax;
  gmin.fill(kTop);
  gmax.fill(kBottom);
  std::array<bool, kGroupCount> filled{};
  const std::size_t nodes = cells_.size();
  const std::int32_t* __restrict values = value_.data();
  const std::int32_t* __restrict flags = flags_.data();
  const std::int32_t* __restrict groups = group_.data();
  for (int g = 0; g < kGroupCount; ++g) {
    if ((groupsPresent_ & (1u << g)) == 0) continue;
    std::int32_t lo = kTop;
    std::int32_t hi = kBottom;
    std::int32_t any = 0;
    for (std::size_t i = 0; i < nodes; ++i) {
      const std::int32_t v = values[i];
      const std::int32_t in = -static_cast<std::int32_t>((groups[i] == g) & (flags[i] != NodeFlag::MASK));
      lo = std::min(lo, (v & in) | (kTop & ~in));
      hi = std::max(hi, (v & in) | (kBottom & ~in));
      any |= in;
    }
    const std::size_t k = static_cast<std::size_t>(g);
    filled[k] = any != 0;
    gmin[k] = lo;
    gmax[k] = hi;
  }
  for (std::size_t g = 0; g < static_cast<std::size_t>(kGroupCount); ++g) {
    if (!filled[g]) gmin[g] = gmax[g] = 0;
  }
  if (filled[0]) {
    nLegendMin = gmin[0];
    nLegendMax = gmax[0];
    nLegendMid = static_cast<std::int32_t>((static_cast<std::int64_t>(gmin[0]) + gmax[0]) / 2);
  }

  // 3. Overrides by test mode, in the order 0x1, 0x2, 0x10.
  const std::int32_t ownMin0 = gmin[0];
  const std::size_t areaGroups = std::min<std::size_t>(areas_.size(), kGroupCount - 1);
  auto areaRanges = [&] {
    for (std::size_t k = 1; k <= areaGroups; ++k) {
      gmin[k] = areas_[k - 1].nLow;
      gmax[k] = areas_[k - 1].nHigh;
    }
  };
  if (nTestModeFlags & TestMode::THRESHOLD) {
    areaRanges();
    gmin[0] = nTouchLow;
    gmax[0] = nTouchHigh;
  }
  if (nTestModeFlags & TestMode::LIMITS) {
    for (std::size_t k = 1; k <= areaGroups; ++k) {
      gmin[k] = nLegacySampleLow;
      gmax[k] = nLegacySampleHigh;
    }
    gmin[0] = nTouchLow;
    gmax[0] = nTouchHigh;
  }
  if (nTestModeFlags & TestMode::DIFFERENCE) {
    areaRanges();
    gmin[0] = ownMin0;  // the minimum of its own values, whatever came before
    gmax[0] = 1024;
  }

  // 4. Scale factor per group.
  std::array<float, kGroupCount> factor{};
  for (std::size_t g = 0; g < static_cast<std::size_t>(kGroupCount); ++g) {
    const std::int64_t span = std::abs(static_cast<std::int64_t>(gmax[g]) - gmin[g]);
    factor[g] = (filled[g] && span != 0) ? static_cast<float>(kScaleTop) / static_cast<float>(span) : 0.0f;
  }

  // 5-6. Colour of every node, then the style overrides.
  const bool difference = (nTestModeFlags & TestMode::DIFFERENCE) != 0;
  const std::int64_t g0min = gmin[0];
  const std::int64_t g0span = std::abs(static_cast<std::int64_t>(gmax[0]) - gmin[0]);
  const int style = nDisplayStyle;
  GridCell* const first = cells_.data();
  GridCell* const last = first + cells_.size();
  if (flagsPending && style != kStyleColour) {
    for (std::size_t i = 0; i < nodes; ++i) cells_[i].nFlags = flags_[i];
    flagsPending = false;
  }
  switch (style) {
    case kStyleMono:
      for (GridCell* cell = first; cell != last; ++cell) cell->crColor = MakeRgb(204, 232, 207);
      break;
    case kStyleText:
      for (GridCell* cell = first; cell != last; ++cell) {
        if (!difference) {
          cell->crColor = MakeRgb(200, 200, 200);
          continue;
        }
        const std::int64_t v = cell->nValue;
        if ((v < 0 ? -v : v) <= 256) {
          cell->crColor = kWhite;
          continue;
        }
        // A zero span cannot scale; such a node counts as fully shaded.
        const std::int64_t m =
            g0span == 0 ? 255 : std::clamp<std::int64_t>(((g0min < 0 ? -g0min : g0min) + v) * 255 / g0span, 0, 255);
        cell->crColor = MakeRgb(255, static_cast<int>(255 - m), static_cast<int>(255 - m));
      }
      break;
    case kStyleBackground:
      for (GridCell* cell = first; cell != last; ++cell) {
        Rgb c = MakeRgb(199, 237, 204);
        const std::int32_t f = cell->nFlags;
        if (f & NodeFlag::LOW) c = kBlue;
        if (f & NodeFlag::HIGH) c = kRed;
        if (f & NodeFlag::SHORT2) c = MakeRgb(255, 255, 50);
        if (f & NodeFlag::SHORT1) c = MakeRgb(255, 255, 100);
        if (f & NodeFlag::SHORT3) c = MakeRgb(255, 255, 0);
        cell->crColor = c;
      }
      break;
    default: {
      // w = trunc((value - group minimum) * factor) clamped to 0..kScaleTop. The
      // difference is exact in double and rounds to the same float as the int64
      // difference would; nodes of groups beyond the ranges take entry 0.
      std::int32_t* __restrict index = paletteIndex_.data();
      const bool single = (groupsPresent_ & ~(groupsPresent_ - 1)) == groupsPresent_;
      if (!single || (groupsPresent_ & (1u << 31))) std::fill(paletteIndex_.begin(), paletteIndex_.end(), 0);
      for (int g = 0; g < kGroupCount; ++g) {
        if ((groupsPresent_ & (1u << g)) == 0) continue;
        const double low = gmin[static_cast<std::size_t>(g)];
        const float f = factor[static_cast<std::size_t>(g)];
        constexpr float kTopF = static_cast<float>(kScaleTop);
        if (single) {
          for (std::size_t i = 0; i < nodes; ++i) {
            float scaled = static_cast<float>(static_cast<double>(values[i]) - low) * f;
            scaled = scaled > 0.0f ? scaled : 0.0f;
            scaled = scaled < kTopF ? scaled : kTopF;
            index[i] = static_cast<std::int32_t>(scaled);
          }
        } else {
          for (std::size_t i = 0; i < nodes; ++i) {
            float scaled = static_cast<float>(static_cast<double>(values[i]) - low) * f;
            scaled = scaled > 0.0f ? scaled : 0.0f;
            scaled = scaled < kTopF ? scaled : kTopF;
            const std::int32_t w = static_cast<std::int32_t>(scaled);
            index[i] = groups[i] == g ? w : index[i];
          }
        }
      }
      const Rgb* const palette = palette_.data();
      if (flagsPending) {
        for (std::size_t i = 0; i < nodes; ++i) {
          cells_[i].nFlags = flags[i];
          cells_[i].crColor = palette[index[i]];
        }
      } else {
        for (std::size_t i = 0; i < nodes; ++i) cells_[i].crColor = palette[index[i]];
      }
      break;
    }
  }
}

std::int32_t NodeMap::LegendMin() const { Lock lock(mutex_); return nLegendMin; }
std::int32_t NodeMap::LegendMax() const { Lock lock(mutex_); return nLegendMax; }
std::int32_t NodeMap::LegendMid() const { Lock lock(mutex_); return nLegendMid; }
void NodeMap::SetLineNumberBase(int base) { Lock lock(mutex_); nLineNumberBase = base; }
int NodeMap::LineNumberBase() const { Lock lock(mutex_); return nLineNumberBase; }
void NodeMap::SetFrozen(bool frozen) { Lock lock(mutex_); bFrozen = frozen; }
bool NodeMap::IsFrozen() const { Lock lock(mutex_); return bFrozen; }

void NodeMap::SetShowHeaders(bool show) {
  Lock lock(mutex_);
  bShowHeaders = show;
  LayoutLocked();
}

bool NodeMap::ShowHeaders() const { Lock lock(mutex_); return bShowHeaders; }

// ---- Layout and hit-testing ---------------------------------------------------------------

void NodeMap::RebuildLines() {
  for (std::size_t i = 0; i < columnLines_.size(); ++i) {
    columnLines_[i] = GridLine{};
    columnLines_[i].nNumber = static_cast<std::int32_t>(i);
  }
  for (std::size_t i = 0; i < rowLines_.size(); ++i) {
    rowLines_[i] = GridLine{};
    rowLines_[i].nNumber = static_cast<std::int32_t>(i);
  }
}

void NodeMap::Layout(int clientWidth, int clientHeight) {
  Lock lock(mutex_);
  clientWidth_ = std::max(clientWidth, 0);
  clientHeight_ = std::max(clientHeight, 0);
  if (bShowHeaders) RebuildLines();
  LayoutLocked();
}

void NodeMap::LayoutLocked() {
  int n = 0;
  int m = 0;
  for (const auto& line : columnLines_) n += line.bVisible ? 1 : 0;
  for (const auto& line : rowLines_) m += line.bVisible ? 1 : 0;
  const double W = clientWidth_;
  const double H = clientHeight_;
  headerWidth_ = bShowHeaders ? clientWidth_ / (n + 1) : 0;
  headerHeight_ = bShowHeaders ? clientHeight_ / (m + 1) : 0;
  const double hw = headerWidth_;
  const double hh = headerHeight_;
  const double cp = n > 0 ? (W - hw) / n : 0.0;
  const double rp = m > 0 ? (H - hh) / m : 0.0;
  const double top = 0.0;  // client top

  std::vector<double> colX(columnLines_.size(), -1.0);
  std::vector<double> rowY(rowLines_.size(), -1.0);
  int k = 0;
  for (std::size_t i = 0; i < columnLines_.size(); ++i) {
    GridLine& line = columnLines_[i];
    if (!line.bVisible) {
      line.rcHeader = Rect{};
      continue;
    }
    const double x = hw + k++ * cp;
    colX[i] = x;
    line.rcHeader = Rect{static_cast<int>(x), static_cast<int>(top + 1), static_cast<int>(x + cp - 2),
                         static_cast<int>(top + rp - 2)};
  }
  k = 0;
  for (std::size_t i = 0; i < rowLines_.size(); ++i) {
    GridLine& line = rowLines_[i];
    if (!line.bVisible) {
      line.rcHeader = Rect{};
      continue;
    }
    const double y = hh + k++ * rp;
    rowY[i] = y;
    line.rcHeader = Rect{2, static_cast<int>(y), static_cast<int>(hw - 2), static_cast<int>(y + rp)};
  }
  for (int c = 0; c < columns_; ++c) {
    for (int r = 0; r < rows_; ++r) {
      GridCell& cell = CellAt(c, r);
      const double x = colX[static_cast<std::size_t>(c)];
      const double y = rowY[static_cast<std::size_t>(r)];
      if (x < 0.0 || y < 0.0) {
        cell.rcNode = Rect{};
        continue;
      }
      cell.rcNode = Rect{static_cast<int>(x), static_cast<int>(y), static_cast<int>(x + cp + 1),
                         static_cast<int>(y + rp + 1)};
    }
  }
}

Rect NodeMap::ClientRect() const {
  Lock lock(mutex_);
  return Rect{0, 0, clientWidth_, clientHeight_};
}

int NodeMap::HeaderWidth() const { Lock lock(mutex_); return headerWidth_; }
int NodeMap::HeaderHeight() const { Lock lock(mutex_); return headerHeight_; }

Rect NodeMap::LegendRect() const {
  Lock lock(mutex_);
  return Rect{0, 0, headerWidth_, headerHeight_};
}

NodePos NodeMap::HitTest(int x, int y, bool visibleOnly) const {
  Lock lock(mutex_);
  for (int c = 0; c < columns_; ++c) {
    if (visibleOnly && !columnLines_[static_cast<std::size_t>(c)].bVisible) continue;
    for (int r = 0; r < rows_; ++r) {
      if (visibleOnly && !rowLines_[static_cast<std::size_t>(r)].bVisible) continue;
      if (CellAt(c, r).rcNode.Contains(x, y)) return NodePos{c, r};
    }
  }
  return NodePos{};
}

const GridCell& NodeMap::Cell(int col, int row) const {
  Lock lock(mutex_);
  return CellAt(col, row);
}

const std::vector<GridLine>& NodeMap::ColumnLines() const { Lock lock(mutex_); return columnLines_; }
const std::vector<GridLine>& NodeMap::RowLines() const { Lock lock(mutex_); return rowLines_; }

// ---- Labels ------------------------------------------------------------------------------

void NodeMap::SetLabel(int index, const std::string& text, bool shown, Rgb textColour, Rgb background) {
  if (index < 1 || index > 4) return;
  Lock lock(mutex_);
  GridLabel& label = labels_[static_cast<std::size_t>(index - 1)];
  label.strText.assign(text);
  label.bShown = shown;
  label.crText = textColour;
  label.crBack = background;
}

void NodeMap::SetNoticeLabel(const std::string& text, bool shown, Rgb textColour, Rgb background) {
  Lock lock(mutex_);
  notice_.strText.assign(text);
  notice_.bShown = shown;
  notice_.crText = textColour;
  notice_.crBack = background;
}

const GridLabel& NodeMap::StatisticsLabel(int index) const {
  static const GridLabel kNone{};
  if (index < 1 || index > 4) return kNone;
  Lock lock(mutex_);
  return labels_[static_cast<std::size_t>(index - 1)];
}

const GridLabel& NodeMap::NoticeLabel() const { Lock lock(mutex_); return notice_; }

void NodeMap::SetStatLabel(int index, const char* text, Rgb colour) {
  GridLabel& label = labels_[static_cast<std::size_t>(index - 1)];
  label.strText.assign(text);
  label.bShown = true;
  label.crText = colour;
  label.crBack = kWhite;
}

void NodeMap::HideStatLabel(int index) {
  GridLabel& label = labels_[static_cast<std::size_t>(index - 1)];
  label.strText.clear();
  label.bShown = false;
}

// ---- Statistics settings -------------------------------------------------------------------

void NodeMap::SetStatisticsSettings(const StatisticsSettings& settings) { Lock lock(mutex_); stats_ = settings; }
StatisticsSettings NodeMap::GetStatisticsSettings() const { Lock lock(mutex_); return stats_; }

#define VARNEX2_STAT_ACCESSORS(Type, Name)                                   \
  void NodeMap::Set##Name(Type v) { Lock lock(mutex_); stats_.Name = v; } \
  Type NodeMap::Get##Name() const { Lock lock(mutex_); return stats_.Name; }

VARNEX2_STAT_ACCESSORS(bool, ScreenThresholdEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, RawdataMax)
VARNEX2_STAT_ACCESSORS(bool, RawdataMaxEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, RawdataMin)
VARNEX2_STAT_ACCESSORS(bool, RawdataMinEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, RawdataRange)
VARNEX2_STAT_ACCESSORS(bool, RawdataRangeEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, RawdataVariance)
VARNEX2_STAT_ACCESSORS(bool, RawdataVarianceEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, RawdataRangeDiscardVariance)
VARNEX2_STAT_ACCESSORS(bool, RawdataRangeDiscardVarianceEnable)
VARNEX2_STAT_ACCESSORS(std::int32_t, ViewMode)

#undef VARNEX2_STAT_ACCESSORS

// ---- Statistics --------------------------------------------------------------------------------

// The set: nodes between an area's corner line numbers (visible lines only), or
// the whole map when there is no area; MASK nodes left out. The spread is the
// population standard deviation around the integer average, truncated.
bool NodeMap::GatherStatistics(int area, std::int32_t& max, std::int32_t& min, std::int32_t& average,
                               std::int32_t* spread) const {
  int colFirst = 0, colLast = 0, rowFirst = 0, rowLast = 0;
  if (areas_.empty()) {
    if (area != 0) return false;
    colFirst = rowFirst = std::numeric_limits<int>::min();
    colLast = rowLast = std::numeric_limits<int>::max();
  } else if (!AreaLineRange(area, colFirst, colLast, rowFirst, rowLast)) {
    return false;
  }
  auto columnSelected = [&](int c) {
    const GridLine& cl = columnLines_[static_cast<std::size_t>(c)];
    return cl.bVisible && cl.nNumber >= colFirst && cl.nNumber <= colLast;
  };
  // Per row: -1 when the row is selected, else 0.
  std::array<std::int32_t, kMaxLines> rowIn{};
  for (int r = 0; r < rows_; ++r) {
    const GridLine& rl = rowLines_[static_cast<std::size_t>(r)];
    rowIn[static_cast<std::size_t>(r)] = (rl.bVisible && rl.nNumber >= rowFirst && rl.nNumber <= rowLast) ? -1 : 0;
  }
  const std::size_t rowCount = static_cast<std::size_t>(rows_);
  const std::int32_t* __restrict rowMask = rowIn.data();
  // First pass: count, sum, max, min (branch-free over each selected column).
  std::int64_t count = 0;
  std::int64_t sum = 0;
  std::int32_t hi = std::numeric_limits<std::int32_t>::min();
  std::int32_t lo = std::numeric_limits<std::int32_t>::max();
  for (int c = 0; c < columns_; ++c) {
    if (!columnSelected(c)) continue;
    const std::int32_t* __restrict values = value_.data() + CellIndex(c, 0);
    const std::int32_t* __restrict flags = flags_.data() + CellIndex(c, 0);
    GatherColumn(values, flags, rowMask, rowCount, hi, lo, sum, count);
  }
  if (count == 0) {
    max = min = average = -1;
    if (spread) *spread = -1;
    return true;
  }
  const std::int64_t avg = sum / count;
  max = hi;
  min = lo;
  average = static_cast<std::int32_t>(avg);
  if (spread) {
    // Second pass: sum of (v - avg)^2. avg lies within [lo, hi], so every
    // deviation is at most hi - lo; while that keeps the sum below 2^64 it is
    // summed in 64 bits from 32-bit deviations, otherwise exactly in 128 bits.
    const std::uint64_t range = static_cast<std::uint64_t>(static_cast<std::int64_t>(hi) - lo);
    Uint128 deviations = 0;
    const bool narrow = range < (std::uint64_t{1} << 31) &&
                        range * range <= std::numeric_limits<std::uint64_t>::max() / static_cast<std::uint64_t>(count);
    for (int c = 0; c < columns_; ++c) {
      if (!columnSelected(c)) continue;
      const std::int32_t* __restrict values = value_.data() + CellIndex(c, 0);
      const std::int32_t* __restrict flags = flags_.data() + CellIndex(c, 0);
      if (narrow) {
        const std::uint32_t mean = static_cast<std::uint32_t>(avg);
        std::uint64_t d2 = 0;
        for (std::size_t r = 0; r < rowCount; ++r) {
          const std::uint32_t in =
              static_cast<std::uint32_t>(rowMask[r] & (((flags[r] & NodeFlag::MASK) != 0) - 1));
          const std::uint32_t d = static_cast<std::uint32_t>(values[r]) - mean;
          const std::uint32_t sign = static_cast<std::uint32_t>(static_cast<std::int32_t>(d) >> 31);
          const std::uint32_t a = ((d ^ sign) - sign) & in;
          d2 += static_cast<std::uint64_t>(a) * a;
        }
        deviations += d2;
      } else {
        for (std::size_t r = 0; r < rowCount; ++r) {
          if (rowMask[r] == 0 || (flags[r] & NodeFlag::MASK)) continue;
          // |d| <= hi - lo < 2^32, so its square fits in 64 unsigned bits.
          const std::int64_t d = values[r] - avg;
          const std::uint64_t a = static_cast<std::uint64_t>(d < 0 ? -d : d);
          deviations += a * a;
        }
      }
    }
    *spread = ClampToInt32(IntegerRootOfMean(deviations, count));
  }
  return true;
}

bool NodeMap::GetStatistics(int area, std::int32_t& max, std::int32_t& min, std::int32_t& average,
                            std::int32_t& spread) const {
  Lock lock(mutex_);
  return GatherStatistics(area, max, min, average, &spread);
}

bool NodeMap::GetStatisticsBrief(int area, std::int32_t& max, std::int32_t& min, std::int32_t& average) const {
  Lock lock(mutex_);
  return GatherStatistics(area, max, min, average, nullptr);
}

std::string NodeMap::StatisticsText() const {
  Lock lock(mutex_);
  return strStatistics;
}

// ---- Judging ---------------------------------------------------------------------------------------

namespace {

// std::trunc without the library call: below 2^52 the integer conversion is
// exact; larger magnitudes, infinities and NaN are already "integral".
inline double TruncTowardZero(double x) {
  return std::fabs(x) < 4503599627370496.0 ? static_cast<double>(static_cast<std::int64_t>(x)) : x;
}

}  // namespace

void NodeMap::RefreshPercentFactors() {
  double bound = 0.0;
  bool finite = true;
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    // Percentage in units of 0.01 %, truncated to an integer.
    const double p = std::trunc(cells_[i].dPercent);
    highFactor_[i] = p / 10000.0 + 1.0;
    lowFactor_[i] = 1.0 - p / 10000.0;
    finite = finite && std::isfinite(highFactor_[i]) && std::isfinite(lowFactor_[i]);
    bound = std::max({bound, std::fabs(highFactor_[i]), std::fabs(lowFactor_[i])});
  }
  factorBound_ = finite ? bound : std::numeric_limits<double>::infinity();
}

// Adjacent-point hits of the judged rows of one column into adjacentHigh_ and
// adjacentLow_ (-1 = hit), for every node; Evaluate keeps them for touch nodes.
// exactInt32: every scaled value lies strictly inside the int32 range, so it
// truncates exactly to int32 and an int32 neighbour extreme with INT32_MIN /
// INT32_MAX for "no neighbour" compares with it exactly as the doubles would.
// Otherwise every node takes the general double path.
void NodeMap::AdjacentColumn(int col, int rows, bool leftOk, bool rightOk, bool exactInt32) {
  const std::size_t stride = static_cast<std::size_t>(rows_);
  const std::size_t base = CellIndex(col, 0);
  const std::int32_t* __restrict values = value_.data() + base;
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
  const std::int32_t* __restrict flags = flags_.data() + base;
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
void NodeMap::Evaluate(const NodeFrame& frame) {
  if (frame.Columns() <= 0) return;
  int titleParam = 0;
  int statusParam = -1;  // -1: not posted
  NodeMapListener* listener = nullptr;
  {
    Lock lock(mutex_);
    nResultFlags &= ~(ResultFlag::TOUCH_NG | ResultFlag::KEY_NG);
    const int cols = std::min(frame.Columns(), columns_);
    const int rows = std::min(frame.Rows(), rows_);
    const std::size_t nodes = cells_.size();

    // Store the whole frame first, so that the adjacent-point rule compares every
    // node with this frame's neighbours (a neighbour outside the frame keeps its
    // stored value) and the verdict never depends on the previous frame.
    const std::int32_t* const frameData = frame.Data().data();
    const std::size_t frameRows = static_cast<std::size_t>(frame.Rows());
    for (int c = 0; c < cols; ++c) {
      const std::size_t base = CellIndex(c, 0);
      const std::int32_t* __restrict in = frameData + static_cast<std::size_t>(c) * frameRows;
      GridCell* __restrict column = cells_.data() + base;
      std::int32_t* __restrict values = value_.data() + base;
      for (std::size_t r = 0; r < static_cast<std::size_t>(rows); ++r) {
        const std::int32_t v = in[r];
        const std::int32_t value =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(column[r].nOffset) + static_cast<std::uint32_t>(v));
        column[r].nRaw = v;
        column[r].nValue = value;
        values[r] = value;
      }
    }

    // Adjacent-point rule: only with an enabled touch area.
    const bool adjacent = (nTestModeFlags & TestMode::ADJACENT) && !areas_.empty() && areas_[0].bEnabled;
    int colFirst = 0, colLast = 0, rowFirst = 0, rowLast = 0;
    if (adjacent) AreaLineRange(0, colFirst, colLast, rowFirst, rowLast);

    const bool threshold = (nTestModeFlags & TestMode::THRESHOLD) != 0;
    const bool limits = (nTestModeFlags & TestMode::LIMITS) != 0;
    const bool checkZero = (nCheckEnables & CheckEnable::ZERO) != 0;
    const bool checkHigh = (nCheckEnables & CheckEnable::HIGH) != 0;
    const bool checkLow = (nCheckEnables & CheckEnable::LOW) != 0;
    const bool compare = adjacent && (checkHigh || checkLow);
    constexpr std::int32_t kTop = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kBottom = std::numeric_limits<std::int32_t>::min();

    bool exactInt32 = false;
    if (compare) {
      // Every node's value for the neighbour extremes, neutral for non-TOUCH
      // nodes, and the value range that decides whether the scaled values fit
      // in int32.
      std::int32_t lo = kTop;
      std::int32_t hi = kBottom;
      NeighbourValues(nodes, value_.data(), flags_.data(), neighbourMax_.data() + 1, neighbourMin_.data() + 1, lo, hi);
      const double largest = std::max(std::fabs(static_cast<double>(lo)), std::fabs(static_cast<double>(hi)));
      // |value * factor| rounds to at most largest * factorBound_ rounded.
      exactInt32 = nodes > 0 && largest * factorBound_ < 2147483648.0;
      for (int r = 0; r < rows_; ++r) {
        const std::size_t k = static_cast<std::size_t>(r);
        upMask_[k] = (r != rowFirst && r > 0) ? -1 : 0;
        downMask_[k] = ((r != rowLast || r == rowFirst) && r + 1 < rows_) ? -1 : 0;
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
      const std::size_t base = CellIndex(c, 0);
      const std::int32_t* __restrict hitHigh = zeroColumn_.data();
      const std::int32_t* __restrict hitLow = zeroColumn_.data();
      if (compare) {
        const bool leftOk = c != colFirst && c > 0;
        const bool rightOk = (c != colLast || c == colFirst) && c + 1 < columns_;
        AdjacentColumn(c, rows, leftOk, rightOk, exactInt32);
        hitHigh = adjacentHigh_.data();
        hitLow = adjacentLow_.data();
      }
      const std::int32_t* __restrict upper = limits ? UpperLimits_.Data().data() + base : neutralUpper_.data();
      const std::int32_t* __restrict lower = limits ? LowerLimits_.Data().data() + base : neutralLower_.data();
      JudgeColumn(static_cast<std::size_t>(rows), value_.data() + base, upper, lower, hitHigh, hitLow, bounds,
                  flags_.data() + base, touchNg, keyNg);
    }
    nResultFlags |= (touchNg ? ResultFlag::TOUCH_NG : 0) | (keyNg ? ResultFlag::KEY_NG : 0);

    if (stats_.ScreenThresholdEnable) {
      StatisticsChecks(titleParam, statusParam);
    } else {
      for (int i = 1; i <= 4; ++i) HideStatLabel(i);
      strStatistics.clear();
      titleParam = 0;
      statusParam = -1;
    }
    // Copies the new flags to the nodes along with their colours.
    UpdateColoursLocked(true);
    listener = listener_;
  }
  // Posted, never waited for: notify after the lock is released.
  if (listener) {
    listener->OnShowTitleStats(titleParam);
    if (statusParam >= 0) listener->OnShowStatusStats(statusParam);
  }
}

void NodeMap::StatisticsChecks(int& titleParam, int& statusParam) {
  strStatistics.clear();
  std::int32_t max = -1, min = -1, average = -1, spread = -1;
  GatherStatistics(0, max, min, average, &spread);
  const bool labels = (stats_.ViewMode & ViewModeBit::LABELS) != 0;
  char text[96];

  auto report = [&](int label, bool ng, Rgb okColour) {
    const Rgb colour = ng ? kRed : okColour;
    if (labels) SetStatLabel(label, text, colour);
    strStatistics.append(text);
  };

  if (stats_.RawdataMaxEnable) {
    const bool ng = max > stats_.RawdataMax;
    std::snprintf(text, sizeof text, ng ? "最大值=%d(NG) " : "最大值=%d ", static_cast<int>(max));
    if (ng) nResultFlags |= ResultFlag::TOUCH_NG;
    report(1, ng, kBlue);
  } else {
    HideStatLabel(1);
  }
  if (stats_.RawdataMinEnable) {
    const bool ng = min < stats_.RawdataMin;
    std::snprintf(text, sizeof text, ng ? "最小值=%d(NG) " : "最小值=%d ", static_cast<int>(min));
    if (ng) nResultFlags |= ResultFlag::TOUCH_NG;
    report(2, ng, kBlue);
  } else {
    HideStatLabel(2);
  }
  const std::int64_t range = static_cast<std::int64_t>(max) - min;
  if (stats_.RawdataRangeEnable) {
    const bool ng = range > stats_.RawdataRange;
    std::snprintf(text, sizeof text, ng ? "最大-最小值=%" PRId64 "(NG) " : "最大-最小值=%" PRId64 " ", range);
    if (ng) nResultFlags |= ResultFlag::TOUCH_NG;
    report(3, ng, kBlue);
  } else {
    HideStatLabel(3);
  }
  if (stats_.RawdataRangeDiscardVarianceEnable && range <= stats_.RawdataRangeDiscardVariance) {
    std::snprintf(text, sizeof text, "均方差=%d(忽略) ", static_cast<int>(spread));
    report(4, false, kGrey);
  } else if (stats_.RawdataVarianceEnable) {
    const bool ng = spread > stats_.RawdataVariance;
    std::snprintf(text, sizeof text, ng ? "均方差=%d(NG) " : "均方差=%d ", static_cast<int>(spread));
    if (ng) nResultFlags |= ResultFlag::TOUCH_NG;
    report(4, ng, kBlue);
  } else {
    HideStatLabel(4);
  }
  if (!labels)
    for (int i = 1; i <= 4; ++i) HideStatLabel(i);

  titleParam = (stats_.ViewMode & ViewModeBit::TITLE) ? 1 : 0;
  statusParam = (stats_.ViewMode & ViewModeBit::STATUS) ? 1 : 0;
}

void NodeMap::MarkPinFault(int result, int type, int rowLine, int colLine) {
  Lock lock(mutex_);
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    cells_[i].nFlags &= ~NodeFlag::SHORT_ANY;
    flags_[i] = cells_[i].nFlags;
  }
  if (result == 0) {
    nResultFlags &= ~(ResultFlag::SHORT_FOUND | ResultFlag::SHORT_LINE_NOT_FOUND);
    return;
  }
  std::int32_t flag = 0;
  if (type == 1) flag = NodeFlag::SHORT1;
  if (type == 2) flag = NodeFlag::SHORT2;
  if (type == 3) flag = NodeFlag::SHORT3;

  // ORs the flag into every node of each line whose number is the reported line - 1; a report
  // that names no line of the list sets the not-found bit instead.
  auto markLines = [&](const std::vector<GridLine>& lines, int reported, bool rowsOfLines) {
    if (reported <= 0) return;
    bool found = false;
    const int count = std::min(rowsOfLines ? rows_ : columns_, static_cast<int>(lines.size()));
    for (int k = 0; k < count; ++k) {
      if (lines[static_cast<std::size_t>(k)].nNumber != reported - 1) continue;
      found = true;
      const int across = rowsOfLines ? columns_ : rows_;
      for (int j = 0; j < across; ++j) {
        const int c = rowsOfLines ? j : k;
        const int r = rowsOfLines ? k : j;
        CellAt(c, r).nFlags |= flag;
        flags_[CellIndex(c, r)] = CellAt(c, r).nFlags;
      }
    }
    nResultFlags |= found ? ResultFlag::SHORT_FOUND : ResultFlag::SHORT_LINE_NOT_FOUND;
  };
  markLines(rowLines_, rowLine, true);
  markLines(columnLines_, colLine, false);
}

const char* NodeMap::VerdictFor(std::int32_t resultFlags) {
  const char* text = "";
  if ((resultFlags & ~ResultFlag::EVALUATION_SHOWN) == 0) return "PASS";
  if (resultFlags & (ResultFlag::TOUCH_NG | ResultFlag::KEY_NG)) text = "FAIL";
  if (resultFlags & ResultFlag::SHORT_FOUND) text = "FAIL";
  if (resultFlags & ResultFlag::SHORT_LINE_NOT_FOUND) text = "";
  return text;
}

const std::string& NodeMap::FixVerdict() {
  Lock lock(mutex_);
  strWindowText.assign(VerdictFor(nResultFlags));
  if (!bTestRunning_ || bCountingPaint_) CountVerdict();
  return strWindowText;
}

void NodeMap::SetTestRunning(bool running) { Lock lock(mutex_); bTestRunning_ = running; }
bool NodeMap::TestRunning() const { Lock lock(mutex_); return bTestRunning_; }
void NodeMap::SetCountingPaint(bool counting) { Lock lock(mutex_); bCountingPaint_ = counting; }

void NodeMap::CountVerdict() {
  Lock lock(mutex_);
  if (strWindowText == "PASS") ++nColorGridCounter_Pass;
  if (strWindowText == "FAIL") ++nColorGridCounter_Fail;
  if (strWindowText != strLastVerdict) {
    nColorGridCounter_Pass = 0;
    nColorGridCounter_Fail = 0;
  }
  strLastVerdict.assign(strWindowText);
}

std::string NodeMap::GetVerdictText() const { Lock lock(mutex_); return strWindowText; }
std::string NodeMap::LastVerdict() const { Lock lock(mutex_); return strLastVerdict; }
std::int32_t NodeMap::GetColorGridCounterPass() const { Lock lock(mutex_); return nColorGridCounter_Pass; }
std::int32_t NodeMap::GetColorGridCounterFail() const { Lock lock(mutex_); return nColorGridCounter_Fail; }

std::string NodeMap::NodeLabelText(std::int32_t flags) {
  const char* part1 = "";
  if (flags & NodeFlag::KEY) part1 = "KEY";
  if (flags & NodeFlag::ZERO) part1 = "ZERO";
  if (flags & NodeFlag::MASK) part1 = "MASK";
  const char* part2 = "";
  if (flags & NodeFlag::SHORT_ANY) part2 = "SHORT";
  if (flags & NodeFlag::OPEN) part2 = "OPEN";
  if (flags & NodeFlag::LOW) part2 = "LOW";
  if (flags & NodeFlag::HIGH) part2 = "HIGH";
  const char* part3 = "";
  if (flags & NodeFlag::PASS) part3 = "PASS";
  if (flags & NodeFlag::FAIL) part3 = "FAIL";
  if (flags & NodeFlag::MASK) part2 = part3 = "";
  std::string text(part1);
  text += part2;
  text += part3;
  return text;
}

char NodeMap::OverlayLetter(std::int32_t flags) {
  char letter = '\0';
  if (flags & NodeFlag::LOW) letter = 'L';
  if (flags & NodeFlag::HIGH) letter = 'H';
  if (flags & NodeFlag::OPEN) letter = 'O';
  if (flags & NodeFlag::SHORT2) letter = 'G';
  if (flags & NodeFlag::SHORT1) letter = 'V';
  if (flags & NodeFlag::SHORT3) letter = 'S';
  if (flags & NodeFlag::PASS) letter = 'P';
  if (flags & NodeFlag::FAIL) letter = 'F';
  return letter;
}

}  // namespace varnex2::judging
