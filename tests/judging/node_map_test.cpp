// NodeMap operations other than judging: sizing, edits, areas, statistics,
// colours, layout, verdict bookkeeping.
#include "judging/node_map.h"

#include <gtest/gtest.h>

namespace varnex2::judging {
namespace {

NodeFrame Frame(int cols, int rows, std::initializer_list<std::int32_t> columnMajor) {
  NodeFrame f(cols, rows);
  auto it = columnMajor.begin();
  for (int c = 0; c < cols; ++c)
    for (int r = 0; r < rows && it != columnMajor.end(); ++r) f(c, r) = *it++;
  return f;
}

// ---- SetGridSize -------------------------------------------------------------

TEST(NodeMapSize, FreshMapIsEmptyWithDefaultState) {
  NodeMap map;
  EXPECT_TRUE(map.IsEmpty());
  EXPECT_EQ(map.TestModeFlags(), TestMode::THRESHOLD);
  EXPECT_EQ(map.ResultFlags(), ResultFlag::EVALUATION_SHOWN);
  EXPECT_EQ(map.GetDisplayStyle(), kStyleColour);
  EXPECT_EQ(map.GetNodeFlags(0, 0), 0);
  EXPECT_EQ(map.GetNodePercent(0, 0), 0);
}

TEST(NodeMapSize, ResetsNodesLinesAndLimitsButKeepsOverlappingPercent) {
  NodeMap map;
  map.SetGridSize(4, 3);
  map.SetAllPercent(1500.0);
  map.FillValues(77);
  map.SetNodeFlags(0, 0, 3, 2, NodeFlag::MASK, 0, FlagOp::Set);
  map.SetNodeGroup(0, 0, 3, 2, 2);
  map.SetUpperLimits(NodeFrame(4, 3, 9));

  map.SetGridSize(5, 2);
  ASSERT_EQ(map.Columns(), 5);
  ASSERT_EQ(map.Rows(), 2);
  for (int c = 0; c < 5; ++c) {
    for (int r = 0; r < 2; ++r) {
      const GridCell& cell = map.Cell(c, r);
      EXPECT_EQ(cell.nValue, 0);
      EXPECT_EQ(cell.nRaw, 0);
      EXPECT_EQ(cell.nFlags, NodeFlag::TOUCH);
      EXPECT_EQ(cell.nGroup, 0);
      EXPECT_DOUBLE_EQ(cell.dPercent, c < 4 ? 1500.0 : 0.0) << c << "," << r;
    }
  }
  EXPECT_EQ(map.UpperLimits(), NodeFrame(5, 2, 0));
  ASSERT_EQ(map.ColumnLines().size(), 5u);
  ASSERT_EQ(map.RowLines().size(), 2u);
  EXPECT_EQ(map.ColumnLines()[4].nNumber, 4);
  EXPECT_TRUE(map.RowLines()[1].bVisible);
}

TEST(NodeMapSize, InvalidSizesAreIgnored) {
  NodeMap map;
  map.SetGridSize(3, 3);
  map.SetGridSize(-1, 3);
  map.SetGridSize(3, kMaxLines + 1);
  EXPECT_EQ(map.Columns(), 3);
  EXPECT_EQ(map.Rows(), 3);
  map.SetGridSize(0, 0);
  EXPECT_TRUE(map.IsEmpty());
}

// ---- Values, offsets, percentages ----------------------------------------------

TEST(NodeMapValues, FillValuesAndOffsetsClearJudgingBitsOnly) {
  NodeMap map;
  map.SetGridSize(2, 2);
  map.SetResultFlags(ResultFlag::EVALUATION_SHOWN | ResultFlag::TOUCH_NG | ResultFlag::KEY_NG |
                     ResultFlag::SHORT_FOUND);
  map.FillValues(5);
  EXPECT_EQ(map.ResultFlags(), ResultFlag::EVALUATION_SHOWN | ResultFlag::SHORT_FOUND);
  EXPECT_EQ(map.Cell(1, 1).nValue, 5);
  EXPECT_EQ(map.Cell(1, 1).nRaw, 5);

  map.SetResultFlags(ResultFlag::TOUCH_NG);
  map.SetAllOffsets(100);
  EXPECT_EQ(map.ResultFlags(), 0);
  map.Evaluate(NodeFrame(2, 2, 7));
  EXPECT_EQ(map.Cell(0, 1).nRaw, 7);
  EXPECT_EQ(map.Cell(0, 1).nValue, 107);
  EXPECT_EQ(map.GetRawFrame(), NodeFrame(2, 2, 7));
}

TEST(NodeMapValues, PercentEditsTruncateAndIgnoreOutOfRange) {
  NodeMap map;
  map.SetGridSize(3, 3);
  map.SetNodePercent(1, 1, 999.9);
  EXPECT_EQ(map.GetNodePercent(1, 1), 999);
  map.SetNodePercent(3, 0, 50.0);  // out of range: nothing
  EXPECT_EQ(map.GetNodePercent(3, 0), 0);
  EXPECT_EQ(map.GetPercentArray()(1, 1), 999);

  map.SetNodeFlags(0, 0, 0, 0, NodeFlag::MASK, 0, FlagOp::Set);
  map.SetPercentInRect(2, 2, 0, 0, 1200.0, NodeFlag::MASK);  // ends in either order
  EXPECT_EQ(map.GetNodePercent(0, 0), 0);
  EXPECT_EQ(map.GetNodePercent(2, 2), 1200);
  map.SetPercentInRect(0, 0, 3, 3, 5.0, 0);  // one end outside: nothing
  EXPECT_EQ(map.GetNodePercent(1, 1), 1200);

  map.SetPercentArray(NodeFrame(2, 5, 300));  // overlapping part only
  EXPECT_EQ(map.GetNodePercent(1, 2), 300);
  EXPECT_EQ(map.GetNodePercent(2, 2), 1200);
}

TEST(NodeMapValues, LimitArraysOfAnotherSizeAreIgnored) {
  NodeMap map;
  map.SetGridSize(3, 2);
  map.SetUpperLimits(NodeFrame(3, 2, 500));
  map.SetUpperLimits(NodeFrame(2, 3, 1));
  map.SetLowerLimits(NodeFrame(3, 3, 1));
  EXPECT_EQ(map.UpperLimits(), NodeFrame(3, 2, 500));
  EXPECT_EQ(map.LowerLimits(), NodeFrame(3, 2, 0));
}

// ---- Flags ------------------------------------------------------------------------

TEST(NodeMapFlags, SetOrClearWithSkipMaskAndEitherOrder) {
  NodeMap map;
  map.SetGridSize(4, 4);
  map.SetNodeFlags(1, 1, 1, 1, NodeFlag::MASK, 0, FlagOp::Set);
  map.SetNodeFlags(2, 3, 0, 0, NodeFlag::HIGH, NodeFlag::MASK, FlagOp::Or);
  EXPECT_EQ(map.GetNodeFlags(1, 1), NodeFlag::MASK);
  EXPECT_EQ(map.GetNodeFlags(0, 3), NodeFlag::TOUCH | NodeFlag::HIGH);
  EXPECT_EQ(map.GetNodeFlags(3, 0), NodeFlag::TOUCH);
  map.SetAllNodeFlags(NodeFlag::HIGH | NodeFlag::MASK, FlagOp::Clear);
  EXPECT_EQ(map.GetNodeFlags(1, 1), 0);
  EXPECT_EQ(map.GetNodeFlags(0, 3), NodeFlag::TOUCH);
}

TEST(NodeMapFlags, OneCornerBeyondTheMapChangesNothing) {
  NodeMap map;
  map.SetGridSize(4, 4);
  map.SetNodeFlags(0, 0, 4, 3, NodeFlag::MASK, 0, FlagOp::Set);
  map.SetNodeFlags(-1, 0, 2, 2, NodeFlag::MASK, 0, FlagOp::Set);
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) EXPECT_EQ(map.GetNodeFlags(c, r), NodeFlag::TOUCH);
  EXPECT_EQ(map.GetNodeFlags(4, 0), 0);
}

TEST(NodeMapFlags, LabelTextAndOverlayLetter) {
  EXPECT_EQ(NodeMap::NodeLabelText(NodeFlag::TOUCH), "");
  EXPECT_EQ(NodeMap::NodeLabelText(NodeFlag::KEY | NodeFlag::HIGH | NodeFlag::LOW), "KEYHIGH");
  EXPECT_EQ(NodeMap::NodeLabelText(NodeFlag::ZERO | NodeFlag::SHORT2 | NodeFlag::PASS), "ZEROSHORTPASS");
  EXPECT_EQ(NodeMap::NodeLabelText(NodeFlag::MASK | NodeFlag::HIGH | NodeFlag::FAIL), "MASK");
  EXPECT_EQ(NodeMap::OverlayLetter(NodeFlag::TOUCH), '\0');
  EXPECT_EQ(NodeMap::OverlayLetter(NodeFlag::LOW | NodeFlag::HIGH), 'H');
  EXPECT_EQ(NodeMap::OverlayLetter(NodeFlag::SHORT3 | NodeFlag::SHORT1), 'S');
  EXPECT_EQ(NodeMap::OverlayLetter(NodeFlag::PASS | NodeFlag::FAIL | NodeFlag::LOW), 'F');
}

// ---- Areas ---------------------------------------------------------------------------

TEST(NodeMapAreas, AddAreaOnlyInOrderAndAtMostTwo) {
  NodeMap map;
  map.SetGridSize(10, 8);
  map.AddArea(1, 2, 3, 4, 1);  // key area before a touch area: refused
  EXPECT_EQ(map.AreaCount(), 0);
  map.AddArea(1, 2, 3, 4, 0);  // rows 1..3, columns 2..5
  map.AddArea(0, 0, 1, 1, 0);  // second touch area: refused
  ASSERT_EQ(map.AreaCount(), 1);
  const GridArea& a = map.Areas()[0];
  EXPECT_EQ(a.nFirstCol, 2);
  EXPECT_EQ(a.nFirstRow, 1);
  EXPECT_EQ(a.nSecondCol, 5);
  EXPECT_EQ(a.nSecondRow, 3);
  EXPECT_EQ(a.nHigh, 30000);
  EXPECT_EQ(a.nLow, 10000);
  EXPECT_FALSE(a.bEnabled);
  map.AddArea(5, 6, 2, 2, 1);
  map.AddArea(5, 6, 2, 2, 1);
  EXPECT_EQ(map.AreaCount(), 2);
  EXPECT_EQ(map.AppendArea(GridArea{}), -1);

  int x = -5, y = -5, xc = -5, yc = -5;
  ASSERT_TRUE(map.GetAreaRect(0, x, y, xc, yc));
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 2);
  EXPECT_EQ(xc, 3);
  EXPECT_EQ(yc, 4);
  EXPECT_FALSE(map.GetAreaRect(2, x, y, xc, yc));
  EXPECT_EQ(x, 1);
}

