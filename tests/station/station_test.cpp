// The station core on the in-process simulated box, with a recording view.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "station/station_rig.h"
#include "station/fake_station_view.h"
#include "station/test_backends.h"
#include "station/station.h"
#include "platform/memory_settings_store.h"
#include "config/parameter_file.h"
#include "device/controller_link.h"
#include "device/controller_ops.h"
#include "device/user_data_record.h"
#include "judging/node_map.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"

namespace varnex2::station {
namespace {

using namespace std::chrono_literals;
using testing::FakeView;
using testing::Repaint;

// ---- the test cycle ---------------------------------------------------------------------------

TEST(StationCycle, FramesFlowAndAreJudged) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  EXPECT_TRUE(rig.station->DeviceConnected());
  EXPECT_EQ(rig.Titles().back(), "Varnex2 - 设备已连接");
  EXPECT_EQ(rig.Grid().Columns(), 52);
  EXPECT_EQ(rig.Grid().Rows(), 32);
  ASSERT_TRUE(rig.WaitRepaints(3));
  const auto repaints = rig.Repaints();
  EXPECT_EQ(repaints.back().verdict, "PASS");
  // The node values are the box's raw counts laid out [Y][X].
  const judging::NodeFrame raw = rig.Grid().GetRawFrame();
  EXPECT_NEAR(raw(0, 0), 29500, 200);
  EXPECT_NEAR(raw(51, 31), 29500 + 10 * 31 + 6 * 51, 200);
  // A product is present and the scanner type defaults to the keyboard: every cycle asks for a record.
  EXPECT_GT(rig.records.load(), 0);
  // Connected look.
  const auto panes = rig.view->Get(rig.view->panes);
  const auto connected =
      std::find_if(panes.begin(), panes.end(), [](const auto& p) { return p.pane == 0 && p.text == "设备已连接"; });
  ASSERT_NE(connected, panes.end());
  EXPECT_EQ(connected->back_colour, kColourGreen);
  EXPECT_EQ(rig.view->Get(rig.view->menus).back(), true);
  // The About window's firmware bytes, read while the cycle runs (the simulated box: 0x20, 0xAB).
  std::uint8_t version = 0;
  std::uint8_t build = 0;
  EXPECT_TRUE(rig.station->FirmwareVersion(version, build));
  EXPECT_EQ(version, 0x20);
  EXPECT_EQ(build, 0xAB);
}

TEST(StationCycle, FailDrivesTheOutputAfterTheStableCountAndPassEndsIt) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  EnableBuzzer(rig);
  ASSERT_TRUE(rig.WaitRepaints(3));

  const std::size_t failFrom = rig.view->RepaintCount();
  rig.box->AddNodeFault({3, 4, sim::NodeFaultType::Low, 0});
  ASSERT_TRUE(rig.WaitRepaints(8));
  const std::size_t passFrom = rig.view->RepaintCount();
  rig.box->ClearFaults();
  ASSERT_TRUE(rig.WaitRepaints(5));

  const auto r = rig.Repaints();
  // The fail run: counters 0, 1, 2, 3, ...; the output is seen on at the repaint after the one
  // where the counter reached the stable count (3), and not before.
  std::size_t firstFail = failFrom;
  while (firstFail < passFrom && r[firstFail].verdict != "FAIL") ++firstFail;
  ASSERT_LT(firstFail + 5, passFrom) << [&] {
    std::string v;
    for (const auto& p : r) v += p.verdict + "/" + std::to_string(p.fail) + " ";
    return v;
  }();
  for (std::size_t i = firstFail; i < passFrom; ++i) {
    ASSERT_EQ(r[i].verdict, "FAIL") << i;
    EXPECT_EQ(r[i].fail, static_cast<int>(i - firstFail));
    EXPECT_EQ(r[i].output, r[i].fail >= 4 ? 1 : 0) << "repaint " << i << " fail counter " << r[i].fail;
  }
  // The first PASS switches it off, seen at the next repaint.
  std::size_t firstPass = passFrom;
  while (firstPass < r.size() && r[firstPass].verdict != "PASS") ++firstPass;
  ASSERT_LT(firstPass + 1, r.size());
  EXPECT_EQ(r[firstPass].pass, 0);
  EXPECT_EQ(r[firstPass + 1].output, 0);
}

TEST(StationCycle, NoProductSwitchesOffAndRequestsNoRecord) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  EnableBuzzer(rig);
  rig.box->AddNodeFault({3, 4, sim::NodeFaultType::Low, 0});
  ASSERT_TRUE(WaitUntil([&] { return rig.box->Bridge().outputLevel == 1; }));
  rig.box->RemovePanel();
  ASSERT_TRUE(rig.WaitRepaints(3));
  EXPECT_EQ(rig.box->Bridge().outputLevel, 0);
  const int before = rig.records.load();
  ASSERT_TRUE(rig.WaitRepaints(5));
  EXPECT_EQ(rig.records.load(), before);
  EXPECT_EQ(rig.box->Bridge().outputLevel, 0);
  // A trigger level below the empty fixture's counts makes it a product again.
  EXPECT_EQ(rig.station->TriggerLevel(), 28000);
  rig.station->SetTriggerLevel(10000);
  ASSERT_TRUE(rig.WaitRepaints(3));
  EXPECT_GT(rig.records.load(), before);
}

