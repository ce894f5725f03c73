// NodeCells: the node map's cells and areas — the GridCell matrix, the column and
// row line lists, the areas (0 touch, 1 key), every node's flags, group and
// percentage, and the flat copies of value, flags and group the judging,
// statistics and colour passes run over.
//
// No lock of its own: NodeMap calls it under the map's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "judging/node_types.h"

namespace varnex2::judging {

class NodeCells {
 public:
  // Resizes to columns x rows (both checked by the caller): fresh cells that keep
  // the percentage of every node both sizes have, default lines, areas kept.
  void Resize(int columns, int rows);

  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  std::size_t Nodes() const { return cells_.size(); }
  bool InMap(int col, int row) const { return col >= 0 && col < columns_ && row >= 0 && row < rows_; }
  std::size_t Index(int col, int row) const {
    return static_cast<std::size_t>(col) * static_cast<std::size_t>(rows_) + static_cast<std::size_t>(row);
  }

  // Unchecked; col and row must be in range.
  const GridCell& Cell(int col, int row) const { return cells_[Index(col, row)]; }

  // ---- Values ------------------------------------------------------------------
  void FillValues(std::int32_t value);
  void SetAllOffsets(std::int32_t offset);
  // Stores the first cols x rows counts of a frame (offset added, wrapping as
  // uint32) in every node's nRaw and nValue and the flat values.
  void StoreFrame(const NodeFrame& frame, int cols, int rows);
  NodeFrame GetRawFrame() const;
  NodeFrame GetFlagsFrame() const;

  // ---- Percentages -------------------------------------------------------------
  void SetAllPercent(double percent);
  // Each returns true when some node's percentage changed (may have changed).
  bool SetNodePercent(int col, int row, double percent);
  int GetNodePercent(int col, int row) const;
  bool SetPercentInRect(int col1, int row1, int col2, int row2, double percent, std::int32_t skipMask);
  void SetPercentArray(const NodeFrame& percents);
  NodeFrame GetPercentArray() const;
  double Percent(std::size_t node) const { return cells_[node].dPercent; }

  // ---- Flags and groups --------------------------------------------------------
  void SetNodeFlags(int col1, int row1, int col2, int row2, std::int32_t value, std::int32_t skipMask, FlagOp op);
  void SetAllNodeFlags(std::int32_t value, FlagOp op);
  // Clears bits in every node (the short marks before a new report).
  void ClearFlagBits(std::int32_t bits);
  std::int32_t GetNodeFlags(int col, int row) const;
  // ORs flag into every node of each line (row lines or column lines) whose number
  // is number; true when some line had it.
  bool MarkLines(bool rowLines, std::int32_t number, std::int32_t flag);
  void SetNodeGroup(int col1, int row1, int col2, int row2, int group);
  bool StampAreaGroup(int index, int group);
  int GetNodeGroup(int col, int row) const;

  // ---- Areas -------------------------------------------------------------------
  void ClearAreas();
  void AddArea(int xStart, int yStart, int xCount, int yCount, int index);
  int AppendArea(const GridArea& area);
  void SetAreaThresholds(std::int32_t high, std::int32_t low, int index);
  bool GetAreaRect(int index, int& xStart, int& yStart, int& xCount, int& yCount) const;
  const std::vector<GridArea>& Areas() const { return areas_; }
  GridArea* MutableArea(int index);
  bool AreaLineRange(int index, int& colFirst, int& colLast, int& rowFirst, int& rowLast) const;

  // ---- Lines -------------------------------------------------------------------
  const std::vector<GridLine>& ColumnLines() const { return columnLines_; }
  const std::vector<GridLine>& RowLines() const { return rowLines_; }
  // Numbers every line by its position, visible, default colours.
  void RebuildLines();

  // ---- The passes over every node ------------------------------------------------
  // Flat copies, index for index with the cells (Index(col, row)).
  const std::int32_t* Values() const { return value_.data(); }
  const std::int32_t* Flags() const { return flags_.data(); }
  const std::int32_t* Groups() const { return group_.data(); }
  // Bit g (g < kGroupCount) set when some node is in group g; bit 31 when some
  // node is in a group beyond the colour ranges.
  std::uint32_t GroupsPresent() const { return groupsPresent_; }

  // Evaluate writes the new flags into the flat copy only; the colour pass then
  // copies them to the cells along with the colours (FlagsPending), in one pass.
  std::int32_t* PendingFlags() { return flags_.data(); }
  // The colour and layout passes write crColor, rcNode, rcHeader and the pending
  // nFlags through these; nothing else of a cell or line.
  GridCell* MutableCells() { return cells_.data(); }
  std::vector<GridLine>& MutableColumnLines() { return columnLines_; }
  std::vector<GridLine>& MutableRowLines() { return rowLines_; }

 private:
  GridCell& CellAt(int col, int row) { return cells_[Index(col, row)]; }
  void RefreshGroupsPresent();

  int columns_ = 0;
  int rows_ = 0;
  std::vector<GridCell> cells_;
  std::vector<GridLine> columnLines_;
  std::vector<GridLine> rowLines_;
  std::vector<GridArea> areas_;
  // Flat copies of every node's nValue, nFlags and nGroup, kept in step by every
  // operation that writes those fields (flags_ may run ahead, see PendingFlags).
  std::vector<std::int32_t> value_;
  std::vector<std::int32_t> flags_;
  std::vector<std::int32_t> group_;
  std::uint32_t groupsPresent_ = 0;
};

// Inline: Evaluate's first loop, compiled into the judging pass.
inline void NodeCells::StoreFrame(const NodeFrame& frame, int cols, int rows) {
  // Locals, so the stores into the cells cannot make the compiler reload them.
  const std::int32_t* const frameData = frame.Data().data();
  const std::size_t frameRows = static_cast<std::size_t>(frame.Rows());
  const std::size_t stride = static_cast<std::size_t>(rows_);
  const std::size_t count = static_cast<std::size_t>(rows);
  GridCell* const cells = cells_.data();
  std::int32_t* const flat = value_.data();
  for (std::size_t c = 0; c < static_cast<std::size_t>(cols); ++c) {
    const std::int32_t* __restrict in = frameData + c * frameRows;
    GridCell* __restrict column = cells + c * stride;
    std::int32_t* __restrict values = flat + c * stride;
    for (std::size_t r = 0; r < count; ++r) {
      const std::int32_t v = in[r];
      const std::int32_t value =
          static_cast<std::int32_t>(static_cast<std::uint32_t>(column[r].nOffset) + static_cast<std::uint32_t>(v));
      column[r].nRaw = v;
      column[r].nValue = value;
      values[r] = value;
    }
  }
}

}  // namespace varnex2::judging