TEST(NodeMapAreas, AreaDrawnBackwardsReportsNormalisedRect) {
  NodeMap map;
  map.SetGridSize(10, 8);
  GridArea area;
  area.nFirstCol = 7;
  area.nFirstRow = 6;
  area.nSecondCol = 3;
  area.nSecondRow = 2;
  ASSERT_EQ(map.AppendArea(area), 0);
  int x = 0, y = 0, xc = 0, yc = 0;
  ASSERT_TRUE(map.GetAreaRect(0, x, y, xc, yc));
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 3);
  EXPECT_EQ(xc, 5);
  EXPECT_EQ(yc, 5);
}

TEST(NodeMapAreas, ThresholdsOnlyForEnabledAreaAndClearResetsGroups) {
  NodeMap map;
  map.SetGridSize(4, 4);
  map.AddArea(0, 0, 2, 2, 0);
  map.SetAreaThresholds(500, 100, 0);
  EXPECT_EQ(map.Areas()[0].nHigh, 30000);
  map.MutableArea(0)->bEnabled = true;
  map.SetAreaThresholds(500, 100, 0);
  EXPECT_EQ(map.Areas()[0].nHigh, 500);
  EXPECT_EQ(map.Areas()[0].nLow, 100);
  EXPECT_EQ(map.MutableArea(1), nullptr);

  ASSERT_TRUE(map.StampAreaGroup(0, 1));
  EXPECT_EQ(map.GetNodeGroup(1, 1), 1);
  EXPECT_EQ(map.GetNodeGroup(2, 1), 0);
  map.ClearAreas();
  EXPECT_EQ(map.AreaCount(), 0);
  EXPECT_EQ(map.GetNodeGroup(1, 1), 0);
}

