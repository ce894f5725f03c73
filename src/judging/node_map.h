// NodeMap: the judging data of the node-map control, free of any UI toolkit.
//
// It owns every node's value, flags, limits and percentages, the line lists, the
// areas, thresholds, statistics settings, the result word and the verdict
// bookkeeping. The test thread pushes frames in with Evaluate and MarkPinFault;
// the widget lays it out, paints it and edits it with the mouse.
//
// NodeMap is a facade over five parts with private state: NodeCells (cells,
// lines, areas, flags), NodeJudge (judging and limits), NodeStatistics,
// NodeDisplay (colours and layout) and VerdictCounter.
//
// Thread safety: every public operation locks one recursive mutex, which guards
// all five parts. Accessors that return references (Cell, ColumnLines, Areas,
// labels, ...) are only valid while the caller holds Mutex(); the painter locks
// it for a whole paint.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "judging/node_cells.h"
#include "judging/node_display.h"
#include "judging/node_judge.h"
#include "judging/node_statistics.h"
#include "judging/node_types.h"
#include "judging/verdict_counter.h"

namespace varnex2::judging {

class NodeMap {
 public:
  NodeMap();
  NodeMap(const NodeMap&) = delete;
  NodeMap& operator=(const NodeMap&) = delete;

  // The lock every operation takes; the painter holds it for a whole paint.
  std::recursive_mutex& Mutex() const { return mutex_; }

  void SetListener(NodeMapListener* listener);

  // ---- Size, values, offsets, percentages --------------------------------
  // Negative sizes or more than kMaxLines columns or rows are ignored.
  void SetGridSize(int columns, int rows);
  int Columns() const;
  int Rows() const;
  bool IsEmpty() const;

  void FillValues(std::int32_t value);
  void SetAllOffsets(std::int32_t offset);
  void SetAllPercent(double percent);
  void SetNodePercent(int col, int row, double percent);
  int GetNodePercent(int col, int row) const;
  void SetPercentInRect(int col1, int row1, int col2, int row2, double percent, std::int32_t skipMask);
  void SetPercentArray(const NodeFrame& percents);
  NodeFrame GetPercentArray() const;
  NodeFrame GetRawFrame() const;
  NodeFrame GetFlagsFrame() const;  // every node's nFlags, for the frame capture

  // ---- Thresholds and limits ---------------------------------------------
  void SetTouchThresholds(std::int32_t low, std::int32_t high);
  void SetKeyThresholds(std::int32_t low, std::int32_t high);
  std::int32_t TouchHigh() const;
  std::int32_t TouchLow() const;
  std::int32_t KeyHigh() const;
  std::int32_t KeyLow() const;
  // Copied only when the extents equal the map's.
  void SetUpperLimits(const NodeFrame& limits);
  void SetLowerLimits(const NodeFrame& limits);
  const NodeFrame& UpperLimits() const;
  const NodeFrame& LowerLimits() const;
  // The two legacy sample display values: colour range of the area groups in
  // the upper/lower-limit mode (default 0 and 0).
  void SetLegacySampleRange(std::int32_t low, std::int32_t high);
  std::int32_t LegacySampleLow() const;
  std::int32_t LegacySampleHigh() const;

  // ---- Modes and result word ---------------------------------------------
  void SetTestModeFlags(std::int32_t flags);
  std::int32_t TestModeFlags() const;
  void SetCheckEnables(std::int32_t enables);
  std::int32_t CheckEnables() const;
  void SetResultFlags(std::int32_t flags);
  std::int32_t ResultFlags() const;

  // ---- Areas ---------------------------------------------------------------
  void ClearAreas();
  // xStart = first row, yStart = first column, xCount rows, yCount columns.
  void AddArea(int xStart, int yStart, int xCount, int yCount, int index);
  // Appends a record as it stands (mouse definition); at most two areas.
  // Returns its index, or -1 when the list is full.
  int AppendArea(const GridArea& area);
  void SetAreaThresholds(std::int32_t high, std::int32_t low, int index);
  // Normalised rectangle of an area; false (outputs untouched) for a bad index.
  bool GetAreaRect(int index, int& xStart, int& yStart, int& xCount, int& yCount) const;
  const std::vector<GridArea>& Areas() const;
  int AreaCount() const;
  // nullptr for a bad index; hold Mutex() while using it.
  GridArea* MutableArea(int index);
  // Corner line numbers of an area, normalised; false for a bad index.
  bool AreaLineRange(int index, int& colFirst, int& colLast, int& rowFirst, int& rowLast) const;

  // ---- Flags and groups ------------------------------------------------------
  void SetNodeFlags(int col1, int row1, int col2, int row2, std::int32_t value, std::int32_t skipMask, FlagOp op);
  void SetAllNodeFlags(std::int32_t value, FlagOp op);
  std::int32_t GetNodeFlags(int col, int row) const;
  // Group of every node of the rectangle of positions (either order); nothing
  // when an end lies outside the map.
  void SetNodeGroup(int col1, int row1, int col2, int row2, int group);
  // Group of every node inside an area's corner line numbers (either order,
  // visible lines only); false for a bad index.
  bool StampAreaGroup(int index, int group);
  int GetNodeGroup(int col, int row) const;

