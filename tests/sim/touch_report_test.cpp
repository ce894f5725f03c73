// Touch messages of the simulated controller: fingers and the finger sweep reported through
// the touch-screen object's report ids, read from the message queue as a host reads them.

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "sim/scenario.h"
#include "sim/sim_box.h"
#include "sim_host.h"

namespace varnex2::sim {
namespace {

using test::Host;

constexpr std::uint8_t kT9 = 9;
constexpr std::uint8_t kDetect = 0x80, kPress = 0x40, kRelease = 0x20, kMove = 0x10;

struct TouchMsg {
  std::uint8_t id = 0;
  std::uint8_t status = 0;
  int x = 0, y = 0;  // as the host decodes them for the object's ranges
  int area = 0;
  int amplitude = 0;
};

class SimTouch : public ::testing::Test {
 protected:
  SimBox box;
  Host host{box};

  std::uint16_t T9(int instance = 0) const { return box.ObjectAddress(kT9, instance); }

  // Every message in the queue, in order (the queue holds at most 64).
  std::vector<std::vector<std::uint8_t>> Messages() {
    std::vector<std::vector<std::uint8_t>> out;
    for (int i = 0; i < 100; ++i) {
      std::vector<std::uint8_t> m;
      EXPECT_TRUE(host.Read(box.ObjectAddress(5), box.ObjectSize(5) - 1, m));
      if (m.empty() || m[0] == 0xFF) break;
      out.push_back(m);
    }
    return out;
  }

  // The T9 messages of the queue, positions decoded for the given ranges.
  std::vector<TouchMsg> Touches(int xRange = 1023, int yRange = 1023) {
    std::vector<TouchMsg> out;
    const int first = box.ReportIdOf(kT9, 0);
    for (const auto& m : Messages()) {
      if (m[0] < first || m[0] >= first + 20) continue;
      TouchMsg t;
      t.id = m[0];
      t.status = m[1];
      t.x = (m[2] << 4) | (m[4] >> 4);
      t.y = (m[3] << 4) | (m[4] & 0x0F);
      if (xRange < 1024) t.x >>= 2;
      if (yRange < 1024) t.y >>= 2;
      t.area = m[5];
      t.amplitude = m[6];
      out.push_back(t);
    }
    return out;
  }

  static int Line(int position, int range, int lines) {
    return static_cast<int>(std::lround(static_cast<double>(position) * (lines - 1) / range));
  }

  void Apply(const std::string& text) {
    Scenario s;
    ScenarioError e;
    ASSERT_TRUE(ParseScenario(text, s, e)) << e.message;
    for (const auto& step : s.steps) box.Apply(step.action);
  }

  void SetUp() override {
    Messages();  // the power-up message
  }
};

TEST_F(SimTouch, FingerPressMoveReleaseOnTheTouchedNodes) {
  ASSERT_TRUE(host.Write(T9(), {0x83}));
  const std::uint8_t id = box.ReportIdOf(kT9, 0);
  ASSERT_NE(id, 0);

  Apply("0ms touch 5 10 400\n");
  auto t = Touches();
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].id, id);
  EXPECT_EQ(t[0].status, kDetect | kPress);
  EXPECT_EQ(Line(t[0].x, 1023, 32), 5);
  EXPECT_EQ(Line(t[0].y, 1023, 52), 10);
  EXPECT_EQ(t[0].area, 9);
  EXPECT_GT(t[0].amplitude, 0);
  EXPECT_TRUE(Touches().empty());  // a finger that stays still reports nothing more

  // A second finger takes the next report id; the first one moves.
  box.SetTouches({{6, 10, 400}, {31, 51, 800}});
  t = Touches();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].id, id);
  EXPECT_EQ(t[0].status, kDetect | kMove);
  EXPECT_EQ(Line(t[0].x, 1023, 32), 6);
  EXPECT_EQ(t[1].id, id + 1);
  EXPECT_EQ(t[1].status, kDetect | kPress);
  EXPECT_EQ(t[1].x, 1023);  // the last line is the end of the range
  EXPECT_EQ(t[1].y, 1023);
  EXPECT_EQ(t[1].area, 4);  // a corner: the node and three neighbours
  EXPECT_GT(t[1].amplitude, t[0].amplitude);

  Apply("0ms release\n");
  t = Touches();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].id, id);
  EXPECT_EQ(t[0].status, kRelease);
  EXPECT_EQ(t[1].id, id + 1);
  EXPECT_EQ(t[1].status, kRelease);
  EXPECT_EQ(t[1].x, 1023);  // released where it was
}