// ---- Statistics ---------------------------------------------------------------------------

TEST(NodeMapStatistics, WholeMapWithoutAreasMaskLeftOut) {
  NodeMap map;
  map.SetGridSize(2, 2);
  map.Evaluate(Frame(2, 2, {10, 20, 30, 1000}));
  map.SetNodeFlags(1, 1, 1, 1, NodeFlag::MASK | NodeFlag::TOUCH, 0, FlagOp::Set);
  std::int32_t max = 0, min = 0, avg = 0, spread = 0;
  ASSERT_TRUE(map.GetStatistics(0, max, min, avg, spread));
  EXPECT_EQ(max, 30);
  EXPECT_EQ(min, 10);
  EXPECT_EQ(avg, 20);
  EXPECT_EQ(spread, 8);  // sqrt(200 / 3) = 8.16
}

TEST(NodeMapStatistics, SpreadIsTruncatedPopulationDeviationAroundIntegerAverage) {
  NodeMap map;
  map.SetGridSize(4, 1);
  map.Evaluate(Frame(4, 1, {2, 4, 4, 5}));  // average 15/4 -> 3; squares 1+1+1+4 = 7; sqrt(7/4) = 1.32
  std::int32_t max = 0, min = 0, avg = 0, spread = 0;
  map.GetStatistics(0, max, min, avg, spread);
  EXPECT_EQ(avg, 3);
  EXPECT_EQ(spread, 1);

  map.Evaluate(Frame(4, 1, {-7, 0, 0, 0}));  // -7 / 4 truncates toward zero: -1
  map.GetStatistics(0, max, min, avg, spread);
  EXPECT_EQ(avg, -1);
  EXPECT_EQ(spread, 3);  // (36 + 1 + 1 + 1) / 4 = 9.75 -> 3.12

  map.Evaluate(Frame(4, 1, {0, 0, 6, 8}));  // avg 3: 9+9+9+25 = 52 / 4 = 13 -> 3.6
  map.GetStatistics(0, max, min, avg, spread);
  EXPECT_EQ(spread, 3);
  map.Evaluate(Frame(4, 1, {0, 0, 8, 8}));  // avg 4: 16 * 4 / 4 = 16 -> exactly 4
  map.GetStatistics(0, max, min, avg, spread);
  EXPECT_EQ(spread, 4);
}

