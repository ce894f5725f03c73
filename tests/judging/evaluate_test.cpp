// Judging: Evaluate (node pass, adjacent points, statistics), MarkPinFault and
// the verdict they lead to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "judging/node_map.h"

namespace varnex2::judging {
namespace {

struct RecordingListener : NodeMapListener {
  std::vector<int> title;
  std::vector<int> status;
  void OnShowTitleStats(int lParam) override { title.push_back(lParam); }
  void OnShowStatusStats(int lParam) override { status.push_back(lParam); }
};

// A map ready for judging with all node checks on.
class EvaluateTest : public ::testing::Test {
 protected:
  void Size(int cols, int rows) {
    map.SetGridSize(cols, rows);
    map.SetCheckEnables(CheckEnable::ALL);
    map.SetResultFlags(ResultFlag::EVALUATION_SHOWN);
  }
  void Modes(std::int32_t modes) { map.SetTestModeFlags(modes); }
  // An enabled touch area over columns c1..c2, rows r1..r2.
  void TouchArea(int c1, int r1, int c2, int r2) {
    map.AddArea(r1, c1, r2 - r1 + 1, c2 - c1 + 1, 0);
    map.MutableArea(0)->bEnabled = true;
  }
  bool Has(int col, int row, std::int32_t flag) { return (map.GetNodeFlags(col, row) & flag) != 0; }
  std::string Verdict() { return map.FixVerdict(); }

