// Evaluate on the default 52 x 32 map with all three test modes and the
// statistics on, including its recolouring; the frames vary from call to call.
#include <benchmark/benchmark.h>

#include <vector>

#include "judging/node_map.h"
#include "judging/node_map_fixtures.h"

namespace varnex2::judging {
namespace {

std::vector<NodeFrame> Frames() {
  std::vector<NodeFrame> frames;
  unsigned seed = 12345;
  for (int k = 0; k < 16; ++k) {
    NodeFrame f(kDefaultColumns, kDefaultRows);
    for (int c = 0; c < kDefaultColumns; ++c) {
      for (int r = 0; r < kDefaultRows; ++r) {
        seed = seed * 1103515245u + 12345u;
        f(c, r) = 23000 + c * 20 + r * 10 + static_cast<int>((seed >> 16) % (k % 4 == 3 ? 4000 : 400));
      }
    }
    frames.push_back(std::move(f));
  }
  return frames;
}

void BM_Evaluate(benchmark::State& state) {
  NodeMap map;
  testing::JudgingStationMap(map);
  const std::vector<NodeFrame> frames = Frames();
  std::size_t i = 0;
  for (auto _ : state) {
    map.Evaluate(frames[i++ % frames.size()]);
    benchmark::DoNotOptimize(map.ResultFlags());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Evaluate);

// The same with a key area of its own colour group (MASK nodes) and a few key
// marks: three colour groups and the key checks take part.
void BM_EvaluateKeyArea(benchmark::State& state) {
  NodeMap map;
  testing::JudgingStationMap(map);
  map.AddArea(24, 40, 8, 12, 1);
  map.MutableArea(1)->bEnabled = true;
  map.SetNodeFlags(40, 24, 51, 31, NodeFlag::MASK, 0, FlagOp::Set);
  map.StampAreaGroup(1, 2);
  map.SetNodeFlags(0, 0, 3, 3, NodeFlag::KEY, 0, FlagOp::Set);
  map.SetNodeGroup(0, 0, 3, 3, 1);
  map.SetKeyThresholds(15000, 30000);
  const std::vector<NodeFrame> frames = Frames();
  std::size_t i = 0;
  for (auto _ : state) {
    map.Evaluate(frames[i++ % frames.size()]);
    benchmark::DoNotOptimize(map.ResultFlags());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvaluateKeyArea);

// One whole judging step of a cycle: Evaluate, pin-fault marks, verdict.
void BM_EvaluateCycle(benchmark::State& state) {
  NodeMap map;
  testing::JudgingStationMap(map);
  const std::vector<NodeFrame> frames = Frames();
  std::size_t i = 0;
  for (auto _ : state) {
    map.Evaluate(frames[i++ % frames.size()]);
    map.SetAllNodeFlags(NodeFlag::SHORT_ANY, FlagOp::Clear);
    map.MarkPinFault(0, 0, 0, 0);
    benchmark::DoNotOptimize(map.FixVerdict().size());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EvaluateCycle);

}  // namespace
}  // namespace varnex2::judging
