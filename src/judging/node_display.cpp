#include "judging/node_display.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace varnex2::judging {

namespace {

constexpr Rgb kWhite = MakeRgb(255, 255, 255);
constexpr Rgb kRed = MakeRgb(255, 0, 0);
constexpr Rgb kBlue = MakeRgb(0, 0, 255);

// The notice text stays well below this; reserving it keeps its updates from
// reallocating.
constexpr std::size_t kLabelCapacity = 96;

}  // namespace

NodeDisplay::NodeDisplay() {
  // Four segments of 256: blue->cyan, cyan->green, green->yellow, yellow->red.
  for (int i = 0; i < 256; ++i) {
    palette_[static_cast<std::size_t>(i)] = MakeRgb(0, i, 255);
    palette_[static_cast<std::size_t>(256 + i)] = MakeRgb(0, 255, 255 - i);
    palette_[static_cast<std::size_t>(512 + i)] = MakeRgb(i, 255, 0);
    palette_[static_cast<std::size_t>(768 + i)] = MakeRgb(255, 255 - i, 0);
  }
  notice_.strText.reserve(kLabelCapacity);
}

void NodeDisplay::Resize(std::size_t nodes) { paletteIndex_.assign(nodes, 0); }

// ---- Colours ---------------------------------------------------------------------

void NodeDisplay::SetDisplayStyle(int style) {
  nDisplayStyle = (style >= kStyleColour && style <= kStyleBackground) ? style : kStyleColour;
}

void NodeDisplay::UpdateColours(NodeCells& cells, const ColourRanges& ranges, bool flagsPending) {
  // 1-2. Range of every group; nodes that are exactly MASK take no part. One
  // branch-free pass over the flat arrays per group that has nodes.
  constexpr std::int32_t kTop = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kBottom = std::numeric_limits<std::int32_t>::min();
  std::array<std::int32_t, kGroupCount> gmin;
  std::array<std::int32_t, kGroupCount> gmax;
  gmin.fill(kTop);
  gmax.fill(kBottom);
  std::array<bool, kGroupCount> filled{};
  const std::size_t nodes = cells.Nodes();
  const std::int32_t* __restrict values = cells.Values();
  const std::int32_t* __restrict flags = cells.Flags();
  const std::int32_t* __restrict groups = cells.Groups();
  const std::uint32_t groupsPresent = cells.GroupsPresent();
  for (int g = 0; g < kGroupCount; ++g) {
    if ((groupsPresent & (1u << g)) == 0) continue;
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
  const std::vector<GridArea>& areas = cells.Areas();
  const std::int32_t testModeFlags = ranges.testModeFlags;
  const std::size_t areaGroups = std::min<std::size_t>(areas.size(), kGroupCount - 1);
  auto areaRanges = [&] {
    for (std::size_t k = 1; k <= areaGroups; ++k) {
      gmin[k] = areas[k - 1].nLow;
      gmax[k] = areas[k - 1].nHigh;
    }
  };
  if (testModeFlags & TestMode::THRESHOLD) {
    areaRanges();
    gmin[0] = ranges.touchLow;
    gmax[0] = ranges.touchHigh;
  }
  if (testModeFlags & TestMode::LIMITS) {
    for (std::size_t k = 1; k <= areaGroups; ++k) {
      gmin[k] = ranges.sampleLow;
      gmax[k] = ranges.sampleHigh;
    }
    gmin[0] = ranges.touchLow;
    gmax[0] = ranges.touchHigh;
  }
  if (testModeFlags & TestMode::DIFFERENCE) {
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
  const bool difference = (testModeFlags & TestMode::DIFFERENCE) != 0;
  const std::int64_t g0min = gmin[0];
  const std::int64_t g0span = std::abs(static_cast<std::int64_t>(gmax[0]) - gmin[0]);
  const int style = nDisplayStyle;
  GridCell* const first = cells.MutableCells();
  GridCell* const last = first + nodes;
  if (flagsPending && style != kStyleColour) {
    for (std::size_t i = 0; i < nodes; ++i) first[i].nFlags = flags[i];
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
      const bool single = (groupsPresent & ~(groupsPresent - 1)) == groupsPresent;
      if (!single || (groupsPresent & (1u << 31))) std::fill(paletteIndex_.begin(), paletteIndex_.end(), 0);
      for (int g = 0; g < kGroupCount; ++g) {
        if ((groupsPresent & (1u << g)) == 0) continue;
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
          first[i].nFlags = flags[i];
          first[i].crColor = palette[index[i]];
        }
      } else {
        for (std::size_t i = 0; i < nodes; ++i) first[i].crColor = palette[index[i]];
      }
      break;
    }
  }
}

