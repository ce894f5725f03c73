// The box's self-test against the in-process simulated box: each step's pass and failure, the
// report's pieces, the failure rules, the abort and what the run leaves in the controller.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/controller_ops.h"
#include "service/self_test.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"

namespace varnex2::service {
namespace {

using namespace std::chrono_literals;

struct Piece {
  ReportPiece piece;
  std::string text;
};

// Records what the run tells its window; `onAppend` runs on the worker's thread.
class RecordingView final : public SelfTestView {
 public:
  void ClearReport() override {
    std::lock_guard lock(mutex);
    pieces.clear();
  }
  void Append(ReportPiece piece, const std::string& text) override {
    std::function<void(const Piece&)> hook;
    {
      std::lock_guard lock(mutex);
      pieces.push_back({piece, text});
      hook = onAppend;
    }
    if (hook) hook({piece, text});
  }
  void SetButtons(bool start, bool abort) override {
    std::lock_guard lock(mutex);
    buttons.emplace_back(start, abort);
  }
  void Repaint() override {}

  std::string Text() {
    std::lock_guard lock(mutex);
    std::string all;
    for (const Piece& p : pieces) all += p.text;
    return all;
  }
  int Count(ReportPiece piece) {
    std::lock_guard lock(mutex);
    return static_cast<int>(std::count_if(pieces.begin(), pieces.end(), [&](const Piece& p) { return p.piece == piece; }));
  }
  bool HasTitle(int step) {
    std::lock_guard lock(mutex);
    const std::string prefix = std::to_string(step) + ".";
    return std::any_of(pieces.begin(), pieces.end(), [&](const Piece& p) {
      return p.piece == ReportPiece::StepTitle && p.text.rfind(prefix, 0) == 0;
    });
  }

  std::mutex mutex;
  std::vector<Piece> pieces;
  std::vector<std::pair<bool, bool>> buttons;
  std::function<void(const Piece&)> onAppend;
};

class SelfTestRig : public ::testing::Test {
 protected:
  void Build(const sim::SimBoxOptions& options = {}) {
    connection.reset();  // the link goes before its port
    port.reset();
    box = std::make_shared<sim::SimBox>(options);
    port = sim::CreateSimUsbPort(box);
    connection = std::make_unique<ToolConnection>(*port);
  }

  // A box on its fixture with a quick finger sweep (the finger test's rounds are shortened).
  void Fixture(int level = 16500) {
    sim::PanelState s;
    s.placed = true;
    s.level = level;
    s.gradientX = 10;
    s.gradientY = 6;
    s.noise = 40;
    s.sweepInterval = 15ms;
    s.sweepStart = std::chrono::steady_clock::now();
    box->SetPanel(s);
  }

  SelfTestOptions Quick(bool fixture = false) {
    SelfTestOptions o;
    o.fixture = fixture;
    o.sleep = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(d, 5ms)); };
    return o;
  }

  SelfTestResult RunToEnd(const SelfTestOptions& options, std::chrono::seconds limit = 30s) {
    SelfTestWorker worker(*connection, map, view);
    EXPECT_TRUE(worker.Start(options));
    EXPECT_TRUE(worker.WaitFinished(limit)) << view.Text();
    worker.RequestAbort();
    EXPECT_TRUE(worker.WaitFinished(10s));
    return worker.LastResult();
  }

  std::vector<std::uint8_t> Object(std::uint8_t type, std::size_t n) {
    return box->ReadMemory(box->ObjectAddress(type), n);
  }

  std::shared_ptr<sim::SimBox> box;
  std::unique_ptr<platform::UsbPort> port;
  std::unique_ptr<ToolConnection> connection;
  judging::NodeMap map;
  RecordingView view;
};

TEST(SelfTestTexts, ShortHintAndHintLists) {
  EXPECT_EQ(ShortHintLine(2, 4, 0), "->1：请检查 X=3 提示的短路点，请顺着H1或者H2查找【对地短路】\r\n");
  EXPECT_EQ(ShortHintLine(3, 1, 13), "->1：请检查 X=0Y=12 提示的短路点，请顺着H1或者H2查找【信号间短路】\r\n");
  EXPECT_EQ(ShortHintLine(3, 0, 0), "->1：请检查  提示的短路点，请顺着H1或者H2查找【信号间短路】\r\n");
  EXPECT_EQ(ShortHintLine(1, 4, 0), "\r\n");
  EXPECT_EQ(RepairHints(2), RepairHints(3));
  EXPECT_EQ(RepairHints(5, "X\r\n"),
            "维修建议按检查优先顺序排列如下：\r\nX\r\n->2：请检查核心板U1邦定是否正常。\r\n"
            "->3：请检查核心板U4贴在主板上四边焊接是否正常。\r\n");
  EXPECT_EQ(RepairHints(7), "");
  const PieceFormat release = FormatOf(ReportPiece::Release);
  EXPECT_TRUE(release.bold);
  EXPECT_EQ(release.twips, 400);
  EXPECT_EQ(release.green, 155);
}

