// Output and record decision at the end of a test cycle.
#include "judging/verdict_outputs.h"

#include <gtest/gtest.h>

#include "judging/node_map.h"

namespace varnex2::judging {
namespace {

constexpr std::int32_t kTrigger = 28000;
constexpr std::int32_t kPresent = 30000;
constexpr std::uint8_t kEnabled = kBuzzerEnable;
constexpr std::uint8_t kInverted = kBuzzerEnable | kBuzzerInvert;

VerdictOutputs Decide(const char* verdict, int pass, int fail, std::uint8_t buzzer, int connect = 0,
                      std::int32_t average = kPresent) {
  return DecideVerdictOutputs(verdict, pass, fail, average, kTrigger, 3, buzzer, connect);
}

TEST(VerdictOutputs, NoProductSwitchesOffWithoutRecord) {
  const VerdictOutputs d = Decide("FAIL", 0, 5, kEnabled, 0, kTrigger - 1);
  EXPECT_EQ(d.output, VerdictOutputs::Off);
  EXPECT_FALSE(d.recordRequest);
  EXPECT_EQ(Decide("FAIL", 0, 5, kEnabled, 0, kTrigger).output, VerdictOutputs::On);  // level itself is present
}

TEST(VerdictOutputs, FailSoundsOnceStableWithBuzzerEnabled) {
  EXPECT_EQ(Decide("FAIL", 0, 2, kEnabled).output, VerdictOutputs::Leave);
  EXPECT_EQ(Decide("FAIL", 0, 3, kEnabled).output, VerdictOutputs::On);
  EXPECT_EQ(Decide("FAIL", 1, 3, kEnabled).output, VerdictOutputs::Leave);
  EXPECT_EQ(Decide("PASS", 0, 0, kEnabled).output, VerdictOutputs::Off);
  EXPECT_EQ(Decide("FAIL", 0, 9, kInverted).output, VerdictOutputs::Off);
  EXPECT_EQ(Decide("FAIL", 0, 9, 0).output, VerdictOutputs::Off);
  EXPECT_EQ(Decide("PASS", 9, 0, 0).output, VerdictOutputs::Off);
  EXPECT_EQ(Decide("FAIL", 0, 9, kBuzzerInvert).output, VerdictOutputs::Off);  // invert without enable
}

TEST(VerdictOutputs, InvertedBuzzerSoundsOnStablePass) {
  EXPECT_EQ(Decide("PASS", 2, 0, kInverted).output, VerdictOutputs::Leave);
  EXPECT_EQ(Decide("PASS", 3, 0, kInverted).output, VerdictOutputs::On);
  EXPECT_EQ(Decide("PASS", 3, 1, kInverted).output, VerdictOutputs::Leave);
}

TEST(VerdictOutputs, RecordDueOnceTheVerdictIsStableWithAScanner) {
  // Stable-frame count 3: due from the repaint whose counter reaches 3 on.
  for (int count : {3, 4, 50}) {
    EXPECT_TRUE(Decide("PASS", count, 0, 0, 0).recordRequest) << count;
    EXPECT_TRUE(Decide("FAIL", 0, count, 0, 1).recordRequest) << count;
  }
  for (int count : {0, 1, 2}) {
    EXPECT_FALSE(Decide("PASS", count, 0, 0, 0).recordRequest) << count;
    EXPECT_FALSE(Decide("FAIL", 0, count, 0, 1).recordRequest) << count;
  }
  EXPECT_FALSE(Decide("FAIL", 0, 3, 0, 255).recordRequest);
  const VerdictOutputs empty = Decide("", 0, 7, kEnabled, 0);
  EXPECT_EQ(empty.output, VerdictOutputs::Leave);
  EXPECT_FALSE(empty.recordRequest);
  EXPECT_EQ(Decide("pass", 5, 0, kInverted).output, VerdictOutputs::Leave);  // exact text only
}

TEST(VerdictOutputs, FourFailRepaintsSwitchOnAtTheFourth) {
  NodeMap map;
  map.SetResultFlags(ResultFlag::EVALUATION_SHOWN | ResultFlag::TOUCH_NG);
  std::vector<VerdictOutputs::OutputAction> actions;
  for (int i = 0; i < 4; ++i) {
    const std::string& verdict = map.FixVerdict();
    actions.push_back(
        Decide(verdict.c_str(), map.GetColorGridCounterPass(), map.GetColorGridCounterFail(), kEnabled).output);
  }
  EXPECT_EQ(actions, (std::vector<VerdictOutputs::OutputAction>{VerdictOutputs::Leave, VerdictOutputs::Leave,
                                                                VerdictOutputs::Leave, VerdictOutputs::On}));
}

TEST(VerdictOutputs, TraceText) {
  EXPECT_EQ(VerdictTraceText(2, 0, 3),
            "\r\n  grid.nColorGridCounter_Pass = 2, grid.nColorGridCounter_Fail = 0, "
            "nOutputTriggerStableFrameCnt = 3");
  EXPECT_EQ(VerdictTraceText(INT32_MIN, -1, INT32_MAX).size(), 122u);  // nothing cut off
}

TEST(RecordGate, OncePerProductAndVerdict) {
  RecordGate gate;
  EXPECT_FALSE(gate.Admit(false, "PASS", true));  // not stable yet
  EXPECT_TRUE(gate.Admit(true, "PASS", true));    // stable: one record
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(gate.Admit(true, "PASS", true));
  EXPECT_TRUE(gate.Admit(true, "FAIL", true));  // the panel turned: its new verdict
  EXPECT_FALSE(gate.Admit(true, "FAIL", true));
  EXPECT_TRUE(gate.Admit(true, "PASS", true));
  // Taken off and the next panel laid on with the same verdict: a record for it too.
  EXPECT_FALSE(gate.Admit(false, "PASS", false));
  EXPECT_TRUE(gate.Admit(true, "PASS", true));
  EXPECT_FALSE(gate.Admit(true, "PASS", true));
}

}  // namespace
}  // namespace varnex2::judging