TEST_F(SimTouch, ReportingOffStaysSilent) {
  // Factory control byte 0x81: enabled, no reporting.
  EXPECT_EQ(box.ReadMemory(T9(), 1)[0], 0x81);
  box.SetTouches({{5, 10, 400}});
  Apply("0ms sweep 10s\n");
  EXPECT_TRUE(Messages().empty());
  box.SetTouches({});
  // Reporting without the enable bit is silent too.
  ASSERT_TRUE(host.Write(T9(), {0x82}));
  box.SetTouches({{5, 10, 400}});
  EXPECT_TRUE(Messages().empty());
  // Switching reporting off with a finger down reports nothing, not even its release.
  ASSERT_TRUE(host.Write(T9(), {0x83}));
  EXPECT_EQ(Touches().size(), 2u);  // the sweep's finger and this one
  ASSERT_TRUE(host.Write(T9(), {0x81}));
  Apply("0ms release\n");
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SimTouch, SweepPressesMovesLineByLineAndReleases) {
  ASSERT_TRUE(host.Write(T9(), {0x83}));
  const std::uint8_t id = box.ReportIdOf(kT9, 0);
  Apply("0ms sweep 20ms\n");
  // Steps missed between reads are reported in order.
  std::this_thread::sleep_for(std::chrono::milliseconds(130));
  auto t = Touches();
  Apply("0ms release\n");
  auto end = Touches();
  t.insert(t.end(), end.begin(), end.end());
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(t.front().status, kDetect | kPress);
  EXPECT_EQ(t.back().status, kRelease);
  for (std::size_t i = 0; i < t.size(); ++i) {
    EXPECT_EQ(t[i].id, id);
    if (i + 1 < t.size()) {
      EXPECT_EQ(Line(t[i].x, 1023, 32), static_cast<int>(i)) << i;  // line after line, none skipped
      EXPECT_EQ(Line(t[i].y, 1023, 52), 26) << i;                   // the middle of the line
      EXPECT_EQ(t[i].area, 52);
    }
    if (i > 0 && i + 1 < t.size()) {
      EXPECT_EQ(t[i].status, kDetect | kMove) << i;
    }
  }
  EXPECT_EQ(t.back().x, t[t.size() - 2].x);
}

TEST_F(SimTouch, PositionsScaleToTheWindowAndItsRanges) {
  // Window of 16 x 20 nodes from (4, 8); X range 4095 (12-bit), Y range 799 (10-bit).
  std::vector<std::uint8_t> cfg(22, 0);
  cfg[0] = 0x83;
  cfg[1] = 4;
  cfg[2] = 8;
  cfg[3] = 16;
  cfg[4] = 20;
  cfg[18] = 0xFF;
  cfg[19] = 0x0F;
  cfg[20] = 0x1F;
  cfg[21] = 0x03;
  ASSERT_TRUE(host.Write(T9(), cfg));
  box.SetTouches({{12, 18, 400}, {2, 18, 400}, {12, 30, 400}});  // the last two lie outside
  auto t = Touches(4095, 799);
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].x, 2184);  // (12 - 4) * 4095 / 15
  EXPECT_EQ(t[0].y, 421);   // (18 - 8) * 799 / 19
  EXPECT_EQ(Line(t[0].x, 4095, 16), 8);
  EXPECT_EQ(Line(t[0].y, 799, 20), 10);

  // The second instance reports touches in its own window with its own report ids.
  std::vector<std::uint8_t> second = {0x83, 0, 40, 32, 12};
  ASSERT_TRUE(host.Write(T9(1), second));
  box.SetTouches({{12, 18, 400}, {3, 45, 400}});
  const auto all = Messages();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0][0], box.ReportIdOf(kT9, 1));  // the first touch in that window
  EXPECT_EQ(all[0][1], kDetect | kPress);
}

TEST_F(SimTouch, QueueKeepsTheNewestSixtyFourMessages) {
  ASSERT_TRUE(host.Write(T9(), {0x83}));
  for (int i = 0; i < 100; ++i) box.SetTouches({{i % 32, 0, 400}});
  std::vector<std::uint8_t> count;
  ASSERT_TRUE(host.Read(box.ObjectAddress(44), 1, count));
  EXPECT_EQ(count[0], 64);
  auto t = Touches();
  ASSERT_EQ(t.size(), 64u);
  EXPECT_EQ(Line(t.back().x, 1023, 32), 99 % 32);
  EXPECT_EQ(Line(t.front().x, 1023, 32), 36 % 32);
}

}  // namespace
}  // namespace varnex2::sim