TEST(StationCycle, NoScannerMeansNoRecordRequests) {
  StationRig rig({.connectType = 255});
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  ASSERT_TRUE(rig.WaitRepaints(4));
  EXPECT_EQ(rig.Repaints().back().verdict, "PASS");
  EXPECT_EQ(rig.records.load(), 0);
  EXPECT_EQ(rig.station->ScannerSettings().Get().nConnectType, 255);
  // A change of the setting acts from the next cycle on.
  rig.station->ScannerSettings().Update([](scanner::ScannerSetting& s) { s.nConnectType = 1; });
  ASSERT_TRUE(rig.WaitRepaints(3));
  EXPECT_GT(rig.records.load(), 0);
}

TEST(StationCycle, ReportedShortMarksItsLineAndClearsNextCycle) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  rig.box->AddShort({true, 4, 2});
  ASSERT_TRUE(WaitUntil([&] { return (rig.Grid().GetNodeFlags(0, 4) & judging::NodeFlag::SHORT2) != 0; }));
  EXPECT_EQ(rig.Grid().GetNodeFlags(51, 4) & judging::NodeFlag::SHORT_ANY, judging::NodeFlag::SHORT2);
  EXPECT_EQ(rig.Grid().GetNodeFlags(0, 5) & judging::NodeFlag::SHORT_ANY, 0);
  ASSERT_TRUE(rig.WaitRepaints(2));
  EXPECT_EQ(rig.Repaints().back().verdict, "FAIL");
  rig.box->ClearFaults();
  ASSERT_TRUE(rig.WaitRepaints(3));
  for (int col = 0; col < 52; ++col) EXPECT_EQ(rig.Grid().GetNodeFlags(col, 4) & judging::NodeFlag::SHORT_ANY, 0);
  EXPECT_EQ(rig.Repaints().back().verdict, "PASS");
}

TEST(StationCycle, SilentSelfTestKeepsTheLastFault) {
  StationRig rig({.monitor = false});
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  rig.box->AddShort({true, 4, 2});
  ASSERT_TRUE(WaitUntil([&] { return (rig.Grid().GetNodeFlags(0, 4) & judging::NodeFlag::SHORT2) != 0; }));
  ASSERT_TRUE(rig.WaitRepaints(2));
  ASSERT_EQ(rig.Repaints().back().verdict, "FAIL");
  // The controller stops answering the self-test: the cycle waits out its 10 s and carries on
  // with the fault the last answer reported.
  rig.selfTest->silent = true;
  ASSERT_TRUE(WaitUntil([&] { return rig.selfTest->silenced.load() > 0; }));
  const std::size_t from = rig.view->RepaintCount();
  ASSERT_TRUE(WaitUntil([&] { return rig.view->RepaintCount() > from; }, 20s));
  const Repaint silentCycle = rig.Repaints()[from];
  EXPECT_EQ(silentCycle.verdict, "FAIL");
  EXPECT_EQ(silentCycle.shortNodes, 52) << "the short marks of the line stay";
  // Unplugged, the waiting self-test ends at once and the rig closes quickly.
  rig.box->Unplug(sim::BoxFunction::Controller);
}

TEST(StationCycle, DifferenceModeShowsTheDistanceToTheReference) {
  StationRig rig;
  sim::PanelState s = GoodPanel();
  s.noise = 0;
  rig.box->SetPanel(s);
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  rig.view->Run([&] { rig.station->ToggleDiffMode(); });
  EXPECT_TRUE(rig.station->DiffMode());
  EXPECT_EQ(rig.station->TestModeFlags() & 0x10, 0x10u);
  EXPECT_EQ(rig.Grid().GetDisplayStyle(), judging::kStyleText);
  s.level += 100;
  rig.box->SetPanel(s);
  ASSERT_TRUE(WaitUntil([&] {
    const auto raw = rig.Grid().GetRawFrame();
    return raw(0, 0) == 100 && raw(51, 31) == 100 && raw(20, 10) == 100;
  }));
  rig.view->Run([&] { rig.station->ToggleDiffMode(); });
  EXPECT_EQ(rig.station->TestModeFlags() & 0x10, 0u);
  EXPECT_EQ(rig.Grid().GetDisplayStyle(), judging::kStyleColour);
  ASSERT_TRUE(WaitUntil([&] { return rig.Grid().GetRawFrame()(0, 0) == 29600; }));
}