  NodeMap map;
};

// ---- Threshold and limit modes --------------------------------------------------

TEST_F(EvaluateTest, ThresholdComparisonsAreStrict) {
  Size(4, 1);
  map.SetTouchThresholds(100, 200);
  NodeFrame f(4, 1);
  f(0, 0) = 200;
  f(1, 0) = 100;
  f(2, 0) = 150;
  f(3, 0) = 150;
  map.Evaluate(f);
  EXPECT_EQ(map.ResultFlags() & ResultFlag::TOUCH_NG, 0);
  EXPECT_EQ(Verdict(), "PASS");

  f(0, 0) = 201;
  f(1, 0) = 99;
  map.Evaluate(f);
  EXPECT_TRUE(Has(0, 0, NodeFlag::HIGH));
  EXPECT_FALSE(Has(0, 0, NodeFlag::LOW));
  EXPECT_TRUE(Has(1, 0, NodeFlag::LOW));
  EXPECT_FALSE(Has(2, 0, NodeFlag::HIGH | NodeFlag::LOW));
  EXPECT_NE(map.ResultFlags() & ResultFlag::TOUCH_NG, 0);
  EXPECT_EQ(Verdict(), "FAIL");

  // Bits describe the last frame only.
  f(0, 0) = 150;
  f(1, 0) = 150;
  map.Evaluate(f);
  EXPECT_FALSE(Has(0, 0, NodeFlag::HIGH));
  EXPECT_FALSE(Has(1, 0, NodeFlag::LOW));
  EXPECT_EQ(Verdict(), "PASS");
}

TEST_F(EvaluateTest, UpperAndLowerLimitsPerNode) {
  Size(2, 1);
  Modes(TestMode::LIMITS);
  map.SetUpperLimits(NodeFrame(2, 1, 500));
  map.SetLowerLimits(NodeFrame(2, 1, 300));
  NodeFrame f(2, 1);
  f(0, 0) = 500;
  f(1, 0) = 300;
  map.Evaluate(f);
  EXPECT_EQ(Verdict(), "PASS");
  f(0, 0) = 501;
  f(1, 0) = 299;
  map.Evaluate(f);
  EXPECT_TRUE(Has(0, 0, NodeFlag::HIGH));
  EXPECT_TRUE(Has(1, 0, NodeFlag::LOW));
  EXPECT_EQ(Verdict(), "FAIL");
}

TEST_F(EvaluateTest, EnabledModesActTogether) {
  Size(1, 1);
  Modes(TestMode::THRESHOLD | TestMode::LIMITS);
  map.SetTouchThresholds(0, 1000);
  map.SetUpperLimits(NodeFrame(1, 1, 600));
  map.SetLowerLimits(NodeFrame(1, 1, 0));
  map.Evaluate(NodeFrame(1, 1, 700));  // passes the thresholds, fails the limit
  EXPECT_TRUE(Has(0, 0, NodeFlag::HIGH));
  EXPECT_EQ(Verdict(), "FAIL");
}

TEST_F(EvaluateTest, ZeroNodeIsFlaggedAndSkipsHighLow) {
  Size(2, 1);
  map.SetTouchThresholds(100, 200);
  NodeFrame f(2, 1, 150);
  f(0, 0) = 0;
  map.Evaluate(f);
  EXPECT_EQ(map.GetNodeFlags(0, 0), NodeFlag::TOUCH | NodeFlag::ZERO);
  EXPECT_EQ(Verdict(), "PASS");
  map.Evaluate(NodeFrame(2, 1, 150));
  EXPECT_FALSE(Has(0, 0, NodeFlag::ZERO));
}

TEST_F(EvaluateTest, KeyNodesUseKeyThresholdsAndKeyBit) {
  Size(3, 1);
  map.SetTouchThresholds(0, 100000);
  map.SetKeyThresholds(100, 200);
  map.SetNodeFlags(0, 0, 0, 0, NodeFlag::KEY, 0, FlagOp::Set);
  map.SetNodeFlags(1, 0, 1, 0, NodeFlag::MASK, 0, FlagOp::Set);
  NodeFrame f(3, 1, 150);
  f(0, 0) = 201;
  f(1, 0) = 999999;  // MASK-only: never judged
  map.Evaluate(f);
  EXPECT_TRUE(Has(0, 0, NodeFlag::HIGH));
  EXPECT_FALSE(Has(1, 0, NodeFlag::HIGH));
  EXPECT_EQ(map.ResultFlags() & (ResultFlag::TOUCH_NG | ResultFlag::KEY_NG), ResultFlag::KEY_NG);
  f(0, 0) = 99;
  map.Evaluate(f);
  EXPECT_TRUE(Has(0, 0, NodeFlag::LOW));
  EXPECT_EQ(Verdict(), "FAIL");
}

TEST_F(EvaluateTest, NoModesAndNoStatisticsAlwaysPass) {
  Size(3, 3);
  Modes(0);
  NodeFrame f(3, 3, -5);
  f(1, 1) = 1 << 30;
  map.Evaluate(f);
  EXPECT_EQ(Verdict(), "PASS");
}

TEST_F(EvaluateTest, DisabledChecksKeepLastBits) {
  Size(1, 1);
  map.SetTouchThresholds(100, 200);
  map.Evaluate(NodeFrame(1, 1, 300));
  EXPECT_TRUE(Has(0, 0, NodeFlag::HIGH));
  map.SetCheckEnables(0);  // difference mode
  map.Evaluate(NodeFrame(1, 1, 0));
  EXPECT_TRUE(Has(0, 0, NodeFlag::HIGH));
  EXPECT_FALSE(Has(0, 0, NodeFlag::ZERO));
  EXPECT_EQ(Verdict(), "PASS");  // only statistics and pin faults can fail now
}

// ---- Frame extents -------------------------------------------------------------------

TEST_F(EvaluateTest, FrameWithoutColumnsChangesNothing) {
  Size(2, 2);
  RecordingListener listener;
  map.SetListener(&listener);
  map.SetScreenThresholdEnable(true);
  map.SetRawdataMaxEnable(true);
  map.SetViewMode(ViewModeBit::LABELS | ViewModeBit::TITLE);
  map.Evaluate(NodeFrame(2, 2, 5));
  const std::string text = map.StatisticsText();
  ASSERT_FALSE(text.empty());
  map.SetResultFlags(ResultFlag::TOUCH_NG | ResultFlag::EVALUATION_SHOWN);
  listener.title.clear();

  map.Evaluate(NodeFrame(0, 7));
  EXPECT_EQ(map.StatisticsText(), text);
  EXPECT_EQ(map.ResultFlags(), ResultFlag::TOUCH_NG | ResultFlag::EVALUATION_SHOWN);
  EXPECT_EQ(map.Cell(1, 1).nValue, 5);
  EXPECT_TRUE(map.StatisticsLabel(1).bShown);
  EXPECT_TRUE(listener.title.empty());
}

TEST_F(EvaluateTest, OnlyTheOverlapIsJudged) {
  Size(3, 3);
  map.SetTouchThresholds(100, 200);
  map.Evaluate(NodeFrame(3, 3, 150));
  NodeFrame small(2, 2, 300);
  map.Evaluate(small);
  EXPECT_TRUE(Has(1, 1, NodeFlag::HIGH));
  EXPECT_FALSE(Has(2, 2, NodeFlag::HIGH));
  EXPECT_EQ(map.Cell(2, 0).nValue, 150);
  NodeFrame big(5, 5, 50);
  map.Evaluate(big);
  EXPECT_TRUE(Has(2, 2, NodeFlag::LOW));
  EXPECT_EQ(map.Cell(2, 2).nValue, 50);
}

// ---- Adjacent points ---------------------------------------------------------------------

class AdjacentTest : public EvaluateTest {
 protected:
  void SetUp() override {
    Size(5, 5);
    Modes(TestMode::ADJACENT);
  }
};

TEST_F(AdjacentTest, TenPercentExample) {
  TouchArea(0, 0, 4, 4);
  map.SetNodePercent(2, 2, 1000);  // 10 %
  NodeFrame f(5, 5, 1000);
  f(3, 2) = 1101;
  map.Evaluate(f);
  EXPECT_TRUE(Has(2, 2, NodeFlag::HIGH));
  f(3, 2) = 1100;
  map.Evaluate(f);
  EXPECT_FALSE(Has(2, 2, NodeFlag::HIGH));
  f(1, 2) = 899;
  map.Evaluate(f);
  EXPECT_TRUE(Has(2, 2, NodeFlag::LOW));
  f(1, 2) = 900;
  map.Evaluate(f);
  EXPECT_FALSE(Has(2, 2, NodeFlag::LOW));
}

TEST_F(AdjacentTest, PercentIsTruncatedBeforeScaling) {
  TouchArea(0, 0, 4, 4);
  map.SetNodePercent(2, 2, 999.9);  // acts as 999: scaled high = trunc(100000 * 1.0999) = 109990
  NodeFrame f(5, 5, 100000);
  f(2, 1) = 109995;
  map.Evaluate(f);
  EXPECT_TRUE(Has(2, 2, NodeFlag::HIGH));
}

TEST_F(AdjacentTest, HighAndLowTogether) {
  TouchArea(0, 0, 4, 4);
  NodeFrame f(5, 5, 1000);
  f(1, 2) = 999;
  f(3, 2) = 1001;
  map.Evaluate(f);
  EXPECT_TRUE(Has(2, 2, NodeFlag::HIGH));
  EXPECT_TRUE(Has(2, 2, NodeFlag::LOW));
}

TEST_F(AdjacentTest, NothingComparedWithoutEnabledTouchArea) {
  NodeFrame f(5, 5, 1000);
  f(3, 2) = 5000;
  map.Evaluate(f);
  EXPECT_EQ(Verdict(), "PASS");
  map.AddArea(0, 0, 5, 5, 0);  // disabled
  map.Evaluate(f);
  EXPECT_EQ(Verdict(), "PASS");
  map.MutableArea(0)->bEnabled = true;
  map.Evaluate(f);
  EXPECT_EQ(Verdict(), "FAIL");
}

TEST_F(AdjacentTest, CornerAndEdgeNodesCompareOnlyInwardAndAlongTheEdge) {
  TouchArea(1, 1, 3, 3);
  NodeFrame f(5, 5, 1000);
  f(0, 1) = 9000;  // left of the top-left corner (1,1)
  f(0, 0) = 9000;  // left of (1,0), a left-edge node above the area
  map.Evaluate(f);
  EXPECT_FALSE(Has(1, 1, NodeFlag::HIGH));
  EXPECT_FALSE(Has(1, 0, NodeFlag::HIGH));
  EXPECT_TRUE(Has(0, 2, NodeFlag::HIGH));  // outside the area: all four, up is (0,1)

  NodeFrame above(5, 5, 1000);
  above(1, 0) = 9000;  // above the top-left corner
  map.Evaluate(above);
  EXPECT_FALSE(Has(1, 1, NodeFlag::HIGH));

  NodeFrame right(5, 5, 1000);
  right(2, 1) = 9000;
  map.Evaluate(right);
  EXPECT_TRUE(Has(1, 1, NodeFlag::HIGH));
  EXPECT_TRUE(Has(3, 1, NodeFlag::HIGH));  // the top-right corner looks left

  // The bottom-right corner (3,3) compares left and up only.
  NodeFrame g(5, 5, 1000);
  g(4, 3) = 9000;
  g(3, 4) = 9000;
  map.Evaluate(g);
  EXPECT_FALSE(Has(3, 3, NodeFlag::HIGH));
  g(3, 2) = 9000;
  map.Evaluate(g);
  EXPECT_TRUE(Has(3, 3, NodeFlag::HIGH));
}

TEST_F(AdjacentTest, OneColumnAreaTakesTheLeftEdgeCases) {
  TouchArea(2, 0, 2, 4);
  NodeFrame f(5, 5, 1000);
  f(1, 2) = 9000;  // left of (2,2): a left-edge node looks up, right and down only
  map.Evaluate(f);
  EXPECT_FALSE(Has(2, 2, NodeFlag::HIGH));
  f(3, 2) = 9000;
  map.Evaluate(f);
  EXPECT_TRUE(Has(2, 2, NodeFlag::HIGH));
}

TEST_F(AdjacentTest, OnlyTouchNeighboursTakePartZeroOnesToo) {
  TouchArea(0, 0, 4, 4);
  map.SetNodeFlags(3, 2, 3, 2, NodeFlag::MASK, 0, FlagOp::Set);
  map.SetNodePercent(2, 2, 1000);
  NodeFrame f(5, 5, 1000);
  f(3, 2) = 9000;  // MASK neighbour: ignored
  map.Evaluate(f);
  EXPECT_FALSE(Has(2, 2, NodeFlag::HIGH));
  f(1, 2) = 0;  // ZERO neighbour is still compared: 0 < 900
  map.Evaluate(f);
  EXPECT_TRUE(Has(1, 2, NodeFlag::ZERO));
  EXPECT_TRUE(Has(2, 2, NodeFlag::LOW));
}

TEST_F(AdjacentTest, NeighboursComeFromTheIncomingFrame) {
  TouchArea(0, 0, 4, 4);
  map.Evaluate(NodeFrame(5, 5, 1000));
  EXPECT_EQ(Verdict(), "PASS");
  // The right and lower neighbours are judged after (2,2) in the node order;
  // they must still be compared with this frame's values.
  NodeFrame f(5, 5, 1000);
  f(3, 2) = 1200;
  map.Evaluate(f);
  EXPECT_TRUE(Has(2, 2, NodeFlag::HIGH));
  map.Evaluate(NodeFrame(5, 5, 1000));
  EXPECT_FALSE(Has(2, 2, NodeFlag::HIGH));
  EXPECT_EQ(Verdict(), "PASS");
  NodeFrame g(5, 5, 1000);
  g(2, 3) = 700;
  map.Evaluate(g);
  EXPECT_TRUE(Has(2, 2, NodeFlag::LOW));
}

TEST_F(AdjacentTest, NeighbourOutsideAShortFrameKeepsItsStoredValue) {
  TouchArea(0, 0, 4, 4);
  NodeFrame first(5, 5, 1000);
  first(2, 3) = 5000;
  map.Evaluate(first);
  map.Evaluate(NodeFrame(5, 3, 1000));  // rows 3 and 4 keep their values
  EXPECT_TRUE(Has(2, 2, NodeFlag::HIGH));
}

// The neighbour table written out case by case, as a reference for the judged flags.
// Values and percentages whose scaled values leave the int32 range still
// compare as the double-precision rule says.
TEST_F(AdjacentTest, ScaledValuesBeyondInt32CompareExactly) {
  TouchArea(0, 0, 4, 4);
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  // 1.0001 * INT32_MIN is below INT32_MIN, so an INT32_MIN neighbour is above
  // it; 0.9999 * INT32_MIN is above, so the same neighbour is below it.
  map.SetNodePercent(2, 2, 1);
  map.Evaluate(NodeFrame(5, 5, kMin));
  EXPECT_TRUE(Has(2, 2, NodeFlag::HIGH));
  EXPECT_TRUE(Has(2, 2, NodeFlag::LOW));
  EXPECT_FALSE(Has(2, 1, NodeFlag::HIGH) || Has(2, 1, NodeFlag::LOW));
  // With -0.01 % the factors swap sides and INT32_MAX neighbours hit both.
  map.SetNodePercent(2, 2, -1);
  map.Evaluate(NodeFrame(5, 5, kMax));
  EXPECT_TRUE(Has(2, 2, NodeFlag::HIGH));
  EXPECT_TRUE(Has(2, 2, NodeFlag::LOW));
  EXPECT_FALSE(Has(1, 2, NodeFlag::HIGH) || Has(1, 2, NodeFlag::LOW));
}

TEST_F(AdjacentTest, NonFinitePercentageComparesNothingAndSparesTheOthers) {
  TouchArea(0, 0, 4, 4);
  map.SetNodePercent(0, 0, std::nan(""));
  map.SetNodePercent(4, 4, std::numeric_limits<double>::infinity());
  map.SetNodePercent(2, 2, 1000);
  NodeFrame f(5, 5, 1000);
  f(1, 0) = 5000;  // next to (0, 0)
  f(4, 3) = 1;     // next to (4, 4)
  f(3, 2) = 1101;  // next to (2, 2)
  map.Evaluate(f);
  EXPECT_FALSE(Has(0, 0, NodeFlag::HIGH) || Has(0, 0, NodeFlag::LOW));
  EXPECT_TRUE(Has(2, 2, NodeFlag::HIGH));
  EXPECT_FALSE(Has(2, 2, NodeFlag::LOW));
  // An infinite percentage: scaled high is +inf, scaled low is -inf.
  EXPECT_FALSE(Has(4, 4, NodeFlag::HIGH) || Has(4, 4, NodeFlag::LOW));
}

unsigned ReferenceNeighbours(int col, int row, int cf, int cl, int rf, int rl) {
  enum : unsigned { L = 1, U = 2, R = 4, D = 8 };
  if (col == cf && row == rf) return R | D;
  if (col == cf && row == rl) return U | R;
  if (col == cf) return U | R | D;
  if (col == cl && row == rf) return L | D;
  if (col == cl && row == rl) return L | U;
  if (col == cl) return L | U | D;
  if (row == rf) return L | R | D;
  if (row == rl) return L | U | R;
  return L | U | R | D;
}

TEST_F(AdjacentTest, FlagsMatchTheNeighbourTableForManyRectangles) {
  std::uint32_t seed = 7;
  auto next = [&seed](int n) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(n));
  };
  const int cols = 6, rows = 5;
  for (int round = 0; round < 300; ++round) {
    map.SetGridSize(cols, rows);
    map.ClearAreas();
    const int c1 = next(cols), c2 = next(cols), r1 = next(rows), r2 = next(rows);
    GridArea area;  // corners in any order
    area.nFirstCol = c1;
    area.nSecondCol = c2;
    area.nFirstRow = r1;
    area.nSecondRow = r2;
    area.bEnabled = true;
    map.AppendArea(area);
    const int cf = std::min(c1, c2), cl = std::max(c1, c2), rf = std::min(r1, r2), rl = std::max(r1, r2);
    NodeFrame f(cols, rows);
    NodeFrame flags(cols, rows);
    for (int c = 0; c < cols; ++c) {
      for (int r = 0; r < rows; ++r) {
        f(c, r) = 900 + next(200);
        flags(c, r) = next(6) == 0 ? NodeFlag::MASK : NodeFlag::TOUCH;
        map.SetNodeFlags(c, r, c, r, flags(c, r), 0, FlagOp::Set);
        map.SetNodePercent(c, r, next(3) * 500.0);
      }
    }
    map.Evaluate(f);
    for (int c = 0; c < cols; ++c) {
      for (int r = 0; r < rows; ++r) {
        if (flags(c, r) != NodeFlag::TOUCH) continue;
        const double p = map.GetNodePercent(c, r);
        const double high = std::trunc(f(c, r) * (p / 10000.0 + 1.0));
        const double low = std::trunc((1.0 - p / 10000.0) * f(c, r));
        const unsigned set = ReferenceNeighbours(c, r, cf, cl, rf, rl);
        const int dc[4] = {-1, 0, 1, 0}, dr[4] = {0, -1, 0, 1};
        bool expectHigh = false, expectLow = false;
        for (int k = 0; k < 4; ++k) {
          const int nc = c + dc[k], nr = r + dr[k];
          if (!(set & (1u << k)) || nc < 0 || nc >= cols || nr < 0 || nr >= rows) continue;
          if (flags(nc, nr) != NodeFlag::TOUCH) continue;
          expectHigh = expectHigh || f(nc, nr) > high;
          expectLow = expectLow || f(nc, nr) < low;
        }
        ASSERT_EQ(Has(c, r, NodeFlag::HIGH), expectHigh) << "round " << round << " node " << c << "," << r;
        ASSERT_EQ(Has(c, r, NodeFlag::LOW), expectLow) << "round " << round << " node " << c << "," << r;
      }
    }
  }
}

