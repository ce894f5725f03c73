// The sample-limit editor's logic on a small node map.
#include "judging/sample_limits.h"

#include <gtest/gtest.h>

#include <limits>

#include "judging/panel_layout.h"

namespace varnex2::judging {
namespace {

using config::Int32Array2D;
using config::Int32Array3D;
using config::SampleLimitSet;

constexpr int kYs = 4;  // columns of the map (Y lines)
constexpr int kXs = 3;  // rows of the map (X lines)

class SampleLimits : public ::testing::Test {
 protected:
  void SetUp() override { Shape(kYs, kXs); }

  // The map resized, one touch area over it, no judging mode but the thresholds.
  void Shape(int ys, int xs, bool keyArea = false) {
    map_.SetGridSize(ys, xs);
    map_.ClearAreas();
    map_.AddArea(0, 0, xs, keyArea ? ys - 1 : ys, 0);
    if (keyArea) map_.AddArea(0, ys - 1, xs, 1, 1);
    map_.SetTestModeFlags(TestMode::THRESHOLD);
  }

  // The map shows a frame of `value` everywhere, then the editor takes it.
  int Sample(SampleLimitEditor& e, std::int32_t value) {
    map_.Evaluate(NodeFrame(map_.Columns(), map_.Rows(), value));
    return e.TakeSample();
  }

  static LimitParameters Percent(std::int32_t x100) { return {0, x100, 1000, 1000}; }
  static LimitParameters Offsets(std::int32_t lower, std::int32_t upper) { return {1, 1000, lower, upper}; }

