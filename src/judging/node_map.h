// NodeMap: the judging data of the node-map control, free of any UI toolkit.
//
// It owns every node's value, flags, limits and percentages, the line lists, the
// areas, thresholds, statistics settings, the result word and the verdict
// bookkeeping. The test thread pushes frames in with Evaluate and MarkPinFault;
// the widget lays it out, paints it and edits it with the mouse.
//
// Thread safety: every public operation locks one recursive mutex. Accessors that
// return references (Cell, ColumnLines, Areas, labels, ...) are only valid while
// the caller holds Mutex(); the painter locks it for a whole paint.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace varnex2::judging {

// Colour as 0xRRGGBB.
using Rgb = std::uint32_t;

constexpr Rgb MakeRgb(int r, int g, int b) {
  return (static_cast<Rgb>(r & 0xFF) << 16) | (static_cast<Rgb>(g & 0xFF) << 8) |
         static_cast<Rgb>(b & 0xFF);
}
constexpr int RgbRed(Rgb c) { return static_cast<int>((c >> 16) & 0xFF); }
constexpr int RgbGreen(Rgb c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int RgbBlue(Rgb c) { return static_cast<int>(c & 0xFF); }

// Rectangle in client coordinates; right and bottom are exclusive.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const Rect&) const = default;
};

// Node flag bits (GridCell::nFlags).
namespace NodeFlag {
inline constexpr std::int32_t TOUCH = 0x1;
inline constexpr std::int32_t KEY = 0x2;
inline constexpr std::int32_t MASK = 0x4;
inline constexpr std::int32_t ZERO = 0x8;
inline constexpr std::int32_t SHORT3 = 0x10;  // pin-fault type 3, letter "S"
inline constexpr std::int32_t SHORT2 = 0x20;  // pin-fault type 2, letter "G"
inline constexpr std::int32_t SHORT1 = 0x40;  // pin-fault type 1, letter "V"
inline constexpr std::int32_t SHORT_ANY = 0x70;
inline constexpr std::int32_t OPEN = 0x80;
inline constexpr std::int32_t LOW = 0x100;
inline constexpr std::int32_t HIGH = 0x200;
inline constexpr std::int32_t PASS = 0x400;
inline constexpr std::int32_t FAIL = 0x800;
}  // namespace NodeFlag

// Bits of the result word (nResultFlags).
namespace ResultFlag {
inline constexpr std::int32_t TOUCH_NG = 0x1;
inline constexpr std::int32_t KEY_NG = 0x2;
inline constexpr std::int32_t SHORT_FOUND = 0x4;
inline constexpr std::int32_t SHORT_LINE_NOT_FOUND = 0x8;
inline constexpr std::int32_t EVALUATION_SHOWN = 0x40000000;
}  // namespace ResultFlag

// Bits of nTestModeFlags; the enabled modes act together.
namespace TestMode {
inline constexpr std::int32_t THRESHOLD = 0x1;
inline constexpr std::int32_t LIMITS = 0x2;      // sample upper/lower limits
inline constexpr std::int32_t ADJACENT = 0x4;    // adjacent points
inline constexpr std::int32_t DIFFERENCE = 0x10; // difference display, not judged
}  // namespace TestMode

// Bits of nCheckEnables.
namespace CheckEnable {
inline constexpr std::int32_t ZERO = 0x8;
inline constexpr std::int32_t LOW = 0x100;
inline constexpr std::int32_t HIGH = 0x200;
inline constexpr std::int32_t ALL = 0x308;
}  // namespace CheckEnable

// Bits of the ViewMode statistics setting.
namespace ViewModeBit {
inline constexpr std::int32_t LABELS = 0x1;  // statistics labels on the map
inline constexpr std::int32_t TITLE = 0x2;   // statistics in the window title
inline constexpr std::int32_t STATUS = 0x4;  // verdict in the status bar
}  // namespace ViewModeBit

// nDisplayStyle values.
enum DisplayStyle : int { kStyleColour = 0, kStyleMono = 1, kStyleText = 2, kStyleBackground = 3 };

// Operation of SetNodeFlags / SetAllNodeFlags.
enum class FlagOp { Set, Or, Clear };

inline constexpr int kDefaultColumns = 52;
inline constexpr int kDefaultRows = 32;
inline constexpr int kMaxLines = 256;        // largest column or row count SetGridSize accepts
inline constexpr int kPaletteSize = 1024;
inline constexpr int kScaleTop = 1023;
inline constexpr int kGroupCount = 10;       // colour-range groups 0..9

