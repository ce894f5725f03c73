// The station's test cycle on the simulated box: measured cycle time against
// the protocol floor, and the test thread's CPU time per cycle.

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device/forwarding_usb_port.h"
#include "station/station.h"
#include "judging/node_map.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"

namespace {

using namespace varnex2;
using namespace std::chrono_literals;

// Fixed waits: the pause before the repaint, two in the output switch, the
// self-test's message poll.
constexpr double kFixedWaitMs = 10 + 2 * 10 + 20;

// Counts the controller reports in each direction.
class CountingUsbPort final : public device::testing::ForwardingUsbPort {
 public:
  explicit CountingUsbPort(std::unique_ptr<platform::UsbPort> inner) : ForwardingUsbPort(std::move(inner)) {}
  int InterruptWrite(std::uint8_t ep, std::span<const std::uint8_t> data, int& transferred,
                     std::chrono::milliseconds timeout) override {
    ++out;
    return Inner().InterruptWrite(ep, data, transferred, timeout);
  }
  int InterruptWriteAsync(std::uint8_t ep, std::span<const std::uint8_t> data) override {
    ++out;
    return Inner().InterruptWriteAsync(ep, data);
  }
  int AllocInTransfer(std::uint8_t ep, std::size_t length, platform::InTransferCallback callback) override {
    return Inner().AllocInTransfer(
        ep, length,
        [this, cb = std::move(callback)](platform::TransferStatus status, std::span<const std::uint8_t> data) {
          if (status == platform::TransferStatus::Completed) ++in;
          cb(status, data);
        });
  }

  std::atomic<long> out{0};
  std::atomic<long> in{0};
};

// Counts the bridge reports (both directions).
class CountingHidPort final : public platform::HidPort {
 public:
  explicit CountingHidPort(std::unique_ptr<platform::HidPort> inner) : inner_(std::move(inner)) {}
  std::vector<platform::HidDeviceInfo> Enumerate(std::uint16_t v, std::uint16_t p) override {
    return inner_->Enumerate(v, p);
  }
  int Open(const std::string& path) override { return inner_->Open(path); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  int Write(std::span<const std::uint8_t, platform::kHidReportSize> report) override {
    ++reports;
    return inner_->Write(report);
  }
  int Read(std::span<std::uint8_t, platform::kHidReportSize> report, std::chrono::milliseconds timeout) override {
    const int n = inner_->Read(report, timeout);
    if (n > 0) ++reports;
    return n;
  }
  void Close() override { inner_->Close(); }

  std::atomic<long> reports{0};

 private:
  std::unique_ptr<platform::HidPort> inner_;
};

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A window thread that runs posted and sent calls; RepaintGrid fixes the
// verdict like the widget's paint and wakes the benchmark.
class BenchView final : public station::StationView {
 public:
  explicit BenchView(judging::NodeMap& grid) : grid_(grid) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~BenchView() override {
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

  void Post(std::function<void()> call) override { Enqueue(std::move(call), nullptr); }
  bool Send(std::function<void()> call, std::stop_token stop = {}) override {
    if (std::this_thread::get_id() == thread_.get_id()) {
      call();
      return true;
    }
    // The repaint is sent by the test thread: its CPU clock is read here.
    senderCpuMs_ = ThreadCpuMs();
    auto done = std::make_shared<int>(0);  // 0 pending, 1 running, 2 done, 3 cancelled
    if (!Enqueue(std::move(call), done)) return false;
    std::unique_lock lock(mutex_);
    doneCv_.wait(lock, stop, [&] { return *done == 2 || closing_; });
    if (*done == 0) {
      *done = 3;
      return false;
    }
    doneCv_.wait(lock, [&] { return *done == 2; });
    return true;
  }
  void SetTitle(const std::string&) override {}
  void SetStatusPane(int, const std::string&, std::uint32_t, std::uint32_t) override {}
  void SetStatusPaneWidth(int, int) override {}
  void EnableTopMenus(bool) override {}
  void RepaintGrid() override {
    grid_.FixVerdict();
    {
      std::lock_guard lock(repaintMutex_);
      ++repaints_;
      lastCpuMs_ = senderCpuMs_;
    }
    repaintCv_.notify_all();
  }
  void ShowMessage(const std::string&, station::MessageIcon) override {}
  void ExitProgram(int) override {}

  // Waits for the next repaint; returns the test thread's CPU clock at it.
  bool NextRepaint(double& cpuMs) {
    std::unique_lock lock(repaintMutex_);
    const long target = repaints_ + 1;
    if (!repaintCv_.wait_for(lock, 10s, [&] { return repaints_ >= target; })) return false;
    cpuMs = lastCpuMs_;
    return true;
  }

 private:
  bool Enqueue(std::function<void()> call, std::shared_ptr<int> done) {
    {
      std::lock_guard lock(mutex_);
      if (closing_) return false;
      queue_.emplace_back(std::move(call), std::move(done));
    }
    cv_.notify_all();
    return true;
  }
  void Loop() {
    for (;;) {
      std::pair<std::function<void()>, std::shared_ptr<int>> job;
      {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) return;
        job = std::move(queue_.front());
        queue_.pop_front();
        if (job.second && *job.second == 3) continue;
        if (job.second) *job.second = 1;
      }
      job.first();
      if (job.second) {
        std::lock_guard lock(mutex_);
        *job.second = 2;
      }
      doneCv_.notify_all();
    }
  }

