// The whole station at work: the station window at 1920 x 1080 (offscreen) with
// the station core on the paced simulated box, a panel on the fixture. Measures
// the CPU time of the process per judged cycle (every thread: the window's
// repaint, the test thread, the link's event thread, and the simulated box's
// own work, which a real box does itself), and the window thread's share.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <dirent.h>
#include <sys/resource.h>
#include <time.h>

#include <fstream>
#include <map>
#include <string>
#include <thread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "station/station.h"
#include "app/station_commands.h"
#include "platform/memory_settings_store.h"
#include "app/station_window.h"
#include "judging/widget/color_grid.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"

namespace {

using namespace varnex2;

double CpuMs(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Times the node map's paint events on the window thread.
class TimingApplication final : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    if (event->type() != QEvent::Paint || qobject_cast<judging::CColorGrid*>(receiver) == nullptr)
      return QApplication::notify(receiver, event);
    const double start = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    const bool done = QApplication::notify(receiver, event);
    paintMs += CpuMs(CLOCK_THREAD_CPUTIME_ID) - start;
    ++paints;
    return done;
  }
  double paintMs = 0;
  long paints = 0;
};

TimingApplication* App() { return static_cast<TimingApplication*>(QCoreApplication::instance()); }

// User and kernel CPU time of the process, in ms.
void ProcessTimes(double& user, double& kernel) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  user = static_cast<double>(usage.ru_utime.tv_sec) * 1e3 + static_cast<double>(usage.ru_utime.tv_usec) / 1e3;
  kernel = static_cast<double>(usage.ru_stime.tv_sec) * 1e3 + static_cast<double>(usage.ru_stime.tv_usec) / 1e3;
}

// CPU time in ms of every thread of this process, by thread id (Linux).
std::map<int, std::pair<double, double>> ThreadTimes() {
  std::map<int, std::pair<double, double>> out;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return out;
  while (dirent* e = readdir(dir)) {
    const int tid = std::atoi(e->d_name);
    if (tid <= 0) continue;
    std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/schedstat");
    double ns = 0;
    double waitNs = 0;
    double slices = 0;
    if (in >> ns >> waitNs >> slices) out[tid] = {ns / 1e6, slices};
  }
  closedir(dir);
  return out;
}

// Runs the window's event loop for ms milliseconds; returns the frames judged
// meanwhile. One timer ends it, so the loop adds no wake-ups of its own.
std::uint64_t RunFor(app::CVarnex2Dlg& window, int ms) {
  const std::uint64_t before = window.JudgedFrames();
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return window.JudgedFrames() - before;
}

void BM_StationWindowCycle(benchmark::State& state) {
  sim::SimBoxOptions options;
  options.paced = true;
  auto box = std::make_shared<sim::SimBox>(options);
  box->PlacePanel();

  station::StationBackends backends;
  backends.usb = sim::CreateSimUsbPort(box);
  backends.hid = sim::CreateSimHidPort(box);
  backends.settings = platform::CreateMemorySettingsStore();
  backends.clock = station::CreateRealClock();
  station::Station station(std::move(backends));
  app::CVarnex2Dlg window(station.Model(), app::CVarnex2Dlg::Options{});
  station.AttachView(window);
  app::StationCommandsFor<station::Station> commands(station);
  window.AttachStation(&commands);
  window.resize(1920, 1080);
  window.show();
  station.Initialise();

  // Settle: connection and the first cycles.
  if (RunFor(window, 2000) == 0) {
    state.SkipWithError("no judged frames");
    station.Shutdown();
    return;
  }
  const double paint0 = App()->paintMs;
  const long paints0 = App()->paints;
  double processMs = 0;
  double userMs = 0;
  double kernelMs = 0;
  double windowMs = 0;
  double wallMs = 0;
  std::uint64_t cycles = 0;
  const auto threads0 = ThreadTimes();
  for (auto _ : state) {
    double user0 = 0, kernel0 = 0;
    ProcessTimes(user0, kernel0);
    const double process0 = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const double window0 = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    const auto wall0 = std::chrono::steady_clock::now();
    const std::uint64_t judged = RunFor(window, 1200);
    const double process = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - process0;
    double user1 = 0, kernel1 = 0;
    ProcessTimes(user1, kernel1);
    const double thread = CpuMs(CLOCK_THREAD_CPUTIME_ID) - window0;
    const double wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall0).count();
    if (judged == 0) {
      state.SkipWithError("cycles stalled");
      break;
    }
    state.SetIterationTime(process / 1e3 / static_cast<double>(judged));
    processMs += process;
    userMs += user1 - user0;
    kernelMs += kernel1 - kernel0;
    windowMs += thread;
    wallMs += wall;
    cycles += judged;
  }
  const auto threads1 = ThreadTimes();
  station.Shutdown();
  if (cycles == 0) return;
  if (std::getenv("VARNEX2_BENCH_THREADS") != nullptr) {
    for (const auto& [tid, times] : threads1) {
      const auto before = threads0.find(tid);
      const double used = times.first - (before != threads0.end() ? before->second.first : 0);
      const double slices = times.second - (before != threads0.end() ? before->second.second : 0);
      std::fprintf(stderr, "thread %d: %.3f ms and %.1f runs per cycle\n", tid, used / static_cast<double>(cycles),
                   slices / static_cast<double>(cycles));
    }
  }
  const double n = static_cast<double>(cycles);
  state.counters["process_cpu_ms_per_cycle"] = processMs / n;
  state.counters["map_paint_cpu_ms"] =
      (App()->paintMs - paint0) / static_cast<double>(std::max(1L, App()->paints - paints0));
  state.counters["map_paints_per_cycle"] = static_cast<double>(App()->paints - paints0) / n;
  state.counters["user_cpu_ms_per_cycle"] = userMs / n;
  state.counters["kernel_cpu_ms_per_cycle"] = kernelMs / n;
  state.counters["window_thread_cpu_ms_per_cycle"] = windowMs / n;
  state.counters["cycle_ms"] = wallMs / n;
  state.counters["map_width"] = window.Grid()->width();
  state.counters["map_height"] = window.Grid()->height();
}

// What one wake-up by a timer costs the woken thread on this machine: the
// cycle's waits and the box's one-report-per-millisecond pacing are such
// wake-ups. Manual time: CPU time per 0.5 ms sleep.
void BM_TimerWakeCpu(benchmark::State& state) {
  for (auto _ : state) {
    const double before = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    state.SetIterationTime((CpuMs(CLOCK_THREAD_CPUTIME_ID) - before) / 1e3);
  }
}
BENCHMARK(BM_TimerWakeCpu)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

// Manual time: the process CPU time per cycle.
BENCHMARK(BM_StationWindowCycle)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  TimingApplication app(qtArgc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