// ---- Statistics checks ---------------------------------------------------------------------

class StatisticsTest : public EvaluateTest {
 protected:
  void SetUp() override {
    Size(4, 1);
    Modes(0);
    map.SetListener(&listener);
    map.SetScreenThresholdEnable(true);
    map.SetViewMode(ViewModeBit::LABELS | ViewModeBit::TITLE | ViewModeBit::STATUS);
  }
  // Values 10, 20, 30, 40: max 40, min 10, range 30, average 25, spread 11.
  void Run() {
    NodeFrame f(4, 1);
    for (int c = 0; c < 4; ++c) f(c, 0) = 10 * (c + 1);
    map.Evaluate(f);
  }
  RecordingListener listener;
};

TEST_F(StatisticsTest, TextsColoursAndLimitsAreStrict) {
  map.SetRawdataMaxEnable(true);
  map.SetRawdataMax(40);
  map.SetRawdataMinEnable(true);
  map.SetRawdataMin(10);
  map.SetRawdataRangeEnable(true);
  map.SetRawdataRange(30);
  map.SetRawdataVarianceEnable(true);
  map.SetRawdataVariance(11);
  Run();
  EXPECT_EQ(map.StatisticsText(), "最大值=40 最小值=10 最大-最小值=30 均方差=11 ");
  EXPECT_EQ(Verdict(), "PASS");
  EXPECT_EQ(map.StatisticsLabel(1).strText, "最大值=40 ");
  EXPECT_EQ(map.StatisticsLabel(1).crText, MakeRgb(0, 0, 255));
  EXPECT_EQ(map.StatisticsLabel(1).crBack, MakeRgb(255, 255, 255));
  EXPECT_TRUE(map.StatisticsLabel(4).bShown);

  map.SetRawdataMax(39);
  map.SetRawdataMin(11);
  map.SetRawdataRange(29);
  map.SetRawdataVariance(10);
  Run();
  EXPECT_EQ(map.StatisticsText(), "最大值=40(NG) 最小值=10(NG) 最大-最小值=30(NG) 均方差=11(NG) ");
  EXPECT_EQ(map.StatisticsLabel(3).crText, MakeRgb(255, 0, 0));
  EXPECT_EQ(Verdict(), "FAIL");
  for (int c = 0; c < 4; ++c) EXPECT_EQ(map.GetNodeFlags(c, 0), NodeFlag::TOUCH);  // no node marked
}