TEST(StationCycle, OnlyTheCyclesOwnRepaintCountsWhileItRuns) {
  StationRig rig({.monitor = false});
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  ASSERT_TRUE(WaitUntil([&] { return rig.Grid().GetColorGridCounterPass() > 0; }));
  // Counters and repaints read together on the window thread, where every paint runs.
  auto snapshot = [&] {
    std::pair<int, std::size_t> s;
    rig.view->Run([&] { s = {rig.Grid().GetColorGridCounterPass(), rig.view->RepaintCount()}; });
    return s;
  };
  const auto [passBefore, repaintsBefore] = snapshot();
  // Hover, resize and expose paints of the window, between the cycle's own.
  constexpr int kOther = 40;
  for (int i = 0; i < kOther; ++i) {
    rig.view->Post([&] { rig.view->RepaintGrid(); });
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(rig.WaitRepaints(3));
  const auto [passAfter, repaintsAfter] = snapshot();
  ASSERT_EQ(rig.Repaints().back().verdict, "PASS");
  const int cycleRepaints = static_cast<int>(repaintsAfter - repaintsBefore) - kOther;
  ASSERT_GT(cycleRepaints, 0);
  EXPECT_EQ(passAfter - passBefore, cycleRepaints) << "one count per cycle, none per other repaint";

  // With the cycle stopped, every paint counts again.
  rig.view->Run([&] { rig.station->StopTestThread(); });
  const int stopped = rig.Grid().GetColorGridCounterPass();
  rig.view->Run([&] { rig.view->RepaintGrid(); });
  EXPECT_EQ(rig.Grid().GetColorGridCounterPass(), stopped + 1);
}

TEST(StationCycle, StartTwiceRunsOneThreadAndStopWithoutThreadReturnsAtOnce) {
  StationRig rig;
  EXPECT_EQ(rig.station->StopTestThread(), 0);
  EXPECT_FALSE(rig.station->TestRunning());
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  rig.view->Run([&] {
    rig.station->StopTestThread();
    rig.station->StartTestThread();
    rig.station->StartTestThread();
  });
  ASSERT_TRUE(rig.WaitRepaints(3));
  rig.view->Run([&] { EXPECT_EQ(rig.station->StopTestThread(), 0); });
  EXPECT_FALSE(rig.station->TestRunning());
  // One stop ended every loop: no cycle repaints any more.
  const std::size_t count = rig.view->RepaintCount();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(rig.view->RepaintCount(), count);
  rig.view->Run([&] { EXPECT_EQ(rig.station->StopTestThread(), 0); });
}

TEST(StationCycle, StopGivesUpAfterItsBoundAndTheLateLoopEndsBeforeTheNextStarts) {
  StationRig rig({.monitor = false});
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  // The window is busy in a repaint the cycle has sent: the cycle cannot end
  // within the stop's bound.
  rig.view->slowRepaintMs = 6000;
  ASSERT_TRUE(WaitUntil([&] { return rig.view->slowRepaintMs.load() == 0; }));
  EXPECT_EQ(rig.station->StopTestThread(), -100);
  EXPECT_FALSE(rig.station->TestRunning());
  // A new loop may be started at once; it runs once the late one has ended.
  rig.station->ResumeTest();
  ASSERT_TRUE(rig.WaitRepaints(3));
  EXPECT_TRUE(rig.station->TestRunning());
  rig.view->Run([&] { EXPECT_EQ(rig.station->StopTestThread(), 0); });
}

TEST(StationCycle, ResumeWaitsForTheLateCycleAndReportsATimeout) {
  StationRig rig({.monitor = false, .cycleAnswerWait = 200ms});
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  // The window is busy in a repaint the cycle has sent: the cycle outlives the
  // stop's bound and the resume's.
  rig.view->slowRepaintMs = 1500;
  ASSERT_TRUE(WaitUntil([&] { return rig.view->slowRepaintMs.load() == 0; }));
  EXPECT_EQ(rig.station->StopTestThread(), -100);
  rig.station->ResumeTest();
  EXPECT_EQ(rig.Messages(), std::vector<std::string>{"超时！"});
  EXPECT_FALSE(rig.station->TestRunning());
  // The test stays stopped: once the late cycle has ended, nothing repaints.
  std::this_thread::sleep_for(1500ms);
  const std::size_t count = rig.view->RepaintCount();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(rig.view->RepaintCount(), count);
  EXPECT_FALSE(rig.station->TestRunning());
  // The next resume finds the late loop ended and testing runs again.
  rig.view->Run([&] { rig.station->ResumeTest(); });
  ASSERT_TRUE(rig.WaitRepaints(3));
  EXPECT_TRUE(rig.station->TestRunning());
  EXPECT_EQ(rig.Messages().size(), 1u);
}

TEST(StationCycle, ThousandBracketsWhileFramesFlow) {
  StationRig rig({.monitor = false, .hid = false});
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  // Brackets back to back, and now and then after a cycle has got under way.
  for (int round = 0; round < 20; ++round) {
    rig.view->Run([&] {
      for (int i = 0; i < 50; ++i) {
        rig.station->StopTestThread();
        rig.station->ResumeTest();
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 7));
  }
  ASSERT_TRUE(rig.WaitRepaints(3));
  EXPECT_TRUE(rig.station->TestRunning());
  rig.view->Run([&] { EXPECT_EQ(rig.station->StopTestThread(), 0); });
  EXPECT_FALSE(rig.station->TestRunning());
}

// ---- device presence --------------------------------------------------------------------------

TEST(StationPresence, FailedRegistrationWarnsAndTestingStillStarts) {
  StationRig rig({.connectType = 1, .refusingMonitor = true});
  std::atomic<int> loads{0};
  std::atomic<int> loadedType{-1};
  rig.station->SetScannerSettingsLoaded([&](const scanner::ScannerSetting& s) {
    loadedType = s.nConnectType;
    ++loads;
  });
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  EXPECT_EQ(rig.Messages(), std::vector<std::string>{"RegisterDeviceNotification   failed"});
  EXPECT_EQ(loads.load(), 1);
  EXPECT_EQ(loadedType.load(), 1);
  rig.station->SetScannerSettingsLoaded(nullptr);
}

TEST(StationPresence, ConnectionLoadsScannerThenScreenThenDiffModeOnce) {
  StationRig rig({.monitor = false});
  rig.settings->SetDword("Software\\Varnx2\\ScreenThreshold", "RawdataMax", 31234);
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  std::vector<std::string> reads = rig.settings->Reads();
  // The start-up's output-trigger settings come first and are not part of the connection.
  std::erase_if(reads, [](const std::string& r) { return r.starts_with("Software\\Varnx2\\OutPutSetting|"); });
  ASSERT_FALSE(reads.empty());
  auto group = [](const std::string& r) {
    if (r.starts_with("Software\\Varnx2\\ScannerSetting")) return 0;
    if (r.starts_with("Software\\Varnx2\\ScreenThreshold|")) return 1;
    if (r.starts_with("Software\\Varnx2\\DiffMode|")) return 2;
    return 3;
  };
  std::vector<int> groups;
  for (const auto& r : reads) groups.push_back(group(r));
  EXPECT_TRUE(std::is_sorted(groups.begin(), groups.end())) << ::testing::PrintToString(reads);
  EXPECT_EQ(std::count(groups.begin(), groups.end(), 1), 12);
  EXPECT_EQ(std::count(groups.begin(), groups.end(), 2), 1);
  EXPECT_EQ(std::count(groups.begin(), groups.end(), 3), 0);
  std::vector<std::string> sorted = reads;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "each value once";
  // What was loaded reaches the node map.
  EXPECT_EQ(rig.Grid().GetRawdataMax(), 31234);
  EXPECT_EQ(rig.station->PanelConfigCopy().screen.RawdataMax, 31234);
}

TEST(StationPresence, StartWithoutControllerShowsTheDisconnectedLook) {
  StationRig rig({.controllerPresent = false});
  rig.Initialise();
  EXPECT_FALSE(rig.station->DeviceConnected());
  EXPECT_EQ(rig.Titles().back(), "Varnex2 - 设备未连接");
  EXPECT_EQ(rig.Grid().Columns(), 0);
  EXPECT_EQ(rig.view->Get(rig.view->menus).back(), false);
  const auto panes = rig.view->Get(rig.view->panes);
  ASSERT_GE(panes.size(), 2u);
  EXPECT_EQ(panes[panes.size() - 2].text, "设备未连接");
  EXPECT_EQ(panes.back().pane, 2);
  EXPECT_EQ(panes.back().text, "通用触摸屏测试系统");
  EXPECT_EQ(panes.back().back_colour, kColourGrey);
  // Plugging it in connects and starts testing.
  rig.box->Plug(sim::BoxFunction::Controller);
  ASSERT_TRUE(rig.WaitTesting());
  EXPECT_EQ(rig.Titles().back(), "Varnex2 - 设备已连接");
  EXPECT_EQ(rig.Grid().Columns(), 52);
}

TEST(StationPresence, UnplugCountsDownReopensOnceAndReconnectsOnArrival) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  const std::size_t from = rig.view->RepaintCount();
  rig.box->Unplug(sim::BoxFunction::Controller);
  rig.box->Unplug(sim::BoxFunction::Bridge);
  ASSERT_TRUE(WaitUntil([&] {
    const auto r = rig.Repaints();
    return std::any_of(r.begin() + static_cast<long>(from), r.end(),
                       [](const Repaint& p) { return p.notice == "重新插入设备！"; });
  }));
  // The failed reopen leaves the disconnected look.
  ASSERT_TRUE(WaitUntil([&] { return rig.Grid().Columns() == 0 && rig.Titles().back() == "Varnex2 - 设备未连接"; }));
  EXPECT_FALSE(rig.station->DeviceConnected());
  EXPECT_FALSE(rig.station->TestRunning());

  // The notice texts in order, each once.
  std::vector<std::string> notices;
  const auto r = rig.Repaints();
  for (std::size_t i = from; i < r.size(); ++i)
    if (r[i].noticeShown && (notices.empty() || notices.back() != r[i].notice)) notices.push_back(r[i].notice);
  std::vector<std::string> expected;
  for (int n = 15; n >= 0; --n) expected.push_back("请等待 " + std::to_string(n) + " 秒程序拔出设备");
  expected.push_back("重新插入设备！");
  EXPECT_EQ(notices, expected);

  rig.box->Plug(sim::BoxFunction::Bridge);
  rig.box->Plug(sim::BoxFunction::Controller);
  ASSERT_TRUE(rig.WaitTesting());
  EXPECT_TRUE(rig.station->DeviceConnected());
  EXPECT_EQ(rig.Titles().back(), "Varnex2 - 设备已连接");
  EXPECT_FALSE(Notice(rig.Grid()).bShown);
}

TEST(StationPresence, LostTransferWithTheBoxStillThereReconnectsAndKeepsTheBridge) {
  StationRig rig({.monitor = false});
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  const std::size_t from = rig.view->RepaintCount();
  rig.view->Post([&] { rig.station->OnDevLost(-4); });
  ASSERT_TRUE(WaitUntil([&] {
    const auto r = rig.Repaints();
    return std::any_of(r.begin() + static_cast<long>(from), r.end(),
                       [](const Repaint& p) { return p.notice == "重新插入设备！"; });
  }));
  ASSERT_TRUE(WaitUntil([&] { return rig.station->TestRunning() && rig.station->DeviceConnected(); }));
  ASSERT_TRUE(rig.WaitRepaints(2));
  EXPECT_EQ(rig.Titles().back(), "Varnex2 - 设备已连接");
  EXPECT_FALSE(Notice(rig.Grid()).bShown);
  EXPECT_EQ(rig.Grid().Columns(), 52);
  // The bridge still switches the box's output after the reopen.
  const std::uint8_t before = rig.box->BridgePage(249)[0];
  rig.view->Run([&] { rig.station->ToggleBuzzerInvert(); });
  EXPECT_EQ(rig.box->BridgePage(249)[0], before ^ 2);
}

TEST(StationPresence, ReplugDuringTheCountdownTestsAgainAndClearsTheNotice) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  rig.box->Unplug(sim::BoxFunction::Controller);
  rig.box->Unplug(sim::BoxFunction::Bridge);
  ASSERT_TRUE(WaitUntil([&] { return Notice(rig.Grid()).strText == "请等待 14 秒程序拔出设备"; }));
  rig.box->Plug(sim::BoxFunction::Bridge);
  rig.box->Plug(sim::BoxFunction::Controller);
  // However the arrival and the end of the countdown interleave, the box ends up tested
  // again with no stale instruction on the map.
  ASSERT_TRUE(WaitUntil([&] {
    const auto r = rig.Repaints();
    return std::any_of(r.begin(), r.end(), [](const Repaint& p) { return p.notice == "重新插入设备！"; });
  }));
  ASSERT_TRUE(WaitUntil(
      [&] { return rig.station->TestRunning() && rig.station->DeviceConnected() && !Notice(rig.Grid()).bShown; }));
  ASSERT_TRUE(rig.WaitRepaints(2));
  EXPECT_FALSE(Notice(rig.Grid()).bShown) << Notice(rig.Grid()).strText << [&] {
    std::string all;
    for (const auto& r : rig.Repaints()) all += (r.noticeShown ? "+" : "-") + r.notice + "|";
    for (const auto& t : rig.Titles()) all += "\n" + t;
    return all;
  }();
  EXPECT_EQ(rig.Titles().back(), "Varnex2 - 设备已连接");
}