TEST(NodeMapStatistics, SingleNodeGivesZeroSpreadEmptySetGivesMinusOne) {
  NodeMap map;
  map.SetGridSize(2, 1);
  map.Evaluate(Frame(2, 1, {42, 5}));
  map.SetNodeFlags(1, 0, 1, 0, NodeFlag::MASK, 0, FlagOp::Set);
  std::int32_t max = 0, min = 0, avg = 0, spread = 9;
  map.GetStatistics(0, max, min, avg, spread);
  EXPECT_EQ(max, 42);
  EXPECT_EQ(spread, 0);
  map.SetNodeFlags(0, 0, 0, 0, NodeFlag::MASK, 0, FlagOp::Set);
  map.GetStatistics(0, max, min, avg, spread);
  EXPECT_EQ(max, -1);
  EXPECT_EQ(min, -1);
  EXPECT_EQ(avg, -1);
  EXPECT_EQ(spread, -1);
}

TEST(NodeMapStatistics, ExtremeValuesDoNotOverflow) {
  NodeMap map;
  map.SetGridSize(2, 1);
  map.Evaluate(Frame(2, 1, {INT32_MIN, INT32_MAX}));
  std::int32_t max = 0, min = 0, avg = 0, spread = 0;
  map.GetStatistics(0, max, min, avg, spread);
  EXPECT_EQ(max, INT32_MAX);
  EXPECT_EQ(min, INT32_MIN);
  EXPECT_EQ(avg, 0);             // -1 / 2 truncates to 0
  EXPECT_EQ(spread, INT32_MAX);  // sqrt(2^62 - 2^31 + 0.5)
}

