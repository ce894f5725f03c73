// Full repaint of the node-map control at 1920 x 1080 into an image, with a
// station-like map: 52 x 32 nodes with values, both areas, key and mask marks,
// a shorted line, HIGH/LOW/ZERO nodes, two statistics labels and the verdict.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "judging/widget/color_grid.h"
#include "judging/model_grid.h"

namespace {

using namespace varnex2::judging;
using varnex2::judging::testing::kJudgingModes;
using varnex2::judging::testing::ModelGrid;
using varnex2::judging::testing::StationMap;

// Eight noisy frames of the station's map, judged in turn.
std::vector<NodeFrame> NoisyFrames() {
  std::vector<NodeFrame> frames;
  for (int k = 0; k < 8; ++k) {
    NodeFrame f(52, 32);
    for (int c = 0; c < 52; ++c)
      for (int r = 0; r < 32; ++r) f(c, r) = 21000 + c * 80 + r * 60 + ((c * 7 + r * 13 + k * 5) % 17) * 40 - k * 3;
    frames.push_back(f);
  }
  return frames;
}

// VARNEX2_BENCH_PICTURE=FILE saves a benchmark's last picture, to look at.
void SavePicture(const QImage& image, const char* suffix) {
  if (const char* file = std::getenv("VARNEX2_BENCH_PICTURE"); file != nullptr)
    image.save(QString::fromLocal8Bit(file) + QString::fromLatin1(suffix));
}

// Repaints into the same image every time.
void Repaint(benchmark::State& state, std::int32_t modes) {
  ModelGrid grid;
  grid.resize(1920, 1080);
  StationMap(grid, modes);
  QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    grid.RenderInto(image);
    benchmark::DoNotOptimize(image.constBits());
  }
  SavePicture(image, ".image.png");
}

void BM_RepaintThresholdMode(benchmark::State& state) { Repaint(state, TestMode::THRESHOLD); }
void BM_RepaintAllModes(benchmark::State& state) { Repaint(state, kJudgingModes); }

// The test cycle: a new frame every time (eight noisy frames in turn), judged
// and repainted, so nothing that depends on the values can be reused. With
// flip the verdict also turns from PASS to FAIL and back at every frame, as
// while a panel is being placed.
void RepaintFrames(benchmark::State& state, bool flip) {
  ModelGrid grid;
  grid.resize(1920, 1080);
  StationMap(grid, TestMode::THRESHOLD);
  const std::vector<NodeFrame> frames = NoisyFrames();
  QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
  std::size_t next = 0;
  for (auto _ : state) {
    grid.Model().Evaluate(frames[next % frames.size()]);
    if (flip) grid.Model().SetResultFlags(ResultFlag::EVALUATION_SHOWN | (next % 2 ? ResultFlag::TOUCH_NG : 0));
    ++next;
    grid.RenderInto(image);
    benchmark::DoNotOptimize(image.constBits());
  }
}

void BM_RepaintNewFrames(benchmark::State& state) { RepaintFrames(state, false); }
void BM_RepaintFlippingVerdict(benchmark::State& state) { RepaintFrames(state, true); }

// The window's own repaint: a new frame judged, then a synchronous repaint of
// the shown control, which paints into the window's backing store.
void BM_WidgetRepaint(benchmark::State& state) {
  ModelGrid grid;
  grid.resize(1920, 1080);
  StationMap(grid, TestMode::THRESHOLD);
  grid.show();
  QApplication::processEvents();
  const std::vector<NodeFrame> frames = NoisyFrames();
  std::size_t next = 0;
  for (auto _ : state) {
    grid.Model().Evaluate(frames[next++ % frames.size()]);
    grid.repaint();
  }
  state.counters["width"] = grid.width();
  state.counters["height"] = grid.height();
  SavePicture(grid.grab().toImage(), ".widget.png");
}

// The floor of any full repaint on this machine: every pixel of a 1920 x 1080
// picture written once with one colour, no texts.
// With an argument, after that many milliseconds of sleep, as between two
// frames of the station (the sleep is not timed).
void BM_FillPicture(benchmark::State& state) {
  QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
  quint32 colour = 0xFF102030u;
  const auto idle = std::chrono::milliseconds(state.range(0));
  for (auto _ : state) {
    if (idle.count() > 0) {
      state.PauseTiming();
      std::this_thread::sleep_for(idle);
      state.ResumeTiming();
    }
    for (int y = 0; y < image.height(); ++y) {
      auto* row = reinterpret_cast<quint32*>(image.scanLine(y));
      std::fill_n(row, image.width(), colour);
    }
    colour ^= 0x00010101u;
    benchmark::DoNotOptimize(image.constBits());
  }
}

// A fresh picture each time (offline judge output): adds the image allocation.
void BM_RenderToNewImage(benchmark::State& state) {
  ModelGrid grid;
  grid.resize(1920, 1080);
  StationMap(grid, TestMode::THRESHOLD);
  for (auto _ : state) {
    QImage image = grid.RenderToImage(QSize(1920, 1080));
    benchmark::DoNotOptimize(image.constBits());
  }
}

BENCHMARK(BM_RepaintThresholdMode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintAllModes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintNewFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintFlippingVerdict)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WidgetRepaint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderToNewImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillPicture)->Arg(0)->Arg(50)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
