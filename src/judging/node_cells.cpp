#include "judging/node_cells.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace varnex2::judging {

namespace {

std::int32_t ClampToInt32(double v) {
  if (!(v == v)) return 0;  // NaN
  if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

// Line number at a list position; a position outside the list (an area left
// over from a larger map) stands for itself.
int LineNumberAt(const std::vector<GridLine>& lines, int pos) {
  if (pos >= 0 && static_cast<std::size_t>(pos) < lines.size()) return lines[static_cast<std::size_t>(pos)].nNumber;
  return pos;
}

void ApplyFlagOp(std::int32_t& flags, std::int32_t value, FlagOp op) {
  switch (op) {
    case FlagOp::Set:
      flags = value;
      break;
    case FlagOp::Or:
      flags |= value;
      break;
    case FlagOp::Clear:
      flags &= ~value;
      break;
  }
}

}  // namespace

// ---- NodeFrame ---------------------------------------------------------------

NodeFrame::NodeFrame(int columns, int rows, std::int32_t fill) { Resize(columns, rows, fill); }

void NodeFrame::Resize(int columns, int rows, std::int32_t fill) {
  columns_ = std::max(columns, 0);
  rows_ = std::max(rows, 0);
  data_.assign(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_), fill);
}

void NodeFrame::Fill(std::int32_t value) { std::fill(data_.begin(), data_.end(), value); }

// ---- Size ----------------------------------------------------------------------

void NodeCells::Resize(int columns, int rows) {
  std::vector<GridCell> cells(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
  for (int c = 0; c < columns; ++c) {
    for (int r = 0; r < rows; ++r) {
      GridCell& cell =
          cells[static_cast<std::size_t>(c) * static_cast<std::size_t>(rows) + static_cast<std::size_t>(r)];
      cell = GridCell{};
      if (c < columns_ && r < rows_) cell.dPercent = Cell(c, r).dPercent;
    }
  }
  cells_.swap(cells);
  columns_ = columns;
  rows_ = rows;
  const std::size_t nodes = cells_.size();
  value_.assign(nodes, 0);
  flags_.assign(nodes, NodeFlag::TOUCH);
  group_.assign(nodes, 0);
  groupsPresent_ = nodes > 0 ? 1u : 0u;
  columnLines_.assign(static_cast<std::size_t>(columns), GridLine{});
  rowLines_.assign(static_cast<std::size_t>(rows), GridLine{});
  RebuildLines();
}

// ---- Values --------------------------------------------------------------------

void NodeCells::FillValues(std::int32_t value) {
  for (auto& cell : cells_) {
    cell.nValue = value;
    cell.nRaw = value;
  }
  std::fill(value_.begin(), value_.end(), value);
}

void NodeCells::SetAllOffsets(std::int32_t offset) {
  for (auto& cell : cells_) cell.nOffset = offset;
}

NodeFrame NodeCells::GetRawFrame() const {
  NodeFrame out(columns_, rows_);
  for (int c = 0; c < columns_; ++c)
    for (int r = 0; r < rows_; ++r) out(c, r) = Cell(c, r).nRaw;
  return out;
}

NodeFrame NodeCells::GetFlagsFrame() const {
  NodeFrame out(columns_, rows_);
  for (int c = 0; c < columns_; ++c)
    for (int r = 0; r < rows_; ++r) out(c, r) = Cell(c, r).nFlags;
  return out;
}

// ---- Percentages -----------------------------------------------------------------

void NodeCells::SetAllPercent(double percent) {
  for (auto& cell : cells_) cell.dPercent = percent;
}

bool NodeCells::SetNodePercent(int col, int row, double percent) {
  if (!InMap(col, row)) return false;
  CellAt(col, row).dPercent = percent;
  return true;
}

int NodeCells::GetNodePercent(int col, int row) const {
  if (!InMap(col, row)) return 0;
  return ClampToInt32(Cell(col, row).dPercent);
}

bool NodeCells::SetPercentInRect(int col1, int row1, int col2, int row2, double percent, std::int32_t skipMask) {
  if (!InMap(col1, row1) || !InMap(col2, row2)) return false;
  const auto [c0, c1] = std::minmax(col1, col2);
  const auto [r0, r1] = std::minmax(row1, row2);
  for (int c = c0; c <= c1; ++c) {
    for (int r = r0; r <= r1; ++r) {
      GridCell& cell = CellAt(c, r);
      if ((cell.nFlags & skipMask) == 0) cell.dPercent = percent;
    }
  }
  return true;
}

void NodeCells::SetPercentArray(const NodeFrame& percents) {
  const int cols = std::min(columns_, percents.Columns());
  const int rows = std::min(rows_, percents.Rows());
  for (int c = 0; c < cols; ++c)
    for (int r = 0; r < rows; ++r) CellAt(c, r).dPercent = percents(c, r);
}

NodeFrame NodeCells::GetPercentArray() const {
  NodeFrame out(columns_, rows_);
  for (int c = 0; c < columns_; ++c)
    for (int r = 0; r < rows_; ++r) out(c, r) = ClampToInt32(Cell(c, r).dPercent);
  return out;
}

// ---- Flags and groups ---------------------------------------------------------------

void NodeCells::SetNodeFlags(int col1, int row1, int col2, int row2, std::int32_t value, std::int32_t skipMask,
                             FlagOp op) {
  if (!InMap(col1, row1) || !InMap(col2, row2)) return;
  const auto [c0, c1] = std::minmax(col1, col2);
  const auto [r0, r1] = std::minmax(row1, row2);
  for (int c = c0; c <= c1; ++c) {
    for (int r = r0; r <= r1; ++r) {
      GridCell& cell = CellAt(c, r);
      if ((cell.nFlags & skipMask) == 0) {
        ApplyFlagOp(cell.nFlags, value, op);
        flags_[Index(c, r)] = cell.nFlags;
      }
    }
  }
}

void NodeCells::SetAllNodeFlags(std::int32_t value, FlagOp op) {
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    ApplyFlagOp(cells_[i].nFlags, value, op);
    flags_[i] = cells_[i].nFlags;
  }
}