TEST(NodeMapStatistics, AreaRectangleAndIndexRules) {
  NodeMap map;
  map.SetGridSize(4, 4);
  NodeFrame f(4, 4);
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) f(c, r) = 100 * c + r;
  map.Evaluate(f);
  GridArea area;
  area.nFirstCol = 2;
  area.nFirstRow = 3;
  area.nSecondCol = 1;
  area.nSecondRow = 2;  // columns 1..2, rows 2..3
  map.AppendArea(area);
  std::int32_t max = 7, min = 7, avg = 7, spread = 7;
  EXPECT_FALSE(map.GetStatistics(1, max, min, avg, spread));
  EXPECT_EQ(max, 7);
  ASSERT_TRUE(map.GetStatisticsBrief(0, max, min, avg));
  EXPECT_EQ(max, 203);
  EXPECT_EQ(min, 102);
  EXPECT_EQ(avg, 152);  // (102 + 103 + 202 + 203) / 4
  EXPECT_EQ(spread, 7);
  NodeMap empty;
  EXPECT_TRUE(empty.GetStatistics(0, max, min, avg, spread));
  EXPECT_EQ(max, -1);
  EXPECT_FALSE(empty.GetStatistics(1, max, min, avg, spread));
}

// ---- Colours ---------------------------------------------------------------------------------

TEST(NodeMapColours, RangeOfGroupZeroMaskOnlyExcluded) {
  NodeMap map;
  map.SetTestModeFlags(0);  // ranges from the values themselves
  map.SetGridSize(3, 1);
  map.Evaluate(Frame(3, 1, {0, 1023, 50000}));
  map.SetNodeFlags(2, 0, 2, 0, NodeFlag::MASK, 0, FlagOp::Set);
  map.UpdateColours();
  EXPECT_EQ(map.LegendMin(), 0);
  EXPECT_EQ(map.LegendMax(), 1023);
  EXPECT_EQ(map.LegendMid(), 511);
  EXPECT_EQ(map.Cell(0, 0).crColor, MakeRgb(0, 0, 255));
  EXPECT_EQ(map.Cell(1, 0).crColor, MakeRgb(255, 0, 0));

  // MASK together with another bit takes part in the range.
  map.SetNodeFlags(2, 0, 2, 0, NodeFlag::MASK | NodeFlag::TOUCH, 0, FlagOp::Set);
  map.UpdateColours();
  EXPECT_EQ(map.LegendMax(), 50000);
  EXPECT_EQ(map.Cell(1, 0).crColor, map.Palette()[1023 * 1023 / 50000]);
}

TEST(NodeMapColours, ThresholdModeScalesGroupZeroToTouchThresholds) {
  NodeMap map;
  map.SetGridSize(3, 1);
  map.SetTouchThresholds(1000, 2023);
  map.Evaluate(Frame(3, 1, {500, 1512, 3000}));
  EXPECT_EQ(map.Cell(0, 0).crColor, map.Palette()[0]);     // below the range: clamped
  EXPECT_EQ(map.Cell(1, 0).crColor, map.Palette()[512]);   // (1512 - 1000) * 1023 / 1023
  EXPECT_EQ(map.Cell(2, 0).crColor, map.Palette()[1023]);  // above: clamped
  EXPECT_EQ(map.LegendMax(), 3000);                        // the legend shows the values, not the thresholds
}

TEST(NodeMapColours, AreaGroupsAndLegacySampleRange) {
  NodeMap map;
  map.SetGridSize(2, 1);
  map.AddArea(0, 1, 1, 1, 0);
  map.SetNodeGroup(1, 0, 1, 0, 1);
  map.SetTestModeFlags(TestMode::THRESHOLD);  // area 0: [10000, 30000]
  map.Evaluate(Frame(2, 1, {0, 20000}));
  EXPECT_EQ(map.Cell(1, 0).crColor, map.Palette()[511]);  // 10000 * (1023 / 20000) = 511.5
  map.SetLegacySampleRange(19000, 21000);
  map.SetTestModeFlags(TestMode::THRESHOLD | TestMode::LIMITS);
  map.UpdateColours();
  EXPECT_EQ(map.Cell(1, 0).crColor, map.Palette()[511]);  // 1000 * 1023 / 2000
  map.SetLegacySampleRange(20000, 20000);
  map.UpdateColours();
  EXPECT_EQ(map.Cell(1, 0).crColor, map.Palette()[0]);  // zero span
}

TEST(NodeMapColours, DifferenceDisplayScalesFromOwnMinimumEvenWithThresholdMode) {
  NodeMap map;
  map.SetGridSize(2, 1);
  map.SetTouchThresholds(19000, 28000);
  map.SetTestModeFlags(TestMode::THRESHOLD | TestMode::DIFFERENCE);
  map.Evaluate(Frame(2, 1, {24, 536}));  // range [24, 1024]: factor 1023 / 1000
  EXPECT_EQ(map.Cell(0, 0).crColor, map.Palette()[0]);
  EXPECT_EQ(map.Cell(1, 0).crColor, map.Palette()[523]);  // 512 * 1.023 = 523.8
}

