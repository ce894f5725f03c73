// Scenario text parsing, the built-ins, and running a scenario on the box.

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <mutex>
#include <thread>

#include "sim/scenario.h"
#include "sim/sim_box.h"
#include "sim_host.h"

namespace varnex2::sim {
namespace {

using namespace std::chrono_literals;

TEST(SimScenario, ParsesStepsTimesAndParameters) {
  Scenario s;
  ScenarioError e;
  ASSERT_TRUE(
      ParseScenario("# demo\n"
                    "name demo\n"
                    "seed 42\n"
                    "\n"
                    "0s place level=25000 noise=0 gradx=-3 grady=4   # comment\n"
                    "+250ms short y 7 3\n"
                    "1.5s high 1 2 60000\n"
                    "1.5s dead 3 4\n"
                    "2s touch 5 6\n"
                    "2s sweep 300ms\n"
                    "2s power-fault on\n"
                    "3s unplug bridge\n"
                    "3s plug\n"
                    "4s scan  ABC 123 \r\n"
                    "5s loop\n",
                    s, e))
      << e.message;
  EXPECT_EQ(s.name, "demo");
  EXPECT_EQ(s.seed, 42u);
  ASSERT_EQ(s.steps.size(), 11u);
  const ScenarioAction& place = s.steps[0].action;
  EXPECT_EQ(place.op, ScenarioOp::Place);
  EXPECT_TRUE(place.hasLevel && place.hasNoise && place.hasGradientX && place.hasGradientY);
  EXPECT_EQ(place.level, 25000);
  EXPECT_EQ(place.gradientX, -3);
  EXPECT_EQ(s.steps[1].at, 250ms);
  EXPECT_FALSE(s.steps[1].action.xLine);
  EXPECT_EQ(s.steps[1].action.a, 7);
  EXPECT_EQ(s.steps[1].action.b, 3);
  EXPECT_EQ(s.steps[2].at, 1500ms);
  EXPECT_EQ(s.steps[2].action.nodeFault.type, NodeFaultType::High);
  EXPECT_EQ(s.steps[2].action.nodeFault.value, 60000);
  EXPECT_EQ(s.steps[4].action.c, 400);  // default finger strength
  EXPECT_EQ(s.steps[5].action.duration, 300ms);
  EXPECT_EQ(s.steps[7].action.target, ScenarioTarget::Bridge);
  EXPECT_EQ(s.steps[8].action.target, ScenarioTarget::Both);
  EXPECT_EQ(s.steps[9].action.text, "ABC 123\r\n");  // the scanner's default suffix
  EXPECT_EQ(s.steps[10].action.op, ScenarioOp::Loop);
}

TEST(SimScenario, ScanSuffixIsTheLastWordOnly) {
  const struct {
    const char* line;
    const char* text;
  } cases[] = {
      {"0s scan 1234567 suffix=cr\n", "1234567\r"},
      {"0s scan A B suffix=none\n", "A B"},
      {"0s scan 12 suffix=tab\n", "12\t"},
      {"0s scan suffix=lf X\n", "suffix=lf X\r\n"},  // not the last word: part of the code
  };
  for (const auto& c : cases) {
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(ParseScenario(c.line, s, e)) << c.line << " " << e.message;
    EXPECT_EQ(s.steps.at(0).action.text, c.text) << c.line;
  }
}

TEST(SimScenario, BuiltinsAllParse) {
  const auto names = BuiltinScenarioNames();
  for (const char* expected : {"production", "idle", "faulty", "unplug", "finger", "selftest"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
  }
  for (const auto& n : names) {
    Scenario s;
    ASSERT_TRUE(BuiltinScenario(n, s)) << n;
    EXPECT_EQ(s.name, n);
    EXPECT_FALSE(s.steps.empty());
  }
  Scenario s;
  EXPECT_FALSE(BuiltinScenario("nonesuch", s));
}

struct BadInput {
  const char* text;
  int line;
  const char* fragment;
};

TEST(SimScenario, MalformedInputGivesLineNumberAndReason) {
  const BadInput cases[] = {
      {"0s place\nbanana\n", 2, "expected a time"},
      {"0s\n", 1, "missing command"},
      {"0s fly\n", 1, "unknown command 'fly'"},
      {"2s place\n1s remove\n", 2, "backwards"},
      {"0s short z 1 1\n", 1, "'x' or 'y'"},
      {"0s short x 1 4\n", 1, "kind out of range"},
      {"0s short x 300 1\n", 1, "line out of range"},
      {"0s short x 1\n", 1, "missing kind"},
      {"0s dead 1 two\n", 1, "bad y"},
      {"0s place level=70000\n", 1, "out of range"},
      {"0s place colour=red\n", 1, "bad number"},
      {"0s place speed=3\n", 1, "unknown place parameter"},
      {"0s remove now\n", 1, "unexpected 'now'"},
      {"0s loop\n", 1, "after 0"},
      {"1s loop\n2s remove\n", 2, "follow 'loop'"},
      {"0s sweep 0ms\n", 1, "interval"},
      {"0s scan\n", 1, "needs a code"},
      {"0s scan suffix=cr\n", 1, "needs a code"},
      {"0s scan 12 suffix=esc\n", 1, "unknown suffix"},
      {"0s power-fault maybe\n", 1, "'on' or 'off'"},
      {"1.2345s remove\n", 1, "expected a time"},
      {"1.5ms remove\n", 1, "expected a time"},
      {"99999999999999s remove\n", 1, "expected a time"},
      {"seed -1\n", 1, "seed"},
      {"0s remove\n0s unplug sideways\n", 2, "controller, bridge or both"},
      {"0s re\x01move\n", 1, "control character"},
  };
  for (const auto& c : cases) {
    Scenario s;
    ScenarioError e;
    EXPECT_FALSE(ParseScenario(c.text, s, e)) << c.text;
    EXPECT_EQ(e.line, c.line) << c.text;
    EXPECT_NE(e.message.find(c.fragment), std::string::npos) << c.text << " -> " << e.message;
    EXPECT_NE(e.message.find("line " + std::to_string(c.line)), std::string::npos) << e.message;
    EXPECT_TRUE(s.steps.empty());
  }
}

TEST(SimScenario, LoadsBuiltinsByNameAndOtherwiseFiles) {
  Scenario s;
  ScenarioError e;
  ASSERT_TRUE(LoadScenario("unplug", s, e));
  EXPECT_EQ(s.name, "unplug");

  const auto path =
      (std::filesystem::temp_directory_path() / ("varnex2_scn_" + std::to_string(::getpid()) + ".txt")).string();
  {
    std::ofstream f(path);
    f << "0s place\n1s remove\n";
  }
  ASSERT_TRUE(LoadScenario(path, s, e)) << e.message;
  EXPECT_EQ(s.name, path);
  EXPECT_EQ(s.steps.size(), 2u);
  {
    std::ofstream f(path);
    f << "0s place\n1s explode\n";
  }
  EXPECT_FALSE(LoadScenario(path, s, e));
  EXPECT_EQ(e.line, 2);
  EXPECT_NE(e.message.find(path + ": line 2: unknown command 'explode'"), std::string::npos) << e.message;
  std::filesystem::remove(path);
  EXPECT_FALSE(LoadScenario(path, s, e));
  EXPECT_NE(e.message.find("no built-in scenario"), std::string::npos);
}

TEST(SimScenario, RejectsOversizedInput) {
  Scenario s;
  ScenarioError e;
  std::string huge(kMaxScenarioBytes + 1, '#');
  EXPECT_FALSE(ParseScenario(huge, s, e));
  std::string longLine(5000, 'a');
  EXPECT_FALSE(ParseScenario("0s scan " + longLine, s, e));
  EXPECT_EQ(e.line, 1);
}

TEST(SimScenario, ApplyChangesThePanel) {
  SimBox box;
  Scenario s;
  ScenarioError e;
  ASSERT_TRUE(ParseScenario("0s place level=21000\n0s short x 3 1\n0s low 1 1\n0s touch 2 2 100\n", s, e));
  for (const auto& step : s.steps) box.Apply(step.action);
  PanelState p = box.Panel();
  EXPECT_TRUE(p.placed);
  EXPECT_EQ(p.level, 21000);
  ASSERT_EQ(p.shorts.size(), 1u);
  EXPECT_EQ(p.shorts[0].kind, 1);
  ASSERT_EQ(p.nodeFaults.size(), 1u);
  ASSERT_EQ(p.touches.size(), 1u);
  ASSERT_TRUE(ParseScenario("0s remove\n", s, e));
  box.Apply(s.steps[0].action);
  p = box.Panel();
  EXPECT_FALSE(p.placed);
  EXPECT_TRUE(p.shorts.empty() && p.nodeFaults.empty() && p.touches.empty());
}

TEST(SimScenario, RunsOnTheTimelineAndLoops) {
  SimBox box;
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::string> scans;
  box.SetScanObserver([&](const std::string& code) {
    std::lock_guard lk(m);
    scans.push_back(code);
    cv.notify_all();
  });
  Scenario s;
  ScenarioError e;
  ASSERT_TRUE(ParseScenario("0ms place\n5ms scan A\n10ms unplug\n15ms plug\n20ms loop\n", s, e));
  box.RunScenario(s);
  {
    std::unique_lock lk(m);
    ASSERT_TRUE(cv.wait_for(lk, 5s, [&] { return scans.size() >= 3; }));
  }
  EXPECT_TRUE(box.ScenarioRunning());
  box.StopScenario();
  EXPECT_FALSE(box.ScenarioRunning());
  EXPECT_TRUE(box.Panel().placed);
  // A stopped timeline leaves the box as it was; plug in case the stop came mid-unplug.
  box.Plug(BoxFunction::Controller);
  box.Plug(BoxFunction::Bridge);
  EXPECT_TRUE(box.IsPresent(BoxFunction::Controller));
}

TEST(SimScenario, FingerScenarioGivesTouchMessagesWhenReportingIsOn) {
  SimBox box;
  test::Host host(box);
  const std::uint16_t t5 = box.ObjectAddress(5);
  const std::size_t t5Size = box.ObjectSize(5) - 1;
  ASSERT_TRUE(host.Write(box.ObjectAddress(9), {0x83}));
  Scenario finger;
  ASSERT_TRUE(BuiltinScenario("finger", finger));
  box.RunScenario(finger);
  // Reads the message queue as a host polls it until the finger has left line 1.
  const std::uint8_t id = box.ReportIdOf(9, 0);
  std::vector<std::vector<std::uint8_t>> touches;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline && touches.size() < 3) {
    std::vector<std::uint8_t> m;
    ASSERT_TRUE(host.Read(t5, t5Size, m));
    if (m[0] == 0xFF) {
      std::this_thread::sleep_for(20ms);
      continue;
    }
    if (m[0] != box.ReportIdOf(6)) touches.push_back(m);
  }
  box.StopScenario();
  ASSERT_EQ(touches.size(), 3u);
  for (std::size_t i = 0; i < touches.size(); ++i) {
    EXPECT_EQ(touches[i][0], id);
    EXPECT_EQ(touches[i][1], i == 0 ? 0xC0 : 0x90);  // press, then moves
    const int x = ((touches[i][2] << 4) | (touches[i][4] >> 4)) >> 2;
    EXPECT_EQ(std::lround(x * 31.0 / 1023), static_cast<long>(i));  // X line 0, 1, 2
  }
}

TEST(SimScenario, DestroyingTheBoxStopsALongScenario) {
  Scenario s;
  ScenarioError e;
  ASSERT_TRUE(ParseScenario("0s place\n3600s remove\n", s, e));
  auto box = std::make_unique<SimBox>();
  box->RunScenario(s);
  std::this_thread::sleep_for(10ms);
  box.reset();  // must not wait for the hour
  SUCCEED();
}

}  // namespace
}  // namespace varnex2::sim