TEST_F(StatisticsTest, EachLimitAloneFails) {
  map.SetRawdataMaxEnable(true);
  map.SetRawdataMax(39);
  Run();
  EXPECT_EQ(Verdict(), "FAIL");
  map.SetRawdataMaxEnable(false);
  map.SetRawdataVarianceEnable(true);
  map.SetRawdataVariance(10);
  Run();
  EXPECT_EQ(map.StatisticsText(), "均方差=11(NG) ");
  EXPECT_FALSE(map.StatisticsLabel(1).bShown);
  EXPECT_EQ(Verdict(), "FAIL");
}

TEST_F(StatisticsTest, DiscardAtEqualRangeIgnoresSpread) {
  map.SetRawdataVarianceEnable(true);
  map.SetRawdataVariance(0);
  map.SetRawdataRangeDiscardVarianceEnable(true);
  map.SetRawdataRangeDiscardVariance(30);
  Run();
  EXPECT_EQ(map.StatisticsText(), "均方差=11(忽略) ");
  EXPECT_EQ(map.StatisticsLabel(4).crText, MakeRgb(128, 128, 128));
  EXPECT_EQ(Verdict(), "PASS");
  map.SetRawdataRangeDiscardVariance(29);
  Run();
  EXPECT_EQ(map.StatisticsText(), "均方差=11(NG) ");
  EXPECT_EQ(Verdict(), "FAIL");
}

