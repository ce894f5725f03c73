// The set-up procedures on the node map, run by the core on the simulated box with scripted
// answers from the operator.

#include <gtest/gtest.h>

#include <deque>

#include "config/reg_edit_class.h"
#include "device/controller_ops.h"
#include "device/panel_areas.h"
#include "device/user_data_record.h"
#include "judging/panel_layout.h"
#include "station/setup_prompts.h"
#include "station/station_rig.h"

namespace varnex2::station {
namespace {

using judging::NodeFlag::KEY;
using judging::NodeFlag::MASK;
using judging::NodeFlag::TOUCH;

// Answers the procedures' questions from a script; every question is recorded.
class ScriptedPrompts final : public SetupPrompts {
 public:
  // nullopt: cancel.
  std::deque<std::optional<AreaPrompt>> areaAnswers;
  std::deque<std::optional<std::int32_t>> percentAnswers;
  std::deque<std::optional<std::pair<std::int32_t, std::int32_t>>> limitAnswers;
  std::vector<AreaPrompt> areaAsked;
  std::vector<AdjacentPrompt> percentAsked;
  std::vector<CellLimitsPrompt> limitsAsked;

  bool AskAreaParams(AreaPrompt& prompt) override {
    areaAsked.push_back(prompt);
    if (areaAnswers.empty() || !areaAnswers.front()) return Pop(areaAnswers);
    const AreaPrompt answer = *areaAnswers.front();
    areaAnswers.pop_front();
    prompt.upper = answer.upper;
    prompt.lower = answer.lower;
    prompt.gain = answer.gain;
    return true;
  }
  bool AskAdjacentPercent(AdjacentPrompt& prompt) override {
    percentAsked.push_back(prompt);
    if (percentAnswers.empty() || !percentAnswers.front()) return Pop(percentAnswers);
    prompt.percent = *percentAnswers.front();
    percentAnswers.pop_front();
    return true;
  }
  bool AskCellLimits(CellLimitsPrompt& prompt) override {
    limitsAsked.push_back(prompt);
    if (limitAnswers.empty() || !limitAnswers.front()) return Pop(limitAnswers);
    prompt.upper = limitAnswers.front()->first;
    prompt.lower = limitAnswers.front()->second;
    limitAnswers.pop_front();
    return true;
  }

 private:
  template <class Q>
  static bool Pop(Q& q) {
    if (!q.empty()) q.pop_front();
    return false;
  }
};

AreaPrompt Answer(std::int32_t upper, std::int32_t lower, std::int32_t gain) {
  AreaPrompt p;
  p.upper = upper;
  p.lower = lower;
  p.gain = gain;
  return p;
}

// Both areas as the box's controller holds them (read with the test cycle stopped).
void ControllerAreas(StationRig& rig, device::AreaSettings& touch, device::AreaSettings& key) {
  rig.view->Run([&] {
    rig.station->StopTestThread();
    {
      auto turn = rig.station->LockController();
      ASSERT_EQ(device::ReadPanelAreas(*rig.station->Controller(), touch, key), 0);
    }
    rig.station->ResumeTest();
  });
}

device::UserDataRecord ControllerUserData(StationRig& rig) {
  const std::vector<std::uint8_t> t38 = ObjectBytes(*rig.box, device::kT38UserData, 64);
  device::UserDataBytes bytes{};
  std::copy(t38.begin(), t38.end(), bytes.begin());
  device::UserDataRecord record;
  EXPECT_TRUE(device::DecodeUserData(bytes, record));
  return record;
}

// An area drawn on the map as the widget leaves it after a drag: appended and stamped.
void DrawArea(StationRig& rig, int xStart, int yStart, int xCount, int yCount) {
  judging::NodeMap& grid = rig.Grid();
  std::lock_guard lock(grid.Mutex());
  const int index = grid.AreaCount();
  grid.AddArea(xStart, yStart, xCount, yCount, index);
  judging::CommitArea(grid, index, true);
}

class AreaEditingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rig = std::make_unique<StationRig>(RigOptions{.monitor = false});
    rig->Initialise();
    ASSERT_TRUE(rig->WaitTesting());
  }
  void Run(const std::function<void()>& call) { rig->view->Run(call); }