TEST_F(SelfTestRig, GoodBoxPassesEveryStepAndKeepsItsUserData) {
  Build();
  Fixture();
  // The station's set-up in T38 (marks, display style) before the run.
  ASSERT_EQ(connection->Open(), 0);
  const int t38Size = device::ObjectSize(*connection->Record(), device::kT38UserData);
  ASSERT_GT(t38Size, 2);
  std::vector<std::uint8_t> setup(static_cast<std::size_t>(t38Size), 0);
  setup[0] = 0x5A;
  setup[1] = 0x03;
  setup.back() = 0xC7;
  ASSERT_EQ(device::WriteObject(connection->Link(), device::kT38UserData, 0, setup), 0);

  const SelfTestResult r = RunToEnd(Quick());
  EXPECT_EQ(r.outcome, SelfTestOutcome::Passed) << view.Text();
  EXPECT_EQ(view.Count(ReportPiece::StepTitle), 7);
  EXPECT_EQ(view.Count(ReportPiece::StepPassed), 7);
  EXPECT_EQ(view.Count(ReportPiece::StepFailed), 0);
  ASSERT_FALSE(view.pieces.empty());
  EXPECT_EQ(view.pieces.front().piece, ReportPiece::TimeHeader);
  EXPECT_EQ(view.pieces.back().text, "\r\n\r\n此块板子是好的，可以出货！\r\n\r\n");
  EXPECT_NE(view.Text().find("最大值=17116,最小值=16500,平均值="), std::string::npos) << view.Text();
  EXPECT_NE(view.Text().find("允许范围14000~18000 \r\n"), std::string::npos);
  EXPECT_EQ(view.buttons.back(), std::make_pair(true, false));

  EXPECT_EQ(Object(device::kT38UserData, setup.size()), setup);
  const std::vector<std::uint8_t> t9 = Object(device::kT9Touchscreen, 8);
  EXPECT_EQ(t9, (std::vector<std::uint8_t>{0x81, 0, 0, 32, 52, 0, 32, 255}));
  EXPECT_EQ(Object(device::kT7Power, 4), (std::vector<std::uint8_t>{255, 255, 255, 3}));
  // Every node was touched.
  const judging::NodeFrame flags = map.GetFlagsFrame();
  EXPECT_EQ(flags.Columns(), 52);
  EXPECT_EQ(flags.Rows(), 32);
}

TEST_F(SelfTestRig, NoBoxFailsTheUsbStepWithItsEightHints) {
  sim::SimBoxOptions o;
  o.controllerPresent = false;
  Build(o);
  const SelfTestResult r = RunToEnd(Quick());
  EXPECT_EQ(r.outcome, SelfTestOutcome::Failed);
  EXPECT_EQ(r.step, 1);
  EXPECT_EQ(view.Count(ReportPiece::StepTitle), 1);
  const std::string text = view.Text();
  EXPECT_NE(text.find("1.USB测试:失败\r\n\r\n维修建议按检查优先顺序排列如下：\r\n->1：请检查USB数据线是否连接好。"),
            std::string::npos);
  EXPECT_NE(text.find("->8：请检查核心板的晶振匹配电容是否正确(C18,C19)。\r\n"), std::string::npos);
  EXPECT_EQ(view.buttons.back(), std::make_pair(true, false));
}

TEST_F(SelfTestRig, InformationBlockDecidesTheBasicDataStep) {
  {
    sim::SimBoxOptions o;
    o.variant = sim::ControllerVariant::Variant0B();
    o.variant.matrixX = 32;
    o.variant.matrixY = 52;
    Build(o);
    Fixture();
    SelfTestWorker worker(*connection, map, view);
    view.onAppend = [&](const Piece& p) {
      if (p.piece == ReportPiece::StepTitle && p.text.rfind("3.", 0) == 0) worker.RequestAbort();
    };
    ASSERT_TRUE(worker.Start(Quick()));
    ASSERT_TRUE(worker.WaitFinished(20s));
    EXPECT_NE(view.Text().find("2.IC基本数据读取测试:通过"), std::string::npos) << view.Text();
    view.onAppend = nullptr;
  }
  sim::SimBoxOptions o;
  o.variant.matrixX = 30;
  Build(o);
  view.pieces.clear();
  const SelfTestResult r = RunToEnd(Quick());
  EXPECT_EQ(r.step, 2);
  EXPECT_NE(view.Text().find("2.IC基本数据读取测试:失败\r\n\r\n维修建议按检查优先顺序排列如下：\r\n->1：请检查核心板U1邦定是否正常。"),
            std::string::npos)
      << view.Text();
}