TEST_F(StatisticsTest, LabelsOnlyWithViewModeBitButTextAlways) {
  map.SetViewMode(0);
  map.SetRawdataMaxEnable(true);
  map.SetRawdataMax(100);
  Run();
  EXPECT_EQ(map.StatisticsText(), "最大值=40 ");
  for (int i = 1; i <= 4; ++i) {
    EXPECT_FALSE(map.StatisticsLabel(i).bShown);
    EXPECT_TRUE(map.StatisticsLabel(i).strText.empty());
  }
  EXPECT_EQ(listener.title, (std::vector<int>{0}));
  EXPECT_EQ(listener.status, (std::vector<int>{0}));
}

TEST_F(StatisticsTest, NotificationsFollowViewModeAndSwitchingOffClears) {
  map.SetRawdataMaxEnable(true);
  map.SetRawdataMax(100);
  Run();
  EXPECT_EQ(listener.title, (std::vector<int>{1}));
  EXPECT_EQ(listener.status, (std::vector<int>{1}));
  EXPECT_TRUE(map.StatisticsLabel(1).bShown);

  map.SetScreenThresholdEnable(false);
  Run();
  EXPECT_EQ(listener.title, (std::vector<int>{1, 0}));
  EXPECT_EQ(listener.status, (std::vector<int>{1}));  // no 0x4CF when the statistics are off
  EXPECT_EQ(map.StatisticsText(), "");
  EXPECT_FALSE(map.StatisticsLabel(1).bShown);
}