TEST(NodeMapColours, EqualValuesGetFirstPaletteEntry) {
  NodeMap map;
  map.SetTestModeFlags(0);
  map.SetGridSize(2, 2);
  map.FillValues(777);
  for (int c = 0; c < 2; ++c)
    for (int r = 0; r < 2; ++r) EXPECT_EQ(map.Cell(c, r).crColor, MakeRgb(0, 0, 255));
}

TEST(NodeMapColours, DisplayStyles) {
  NodeMap map;
  map.SetGridSize(3, 1);
  map.SetNodeFlags(0, 0, 0, 0, NodeFlag::LOW | NodeFlag::HIGH | NodeFlag::TOUCH, 0, FlagOp::Set);
  map.SetNodeFlags(1, 0, 1, 0, NodeFlag::SHORT1 | NodeFlag::SHORT3 | NodeFlag::LOW, 0, FlagOp::Set);
  map.SetDisplayStyle(kStyleBackground);
  EXPECT_EQ(map.Cell(0, 0).crColor, MakeRgb(255, 0, 0));
  EXPECT_EQ(map.Cell(1, 0).crColor, MakeRgb(255, 255, 0));
  EXPECT_EQ(map.Cell(2, 0).crColor, MakeRgb(199, 237, 204));
  map.SetDisplayStyle(kStyleMono);
  EXPECT_EQ(map.Cell(2, 0).crColor, MakeRgb(204, 232, 207));
  map.SetDisplayStyle(7);
  EXPECT_EQ(map.GetDisplayStyle(), kStyleColour);
  map.SetDisplayStyle(kStyleText);
  EXPECT_EQ(map.Cell(2, 0).crColor, MakeRgb(200, 200, 200));
}

TEST(NodeMapColours, TextStyleInDifferenceDisplayShadesLargeDifferences) {
  NodeMap map;
  map.SetGridSize(3, 1);
  map.SetDisplayStyle(kStyleText);
  map.SetTestModeFlags(TestMode::DIFFERENCE);
  // Group 0 range becomes [0, 1024]: m = (0 + v) * 255 / 1024.
  map.Evaluate(Frame(3, 1, {0, 256, 512}));
  EXPECT_EQ(map.Cell(0, 0).crColor, MakeRgb(255, 255, 255));
  EXPECT_EQ(map.Cell(1, 0).crColor, MakeRgb(255, 255, 255));
  EXPECT_EQ(map.Cell(2, 0).crColor, MakeRgb(255, 255 - 127, 255 - 127));
}

// ---- Layout and hit-testing --------------------------------------------------------------------

TEST(NodeMapLayout, PitchTruncationAndOverlap) {
  NodeMap map;
  map.SetGridSize(3, 2);
  map.Layout(101, 50);
  // hw = 101 / 4 = 25, hh = 50 / 3 = 16, cp = 76 / 3, rp = 34 / 2 = 17.
  EXPECT_EQ(map.HeaderWidth(), 25);
  EXPECT_EQ(map.HeaderHeight(), 16);
  EXPECT_EQ(map.Cell(0, 0).rcNode, (Rect{25, 16, 51, 34}));
  EXPECT_EQ(map.Cell(1, 1).rcNode, (Rect{50, 33, 76, 51}));
  // 25 + 3 * cp + 1 is 101.99999999999999 in double precision: truncated to 101.
  EXPECT_EQ(map.Cell(2, 0).rcNode, (Rect{75, 16, 101, 34}));
  EXPECT_EQ(map.ColumnLines()[1].rcHeader, (Rect{50, 1, 73, 15}));
  EXPECT_EQ(map.RowLines()[1].rcHeader, (Rect{2, 33, 23, 50}));
  EXPECT_EQ(map.LegendRect(), (Rect{0, 0, 25, 16}));
  EXPECT_EQ(map.ClientRect(), (Rect{0, 0, 101, 50}));
}