TEST(StationPresence, ShutdownAbandonsTheCountdown) {
  // Real waits: the countdown would take 16 s.
  StationRig rig({.monitor = false, .clockDivisor = 1});
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  rig.view->Post([&] { rig.station->OnDevLost(-4); });
  ASSERT_TRUE(WaitUntil([&] { return Notice(rig.Grid()).strText == "请等待 15 秒程序拔出设备"; }));
  rig.view->Run([&] { rig.station->Shutdown(); });
  EXPECT_FALSE(rig.station->TestRunning());
  EXPECT_FALSE(rig.station->DeviceConnected());
  const auto r = rig.Repaints();
  EXPECT_TRUE(std::none_of(r.begin(), r.end(), [](const Repaint& p) { return p.notice == "重新插入设备！"; }));
}

TEST(StationPresence, NarrowStoredTouchWindowEndsTheProgram) {
  StationRig rig;
  {
    auto port = sim::CreateSimUsbPort(rig.box);
    device::ControllerLink link(*port);
    ASSERT_EQ(link.OpenController(), 0);
    ASSERT_EQ(device::ReadInfoBlock(link, *link.Record()), 0);
    device::WindowFields w;
    w.xSize = 2;
    w.ySize = 52;
    w.gain = 96;
    w.enabled = true;
    ASSERT_EQ(device::WriteTouchWindow(link, w), 0);
    link.CloseController();
  }
  rig.Initialise();
  ASSERT_TRUE(WaitUntil([&] { return !rig.view->Get(rig.view->exitCodes).empty(); }));
  EXPECT_EQ(rig.view->Get(rig.view->exitCodes), std::vector<int>{0});
  EXPECT_EQ(rig.Messages(), std::vector<std::string>{"屏体行值不能小于3,本程序即将退出！"});
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(rig.station->TestRunning());
}