TEST_F(StatisticsTest, EmptySetComparesMinusOne) {
  map.SetAllNodeFlags(NodeFlag::MASK, FlagOp::Set);
  map.SetRawdataMinEnable(true);
  map.SetRawdataMin(0);
  Run();
  EXPECT_EQ(map.StatisticsText(), "最小值=-1(NG) ");
  EXPECT_EQ(Verdict(), "FAIL");
}

// A range beyond 2^31 sums the squared deviations in 128 bits.
TEST_F(StatisticsTest, SpreadOfTheWidestRange) {
  NodeFrame f(4, 1, std::numeric_limits<std::int32_t>::min());
  f(2, 0) = f(3, 0) = std::numeric_limits<std::int32_t>::max();
  map.Evaluate(f);
  std::int32_t max = 0, min = 0, avg = 0, spread = 0;
  ASSERT_TRUE(map.GetStatistics(0, max, min, avg, spread));
  EXPECT_EQ(avg, 0);  // -2 / 4 truncated
  // sqrt((2 * 2^62 + 2 * (2^31 - 1)^2) / 4) = 2^31 - 0.5, truncated.
  EXPECT_EQ(spread, std::numeric_limits<std::int32_t>::max());
}

TEST_F(StatisticsTest, OnlyStatisticsCanFailInDifferenceMode) {
  map.SetCheckEnables(0);
  Modes(TestMode::THRESHOLD | TestMode::DIFFERENCE);
  map.SetTouchThresholds(1000, 2000);  // every node is outside, but no check runs
  map.SetRawdataMaxEnable(true);
  map.SetRawdataMax(40);
  Run();
  EXPECT_EQ(Verdict(), "PASS");
  map.SetRawdataMax(39);
  Run();
  EXPECT_EQ(Verdict(), "FAIL");
}