// A matrix of signed 32-bit counts indexed [col][row], stored column by column
// (rows fastest). Used for frames, limit arrays, percent arrays and flag copies.
class NodeFrame {
 public:
  NodeFrame() : NodeFrame(kDefaultColumns, kDefaultRows) {}
  NodeFrame(int columns, int rows, std::int32_t fill = 0);

  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  bool Empty() const { return columns_ <= 0 || rows_ <= 0; }
  bool InRange(int col, int row) const { return col >= 0 && col < columns_ && row >= 0 && row < rows_; }

  // Unchecked access; col and row must be in range.
  std::int32_t& operator()(int col, int row) { return data_[Index(col, row)]; }
  std::int32_t operator()(int col, int row) const { return data_[Index(col, row)]; }
  std::int32_t At(int col, int row) const { return data_[Index(col, row)]; }

  // Resizes and zeroes (or fills) every entry.
  void Resize(int columns, int rows, std::int32_t fill = 0);
  void Fill(std::int32_t value);

  const std::vector<std::int32_t>& Data() const { return data_; }
  std::vector<std::int32_t>& Data() { return data_; }

  bool operator==(const NodeFrame&) const = default;

 private:
  std::size_t Index(int col, int row) const {
    return static_cast<std::size_t>(col) * static_cast<std::size_t>(rows_) + static_cast<std::size_t>(row);
  }
  int columns_ = 0;
  int rows_ = 0;
  std::vector<std::int32_t> data_;
};

// One node of the map.
struct GridCell {
  std::int32_t nValue = 0;   // nOffset + nRaw, judged and displayed
  std::int32_t nFlags = NodeFlag::TOUCH;
  std::int32_t nOffset = 0;  // added to every incoming count
  std::int32_t nRaw = 0;     // last count received
  Rgb crColor = 0;           // computed by UpdateColours
  Rect rcNode;               // set by Layout
  std::uint8_t nGroup = 0;   // colour-range group (0 = touch default)
  double dPercent = 0.0;     // adjacent-point percentage x 100 (1500.0 = 15 %)
};

// One column line (Y line) or row line (X line) of the header lists.
struct GridLine {
  std::int32_t nNumber = 0;  // shown and matched against areas and pin-fault reports
  bool bVisible = true;
  Rgb crBack = MakeRgb(220, 220, 220);
  Rgb crText = MakeRgb(0, 0, 255);
  Rect rcHeader;
};

// Area list entry: index 0 touch area, index 1 key area. Corners are positions
// into the column-line and row-line lists.
struct GridArea {
  std::string strName;
  int nFirstCol = 0;
  int nFirstRow = 0;
  int nSecondCol = 0;
  int nSecondRow = 0;
  std::int32_t nHigh = 30000;
  std::int32_t nLow = 10000;
  bool bEnabled = false;
  Rgb crBack = MakeRgb(255, 255, 255);
  Rgb crText = MakeRgb(255, 0, 0);
  std::string strText;  // second text, unused by the station
};

// A statistics label or the notice label.
struct GridLabel {
  bool bShown = false;
  std::string strText;  // UTF-8
  Rgb crText = 0;
  Rgb crBack = MakeRgb(255, 255, 255);
};

// The whole-area statistics settings, named as they are stored.
struct StatisticsSettings {
  bool ScreenThresholdEnable = false;
  std::int32_t RawdataMax = 0;
  bool RawdataMaxEnable = false;
  std::int32_t RawdataMin = 0;
  bool RawdataMinEnable = false;
  std::int32_t RawdataRange = 0;
  bool RawdataRangeEnable = false;
  std::int32_t RawdataVariance = 0;
  bool RawdataVarianceEnable = false;
  std::int32_t RawdataRangeDiscardVariance = 0;
  bool RawdataRangeDiscardVarianceEnable = false;
  std::int32_t ViewMode = 0;
  bool operator==(const StatisticsSettings&) const = default;
};

struct NodePos {
  int col = -1;
  int row = -1;
  bool Valid() const { return col >= 0 && row >= 0; }
  bool operator==(const NodePos&) const = default;
};