// ---- Notice label ----------------------------------------------------------------

void NodeDisplay::SetNoticeLabel(const std::string& text, bool shown, Rgb textColour, Rgb background) {
  notice_.strText.assign(text);
  notice_.bShown = shown;
  notice_.crText = textColour;
  notice_.crBack = background;
}

// ---- Layout and hit-testing ---------------------------------------------------------

void NodeDisplay::SetClientSize(int clientWidth, int clientHeight) {
  clientWidth_ = std::max(clientWidth, 0);
  clientHeight_ = std::max(clientHeight, 0);
}

void NodeDisplay::Layout(NodeCells& cells) {
  std::vector<GridLine>& columnLines = cells.MutableColumnLines();
  std::vector<GridLine>& rowLines = cells.MutableRowLines();
  GridCell* const nodes = cells.MutableCells();
  int n = 0;
  int m = 0;
  for (const auto& line : columnLines) n += line.bVisible ? 1 : 0;
  for (const auto& line : rowLines) m += line.bVisible ? 1 : 0;
  const double W = clientWidth_;
  const double H = clientHeight_;
  headerWidth_ = bShowHeaders ? clientWidth_ / (n + 1) : 0;
  headerHeight_ = bShowHeaders ? clientHeight_ / (m + 1) : 0;
  const double hw = headerWidth_;
  const double hh = headerHeight_;
  const double cp = n > 0 ? (W - hw) / n : 0.0;
  const double rp = m > 0 ? (H - hh) / m : 0.0;
  const double top = 0.0;  // client top

  std::vector<double> colX(columnLines.size(), -1.0);
  std::vector<double> rowY(rowLines.size(), -1.0);
  int k = 0;
  for (std::size_t i = 0; i < columnLines.size(); ++i) {
    GridLine& line = columnLines[i];
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
  for (std::size_t i = 0; i < rowLines.size(); ++i) {
    GridLine& line = rowLines[i];
    if (!line.bVisible) {
      line.rcHeader = Rect{};
      continue;
    }
    const double y = hh + k++ * rp;
    rowY[i] = y;
    line.rcHeader = Rect{2, static_cast<int>(y), static_cast<int>(hw - 2), static_cast<int>(y + rp)};
  }
  for (int c = 0; c < cells.Columns(); ++c) {
    for (int r = 0; r < cells.Rows(); ++r) {
      GridCell& cell = nodes[cells.Index(c, r)];
      const double x = colX[static_cast<std::size_t>(c)];
      const double y = rowY[static_cast<std::size_t>(r)];
      if (x < 0.0 || y < 0.0) {
        cell.rcNode = Rect{};
        continue;
      }
      cell.rcNode =
          Rect{static_cast<int>(x), static_cast<int>(y), static_cast<int>(x + cp + 1), static_cast<int>(y + rp + 1)};
    }
  }
}

NodePos NodeDisplay::HitTest(const NodeCells& cells, int x, int y, bool visibleOnly) {
  const std::vector<GridLine>& columnLines = cells.ColumnLines();
  const std::vector<GridLine>& rowLines = cells.RowLines();
  for (int c = 0; c < cells.Columns(); ++c) {
    if (visibleOnly && !columnLines[static_cast<std::size_t>(c)].bVisible) continue;
    for (int r = 0; r < cells.Rows(); ++r) {
      if (visibleOnly && !rowLines[static_cast<std::size_t>(r)].bVisible) continue;
      if (cells.Cell(c, r).rcNode.Contains(x, y)) return NodePos{c, r};
    }
  }
  return NodePos{};
}

// ---- Texts of flags -------------------------------------------------------------------

std::string NodeDisplay::NodeLabelText(std::int32_t flags) {
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

char NodeDisplay::OverlayLetter(std::int32_t flags) {
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