  // ---- Display -------------------------------------------------------------
  void SetDisplayStyle(int style);
  int GetDisplayStyle() const;
  void UpdateColours();
  const std::array<Rgb, kPaletteSize>& Palette() const;
  std::int32_t LegendMin() const;
  std::int32_t LegendMax() const;
  std::int32_t LegendMid() const;
  void SetLineNumberBase(int base);
  int LineNumberBase() const;
  void SetFrozen(bool frozen);
  bool IsFrozen() const;
  void SetShowHeaders(bool show);
  bool ShowHeaders() const;

  // ---- Layout and hit-testing --------------------------------------------
  void Layout(int clientWidth, int clientHeight);
  Rect ClientRect() const;
  int HeaderWidth() const;   // left strip
  int HeaderHeight() const;  // top strip
  Rect LegendRect() const;   // the corner box where the two strips meet
  // First node (columns outer, rows inner) whose rectangle holds the point.
  NodePos HitTest(int x, int y, bool visibleOnly = true) const;

  // Painter access (hold Mutex()).
  const GridCell& Cell(int col, int row) const;
  const std::vector<GridLine>& ColumnLines() const;
  const std::vector<GridLine>& RowLines() const;

  // ---- Labels ----------------------------------------------------------------
  // index 1..4; other indices are ignored.
  void SetLabel(int index, const std::string& text, bool shown, Rgb textColour, Rgb background);
  void SetNoticeLabel(const std::string& text, bool shown, Rgb textColour, Rgb background);
  const GridLabel& StatisticsLabel(int index) const;  // 1..4; an empty label otherwise
  const GridLabel& NoticeLabel() const;

  // ---- Statistics ------------------------------------------------------------
  void SetStatisticsSettings(const StatisticsSettings& settings);
  StatisticsSettings GetStatisticsSettings() const;
  void SetScreenThresholdEnable(bool on);
  void SetRawdataMax(std::int32_t v);
  void SetRawdataMaxEnable(bool on);
  void SetRawdataMin(std::int32_t v);
  void SetRawdataMinEnable(bool on);
  void SetRawdataRange(std::int32_t v);
  void SetRawdataRangeEnable(bool on);
  void SetRawdataVariance(std::int32_t v);
  void SetRawdataVarianceEnable(bool on);
  void SetRawdataRangeDiscardVariance(std::int32_t v);
  void SetRawdataRangeDiscardVarianceEnable(bool on);
  void SetViewMode(std::int32_t v);
  bool GetScreenThresholdEnable() const;
  std::int32_t GetRawdataMax() const;
  bool GetRawdataMaxEnable() const;
  std::int32_t GetRawdataMin() const;
  bool GetRawdataMinEnable() const;
  std::int32_t GetRawdataRange() const;
  bool GetRawdataRangeEnable() const;
  std::int32_t GetRawdataVariance() const;
  bool GetRawdataVarianceEnable() const;
  std::int32_t GetRawdataRangeDiscardVariance() const;
  bool GetRawdataRangeDiscardVarianceEnable() const;
  std::int32_t GetViewMode() const;

  // Max, min, average and spread of an area (see the .cpp); false with the
  // outputs untouched when the index names no area (0 is valid with no areas).
  bool GetStatistics(int area, std::int32_t& max, std::int32_t& min, std::int32_t& average, std::int32_t& spread) const;
  bool GetStatisticsBrief(int area, std::int32_t& max, std::int32_t& min, std::int32_t& average) const;
  std::string StatisticsText() const;  // strStatistics of the last frame

  // ---- Judging ---------------------------------------------------------------
  void Evaluate(const NodeFrame& frame);
  void MarkPinFault(int result, int type, int rowLine, int colLine);

  // Verdict text the result word gives now: "PASS", "FAIL" or "".
  static const char* VerdictFor(std::int32_t resultFlags);
  // The repaint's step: fix the verdict text from the result word, store it as
  // the window text, count it (CountVerdict) and return it.
  // While the test cycle runs (SetTestRunning), a paint counts only when the cycle
  // has marked it as its own (SetCountingPaint); hover, resize and expose paints
  // then fix the text without counting. Idle, every paint counts.
  const std::string& FixVerdict();
  void CountVerdict();
  // Marks the paints that follow as the cycle's own (they count while it runs).
  void SetCountingPaint(bool counting);
  std::string GetVerdictText() const;
  std::string LastVerdict() const;
  std::int32_t GetColorGridCounterPass() const;
  std::int32_t GetColorGridCounterFail() const;
  // Whether the test cycle runs: while it does, the cycle repaints after every
  // frame itself and the widget's mouse handling does not repaint (and so does
  // not count verdicts). Set by the station core; lock-free.
  void SetTestRunning(bool running);
  bool TestRunning() const;

  // Label text (hover read-out) and overlay letter ('\0' for none) of flags.
  static std::string NodeLabelText(std::int32_t flags);
  static char OverlayLetter(std::int32_t flags);

 private:
  // What the colour pass needs of the judging part.
  ColourRanges Ranges() const;
  // Recolours every node; flagsPending as NodeDisplay::UpdateColours.
  void Recolour(bool flagsPending = false);

  mutable std::recursive_mutex mutex_;
  NodeMapListener* listener_ = nullptr;

  NodeCells cells_;
  NodeJudge judge_;
  NodeStatistics statistics_;
  NodeDisplay display_;
  VerdictCounter verdict_;
};

}  // namespace varnex2::judging