TEST(StationPresence, TwoArrivalsStartOneConnectThread) {
  std::atomic<int> hookStarts{0};  // outlives the station
  StationRig rig({.monitor = false});
  rig.station->SetKeyboardHookStarter([&] { ++hookStarts; });
  platform::DeviceEvent arrival;
  arrival.kind = platform::DeviceEventKind::Arrival;
  arrival.interfacePath = sim::SimBox::InterfacePath(sim::BoxFunction::Controller, 1);
  rig.view->Post([&] { rig.station->OnDeviceEvent(arrival); });
  rig.view->Post([&] { rig.station->OnDeviceEvent(arrival); });
  ASSERT_TRUE(rig.WaitTesting());
  std::this_thread::sleep_for(50ms);
  const auto panes = rig.view->Get(rig.view->panes);
  EXPECT_EQ(std::count_if(panes.begin(), panes.end(), [](const auto& p) { return p.text == "设备已连接"; }), 1);
  EXPECT_EQ(rig.Titles(), (std::vector<std::string>{"Varnex2 - 设备已连接", "Varnex2 - 设备已连接"}));
  EXPECT_EQ(hookStarts.load(), 1) << "the second StartDeviceThreads does nothing at all";
  // A later arrival of the connected controller leaves testing running.
  rig.view->Run([&] { rig.station->OnDeviceEvent(arrival); });
  ASSERT_TRUE(rig.WaitRepaints(3));
  EXPECT_TRUE(rig.station->TestRunning());
  EXPECT_EQ(hookStarts.load(), 1);
}