// Receives the two notifications Evaluate posts to the main window:
// WM_SHOW_TITLE_STATS (0x4CE) and WM_SHOW_STATUS_STATS (0x4CF). Called on the
// evaluating thread after the model's lock is released; an implementation must
// only queue the notification (no waiting for the UI thread) and, to keep
// Evaluate free of allocation, should not allocate.
class NodeMapListener {
 public:
  virtual ~NodeMapListener() = default;
  virtual void OnShowTitleStats(int lParam) = 0;
  virtual void OnShowStatusStats(int lParam) = 0;
};

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
  const std::array<Rgb, kPaletteSize>& Palette() const { return palette_; }
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
  bool GetStatistics(int area, std::int32_t& max, std::int32_t& min, std::int32_t& average,
                     std::int32_t& spread) const;
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
  void SetTestRunning(bool running);
  bool TestRunning() const;
  void SetCountingPaint(bool counting);
  std::string GetVerdictText() const;
  std::string LastVerdict() const;
  std::int32_t GetColorGridCounterPass() const;
  std::int32_t GetColorGridCounterFail() const;

  // Label text (hover read-out) and overlay letter ('\0' for none) of flags.
  static std::string NodeLabelText(std::int32_t flags);
  static char OverlayLetter(std::int32_t flags);

 private:
  GridCell& CellAt(int col, int row) { return cells_[CellIndex(col, row)]; }
  const GridCell& CellAt(int col, int row) const { return cells_[CellIndex(col, row)]; }
  std::size_t CellIndex(int col, int row) const {
    return static_cast<std::size_t>(col) * static_cast<std::size_t>(rows_) + static_cast<std::size_t>(row);
  }
  bool InMap(int col, int row) const { return col >= 0 && col < columns_ && row >= 0 && row < rows_; }
  void RebuildLines();
  void LayoutLocked();
  // flagsPending: flags_ holds flags not yet copied to cells_; they are copied
  // in the same pass that stores the colours.
  void UpdateColoursLocked(bool flagsPending = false);
  void RefreshGroupsPresent();
  void AdjacentColumn(int col, int rows, bool leftOk, bool rightOk, bool exactInt32);
  bool GatherStatistics(int area, std::int32_t& max, std::int32_t& min, std::int32_t& average,
                        std::int32_t* spread) const;
  void StatisticsChecks(int& titleParam, int& statusParam);
  void SetStatLabel(int index, const char* text, Rgb colour);
  void HideStatLabel(int index);
  void RefreshPercentFactors();

  mutable std::recursive_mutex mutex_;
  NodeMapListener* listener_ = nullptr;

  int columns_ = 0;
  int rows_ = 0;
  std::vector<GridCell> cells_;
  std::vector<GridLine> columnLines_;
  std::vector<GridLine> rowLines_;
  std::vector<GridArea> areas_;
  // Flat copies of every node's nValue, nFlags and nGroup, index for index with
  // cells_, kept in step by every operation that writes those fields. The
  // judging, statistics and colour passes run over these contiguous arrays.
  std::vector<std::int32_t> value_;
  std::vector<std::int32_t> flags_;
  std::vector<std::int32_t> group_;
  // Bit g (g < kGroupCount) set when some node is in group g; bit 31 when some
  // node is in a group beyond the colour ranges. Refreshed by the group edits.
  std::uint32_t groupsPresent_ = 0;
  // Evaluate's scratch, sized with the map: every node's value for the
  // neighbour maximum and minimum (INT32_MIN / INT32_MAX for non-TOUCH nodes),
  // with one spare entry at each end so the up/down reads stay in bounds.
  std::vector<std::int32_t> neighbourMax_;
  std::vector<std::int32_t> neighbourMin_;
  std::vector<std::int32_t> neutralMax_;    // one column of "no neighbour"
  std::vector<std::int32_t> neutralMin_;
  std::vector<std::int32_t> neutralUpper_;  // one column of limits no value exceeds
  std::vector<std::int32_t> neutralLower_;
  std::vector<std::int32_t> zeroColumn_;    // one column of "no adjacent-point hit"
  std::vector<std::int32_t> upMask_;        // per row: -1 when the up neighbour is compared
  std::vector<std::int32_t> downMask_;
  std::vector<std::int32_t> adjacentHigh_;  // per row of one column: -1 on an adjacent-point hit
  std::vector<std::int32_t> adjacentLow_;
  std::vector<std::int32_t> paletteIndex_;  // per node, for the colour style
  // Adjacent-point factors derived from every node's percentage, and the
  // largest magnitude among them (infinity when one is not finite).
  std::vector<double> highFactor_;
  std::vector<double> lowFactor_;
  double factorBound_ = 1.0;

  int nDisplayStyle = kStyleColour;
  std::array<Rgb, kPaletteSize> palette_{};
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
  StatisticsSettings stats_;
  std::string strStatistics;
  std::array<GridLabel, 4> labels_;
  GridLabel notice_;
  std::int32_t nLegendMin = 0;
  std::int32_t nLegendMax = 0;
  std::int32_t nLegendMid = 0;
  int nLineNumberBase = 0;
  bool bFrozen = false;
  bool bShowHeaders = true;

  int clientWidth_ = 0;
  int clientHeight_ = 0;
  int headerWidth_ = 0;
  int headerHeight_ = 0;

  std::string strWindowText;  // the verdict text fixed at the last repaint
  std::string strLastVerdict;
  std::int32_t nColorGridCounter_Pass = 0;
  std::int32_t nColorGridCounter_Fail = 0;
  bool bTestRunning_ = false;
  bool bCountingPaint_ = false;
};

}  // namespace varnex2::judging
