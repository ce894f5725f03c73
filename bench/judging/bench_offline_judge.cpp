// The offline judge's work on 1,000 captured frames: reading the frame file,
// judging every frame and formatting its JSON line.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "judging/frame_capture.h"
#include "judging/offline_judge.h"
#include "judging/panel_layout.h"

namespace {

using namespace varnex2;

std::string FrameFile(int count) {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 60.0);
  std::string text;
  for (int f = 0; f < count; ++f) {
    if (f) text += "\r\n";
    for (int x = 0; x < 32; ++x) {
      for (int y = 0; y < 52; ++y) {
        if (y) text += ',';
        text += std::to_string(static_cast<int>(29600 + 8 * x + 5 * y + noise(rng)));
      }
      text += "\r\n";
    }
  }
  return text;
}

config::PanelConfig Panel() {
  config::PanelConfig panel;
  panel.touchArea.nThresUpper = 31000;
  panel.touchArea.nThresLower = 29000;
  panel.nTestModeFlags = config::kTestModeThreshold | config::kTestModeAdjacent;
  panel.adjacentPercent = config::Int32Array2D(52, 32, 1500);
  panel.screen.ScreenThresholdEnable = 1;
  return panel;
}

void BM_JudgeThousandFrames(benchmark::State& state) {
  const std::string file = FrameFile(1000);
  const config::PanelConfig panel = Panel();
  std::string out;
  for (auto _ : state) {
    std::vector<judging::NodeFrame> frames;
    std::string error;
    if (!judging::ParseFrames(file, frames, error)) state.SkipWithError(error.c_str());
    judging::NodeMap map;
    judging::ApplyConfigToNodeMap(map, panel);
    judging::OfflineJudge judge(map, panel, judging::OfflineJudgeSettings{});
    out.clear();
    for (std::size_t i = 0; i < frames.size(); ++i)
      judge.AppendJsonLine(static_cast<int>(i), judge.JudgeFrame(frames[i]), out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_JudgeThousandFrames)->Unit(benchmark::kMillisecond);

}  // namespace
