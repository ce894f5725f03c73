// The offline judge's work on 1,000 captured frames: reading the frame file,
// judging every frame and formatting its JSON line.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "judging/frame_capture.h"
#include "judging/offline_judge.h"
#include "bench_frames.h"
#include "judging/panel_layout.h"

namespace {

using namespace varnex2;

std::string FrameFile(int count) { return bench::FrameFile(count, 7); }
using bench::Panel;

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