  std::unique_ptr<StationRig> rig;
  ScriptedPrompts prompts;
};

TEST_F(AreaEditingTest, TouchAreaConfirmedReachesControllerRecordAndMap) {
  device::AreaSettings before, key;
  ControllerAreas(*rig, before, key);
  Run([&] { rig->station->StopTestThread(); });
  DrawArea(*rig, 2, 3, 20, 30);
  prompts.areaAnswers.push_back(Answer(31000, 21000, 80));
  Run([&] { rig->station->AreaDefined(1, prompts); });

  ASSERT_EQ(prompts.areaAsked.size(), 1u);
  EXPECT_EQ(prompts.areaAsked[0].scope, 0);
  EXPECT_EQ(prompts.areaAsked[0].upper, before.nThresUpper) << "prefilled from the controller";
  EXPECT_EQ(prompts.areaAsked[0].lower, before.nThresLower);
  EXPECT_EQ(prompts.areaAsked[0].gain, before.nGain);
  EXPECT_EQ(prompts.areaAsked[0].info.rfind("最大值=", 0), 0u);
  EXPECT_EQ(prompts.areaAsked[0].info.find("均方差"), std::string::npos);

  device::AreaSettings touch;
  ControllerAreas(*rig, touch, key);
  EXPECT_EQ(touch.nXOrigin, 2);
  EXPECT_EQ(touch.nYOrigin, 3);
  EXPECT_EQ(touch.nXSize, 20);
  EXPECT_EQ(touch.nYSize, 30);
  EXPECT_EQ(touch.nGain, 80);
  EXPECT_EQ(touch.nThresUpper, 31000);
  EXPECT_EQ(touch.nThresLower, 21000);
  const config::AreaParams record = rig->station->PanelConfigCopy().touchArea;
  EXPECT_EQ(record.nXSize, 20);
  EXPECT_EQ(record.nThresUpper, 31000);
  EXPECT_EQ(record.bEnable, 1);
  EXPECT_EQ(rig->Grid().TouchHigh(), 31000);
  EXPECT_EQ(rig->Grid().TouchLow(), 21000);
  EXPECT_TRUE(rig->Grid().Areas()[0].bEnabled);
  EXPECT_TRUE(rig->WaitRepaints(2)) << "testing resumes";
}

TEST_F(AreaEditingTest, CancelledOrRefusedAreaIsDisabledAndControllerKeepsItsWindow) {
  Run([&] { rig->station->StopTestThread(); });
  DrawArea(*rig, 0, 0, 20, 30);
  prompts.areaAnswers.push_back(std::nullopt);
  Run([&] { rig->station->AreaDefined(1, prompts); });
  EXPECT_FALSE(rig->Grid().Areas()[0].bEnabled);
  device::AreaSettings touch, key;
  ControllerAreas(*rig, touch, key);
  EXPECT_EQ(touch.nXSize, 32);
  EXPECT_EQ(touch.nYSize, 52);
  EXPECT_TRUE(rig->WaitRepaints(2));

  // A key area of 6 x 6 lines is refused by the validator after OK.
  Run([&] { rig->station->StopTestThread(); });
  DrawArea(*rig, 0, 40, 6, 6);
  prompts.areaAnswers.push_back(Answer(28000, 19000, 96));
  Run([&] { rig->station->AreaDefined(2, prompts); });
  EXPECT_EQ(rig->Messages().back(), "按键数量总数不能大于32");
  EXPECT_FALSE(rig->Grid().Areas()[1].bEnabled);
  ControllerAreas(*rig, touch, key);
  EXPECT_EQ(key.bEnable, 0);
  EXPECT_TRUE(rig->WaitRepaints(2)) << "a refusal resumes testing too";
}

