// Laying a panel configuration out on the node map, and the offline judge's cycle.
#include <gtest/gtest.h>

#include "judging/offline_judge.h"
#include "judging/panel_layout.h"

namespace varnex2::judging {
namespace {

config::PanelConfig PanelWithKeys() {
  config::PanelConfig panel;
  panel.touchArea = {2, 3, 20, 40, 96, 1, 31000, 29000};
  panel.keyArea = {24, 5, 2, 8, 96, 1, 30000, 20000};
  return panel;
}

TEST(PanelLayout, SizesTheMapToTheExtentsAndLaysOutBothAreas) {
  NodeMap map;
  ApplyConfigToNodeMap(map, PanelWithKeys());
  // Extents: X = max(2 + 20, 24 + 2) = 26 rows, Y = max(3 + 40, 5 + 8) = 43 columns.
  EXPECT_EQ(map.Columns(), 43);
  EXPECT_EQ(map.Rows(), 26);
  ASSERT_EQ(map.AreaCount(), 2);
  int xs = 0, ys = 0, xc = 0, yc = 0;
  ASSERT_TRUE(map.GetAreaRect(0, xs, ys, xc, yc));
  EXPECT_EQ((std::array{xs, ys, xc, yc}), (std::array{2, 3, 20, 40}));
  ASSERT_TRUE(map.GetAreaRect(1, xs, ys, xc, yc));
  EXPECT_EQ((std::array{xs, ys, xc, yc}), (std::array{24, 5, 2, 8}));
  EXPECT_TRUE(map.Areas()[0].bEnabled);
  EXPECT_TRUE(map.Areas()[1].bEnabled);
  // Both areas take the touch thresholds as their colour range.
  EXPECT_EQ(map.Areas()[1].nHigh, 31000);
  EXPECT_EQ(map.Areas()[1].nLow, 29000);
  // Groups follow the area index; key nodes are MASK, the rest TOUCH.
  EXPECT_EQ(map.GetNodeGroup(3, 2), 0);
  EXPECT_EQ(map.GetNodeGroup(5, 24), 1);
  EXPECT_EQ(map.GetNodeFlags(5, 24), NodeFlag::MASK);
  EXPECT_EQ(map.GetNodeFlags(12, 25), NodeFlag::MASK);
  EXPECT_EQ(map.GetNodeFlags(13, 25), NodeFlag::TOUCH);
  EXPECT_EQ(map.GetNodeFlags(4, 24), NodeFlag::TOUCH);
  EXPECT_EQ(map.TouchLow(), 29000);
  EXPECT_EQ(map.TouchHigh(), 31000);
  EXPECT_EQ(map.KeyLow(), 20000);
  EXPECT_EQ(map.KeyHigh(), 30000);
}

TEST(PanelLayout, TheWholeDefaultMatrixAddsNoArea) {
  NodeMap map;
  config::PanelConfig panel;
  ApplyConfigToNodeMap(map, panel);
  EXPECT_EQ(map.Columns(), 52);
  EXPECT_EQ(map.Rows(), 32);
  EXPECT_EQ(map.AreaCount(), 0);
  EXPECT_EQ(map.TestModeFlags(), 1);
}

TEST(PanelLayout, MarksInsideTheMapAreDrawnOthersSkipped) {
  NodeMap map;
  config::PanelConfig panel = PanelWithKeys();
  panel.marks[0] = {1, 1, 25, 6, 0};   // key mark inside the key area
  panel.marks[1] = {2, 1, 10, 10, 0};  // mask mark on the touch area
  panel.marks[2] = {2, 1, 30, 10, 0};  // row 30 lies beyond the 26 rows
  panel.marks[3] = {1, 0, 11, 11, 0};  // not in use
  ApplyConfigToNodeMap(map, panel);
  EXPECT_EQ(map.GetNodeFlags(6, 25), NodeFlag::KEY);
  EXPECT_EQ(map.GetNodeFlags(10, 10), NodeFlag::MASK);
  EXPECT_EQ(map.GetNodeFlags(11, 11), NodeFlag::TOUCH);
}

TEST(PanelLayout, PercentagesAndLimitsFollowTheirShapes) {
  NodeMap map;
  config::PanelConfig panel;  // 52 x 32 map
  panel.adjacentPercent = config::Int32Array2D(52, 32, 1500);
  panel.adjacentPercent(7, 3) = 999;
  panel.sampleLimits.rawUpper = config::Int32Array2D(52, 32, 31000);
  panel.sampleLimits.rawLower = config::Int32Array2D(10, 10, 5);  // wrong shape: ignored
  ApplyConfigToNodeMap(map, panel);
  EXPECT_EQ(map.GetNodePercent(0, 0), 1500);
  EXPECT_EQ(map.GetNodePercent(7, 3), 999);
  EXPECT_EQ(map.UpperLimits().At(51, 31), 31000);
  EXPECT_NE(map.LowerLimits().Columns(), 10);
  // And back: the saved array is the configuration's.
  EXPECT_EQ(ToArray2D(map.GetPercentArray()), panel.adjacentPercent);
}

TEST(OfflineJudge, StableFailSwitchesTheOutputOnAndAPassSwitchesItOff) {
  NodeMap map;
  config::PanelConfig panel;
  panel.touchArea.nThresUpper = 31000;
  panel.touchArea.nThresLower = 29000;
  ApplyConfigToNodeMap(map, panel);
  OfflineJudge judge(map, panel, OfflineJudgeSettings{});

  NodeFrame good(52, 32, 30000);
  NodeFrame bad = good;
  bad(4, 4) = 32000;
  std::vector<int> outputs;
  std::vector<int> fails;
  for (const NodeFrame* f : {&bad, &bad, &bad, &bad, &good}) {
    const FrameVerdict v = judge.JudgeFrame(*f);
    outputs.push_back(v.output ? 1 : 0);
    fails.push_back(map.GetColorGridCounterFail());
  }
  EXPECT_EQ(fails, (std::vector<int>{0, 1, 2, 3, 0}));
  EXPECT_EQ(outputs, (std::vector<int>{0, 0, 0, 1, 0}));
  EXPECT_EQ(map.GetNodeFlags(4, 4), NodeFlag::TOUCH);  // last frame was good
}

TEST(OfflineJudge, NoProductMeansOutputOffAndNoRecord) {
  NodeMap map;
  config::PanelConfig panel;
  ApplyConfigToNodeMap(map, panel);
  OfflineJudgeSettings settings;
  settings.connectType = 0;
  OfflineJudge judge(map, panel, settings);
  const FrameVerdict empty = judge.JudgeFrame(NodeFrame(52, 32, 2000));
  EXPECT_FALSE(empty.decision.recordRequest);
  EXPECT_EQ(empty.decision.output, VerdictOutputs::Off);
  // One record for the panel: on the frame that makes its verdict stable, not on every frame.
  int requests = 0;
  for (int i = 0; i < 10; ++i) {
    const FrameVerdict present = judge.JudgeFrame(NodeFrame(52, 32, 28000));
    EXPECT_EQ(present.verdict, "PASS");
    requests += present.decision.recordRequest ? 1 : 0;
  }
  EXPECT_EQ(requests, 1);
}

TEST(OfflineJudge, JsonLineCarriesEveryFieldAndEscapesText) {
  NodeMap map;
  config::PanelConfig panel;
  ApplyConfigToNodeMap(map, panel);
  map.SetGridSize(2, 2);
  OfflineJudge judge(map, panel, OfflineJudgeSettings{});
  NodeFrame frame(2, 2, 20000);
  frame(1, 0) = 0;
  std::string line;
  judge.AppendJsonLine(7, judge.JudgeFrame(frame), line);
  EXPECT_EQ(line,
            "{\"frame\":7,\"verdict\":\"PASS\",\"result\":1073741824,\"statistics\":\"\",\"pass\":0,"
            "\"fail\":0,\"output\":0,\"record\":false,\"flags\":[[1,9],[1,1]]}\n");
  std::string text;
  AppendJsonString(text, "a\"b\\c\r\n");
  EXPECT_EQ(text, "\"a\\\"b\\\\c\\u000d\\u000a\"");
}

}  // namespace
}  // namespace varnex2::judging