TEST(StationPresence, OtherInterfaceRemovalPostsReplug) {
  StationRig rig({.monitor = false});
  platform::DeviceEvent removal;
  removal.kind = platform::DeviceEventKind::Removal;
  removal.interfacePath = "\\\\?\\hid#vid_03eb&pid_212c&mi_00#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  rig.view->Run([&] { rig.station->OnDeviceEvent(removal); });
  rig.view->Run([] {});  // the posted replug has run
  EXPECT_EQ(rig.Titles(), std::vector<std::string>{"Varnex2 - 设备未连接"});
  EXPECT_EQ(Notice(rig.Grid()).strText, "请等待 15 秒程序拔出设备");
  // An arrival of the same interface changes nothing.
  removal.kind = platform::DeviceEventKind::Arrival;
  rig.view->Run([&] { rig.station->OnDeviceEvent(removal); });
  rig.view->Run([] {});
  EXPECT_EQ(rig.Titles().size(), 1u);
}

TEST(StationPresence, ReplugClearsTheLinksConnectedFlagUntilTheNextArrival) {
  StationRig rig({.monitor = false});
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  rig.view->Run([&] { rig.station->OnDevReplug(); });
  EXPECT_FALSE(rig.station->DeviceConnected());
  ASSERT_NE(rig.station->Controller(), nullptr);
  EXPECT_FALSE(rig.station->Controller()->DeviceConnected());
  int rc = -1;
  rig.view->Run([&] {
    rig.station->StopTestThread();
    {
      auto turn = rig.station->LockController();
      std::array<std::uint8_t, 4> bytes{};
      rc = rig.station->Controller()->ReadRegisters(0, bytes);
    }
    rig.station->ResumeTest();
  });
  EXPECT_EQ(rc, device::kErrNotConnected) << "exchanges are refused";
  // The controller's next arrival takes the link for closed and opens it again.
  platform::DeviceEvent arrival;
  arrival.kind = platform::DeviceEventKind::Arrival;
  arrival.interfacePath = sim::SimBox::InterfacePath(sim::BoxFunction::Controller, 1);
  rig.view->Run([&] { rig.station->OnDeviceEvent(arrival); });
  EXPECT_TRUE(rig.station->Controller()->DeviceConnected());
  EXPECT_TRUE(rig.station->DeviceConnected());
  EXPECT_EQ(rig.Titles().back(), "Varnex2 - 设备已连接");
}

// ---- commands ---------------------------------------------------------------------------------

TEST(SetupCommands, ResetRestoresDefaultsInControllerAndMap) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  rig.view->Run([&] {
    rig.station->ToggleTestModeBit(0x2);
    rig.station->ToggleTestModeBit(0x4);
  });
  EXPECT_EQ(rig.station->TestModeFlags(), 0x7u);
  rig.view->Run([&] { rig.station->SetDisplayStyle(1); });
  EXPECT_EQ(rig.station->DisplayStyle(), 1);
  device::UserDataRecord record;
  std::vector<std::uint8_t> t38 = ObjectBytes(*rig.box, device::kT38UserData, 64);
  device::UserDataBytes bytes{};
  std::copy(t38.begin(), t38.end(), bytes.begin());
  ASSERT_TRUE(device::DecodeUserData(bytes, record));
  EXPECT_EQ(record.nUiColorMode, 1);

  const auto backups = rig.box->BackupCount();
  rig.view->Run([&] { rig.station->ResetPanelConfig(); });
  EXPECT_EQ(rig.station->TestModeFlags(), 1u);
  EXPECT_EQ(rig.station->DisplayStyle(), 0);
  EXPECT_GE(rig.box->BackupCount(), backups + 2);
  const auto t9 = ObjectBytes(*rig.box, device::kT9Touchscreen, 7);
  EXPECT_EQ(t9[1], 0);
  EXPECT_EQ(t9[3], 32);
  EXPECT_EQ(t9[4], 52);
  t38 = ObjectBytes(*rig.box, device::kT38UserData, 64);
  std::copy(t38.begin(), t38.end(), bytes.begin());
  ASSERT_TRUE(device::DecodeUserData(bytes, record));
  EXPECT_EQ(record.nUiColorMode, 0);
  EXPECT_TRUE(rig.WaitRepaints(2)) << "testing resumes";
}

TEST(SetupCommands, ResetKeepsDifferenceMode) {
  StationRig rig({.monitor = false});
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  rig.view->Run([&] {
    rig.station->ToggleDiffMode();
    rig.station->ToggleTestModeBit(0x4);
  });
  ASSERT_TRUE(rig.station->DiffMode());
  rig.view->Run([&] { rig.station->ResetPanelConfig(); });
  EXPECT_TRUE(rig.station->DiffMode());
  EXPECT_EQ(rig.station->TestModeFlags(), 0x11u) << "threshold mode only, with the difference display";
  // Switched off, it leaves the threshold mode alone.
  rig.view->Run([&] { rig.station->ToggleDiffMode(); });
  EXPECT_FALSE(rig.station->DiffMode());
  EXPECT_EQ(rig.station->TestModeFlags(), 0x1u);
  EXPECT_TRUE(rig.WaitRepaints(2)) << "testing resumes";
}