TEST_F(AreaEditingTest, KeyAreaResizesMasksAndResetsPercentages) {
  Run([&] { rig->station->StopTestThread(); });
  DrawArea(*rig, 0, 0, 32, 40);
  prompts.areaAnswers.push_back(Answer(28000, 19000, 96));
  Run([&] { rig->station->AreaDefined(1, prompts); });
  rig->Grid().SetAllPercent(1500);
  // Key thresholds read back as 0 / 0 open the dialog with the defaults.
  Run([&] {
    rig->station->StopTestThread();
    auto turn = rig->station->LockController();
    device::WriteSignalLimits(*rig->station->Controller(), device::kT15KeyArray, 0, 0);
  });
  DrawArea(*rig, 0, 42, 4, 4);
  prompts.areaAnswers.push_back(Answer(27000, 18000, 90));
  Run([&] { rig->station->AreaDefined(2, prompts); });
  EXPECT_TRUE(rig->Messages().empty());
  ASSERT_EQ(prompts.areaAsked.size(), 2u);
  EXPECT_EQ(prompts.areaAsked[1].scope, 1);
  EXPECT_EQ(prompts.areaAsked[1].upper, 28000);
  EXPECT_EQ(prompts.areaAsked[1].lower, 19000);

  device::AreaSettings touch, key;
  ControllerAreas(*rig, touch, key);
  EXPECT_EQ(key.bEnable, 1);
  EXPECT_EQ(key.nYOrigin, 42);
  EXPECT_EQ(key.nXSize, 4);
  EXPECT_EQ(key.nThresUpper, 27000);
  EXPECT_EQ(key.nThresLower, 18000);
  EXPECT_EQ(rig->Grid().KeyHigh(), 27000);
  EXPECT_EQ(rig->Grid().GetNodePercent(10, 10), 0);
  EXPECT_EQ(rig->Grid().GetNodeFlags(43, 1) & MASK, MASK) << "key nodes are masked";
  EXPECT_EQ(rig->Grid().GetNodeFlags(10, 10) & 0xF, TOUCH);
}

TEST_F(AreaEditingTest, NodeEditInThresholdModeByArea) {
  // No area: the whole panel, the window as the controller holds it, the new thresholds.
  prompts.areaAnswers.push_back(Answer(30000, 20000, 100));
  Run([&] { rig->station->EditAreaOfNode(-1, prompts); });
  ASSERT_EQ(prompts.areaAsked.size(), 1u);
  EXPECT_EQ(prompts.areaAsked[0].scope, -1);
  EXPECT_NE(prompts.areaAsked[0].info.find(",均方差="), std::string::npos);
  EXPECT_NE(prompts.areaAsked[0].info.find('.'), std::string::npos) << "spread with two decimals";
  device::AreaSettings touch, key;
  ControllerAreas(*rig, touch, key);
  EXPECT_EQ(touch.nXSize, 32);
  EXPECT_EQ(touch.nYSize, 52);
  EXPECT_EQ(touch.nGain, 100);
  EXPECT_EQ(touch.nThresUpper, 30000);
  EXPECT_EQ(rig->Grid().TouchLow(), 20000);

  // With areas, a node outside them asks nothing.
  DrawArea(*rig, 0, 0, 32, 40);
  Run([&] { rig->station->EditAreaOfNode(-1, prompts); });
  EXPECT_EQ(prompts.areaAsked.size(), 1u);
  // The touch area: its thresholds are judged with at once.
  prompts.areaAnswers.push_back(Answer(29000, 22000, 100));
  Run([&] { rig->station->EditAreaOfNode(0, prompts); });
  EXPECT_EQ(rig->Grid().TouchHigh(), 29000);
  ControllerAreas(*rig, touch, key);
  EXPECT_EQ(touch.nYSize, 40);
  EXPECT_TRUE(rig->WaitRepaints(2));
}