TEST(NodeMapLayout, HitTestFirstHitColumnsOuter) {
  NodeMap map;
  map.SetGridSize(3, 2);
  map.Layout(101, 50);
  EXPECT_EQ(map.HitTest(25, 16), (NodePos{0, 0}));
  EXPECT_EQ(map.HitTest(50, 33), (NodePos{0, 0}));  // overlap pixel: column 0, row 0 is first
  EXPECT_EQ(map.HitTest(51, 34), (NodePos{1, 1}));
  EXPECT_EQ(map.HitTest(10, 10), (NodePos{-1, -1}));
  EXPECT_EQ(map.HitTest(100, 49), (NodePos{2, 1}));
  EXPECT_EQ(map.HitTest(101, 49), (NodePos{-1, -1}));
  NodeMap empty;
  empty.Layout(100, 100);
  EXPECT_FALSE(empty.HitTest(50, 50).Valid());
}

// ---- Labels -------------------------------------------------------------------------------------

TEST(NodeMapLabels, OnlyOneToFourAreStored) {
  NodeMap map;
  map.SetLabel(0, "x", true, 1, 2);
  map.SetLabel(5, "x", true, 1, 2);
  map.SetLabel(4, "四", true, 3, 4);
  EXPECT_FALSE(map.StatisticsLabel(1).bShown);
  EXPECT_EQ(map.StatisticsLabel(4).strText, "四");
  EXPECT_EQ(map.StatisticsLabel(4).crBack, 4u);
  EXPECT_FALSE(map.StatisticsLabel(5).bShown);
  map.SetNoticeLabel("设备未连接", true, 0xFFFFFF, 0x808080);
  EXPECT_TRUE(map.NoticeLabel().bShown);
  EXPECT_EQ(map.NoticeLabel().strText, "设备未连接");
}

// ---- Verdict text and counters ---------------------------------------------------------------------

TEST(NodeMapVerdict, TextFromResultWord) {
  EXPECT_STREQ(NodeMap::VerdictFor(ResultFlag::EVALUATION_SHOWN), "PASS");
  EXPECT_STREQ(NodeMap::VerdictFor(0), "PASS");
  EXPECT_STREQ(NodeMap::VerdictFor(ResultFlag::EVALUATION_SHOWN | ResultFlag::TOUCH_NG), "FAIL");
  EXPECT_STREQ(NodeMap::VerdictFor(ResultFlag::KEY_NG), "FAIL");
  EXPECT_STREQ(NodeMap::VerdictFor(ResultFlag::SHORT_FOUND), "FAIL");
  EXPECT_STREQ(NodeMap::VerdictFor(ResultFlag::TOUCH_NG | ResultFlag::SHORT_LINE_NOT_FOUND), "");
  EXPECT_STREQ(NodeMap::VerdictFor(0x100), "");  // an unknown bit is neither PASS nor FAIL
}

TEST(NodeMapVerdict, CountersRunFromZeroAfterEachChange) {
  NodeMap map;
  map.SetResultFlags(ResultFlag::EVALUATION_SHOWN | ResultFlag::TOUCH_NG);
  std::vector<int> fails;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(map.FixVerdict(), "FAIL");
    fails.push_back(map.GetColorGridCounterFail());
  }
  EXPECT_EQ(fails, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(map.GetColorGridCounterPass(), 0);

  map.SetResultFlags(ResultFlag::EVALUATION_SHOWN);
  EXPECT_EQ(map.FixVerdict(), "PASS");
  EXPECT_EQ(map.GetColorGridCounterPass(), 0);
  EXPECT_EQ(map.GetColorGridCounterFail(), 0);
  EXPECT_EQ(map.GetVerdictText(), "PASS");

  map.SetResultFlags(ResultFlag::TOUCH_NG);
  map.FixVerdict();
  EXPECT_EQ(map.GetColorGridCounterFail(), 0);
  map.FixVerdict();
  EXPECT_EQ(map.GetColorGridCounterFail(), 1);

  map.SetResultFlags(ResultFlag::SHORT_LINE_NOT_FOUND);
  EXPECT_EQ(map.FixVerdict(), "");
  map.FixVerdict();
  EXPECT_EQ(map.GetColorGridCounterPass(), 0);
  EXPECT_EQ(map.GetColorGridCounterFail(), 0);
  EXPECT_EQ(map.LastVerdict(), "");
}

}  // namespace
}  // namespace varnex2::judging