  NodeMap map_;
};

TEST_F(SampleLimits, PercentModeTruncatesTheProductsTowardZero) {
  struct Case {
    std::int32_t base, x100, upper, lower;
  };
  for (const Case c : {Case{25000, 1000, 27500, 22500}, Case{19999, 1250, 22498, 17499}, Case{-100, 1050, -110, -89}}) {
    SampleLimitEditor e(map_, {});
    Sample(e, c.base);
    ASSERT_EQ(e.ComputeLimits(Percent(c.x100)), SampleLimitStatus::kOk);
    EXPECT_EQ(e.Data().rawAvg, Int32Array2D(kYs, kXs, c.base));
    EXPECT_EQ(e.Data().rawUpper, Int32Array2D(kYs, kXs, c.upper)) << c.base << " " << c.x100;
    EXPECT_EQ(e.Data().rawLower, Int32Array2D(kYs, kXs, c.lower)) << c.base << " " << c.x100;
    EXPECT_EQ(e.Data().nLimitMode, 0);
    EXPECT_EQ(e.Data().nPercentX100, c.x100);
  }
}

TEST_F(SampleLimits, OffsetModeAddsAndSubtractsSaturating) {
  SampleLimitEditor e(map_, {});
  Sample(e, 20000);
  ASSERT_EQ(e.ComputeLimits(Offsets(1500, 1000)), SampleLimitStatus::kOk);
  EXPECT_EQ(e.Data().rawUpper, Int32Array2D(kYs, kXs, 21000));
  EXPECT_EQ(e.Data().rawLower, Int32Array2D(kYs, kXs, 18500));
  EXPECT_EQ(e.Data().nOffsetLower, 1500);
  EXPECT_EQ(e.Data().nOffsetUpper, 1000);
  EXPECT_EQ(e.Data().nLimitMode, 1);

  // Bands beyond the 32-bit range stop at its ends instead of wrapping.
  SampleLimitEditor big(map_, {});
  Sample(big, std::numeric_limits<std::int32_t>::max() - 10);
  ASSERT_EQ(big.ComputeLimits(Offsets(std::numeric_limits<std::int32_t>::min(), 1000)), SampleLimitStatus::kOk);
  EXPECT_EQ(big.Data().rawUpper(0, 0), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(big.Data().rawLower(0, 0), std::numeric_limits<std::int32_t>::max());
  ASSERT_EQ(big.ComputeLimits(Percent(20000)), SampleLimitStatus::kOk);
  EXPECT_EQ(big.Data().rawUpper(0, 0), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(big.Data().rawLower(0, 0), -(std::numeric_limits<std::int32_t>::max() - 10));
}

TEST_F(SampleLimits, TheBaseIsTheTruncatedAverageOfTheSelectedSamplesOnly) {
  SampleLimitEditor e(map_, {});
  Sample(e, 100);
  Sample(e, 101);
  Sample(e, 101);
  const int unselected = Sample(e, 500);
  ASSERT_EQ(e.SetSelected(unselected, false), SampleLimitStatus::kOk);
  EXPECT_EQ(e.SelectedCount(), 3);
  ASSERT_EQ(e.ComputeLimits(Offsets(0, 0)), SampleLimitStatus::kOk);
  EXPECT_EQ(e.Data().rawAvg, Int32Array2D(kYs, kXs, 100));  // 302 / 3

  // Negative sums truncate toward zero too: -302 / 3 = -100.
  SampleLimitEditor n(map_, {});
  Sample(n, -100);
  Sample(n, -101);
  Sample(n, -101);
  ASSERT_EQ(n.ComputeLimits(Offsets(0, 0)), SampleLimitStatus::kOk);
  EXPECT_EQ(n.Data().rawAvg(0, 0), -100);
}

TEST_F(SampleLimits, MaskedNodesGetBaseAndLimitsZero) {
  SampleLimitEditor e(map_, {});
  Sample(e, 25000);
  map_.SetNodeFlags(1, 2, 1, 2, NodeFlag::MASK, 0, FlagOp::Or);  // Y line 1, X line 2
  ASSERT_EQ(e.ComputeLimits(Percent(1000)), SampleLimitStatus::kOk);
  EXPECT_EQ(e.Data().rawAvg(1, 2), 0);
  EXPECT_EQ(e.Data().rawUpper(1, 2), 0);
  EXPECT_EQ(e.Data().rawLower(1, 2), 0);
  EXPECT_EQ(e.Data().rawAvg(1, 1), 25000);
  EXPECT_EQ(e.Data().rawUpper(2, 2), 27500);
}

TEST_F(SampleLimits, TakingASampleStoresValuesAndStatisticsSelected) {
  SampleLimitEditor e(map_, {});
  EXPECT_EQ(e.SampleTableRows(), 1);
  NodeFrame frame(kYs, kXs);
  for (int y = 0; y < kYs; ++y)
    for (int x = 0; x < kXs; ++x) frame(y, x) = 1000 * y + x;
  map_.Evaluate(frame);
  int calls = 0;
  EXPECT_EQ(e.TakeSample([&] { ++calls; }), 1);
  EXPECT_EQ(calls, 1);
  const SampleLimitSet& d = e.Data();
  ASSERT_EQ(d.sampleFrames.Pages(), 1);
  ASSERT_EQ(d.sampleFrames.Rows(), kYs);
  ASSERT_EQ(d.sampleFrames.Cols(), kXs);
  EXPECT_EQ(d.sampleFrames(0, 3, 2), 3002);
  ASSERT_EQ(d.sampleList.Rows(), 2);
  ASSERT_EQ(d.sampleList.Cols(), 9);
  std::int32_t max = 0, min = 0, avg = 0, spread = 0;
  ASSERT_TRUE(map_.GetStatistics(0, max, min, avg, spread));
  const std::vector<std::int32_t> row(d.sampleList.Row(1).begin(), d.sampleList.Row(1).end());
  EXPECT_EQ(row, (std::vector<std::int32_t>{1, max, min, avg, spread, -1, -1, -1, -1}));
  EXPECT_EQ(max, 3002);
  EXPECT_TRUE(e.IsSelected(1));

  // The fresh frame the callback lets the cycle produce is what is stored.
  EXPECT_EQ(e.TakeSample([&] { map_.Evaluate(NodeFrame(kYs, kXs, 7)); }), 2);
  EXPECT_EQ(e.Data().sampleFrames(1, 0, 0), 7);
  EXPECT_EQ(e.Data().sampleList(2, 1), 7);
}

TEST_F(SampleLimits, ASampleWhoseFreshFrameResizedTheMapStoresTheOverlapOnly) {
  SampleLimitEditor e(map_, {});
  // The frames keep the extents read before the fresh frame; the larger map's extra
  // lines are not written past them.
  e.TakeSample([&] {
    Shape(kYs + 2, kXs + 2);
    map_.Evaluate(NodeFrame(kYs + 2, kXs + 2, 5));
  });
  ASSERT_EQ(e.Data().sampleFrames.Rows(), kYs);
  ASSERT_EQ(e.Data().sampleFrames.Cols(), kXs);
  EXPECT_EQ(e.Data().sampleFrames(0, kYs - 1, kXs - 1), 5);
  // A smaller map: the missing part stays 0.
  e.TakeSample([&] {
    Shape(kYs - 1, kXs - 1);
    map_.Evaluate(NodeFrame(kYs - 1, kXs - 1, 6));
  });
  ASSERT_EQ(e.Data().sampleFrames.Rows(), kYs + 2);
  EXPECT_EQ(e.Data().sampleFrames(1, 0, 0), 6);
  EXPECT_EQ(e.Data().sampleFrames(1, kYs + 1, kXs + 1), 0);
  EXPECT_EQ(e.Data().sampleFrames(1, kYs - 1, 0), 0);
}

TEST_F(SampleLimits, WithAKeyAreaTheKeyColumnsHoldItsStatistics) {
  Shape(kYs, kXs, true);
  SampleLimitEditor e(map_, {});
  NodeFrame frame(kYs, kXs, 20000);
  for (int x = 0; x < kXs; ++x) frame(kYs - 1, x) = 9000 + x;  // the key column
  map_.Evaluate(frame);
  e.TakeSample();
  const std::vector<std::int32_t> row(e.Data().sampleList.Row(1).begin(), e.Data().sampleList.Row(1).end());
  EXPECT_EQ(row[1], 20000);
  EXPECT_EQ(row[5], 9002);
  EXPECT_EQ(row[6], 9000);
  EXPECT_EQ(row[7], 9001);

  ASSERT_EQ(e.ComputeLimits(Offsets(100, 200)), SampleLimitStatus::kOk);
  const Int32Array2D& para = e.Data().paraList;
  ASSERT_EQ(para.Rows(), 3);
  ASSERT_EQ(para.Cols(), 8);
  EXPECT_EQ(para(0, 0), 20200);  // upper, touch max
  EXPECT_EQ(para(0, 4), 9202);   // upper, key max
  EXPECT_EQ(para(1, 5), 9000);   // base, key min
  EXPECT_EQ(para(2, 1), 19900);  // lower, touch min
}

TEST_F(SampleLimits, ComputingFillsParaListLeavesTheBaseShownAndHandsTheLimitsOn) {
  SampleLimitEditor e(map_, {});
  Sample(e, 25000);
  ASSERT_EQ(e.ComputeLimits(Percent(1000)), SampleLimitStatus::kOk);
  const Int32Array2D& para = e.Data().paraList;
  ASSERT_EQ(para.Rows(), 3);
  ASSERT_EQ(para.Cols(), 8);
  const std::vector<std::int32_t> values = para.Values();
  EXPECT_EQ(values, (std::vector<std::int32_t>{27500, 27500, 27500, 0, -1, -1, -1, -1,  //
                                               25000, 25000, 25000, 0, -1, -1, -1, -1,  //
                                               22500, 22500, 22500, 0, -1, -1, -1, -1}));
  EXPECT_EQ(NodeValuesArray(map_), Int32Array2D(kYs, kXs, 25000));
  EXPECT_NE(map_.TestModeFlags() & TestMode::LIMITS, 0);
  EXPECT_NE(map_.TestModeFlags() & TestMode::THRESHOLD, 0);
  EXPECT_EQ(map_.UpperLimits(), NodeFrame(kYs, kXs, 27500));
  EXPECT_EQ(map_.LowerLimits(), NodeFrame(kYs, kXs, 22500));
}

TEST_F(SampleLimits, NoSelectedSampleComputesNothing) {
  // A loaded set whose rows are all unselected: one frame, one row, flag 0.
  SampleLimitSet loaded;
  loaded.sampleFrames = Int32Array3D(1, kYs, kXs, 20000);
  loaded.sampleList = Int32Array2D(2, 9, -1);
  loaded.sampleList(1, 0) = 0;
  map_.SetUpperLimits(NodeFrame(kYs, kXs, 30000));
  const std::int32_t modes = map_.TestModeFlags();
  SampleLimitEditor e(map_, loaded);
  EXPECT_EQ(e.SelectedCount(), 0);
  EXPECT_EQ(e.ComputeLimits(Percent(1000)), SampleLimitStatus::kNoSampleSelected);
  EXPECT_EQ(e.Data(), loaded);
  EXPECT_EQ(map_.UpperLimits(), NodeFrame(kYs, kXs, 30000));
  EXPECT_EQ(map_.TestModeFlags(), modes);
  // Selecting the row makes it computable.
  ASSERT_EQ(e.SetSelected(1, true), SampleLimitStatus::kOk);
  EXPECT_EQ(e.ComputeLimits(Percent(1000)), SampleLimitStatus::kOk);
  EXPECT_EQ(e.Data().rawUpper(0, 0), 22000);
}

TEST_F(SampleLimits, TheLastSelectedSampleStaysSelected) {
  SampleLimitEditor e(map_, {});
  Sample(e, 1);
  Sample(e, 2);
  EXPECT_EQ(e.SetSelected(1, false), SampleLimitStatus::kOk);
  EXPECT_EQ(e.SetSelected(2, false), SampleLimitStatus::kLastSelectedSample);
  EXPECT_TRUE(e.IsSelected(2));
  EXPECT_EQ(e.Data().sampleList(2, 0), 1);
  EXPECT_EQ(e.SetSelected(1, true), SampleLimitStatus::kOk);
  EXPECT_EQ(e.SetSelected(2, false), SampleLimitStatus::kOk);
  EXPECT_EQ(e.Data().sampleList(2, 0), 0);
  EXPECT_EQ(e.SetSelected(0, true), SampleLimitStatus::kNoSuchRow);
  EXPECT_EQ(e.SetSelected(3, true), SampleLimitStatus::kNoSuchRow);
}

TEST_F(SampleLimits, AfterAnExtentsChangeOnlyANewSampleMakesItComputableKeepingOverlaps) {
  SampleLimitEditor e(map_, {});
  NodeFrame frame(kYs, kXs);
  for (int y = 0; y < kYs; ++y)
    for (int x = 0; x < kXs; ++x) frame(y, x) = 100 * y + x + 1;
  map_.Evaluate(frame);
  e.TakeSample();
  Sample(e, 5);

  Shape(kYs + 1, kXs - 1);
  EXPECT_EQ(e.ComputeLimits(Offsets(0, 0)), SampleLimitStatus::kExtentsDiffer);
  EXPECT_TRUE(e.Data().rawAvg.Empty());

  Sample(e, 9);
  const Int32Array3D& f = e.Data().sampleFrames;
  ASSERT_EQ(f.Pages(), 3);
  ASSERT_EQ(f.Rows(), kYs + 1);
  ASSERT_EQ(f.Cols(), kXs - 1);
  for (int y = 0; y < kYs; ++y)
    for (int x = 0; x < kXs - 1; ++x) {
      EXPECT_EQ(f(0, y, x), 100 * y + x + 1);
      EXPECT_EQ(f(1, y, x), 5);
    }
  EXPECT_EQ(f(0, kYs, 0), 0);  // the new Y line
  EXPECT_EQ(f(1, kYs, 1), 0);
  EXPECT_EQ(f(2, kYs, 1), 9);
  ASSERT_EQ(e.Data().sampleList.Rows(), 4);
  EXPECT_EQ(e.Data().sampleList(1, 1), 100 * (kYs - 1) + kXs);  // the first sample's max, kept
  EXPECT_EQ(e.ComputeLimits(Offsets(0, 0)), SampleLimitStatus::kOk);
}

TEST_F(SampleLimits, OpeningCopiesFramesOnlyWithThreeExtentsAndRefusesDisagreeingRows) {
  SampleLimitSet loaded;
  loaded.sampleFrames = Int32Array3D(2, kYs, 0);
  loaded.sampleList = Int32Array2D(3, 9, 1);
  loaded.paraList = Int32Array2D(2, 5, 7);
  loaded.rawAvg = Int32Array2D(kYs, 0);
  loaded.nOffsetUpper = 33;
  SampleLimitEditor e(map_, loaded);
  EXPECT_EQ(e.Data().sampleFrames, Int32Array3D());
  EXPECT_EQ(e.Data().sampleList, loaded.sampleList);
  EXPECT_EQ(e.Data().paraList, loaded.paraList);
  EXPECT_EQ(e.Data().rawAvg.Rows(), kYs);  // the shape is kept
  EXPECT_EQ(e.Data().nOffsetUpper, 33);
  EXPECT_EQ(e.SampleTableRows(), 3);
  EXPECT_EQ(e.ComputeLimits(Offsets(0, 0)), SampleLimitStatus::kExtentsDiffer);

  // Frames of the map's extents, but one frame for two sample rows.
  loaded.sampleFrames = Int32Array3D(1, kYs, kXs, 10);
  SampleLimitEditor rows(map_, loaded);
  EXPECT_EQ(rows.ComputeLimits(Offsets(0, 0)), SampleLimitStatus::kRowsDiffer);
  // The next sample makes the two agree again (the missing frame is zeros).
  EXPECT_EQ(Sample(rows, 40), 3);
  EXPECT_EQ(rows.ComputeLimits(Offsets(0, 0)), SampleLimitStatus::kOk);
  EXPECT_EQ(rows.Data().rawAvg(0, 0), (10 + 0 + 40) / 3);
}

TEST_F(SampleLimits, ClearingEmptiesTheArraysAndKeepsTheParameters) {
  SampleLimitEditor e(map_, {});
  Sample(e, 25000);
  ASSERT_EQ(e.ComputeLimits(Offsets(5, 6)), SampleLimitStatus::kOk);
  e.Clear();
  const SampleLimitSet& d = e.Data();
  EXPECT_EQ(d.sampleFrames.Pages(), 0);
  for (const Int32Array2D* a : {&d.rawAvg, &d.rawUpper, &d.rawLower, &d.sampleList, &d.paraList}) {
    EXPECT_EQ(a->Rows(), 0);
    EXPECT_EQ(a->Cols(), 0);
  }
  EXPECT_EQ(d.nLimitMode, 1);
  EXPECT_EQ(d.nOffsetLower, 5);
  EXPECT_EQ(d.nOffsetUpper, 6);
  EXPECT_EQ(e.SampleTableRows(), 1);
  // The map keeps the limits it had.
  EXPECT_EQ(map_.UpperLimits(), NodeFrame(kYs, kXs, 25006));
  EXPECT_EQ(TestModeAfterConfirm(config::kTestModeThreshold),
            config::kTestModeThreshold | config::kTestModeSampleLimits);
  EXPECT_EQ(TestModeAfterCancel(config::kTestModeSampleLimits | config::kTestModeAdjacent),
            config::kTestModeThreshold | config::kTestModeAdjacent);
}

TEST_F(SampleLimits, ShowingASampleOrALimitArrayEvaluatesIt) {
  SampleLimitEditor e(map_, {});
  Sample(e, 11);
  Sample(e, 22);
  ASSERT_EQ(e.ComputeLimits(Offsets(1, 2)), SampleLimitStatus::kOk);
  EXPECT_EQ(e.ShowSample(1), SampleLimitStatus::kOk);
  EXPECT_EQ(NodeValuesArray(map_), Int32Array2D(kYs, kXs, 11));
  EXPECT_EQ(e.ShowLimitArray(LimitRow::kUpper), SampleLimitStatus::kOk);
  EXPECT_EQ(NodeValuesArray(map_), Int32Array2D(kYs, kXs, 18));
  EXPECT_EQ(e.ShowLimitArray(LimitRow::kLower), SampleLimitStatus::kOk);
  EXPECT_EQ(NodeValuesArray(map_), Int32Array2D(kYs, kXs, 15));
  EXPECT_EQ(e.ShowSample(3), SampleLimitStatus::kNoSuchRow);
  EXPECT_EQ(e.ShowSample(0), SampleLimitStatus::kNoSuchRow);

  // Limit arrays are shaped to the map: a wider map shows zeros beyond them.
  Shape(kYs + 1, kXs);
  EXPECT_EQ(e.ShowLimitArray(LimitRow::kBase), SampleLimitStatus::kOk);
  EXPECT_EQ(map_.Cell(0, 0).nValue, 16);
  EXPECT_EQ(map_.Cell(kYs, 0).nValue, 0);

  // Rows beyond 100 are not shown.
  SampleLimitEditor many(map_, {});
  for (int i = 0; i < 101; ++i) Sample(many, i);
  EXPECT_EQ(many.ShowSample(100), SampleLimitStatus::kOk);
  EXPECT_EQ(map_.Cell(0, 0).nValue, 99);
  EXPECT_EQ(many.ShowSample(101), SampleLimitStatus::kNoSuchRow);
}

TEST(PercentText, IsTheDecimalTextTimes100TruncatedTowardZero) {
  struct Case {
    const char* text;
    std::int32_t x100;
  };
  for (const Case c : {Case{"10.239", 1023}, Case{"10", 1000}, Case{"12.5", 1250}, Case{"0.29", 29}, Case{"4.35", 435},
                       Case{"-1.555", -155}, Case{"  7.5%", 750}, Case{".5", 50}, Case{"5.", 500}, Case{"1e1", 1000},
                       Case{"2.5E-1", 25}, Case{"0.001", 0}, Case{"abc", 0}, Case{"", 0}, Case{"-", 0},
                       Case{"21474836.47", 2147483647}, Case{"99999999999", 2147483647},
                       Case{"-99999999999", -2147483647 - 1}, Case{"1e400", 2147483647}}) {
    EXPECT_EQ(PercentTextToX100(c.text), c.x100) << c.text;
  }
  EXPECT_EQ(StrictPercentTextToX100("10.239"), 1023);
  EXPECT_EQ(StrictPercentTextToX100("-3"), -300);
  for (const char* bad : {"", " 1", "1 ", "abc", "1.5x", "1e", "99999999999", "--1", "."})
    EXPECT_FALSE(StrictPercentTextToX100(bad).has_value()) << bad;
}

}  // namespace
}  // namespace varnex2::judging