// ---- MarkPinFault ------------------------------------------------------------------------------

class PinFaultTest : public EvaluateTest {
 protected:
  void SetUp() override {
    Size(4, 3);
    map.SetTouchThresholds(0, 100000);
    map.Evaluate(NodeFrame(4, 3, 500));
  }
};

TEST_F(PinFaultTest, RowLineCountedFromOneMarksWholeRow) {
  map.MarkPinFault(1, 2, 2, 0);  // type 2 on row line 2 -> row position 1
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(map.GetNodeFlags(c, 1), NodeFlag::TOUCH | NodeFlag::SHORT2);
    EXPECT_EQ(map.GetNodeFlags(c, 0), NodeFlag::TOUCH);
  }
  EXPECT_EQ(map.ResultFlags() & (ResultFlag::SHORT_FOUND | ResultFlag::SHORT_LINE_NOT_FOUND), ResultFlag::SHORT_FOUND);
  EXPECT_EQ(Verdict(), "FAIL");
}

TEST_F(PinFaultTest, ColumnLineAndTypes) {
  map.MarkPinFault(4, 1, 0, 4);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(map.GetNodeFlags(3, r), NodeFlag::TOUCH | NodeFlag::SHORT1);
  map.MarkPinFault(4, 3, 1, 1);
  EXPECT_EQ(map.GetNodeFlags(0, 0), NodeFlag::TOUCH | NodeFlag::SHORT3);
  EXPECT_EQ(map.GetNodeFlags(3, 1), NodeFlag::TOUCH);  // previous marks cleared
  map.MarkPinFault(4, 9, 1, 0);                        // unknown type: nothing visible, still a fault
  EXPECT_EQ(map.GetNodeFlags(0, 0), NodeFlag::TOUCH);
  EXPECT_EQ(Verdict(), "FAIL");
}

TEST_F(PinFaultTest, LineNotFoundGivesEmptyVerdict) {
  map.MarkPinFault(1, 1, 40, 0);
  EXPECT_NE(map.ResultFlags() & ResultFlag::SHORT_LINE_NOT_FOUND, 0);
  EXPECT_EQ(Verdict(), "");
  map.MarkPinFault(1, 1, 0, 0);  // no lines named: bits stay
  EXPECT_EQ(Verdict(), "");
  map.MarkPinFault(0, 0, 0, 0);  // passed: bits and marks cleared
  EXPECT_EQ(Verdict(), "PASS");
}

TEST_F(PinFaultTest, PassingSelfTestClearsMarks) {
  map.MarkPinFault(1, 3, 1, 0);
  map.MarkPinFault(0, 3, 1, 0);
  EXPECT_EQ(map.GetNodeFlags(0, 0), NodeFlag::TOUCH);
  EXPECT_EQ(map.ResultFlags(), ResultFlag::EVALUATION_SHOWN);
}

}  // namespace
}  // namespace varnex2::judging