TEST_F(SelfTestRig, PowerFaultAndShortFailTheirSteps) {
  Build();
  Fixture();
  box->SetPowerFault(true);
  SelfTestResult r = RunToEnd(Quick());
  EXPECT_EQ(r.step, 4);
  EXPECT_NE(view.Text().find("4.电源测试:失败\r\n\r\n维修建议按检查优先顺序排列如下：\r\n->1：请检查底板的三路电源供电"),
            std::string::npos);
  EXPECT_NE(view.Text().find("->4：请检查U1,U2,U3相关旁路电容是否有短路情况。\r\n"), std::string::npos);

  box->SetPowerFault(false);
  box->AddShort({true, 3, 2});  // X line 3 to ground: the report's X value is 4
  r = RunToEnd(Quick());
  EXPECT_EQ(r.step, 5);
  EXPECT_NE(view.Text().find("5.短路测试:失败\r\n\r\n维修建议按检查优先顺序排列如下：\r\n"
                             "->1：请检查 X=3 提示的短路点，请顺着H1或者H2查找【对地短路】\r\n->2："),
            std::string::npos)
      << view.Text();
}

TEST_F(SelfTestRig, RawMaximumAboveTheLimitFailsUnlessTheFixtureIsUsed) {
  Build();
  Fixture(18500 - 31 * 10 - 51 * 6);  // the highest node reads 18500
  SelfTestResult r = RunToEnd(Quick());
  EXPECT_EQ(r.step, 6);
  EXPECT_FALSE(r.accessFailure);
  EXPECT_NE(view.Text().find("最大值=18500,"), std::string::npos) << view.Text();
  EXPECT_NE(view.Text().find("允许范围14000~18000 \r\n6.rawdata读取测试:失败\r\n\r\n维修建议"), std::string::npos);
  EXPECT_NE(view.Text().find("->3：请重新插拔一次USB再试。\r\n"), std::string::npos);

  r = RunToEnd(Quick(true));
  EXPECT_EQ(r.outcome, SelfTestOutcome::Passed) << view.Text();
  EXPECT_NE(view.Text().find("允许范围14000~19000 \r\n6.rawdata读取测试:通过"), std::string::npos);
}

TEST_F(SelfTestRig, NodeNeverTouchedKeepsTheFingerStepRunningUntilAborted) {
  Build();
  sim::PanelState s;
  s.placed = true;
  s.level = 16500;
  box->SetPanel(s);
  // Fingers on every node but the corner block: node (0, 0) alone sees no change.
  std::vector<sim::Touch> touches;
  for (int x = 0; x < 32; ++x) {
    for (int y = 0; y < 52; ++y) {
      if (x > 1 || y > 1) touches.push_back({x, y, 400});
    }
  }
  box->SetTouches(touches);
  SelfTestWorker worker(*connection, map, view);
  ASSERT_TRUE(worker.Start(Quick()));
  EXPECT_FALSE(worker.WaitFinished(3s));
  EXPECT_TRUE(view.HasTitle(7));
  EXPECT_EQ(map.GetNodeFlags(0, 0), 0);
  EXPECT_EQ(map.GetNodeFlags(1, 1), judging::NodeFlag::PASS);
  EXPECT_EQ(map.GetNodeFlags(51, 31), judging::NodeFlag::PASS);
  worker.RequestAbort();
  ASSERT_TRUE(worker.WaitFinished(2s));
  EXPECT_EQ(worker.LastResult().outcome, SelfTestOutcome::Aborted);
  EXPECT_EQ(view.Count(ReportPiece::StepPassed), 6);
}

TEST_F(SelfTestRig, AbortDuringTheRawStepLetsItFinishAndRunsNoFurther) {
  Build();
  Fixture();
  SelfTestWorker worker(*connection, map, view);
  view.onAppend = [&](const Piece& p) {
    if (p.piece == ReportPiece::StepTitle && p.text.rfind("6.", 0) == 0) worker.RequestAbort();
  };
  ASSERT_TRUE(worker.Start(Quick()));
  ASSERT_TRUE(worker.WaitFinished(20s));
  EXPECT_EQ(worker.LastResult().outcome, SelfTestOutcome::Aborted);
  EXPECT_NE(view.Text().find("6.rawdata读取测试:通过"), std::string::npos);
  EXPECT_FALSE(view.HasTitle(7));
}

TEST_F(SelfTestRig, AFrameThatCannotBeReadEndsTheRunWithoutHintsAndKeepsTheRunningButtons) {
  Build();
  Fixture();
  SelfTestWorker worker(*connection, map, view);
  view.onAppend = [&](const Piece& p) {
    if (p.piece == ReportPiece::StepTitle && p.text.rfind("6.", 0) == 0) box->Unplug(sim::BoxFunction::Controller);
  };
  ASSERT_TRUE(worker.Start(Quick()));
  ASSERT_TRUE(worker.WaitFinished(20s));
  const SelfTestResult r = worker.LastResult();
  EXPECT_EQ(r.outcome, SelfTestOutcome::Failed);
  EXPECT_EQ(r.step, 6);
  EXPECT_TRUE(r.accessFailure);
  EXPECT_NE(r.code, 0);
  EXPECT_EQ(view.pieces.back().text, "6.rawdata读取测试:失败\r\n\r\n");
  EXPECT_EQ(view.Count(ReportPiece::Hints), 0);
  EXPECT_EQ(view.buttons.back(), std::make_pair(false, true));
}

}  // namespace
}  // namespace varnex2::service