TEST_F(AreaEditingTest, MarksAddRemoveAndStopAtTwelve) {
  judging::NodeMap& grid = rig->Grid();
  // The map flips the flags before it asks; the test does what the widget does.
  const auto mark = [&](int col, int row) {
    const int old = grid.GetNodeFlags(col, row);
    grid.SetNodeFlags(col, row, col, row, (old & 0xF) == TOUCH ? MASK : TOUCH, 0, judging::FlagOp::Set);
    Run([&] { rig->station->MarkNode(old, -1, col, row); });
  };
  mark(5, 7);
  config::UserMark first = rig->station->PanelConfigCopy().marks[0];
  EXPECT_TRUE(first.bEnable);
  EXPECT_EQ(first.nType, 2);
  EXPECT_EQ(first.nX, 7) << "row";
  EXPECT_EQ(first.nY, 5) << "column";
  EXPECT_EQ(ControllerUserData(*rig).marks[0] & 0xFF, first.Pack()[0]);

  mark(5, 7);  // the second Ctrl+double click removes it
  EXPECT_FALSE(rig->station->PanelConfigCopy().marks[0].bEnable);
  EXPECT_EQ(grid.GetNodeFlags(5, 7) & 0xF, TOUCH);

  for (int k = 0; k < 12; ++k) mark(k, 1);
  const config::PanelConfig full = rig->station->PanelConfigCopy();
  for (const config::UserMark& m : full.marks) EXPECT_TRUE(m.bEnable);
  EXPECT_EQ(full.marks[0].nY, 0) << "the freed entry is taken first";
  mark(20, 2);
  EXPECT_EQ(rig->Messages().back(), "用户自定义Mark数量已经用完，最多只能标记12个Mark!");
  EXPECT_EQ(grid.GetNodeFlags(20, 2) & 0xF, TOUCH) << "put back";
  EXPECT_EQ(rig->station->PanelConfigCopy().marks, full.marks);

  // A ZERO node is left alone.
  const std::size_t messages = rig->Messages().size();
  Run([&] { rig->station->MarkNode(judging::NodeFlag::ZERO | TOUCH, -1, 30, 3); });
  EXPECT_EQ(rig->Messages().size(), messages);
  EXPECT_EQ(rig->station->PanelConfigCopy().marks, full.marks);
  EXPECT_TRUE(rig->WaitRepaints(2));

  // The marks come back from the controller with the next area dialog.
  rig->station->UpdatePanelConfig([](config::PanelConfig& p) { p.marks = {}; });
  prompts.areaAnswers.push_back(std::nullopt);
  Run([&] { rig->station->StopTestThread(); });
  DrawArea(*rig, 0, 0, 32, 52);
  Run([&] { rig->station->AreaDefined(1, prompts); });
  EXPECT_EQ(rig->station->PanelConfigCopy().marks, full.marks);
  EXPECT_EQ(grid.GetNodeFlags(3, 1) & 0xF, MASK);
}

TEST_F(AreaEditingTest, AdjacentPercentagesForNodeRegionAndWholeMap) {
  judging::NodeMap& grid = rig->Grid();
  grid.SetLineNumberBase(1);
  prompts.percentAnswers.push_back(15);
  Run([&] { rig->station->AdjacentWholeMap(prompts); });
  ASSERT_EQ(prompts.percentAsked.size(), 1u);
  EXPECT_EQ(prompts.percentAsked[0].scope, 1);
  EXPECT_EQ(prompts.percentAsked[0].y1, 51);
  EXPECT_EQ(prompts.percentAsked[0].x1, 31);
  EXPECT_EQ(prompts.percentAsked[0].lineBase, 1);
  EXPECT_EQ(grid.GetNodePercent(0, 0), 1500);
  EXPECT_EQ(grid.GetNodePercent(51, 31), 1500);
  EXPECT_NE(rig->station->TestModeFlags() & 0x4, 0u);

  grid.SetNodePercent(3, 4, 1550);
  prompts.percentAnswers.push_back(15);
  Run([&] { rig->station->EditNodePercent(-1, 3, 4, prompts); });
  EXPECT_EQ(prompts.percentAsked[1].scope, 0);
  EXPECT_EQ(prompts.percentAsked[1].percent, 15);
  EXPECT_EQ(grid.GetNodePercent(3, 4), 1500);

  prompts.percentAnswers.push_back(30);
  Run([&] { rig->station->AdjacentRegion(10, 8, 8, 6, prompts); });
  EXPECT_EQ(prompts.percentAsked[2].scope, 2);
  EXPECT_EQ(prompts.percentAsked[2].y0, 10) << "in drag order";
  EXPECT_EQ(grid.GetNodePercent(9, 7), 3000);
  EXPECT_EQ(grid.GetNodePercent(11, 7), 1500);

  // Cancel changes nothing, not even the mode bit.
  Run([&] { rig->station->ToggleTestModeBit(0x4); });
  prompts.percentAnswers.push_back(std::nullopt);
  Run([&] { rig->station->AdjacentWholeMap(prompts); });
  EXPECT_EQ(rig->station->TestModeFlags() & 0x4, 0u);
  EXPECT_EQ(grid.GetNodePercent(0, 0), 1500);
}