TEST(SetupCommands, ApplyAndReadBackForTheAreaDialogs) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  config::PanelConfig panel = rig.station->PanelConfigCopy();
  panel.touchArea = {0, 0, 20, 30, 80, 1, 31000, 26000};
  std::string readBack = "not run";
  rig.view->Run([&] {
    rig.station->StopTestThread();
    rig.station->ApplyPanelConfig(panel);
    readBack = rig.station->ReadBackPanel();
    rig.station->ResumeTest();
  });
  EXPECT_EQ(readBack, "");
  EXPECT_EQ(rig.Grid().Columns(), 30);
  EXPECT_EQ(rig.Grid().Rows(), 20);
  EXPECT_EQ(rig.station->PanelConfigCopy().touchArea, panel.touchArea) << "as the controller holds it";
  ASSERT_TRUE(rig.WaitRepaints(2));
  EXPECT_EQ(rig.Grid().TouchHigh(), 31000);
  EXPECT_EQ(rig.Grid().TouchLow(), 26000);

  // A window the controller would refuse to be judged with is reported by the read-back.
  rig.view->Run([&] {
    rig.station->StopTestThread();
    device::WindowFields narrow;
    narrow.xSize = 2;
    narrow.ySize = 30;
    narrow.enabled = true;
    {
      auto turn = rig.station->LockController();
      device::WriteTouchWindow(*rig.station->Controller(), narrow);
    }
    readBack = rig.station->ReadBackPanel();
    rig.station->ResumeTest();
  });
  EXPECT_EQ(readBack, "屏体行值不能小于3");
}

TEST(SetupCommands, BuzzerBitsAndLineNumberBase) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  const std::uint8_t start = rig.station->BuzzerByte();
  EXPECT_EQ(rig.box->BridgePage(249)[0], start) << "the kept page is the box's";
  rig.view->Run([&] { rig.station->ToggleBuzzerInvert(); });
  EXPECT_EQ(rig.station->BuzzerByte(), start ^ 2);
  EXPECT_EQ(rig.box->Bridge().buzzerInverted, (start & 2) == 0);
  EXPECT_EQ(rig.box->BridgePage(249)[0], start ^ 2) << "the page is written back";
  rig.view->Run([&] { rig.station->ToggleBuzzerEnable(); });
  EXPECT_EQ(rig.station->BuzzerByte(), start ^ 3);
  EXPECT_EQ(rig.box->Bridge().buzzerEnabled, (start & 1) == 0);
  rig.view->Run([&] {
    rig.station->ToggleBuzzerEnable();
    rig.station->ToggleBuzzerInvert();
  });
  EXPECT_EQ(rig.station->BuzzerByte(), start);
  EXPECT_EQ(rig.box->BridgePage(249)[0], start);
  rig.view->Run([&] { rig.station->ToggleLineNumberBase(); });
  EXPECT_EQ(rig.Grid().LineNumberBase(), 1);
  rig.view->Run([&] { rig.station->ToggleLineNumberBase(); });
  EXPECT_EQ(rig.Grid().LineNumberBase(), 0);
}

class StationFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("varnex2_station_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
};

TEST_F(StationFiles, LoadAppliesAreasAndSaveWritesThem) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());

  config::PanelConfig panel;
  panel.touchArea = {2, 3, 10, 20, 96, 1, 32000, 27000};
  panel.keyArea = {20, 0, 2, 4, 96, 1, 32000, 27000};
  panel.nTestModeFlags = 0x5;
  panel.adjacentPercent = config::Int32Array2D(23, 22, 1500);
  panel.screen.RawdataMax = 31111;
  panel.screen.ScreenThresholdEnable = 1;
  const auto file = dir / "panel.xml";
  std::ofstream(file, std::ios::binary) << config::WriteParameterFile(panel, {1, 3, 0, 26});

  rig.view->Run([&] { rig.station->LoadParameterFile(file); });
  EXPECT_EQ(rig.Messages().back(), "文件参数载入成功！");
  const auto t9 = ObjectBytes(*rig.box, device::kT9Touchscreen, 7);
  EXPECT_EQ(t9[1], 2);
  EXPECT_EQ(t9[2], 3);
  EXPECT_EQ(t9[3], 10);
  EXPECT_EQ(t9[4], 20);
  EXPECT_EQ(rig.Grid().Columns(), 23);
  EXPECT_EQ(rig.Grid().Rows(), 22);
  EXPECT_EQ(rig.station->TestModeFlags(), 0x5u);
  EXPECT_EQ(rig.Grid().GetNodePercent(5, 5), 1500);
  EXPECT_EQ(rig.Grid().GetNodeFlags(1, 20) & judging::NodeFlag::MASK, judging::NodeFlag::MASK) << "key nodes masked";
  EXPECT_EQ(rig.Grid().GetRawdataMax(), 31111);
  std::int32_t stored = 0;
  ASSERT_EQ(rig.settings->GetDword("Software\\Varnx2\\ScreenThreshold", "RawdataMax", stored),
            platform::SettingsStatus::Ok);
  EXPECT_EQ(stored, 31111);
  ASSERT_TRUE(rig.WaitRepaints(2)) << "testing resumes";

  // What the dialogs change in the meantime is what gets saved.
  rig.view->Run([&] {
    rig.station->StopTestThread();
    rig.Grid().SetRawdataMax(30123);
    rig.station->UpdatePanelConfig([](config::PanelConfig& p) { p.sampleLimits.nPercentX100 = 1234; });
    rig.station->ResumeTest();
  });

  const auto saved = dir / "saved.xml";
  rig.view->Run([&] { rig.station->SaveParameterFile(saved); });
  EXPECT_EQ(rig.Messages().back(), "文件参数保存成功！");
  config::PanelConfig back;
  std::string message;
  ASSERT_EQ(config::LoadParameterFile(saved, config::PanelConfig{}, {}, {9, 0, 0, 0}, back, message),
            config::ParameterFileStatus::kOk)
      << message;
  EXPECT_EQ(back.touchArea, panel.touchArea);
  EXPECT_EQ(back.keyArea, panel.keyArea);
  EXPECT_EQ(back.nTestModeFlags, 0x5u);
  EXPECT_EQ(back.adjacentPercent(5, 5), 1500);
  EXPECT_EQ(back.screen.RawdataMax, 30123);
  EXPECT_EQ(back.sampleLimits.nPercentX100, 1234);
}

