// NodeDisplay: colours and layout — the palette, the display style, every node's
// colour (UpdateColours), the legend, the notice label, the line-number base, the
// frozen and header switches, and the layout of nodes and headers in the client
// area with its hit-test.
//
// No lock of its own: NodeMap calls it under the map's lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "judging/node_cells.h"
#include "judging/node_types.h"

namespace varnex2::judging {

// What the colour ranges depend on besides the cells: the test modes, the touch
// thresholds and the legacy sample range.
struct ColourRanges {
  std::int32_t testModeFlags = 0;
  std::int32_t touchLow = 0;
  std::int32_t touchHigh = 0;
  std::int32_t sampleLow = 0;
  std::int32_t sampleHigh = 0;
};

class NodeDisplay {
 public:
  NodeDisplay();

  // Sizes the colour pass's scratch for the cells' node count.
  void Resize(std::size_t nodes);

  // ---- Colours -----------------------------------------------------------------
  // Out-of-range styles become kStyleColour.
  void SetDisplayStyle(int style);
  int DisplayStyle() const { return nDisplayStyle; }
  // Every node's crColor from its group's range and the style; the legend from
  // group 0. flagsPending: the cells' flat flags hold flags not yet copied to the
  // cells; they are copied in the same pass that stores the colours.
  void UpdateColours(NodeCells& cells, const ColourRanges& ranges, bool flagsPending);
  const std::array<Rgb, kPaletteSize>& Palette() const { return palette_; }
  std::int32_t LegendMin() const { return nLegendMin; }
  std::int32_t LegendMax() const { return nLegendMax; }
  std::int32_t LegendMid() const { return nLegendMid; }

  // ---- Switches and the notice label -----------------------------------------------
  void SetLineNumberBase(int base) { nLineNumberBase = base; }
  int LineNumberBase() const { return nLineNumberBase; }
  void SetFrozen(bool frozen) { bFrozen = frozen; }
  bool Frozen() const { return bFrozen; }
  void SetShowHeaders(bool show) { bShowHeaders = show; }
  bool ShowHeaders() const { return bShowHeaders; }
  void SetNoticeLabel(const std::string& text, bool shown, Rgb textColour, Rgb background);
  const GridLabel& NoticeLabel() const { return notice_; }

  // ---- Layout and hit-testing --------------------------------------------------------
  // Stores the client size (negative sizes as 0); Layout uses it.
  void SetClientSize(int clientWidth, int clientHeight);
  // Node and header rectangles of the visible lines for the stored client size.
  void Layout(NodeCells& cells);
  Rect ClientRect() const { return Rect{0, 0, clientWidth_, clientHeight_}; }
  int HeaderWidth() const { return headerWidth_; }
  int HeaderHeight() const { return headerHeight_; }
  Rect LegendRect() const { return Rect{0, 0, headerWidth_, headerHeight_}; }
  static NodePos HitTest(const NodeCells& cells, int x, int y, bool visibleOnly);

  static std::string NodeLabelText(std::int32_t flags);
  static char OverlayLetter(std::int32_t flags);

 private:
  int nDisplayStyle = kStyleColour;
  std::array<Rgb, kPaletteSize> palette_{};
  std::vector<std::int32_t> paletteIndex_;  // per node, for the colour style
  std::int32_t nLegendMin = 0;
  std::int32_t nLegendMax = 0;
  std::int32_t nLegendMid = 0;
  int nLineNumberBase = 0;
  bool bFrozen = false;
  bool bShowHeaders = true;
  GridLabel notice_;

  int clientWidth_ = 0;
  int clientHeight_ = 0;
  int headerWidth_ = 0;
  int headerHeight_ = 0;
};

}  // namespace varnex2::judging