TEST_F(AreaEditingTest, NodeLimitsFromTheRecordOrTheMap) {
  judging::NodeMap& grid = rig->Grid();
  // Arrays that do not reach the node: the map's limits are shown and the record takes them whole.
  prompts.limitAnswers.push_back(std::pair{26000, 21000});
  Run([&] { rig->station->EditNodeLimits(4, 5, prompts); });
  ASSERT_EQ(prompts.limitsAsked.size(), 1u);
  EXPECT_EQ(grid.UpperLimits()(4, 5), 26000);
  EXPECT_EQ(grid.LowerLimits()(4, 5), 21000);
  config::SampleLimitSet set = rig->station->PanelConfigCopy().sampleLimits;
  ASSERT_EQ(set.rawUpper.Rows(), grid.Columns());
  EXPECT_EQ(set.rawUpper(4, 5), 26000);
  EXPECT_EQ(set.rawLower(4, 5), 21000);

  // Arrays that cover it: shown from the record, written back to record and map.
  rig->station->UpdatePanelConfig([&](config::PanelConfig& p) {
    p.sampleLimits.rawAvg = config::Int32Array2D(grid.Columns(), grid.Rows(), 24000);
    p.sampleLimits.rawUpper(6, 2) = 25500;
  });
  prompts.limitAnswers.push_back(std::pair{25900, 22000});
  Run([&] { rig->station->EditNodeLimits(6, 2, prompts); });
  EXPECT_EQ(prompts.limitsAsked[1].upper, 25500);
  EXPECT_EQ(prompts.limitsAsked[1].average, 24000);
  set = rig->station->PanelConfigCopy().sampleLimits;
  EXPECT_EQ(set.rawUpper(6, 2), 25900);
  EXPECT_EQ(set.rawLower(6, 2), 22000);
  EXPECT_EQ(grid.UpperLimits()(6, 2), 25900);
  EXPECT_TRUE(rig->WaitRepaints(2));
}

TEST_F(AreaEditingTest, ScreenLevelAfterItsDialog) {
  config::ScreenLevelSettings group = rig->station->LoadScreenLevel();
  group.RawdataMax = 31000;
  group.ViewMode = 7;
  Run([&] { rig->station->ApplyScreenLevel(group, true); });
  std::int32_t stored = -1;
  config::CRegEditClass reg(rig->station->Settings());
  reg.ReadRegDword(config::kRegKeyScreenThreshold, "ScreenThresholdEnable", stored);
  EXPECT_EQ(stored, 1);
  EXPECT_EQ(rig->station->PanelConfigCopy().screen.RawdataMax, 31000);
  EXPECT_EQ(rig->Grid().GetScreenThresholdEnable(), 1);
  EXPECT_EQ(rig->view->Get(rig->view->paneWidths).back(), (std::pair{1, 600}));
  group.ViewMode = 3;
  Run([&] { rig->station->ApplyScreenLevel(group, false); });
  reg.ReadRegDword(config::kRegKeyScreenThreshold, "ScreenThresholdEnable", stored);
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(rig->view->Get(rig->view->paneWidths).back(), (std::pair{1, 400}));
}

TEST_F(AreaEditingTest, SampleLimitEditorClosing) {
  Run([&] { rig->station->StopTestThread(); });
  config::SampleLimitSet set;
  set.nPercentX100 = 1250;
  Run([&] { rig->station->FinishSampleLimits(&set); });
  EXPECT_EQ(rig->station->PanelConfigCopy().sampleLimits.nPercentX100, 1250);
  EXPECT_EQ(rig->station->TestModeFlags() & 0x3, 0x3u);
  EXPECT_TRUE(rig->WaitRepaints(2));
  Run([&] { rig->station->StopTestThread(); });
  Run([&] { rig->station->FinishSampleLimits(nullptr); });
  EXPECT_EQ(rig->station->TestModeFlags() & 0x3, 0x1u);
  EXPECT_TRUE(rig->WaitRepaints(2));
}

}  // namespace
}  // namespace varnex2::station