void NodeCells::ClearFlagBits(std::int32_t bits) {
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    cells_[i].nFlags &= ~bits;
    flags_[i] = cells_[i].nFlags;
  }
}

std::int32_t NodeCells::GetNodeFlags(int col, int row) const {
  if (!InMap(col, row)) return 0;
  return Cell(col, row).nFlags;
}

bool NodeCells::MarkLines(bool rowLines, std::int32_t number, std::int32_t flag) {
  const std::vector<GridLine>& lines = rowLines ? rowLines_ : columnLines_;
  bool found = false;
  const int count = std::min(rowLines ? rows_ : columns_, static_cast<int>(lines.size()));
  for (int k = 0; k < count; ++k) {
    if (lines[static_cast<std::size_t>(k)].nNumber != number) continue;
    found = true;
    const int across = rowLines ? columns_ : rows_;
    for (int j = 0; j < across; ++j) {
      const int c = rowLines ? j : k;
      const int r = rowLines ? k : j;
      CellAt(c, r).nFlags |= flag;
      flags_[Index(c, r)] = CellAt(c, r).nFlags;
    }
  }
  return found;
}

void NodeCells::SetNodeGroup(int col1, int row1, int col2, int row2, int group) {
  if (!InMap(col1, row1) || !InMap(col2, row2)) return;
  const auto [c0, c1] = std::minmax(col1, col2);
  const auto [r0, r1] = std::minmax(row1, row2);
  for (int c = c0; c <= c1; ++c) {
    for (int r = r0; r <= r1; ++r) {
      CellAt(c, r).nGroup = static_cast<std::uint8_t>(group);
      group_[Index(c, r)] = static_cast<std::uint8_t>(group);
    }
  }
  RefreshGroupsPresent();
}

void NodeCells::RefreshGroupsPresent() {
  std::uint32_t present = 0;
  for (const std::int32_t g : group_) present |= g < kGroupCount ? (1u << g) : (1u << 31);
  groupsPresent_ = present;
}

bool NodeCells::StampAreaGroup(int index, int group) {
  int colFirst = 0, colLast = 0, rowFirst = 0, rowLast = 0;
  if (!AreaLineRange(index, colFirst, colLast, rowFirst, rowLast)) return false;
  for (int c = 0; c < columns_; ++c) {
    const GridLine& cl = columnLines_[static_cast<std::size_t>(c)];
    if (!cl.bVisible || cl.nNumber < colFirst || cl.nNumber > colLast) continue;
    for (int r = 0; r < rows_; ++r) {
      const GridLine& rl = rowLines_[static_cast<std::size_t>(r)];
      if (!rl.bVisible || rl.nNumber < rowFirst || rl.nNumber > rowLast) continue;
      CellAt(c, r).nGroup = static_cast<std::uint8_t>(group);
      group_[Index(c, r)] = static_cast<std::uint8_t>(group);
    }
  }
  RefreshGroupsPresent();
  return true;
}

int NodeCells::GetNodeGroup(int col, int row) const {
  if (!InMap(col, row)) return 0;
  return Cell(col, row).nGroup;
}

// ---- Areas ------------------------------------------------------------------------

void NodeCells::ClearAreas() {
  areas_.clear();
  for (auto& cell : cells_) cell.nGroup = 0;
  std::fill(group_.begin(), group_.end(), 0);
  groupsPresent_ = cells_.empty() ? 0u : 1u;
}

void NodeCells::AddArea(int xStart, int yStart, int xCount, int yCount, int index) {
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

int NodeCells::AppendArea(const GridArea& area) {
  if (areas_.size() >= 2) return -1;
  areas_.push_back(area);
  return static_cast<int>(areas_.size()) - 1;
}

void NodeCells::SetAreaThresholds(std::int32_t high, std::int32_t low, int index) {
  GridArea* area = MutableArea(index);
  if (area == nullptr || !area->bEnabled) return;
  area->nHigh = high;
  area->nLow = low;
}

bool NodeCells::GetAreaRect(int index, int& xStart, int& yStart, int& xCount, int& yCount) const {
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

GridArea* NodeCells::MutableArea(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= areas_.size()) return nullptr;
  return &areas_[static_cast<std::size_t>(index)];
}

bool NodeCells::AreaLineRange(int index, int& colFirst, int& colLast, int& rowFirst, int& rowLast) const {
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

// ---- Lines ---------------------------------------------------------------------------

void NodeCells::RebuildLines() {
  for (std::size_t i = 0; i < columnLines_.size(); ++i) {
    columnLines_[i] = GridLine{};
    columnLines_[i].nNumber = static_cast<std::int32_t>(i);
  }
  for (std::size_t i = 0; i < rowLines_.size(); ++i) {
    rowLines_[i] = GridLine{};
    rowLines_[i].nNumber = static_cast<std::int32_t>(i);
  }
}

}  // namespace varnex2::judging