TEST_F(StationFiles, RefusedLoadChangesNothingAndTestingContinues) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  const auto t9Before = ObjectBytes(*rig.box, device::kT9Touchscreen, 7);
  config::PanelConfig panel;
  panel.keyArea = {32, 0, 3, 11, 96, 1, 28000, 19000};
  const auto file = dir / "keys.xml";
  std::ofstream(file, std::ios::binary) << config::WriteParameterFile(panel, {1, 3, 0, 26});
  rig.view->Run([&] { rig.station->LoadParameterFile(file); });
  EXPECT_EQ(rig.Messages().back(), "按键数量总数不能大于32");
  EXPECT_EQ(ObjectBytes(*rig.box, device::kT9Touchscreen, 7), t9Before);
  EXPECT_EQ(rig.Grid().Columns(), 52);
  ASSERT_TRUE(rig.WaitRepaints(2));

  rig.view->Run([&] { rig.station->LoadParameterFile(dir / "missing.xml"); });
  EXPECT_NE(rig.Messages().back(), "文件参数载入成功！");
  EXPECT_TRUE(rig.WaitRepaints(2));
}

TEST_F(StationFiles, LegacyIniPartWritesTheBoxAndReadsItBack) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  const auto t9Before = ObjectBytes(*rig.box, device::kT9Touchscreen, 7);

  // Refused areas: the validation text, nothing written.
  rig.view->Run([&] {
    rig.station->ImportLegacyIni(config::LegacyIniFile::Parse("[PANEL]\nXSIZE=2\nYSIZE=50\n[MARK0]\nTYPE=1\n"));
  });
  EXPECT_EQ(rig.Messages().back(), "屏体行值不能小于3");
  EXPECT_EQ(ObjectBytes(*rig.box, device::kT9Touchscreen, 7), t9Before);

  config::LegacyIniPart part;
  rig.view->Run([&] {
    part = rig.station->ImportLegacyIni(config::LegacyIniFile::Parse(
        "[PANEL]\nXORIGN=2\nYORIGN=3\nXSIZE=10\nYSIZE=20\nGAIN=90\nTHRESUPPER=35000\nTHRESLOWER=8000\n"
        "[CONFIG]\nUICOLORMODE=2\nTESTMODE=1\n[MARK3]\nTYPE=2\nENABLE=1\nX=40\nY=70\n"));
  });
  ASSERT_TRUE(part.Valid());
  EXPECT_FALSE(rig.station->TestRunning()) << "the editor's closing resumes the test";
  const auto t9 = ObjectBytes(*rig.box, device::kT9Touchscreen, 7);
  EXPECT_EQ(t9[1], 2);
  EXPECT_EQ(t9[2], 3);
  EXPECT_EQ(t9[3], 10);
  EXPECT_EQ(t9[4], 20);
  EXPECT_EQ(rig.Grid().Columns(), 23);
  EXPECT_EQ(rig.Grid().Rows(), 12);
  // Read back from the box: areas, and the style and marks from its user-data record.
  const config::PanelConfig now = rig.station->PanelConfigCopy();
  EXPECT_EQ(now.touchArea.nThresUpper, 32000);
  EXPECT_EQ(now.touchArea.nThresLower, 10000);
  EXPECT_EQ(now.nUiColorMode, 2);
  EXPECT_EQ(now.nLegacyTestMode, 1);
  EXPECT_EQ(now.marks[3].nType, 2);
  EXPECT_EQ(now.marks[3].nX, 8);
  EXPECT_EQ(now.marks[3].nY, 6);
  EXPECT_EQ(rig.station->DisplayStyle(), 2);
  rig.view->Run([&] { rig.station->ResumeTest(); });
  EXPECT_TRUE(rig.WaitRepaints(2));
}

TEST_F(StationFiles, CaptureAppendsTheFrame) {
  StationRig rig;
  rig.Initialise();
  ASSERT_TRUE(rig.WaitTesting());
  const auto file = dir / "frame.csv";
  rig.view->Run([&] { rig.station->CaptureFrame(file); });
  rig.view->Run([&] { rig.station->CaptureFrame(file); });
  EXPECT_EQ(rig.Messages(), (std::vector<std::string>{"保存成功！", "保存成功！"}));
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 64);
  EXPECT_EQ(s.find(",,"), std::string::npos) << "every node of the whole matrix is a touch node";
  rig.view->Run([&] { rig.station->CaptureFrame(""); });
  EXPECT_EQ(rig.Messages().size(), 2u);
}

}  // namespace
}  // namespace varnex2::station
