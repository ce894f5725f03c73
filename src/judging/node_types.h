// The node map's value types: colours, rectangles, the flag and mode bits, the
// node matrix, one node, one line, one area, one label, the statistics settings
// and the listener of Evaluate's notifications. Shared by the facade (NodeMap)
// and its parts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace varnex2::judging {

// Colour as 0xRRGGBB.
using Rgb = std::uint32_t;

constexpr Rgb MakeRgb(int r, int g, int b) {
  return (static_cast<Rgb>(r & 0xFF) << 16) | (static_cast<Rgb>(g & 0xFF) << 8) | static_cast<Rgb>(b & 0xFF);
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
inline constexpr std::int32_t LIMITS = 0x2;       // sample upper/lower limits
inline constexpr std::int32_t ADJACENT = 0x4;     // adjacent points
inline constexpr std::int32_t DIFFERENCE = 0x10;  // difference display, not judged
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
inline constexpr int kMaxLines = 256;  // largest column or row count SetGridSize accepts
inline constexpr int kPaletteSize = 1024;
inline constexpr int kScaleTop = 1023;
inline constexpr int kGroupCount = 10;  // colour-range groups 0..9

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
  std::int32_t nValue = 0;  // nOffset + nRaw, judged and displayed
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

}  // namespace varnex2::judging
