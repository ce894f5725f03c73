// The sample-limit editor's work as `varnex2-judge --learn` does it on the default
// 52 x 32 map: 100 frames read, judged and taken as samples, the limits computed,
// the configuration written; and the cost of one more sample on a grown editor.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/parameter_file.h"
#include "judging/frame_capture.h"
#include "judging/offline_judge.h"
#include "bench_frames.h"
#include "judging/panel_layout.h"
#include "judging/sample_limits.h"

namespace {

using namespace varnex2;

constexpr int kSamples = 100;

std::string FrameFile(int count) { return bench::FrameFile(count, 11); }
using bench::Panel;

// Resident memory of this process in kB (0 when it cannot be read).
long VmRssKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// The whole learn run: read, lay out, judge and sample every frame, select all,
// compute, confirm and write the parameter file.
void BM_LearnHundredSamples(benchmark::State& state) {
  const std::string file = FrameFile(kSamples);
  const config::PanelConfig panel = Panel();
  const std::filesystem::path out =
      std::filesystem::temp_directory_path() / ("bench-learn-" + std::to_string(::getpid()) + ".xml");
  const config::ProgramVersion version{2, 0, 0, 0};
  for (auto _ : state) {
    std::vector<judging::NodeFrame> frames;
    std::string error;
    if (!judging::ParseFrames(file, frames, error, judging::FrameShape{52, 32})) state.SkipWithError(error.c_str());
    judging::NodeMap map;
    judging::ApplyConfigToNodeMap(map, panel);
    judging::SampleLimitEditor editor(map, panel.sampleLimits);
    judging::OfflineJudge judge(map, panel, judging::OfflineJudgeSettings{});
    for (const judging::NodeFrame& frame : frames) {
      judge.JudgeFrame(frame);
      editor.TakeSample();
    }
    for (int row = 1; row < editor.SampleTableRows(); ++row) editor.SetSelected(row, true);
    if (editor.ComputeLimits({0, 1000, 1000, 1000}) != judging::SampleLimitStatus::kOk)
      state.SkipWithError("not computed");
    config::PanelConfig learnt = panel;
    learnt.sampleLimits = editor.Data();
    learnt.nTestModeFlags = judging::TestModeAfterConfirm(learnt.nTestModeFlags);
    if (config::SaveParameterFile(out, learnt, version, error, config::TextLanguage::kEnglish) !=
        config::ParameterFileStatus::kOk)
      state.SkipWithError(error.c_str());
  }
  std::filesystem::remove(out);
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_LearnHundredSamples)->Unit(benchmark::kMillisecond);

// Sampling and computing only (no file reading or writing).
void BM_SampleAndCompute(benchmark::State& state) {
  std::vector<judging::NodeFrame> frames;
  std::string error;
  judging::ParseFrames(FrameFile(kSamples), frames, error);
  const config::PanelConfig panel = Panel();
  for (auto _ : state) {
    judging::NodeMap map;
    judging::ApplyConfigToNodeMap(map, panel);
    judging::SampleLimitEditor editor(map, panel.sampleLimits);
    for (const judging::NodeFrame& frame : frames) {
      map.Evaluate(frame);
      editor.TakeSample();
    }
    benchmark::DoNotOptimize(editor.ComputeLimits({0, 1000, 1000, 1000}));
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
}
BENCHMARK(BM_SampleAndCompute)->Unit(benchmark::kMillisecond);

// Resident memory with an editor holding 100 samples (the process's VmRSS, in MB).
void BM_ResidentWithHundredSamples(benchmark::State& state) {
  std::vector<judging::NodeFrame> frames;
  std::string error;
  judging::ParseFrames(FrameFile(kSamples), frames, error);
  const config::PanelConfig panel = Panel();
  judging::NodeMap map;
  judging::ApplyConfigToNodeMap(map, panel);
  judging::SampleLimitEditor editor(map, panel.sampleLimits);
  for (const judging::NodeFrame& frame : frames) {
    map.Evaluate(frame);
    editor.TakeSample();
  }
  editor.ComputeLimits({0, 1000, 1000, 1000});
  for (auto _ : state) benchmark::DoNotOptimize(editor.Data().sampleFrames.Pages());
  state.counters["VmRSS_MB"] = static_cast<double>(VmRssKb()) / 1024.0;
  state.counters["samples"] = editor.SampleCount();
}
BENCHMARK(BM_ResidentWithHundredSamples)->Iterations(1);

}  // namespace