  judging::NodeMap& grid_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::condition_variable_any doneCv_;
  std::deque<std::pair<std::function<void()>, std::shared_ptr<int>>> queue_;
  bool closing_ = false;
  std::atomic<double> senderCpuMs_{0};
  std::mutex repaintMutex_;
  std::condition_variable repaintCv_;
  long repaints_ = 0;
  double lastCpuMs_ = 0;
  std::thread thread_;
};

void StationCycle(benchmark::State& state, bool paced) {
  sim::SimBoxOptions options;
  options.paced = paced;
  auto box = std::make_shared<sim::SimBox>(options);
  box->PlacePanel();
  station::StationBackends backends;
  auto usb = std::make_unique<CountingUsbPort>(sim::CreateSimUsbPort(box));
  auto hid = std::make_unique<CountingHidPort>(sim::CreateSimHidPort(box));
  CountingUsbPort& usbCount = *usb;
  CountingHidPort& hidCount = *hid;
  backends.usb = std::move(usb);
  backends.hid = std::move(hid);
  backends.clock = station::CreateRealClock();
  station::Station station(std::move(backends));
  BenchView view(station.Model());
  station.AttachView(view);
  view.Send([&] { station.Initialise(); });

  double cpu = 0;
  // Settle: the first cycles include the connection.
  for (int i = 0; i < 3; ++i) {
    if (!view.NextRepaint(cpu)) {
      state.SkipWithError("no cycle");
      return;
    }
  }
  std::vector<double> cycleMs, cpuMs;
  const long out0 = usbCount.out, in0 = usbCount.in, bridge0 = hidCount.reports;
  auto last = std::chrono::steady_clock::now();
  double lastCpu = cpu;
  for (auto _ : state) {
    if (!view.NextRepaint(cpu)) {
      state.SkipWithError("cycle stalled");
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    const double ms = std::chrono::duration<double, std::milli>(now - last).count();
    state.SetIterationTime(ms / 1e3);
    cycleMs.push_back(ms);
    cpuMs.push_back(cpu - lastCpu);
    last = now;
    lastCpu = cpu;
  }
  const double cycles = static_cast<double>(cycleMs.size());
  const double outPerCycle = static_cast<double>(usbCount.out - out0) / std::max(cycles, 1.0);
  const double inPerCycle = static_cast<double>(usbCount.in - in0) / std::max(cycles, 1.0);
  const double bridgePerCycle = static_cast<double>(hidCount.reports - bridge0) / std::max(cycles, 1.0);
  view.Send([&] { station.Shutdown(); });
  if (cycleMs.empty()) return;
  std::sort(cycleMs.begin(), cycleMs.end());
  std::sort(cpuMs.begin(), cpuMs.end());
  state.counters["cycle_best_ms"] = cycleMs.front();
  state.counters["cycle_median_ms"] = cycleMs[cycleMs.size() / 2];
  state.counters["test_thread_cpu_median_ms"] = cpuMs[cpuMs.size() / 2];
  state.counters["controller_out_reports"] = outPerCycle;
  state.counters["controller_in_reports"] = inPerCycle;
  state.counters["bridge_reports"] = bridgePerCycle;
  // One 1 ms slot per report on the busier of the controller's two endpoints
  // (they are paced apart and overlap). The bridge's few reports go out on its
  // own endpoints' 1 ms ticks between the two 10 ms waits and are shown beside
  // it, not added. Unpaced, only the waits remain.
  const double reportSlots = paced ? std::max(outPerCycle, inPerCycle) : 0;
  state.counters["floor_ms"] = kFixedWaitMs + reportSlots;
}

BENCHMARK_CAPTURE(StationCycle, paced, true)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK_CAPTURE(StationCycle, unpaced, false)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

}  // namespace
