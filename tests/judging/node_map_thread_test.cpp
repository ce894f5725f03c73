// The test thread evaluates while the UI thread paints: the model's lock keeps
// both consistent (run under ThreadSanitizer in CI).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "judging/node_map.h"

namespace varnex2::judging {
namespace {

TEST(NodeMapThreads, EvaluateWhilePainting) {
  NodeMap map;
  map.SetGridSize(kDefaultColumns, kDefaultRows);
  map.SetCheckEnables(CheckEnable::ALL);
  map.SetTouchThresholds(100, 200);
  map.SetScreenThresholdEnable(true);
  map.SetRawdataMaxEnable(true);
  map.SetRawdataMax(150);
  map.SetViewMode(7);
  map.Layout(800, 600);

  std::atomic<bool> done{false};
  std::thread tester([&] {
    for (int i = 0; i < 300; ++i) {
      map.Evaluate(NodeFrame(kDefaultColumns, kDefaultRows, i % 2 ? 150 : 250));
      map.SetAllNodeFlags(NodeFlag::SHORT_ANY, FlagOp::Clear);
      map.MarkPinFault(i % 2, 1, 1, 0);
    }
    done = true;
  });
  int paints = 0;
  bool consistent = true;
  while (!done || paints < 10) {
    std::lock_guard<std::recursive_mutex> lock(map.Mutex());
    const std::string& verdict = map.FixVerdict();
    // Within one paint every node must show the same frame.
    const std::int32_t v = map.Cell(0, 0).nValue;
    for (int c = 0; c < map.Columns(); ++c)
      for (int r = 0; r < map.Rows(); ++r) consistent = consistent && map.Cell(c, r).nValue == v;
    consistent = consistent && (verdict == "PASS" || verdict == "FAIL" || verdict.empty());
    (void)map.StatisticsLabel(1).strText.size();
    (void)map.HitTest(400, 300);
    ++paints;
  }
  tester.join();
  EXPECT_TRUE(consistent);
}

}  // namespace
}  // namespace varnex2::judging
