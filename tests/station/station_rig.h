#pragma once
// The station core on the in-process simulated box with a recording view and a scaled clock:
// the rig the core's tests share.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <memory>
#include <thread>
#include <vector>

#include "station/fake_station_view.h"
#include "station/test_backends.h"
#include "station/station.h"
#include "platform/memory_settings_store.h"
#include "judging/node_map.h"
#include "scanner/scanner_setting.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"

namespace varnex2::station {

using namespace std::chrono_literals;
using testing::FakeView;
using testing::Repaint;

template <typename Pred>
inline bool WaitUntil(Pred pred, std::chrono::milliseconds timeout = 30s) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// The notice label, read under the map's lock.
inline judging::GridLabel Notice(judging::NodeMap& grid) {
  std::lock_guard lock(grid.Mutex());
  return grid.NoticeLabel();
}

inline sim::PanelState GoodPanel() {
  sim::PanelState s;
  s.placed = true;
  return s;
}

// A device monitor that cannot register.
class RefusingMonitor final : public platform::DeviceMonitor {
 public:
  int Start(platform::DeviceEventCallback) override { return -1; }
  void Stop() override {}
};

struct RigOptions {
  bool monitor = true;
  bool hid = true;
  bool controllerPresent = true;
  int connectType = 0;  // the scanner connection type in the settings
  bool refusingMonitor = false;
  int clockDivisor = 100;
  std::chrono::milliseconds cycleAnswerWait{5000};
  // Adds back-ends (the scanner's key source and serial port) before the station is built.
  std::function<void(StationBackends&)> backends;
  // The same with the rig's box, for back-ends built around it (real ones over an umockdev
  // testbed). Replacing `usb` drops the rig's self-test gate.
  std::function<void(StationBackends&, const std::shared_ptr<sim::SimBox>&)> boxBackends;
};

// A scratch folder for the records a rig's station writes, removed with the rig.
class RecordsFolder {
 public:
  RecordsFolder() {
    static std::atomic<int> next{0};
    path_ = std::filesystem::temp_directory_path() /
            ("varnex2-rig-" + std::to_string(::getpid()) + "-" + std::to_string(next++));
  }
  ~RecordsFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class StationRig {
 public:
  explicit StationRig(RigOptions o = {}) {
    sim::SimBoxOptions bo;
    bo.resetDowntime = 50ms;
    bo.controllerPresent = o.controllerPresent;
    box = std::make_shared<sim::SimBox>(bo);
    box->SetPanel(GoodPanel());
    StationBackends backends;
    auto gate = std::make_unique<testing::SelfTestGate>(sim::CreateSimUsbPort(box),
                                                        static_cast<std::uint16_t>(box->ObjectAddress(25) + 1));
    selfTest = gate.get();
    backends.usb = std::move(gate);
    if (o.hid) backends.hid = sim::CreateSimHidPort(box);
    if (o.monitor) backends.monitor = sim::CreateSimDeviceMonitor(box);
    if (o.refusingMonitor) backends.monitor = std::make_unique<RefusingMonitor>();
    backends.clock = CreateScaledClock(o.clockDivisor);
    backends.recordsDirectory = records_.Path().string();
    if (o.backends) o.backends(backends);
    if (o.boxBackends) o.boxBackends(backends, box);
    if (backends.usb.get() != selfTest) selfTest = nullptr;
    backends.cycleAnswerWait = o.cycleAnswerWait;
    auto store = std::make_unique<testing::RecordingSettingsStore>(platform::CreateMemorySettingsStore());
    store->SetDword(scanner::kRegKeyConnect, "Type", o.connectType);
    settings = store.get();
    backends.settings = std::move(store);
    station = std::make_unique<Station>(std::move(backends));
    view = std::make_unique<FakeView>(station->Model());
    station->AttachView(*view);
    view->SetOutputProbe([b = box] { return static_cast<int>(b->Bridge().outputLevel); });
    station->SetLogResultHandler([this](const std::string& scanned, int lParam) {
      if (scanned.empty() && lParam == 2048) ++records;
    });
  }
  ~StationRig() {
    view->Run([this] { station->Shutdown(); });
    view->Close();
    view.reset();
    station.reset();
  }

  void Initialise() {
    view->Run([this] { station->Initialise(); });
  }
  // Waits until `n` more repaints have happened.
  bool WaitRepaints(std::size_t n) {
    const std::size_t target = view->RepaintCount() + n;
    return WaitUntil([&] { return view->RepaintCount() >= target; });
  }
  bool WaitTesting() {
    return WaitUntil([&] { return station->TestRunning(); }) && WaitRepaints(2);
  }
  std::vector<Repaint> Repaints() { return view->Get(view->repaints); }
  std::vector<std::string> Messages() { return view->Get(view->messages); }
  std::vector<std::string> Titles() { return view->Get(view->titles); }

  std::shared_ptr<sim::SimBox> box;
  std::unique_ptr<Station> station;
  std::unique_ptr<FakeView> view;
  judging::NodeMap& Grid() { return station->Model(); }
  testing::RecordingSettingsStore* settings = nullptr;  // owned by the station
  testing::SelfTestGate* selfTest = nullptr;            // owned by the station
  std::atomic<int> records{0};
  const std::filesystem::path& RecordsPath() const { return records_.Path(); }

 private:
  RecordsFolder records_;  // outlives the station (declared before it is built, removed last)
};

inline std::vector<std::uint8_t> ObjectBytes(sim::SimBox& box, std::uint8_t type, std::size_t n) {
  return box.ReadMemory(box.ObjectAddress(type), n);
}

// Buzzer enabled, not inverted.
inline void EnableBuzzer(StationRig& rig) {
  rig.view->Run([&] {
    if ((rig.station->BuzzerByte() & 1) == 0) rig.station->ToggleBuzzerEnable();
    if ((rig.station->BuzzerByte() & 2) != 0) rig.station->ToggleBuzzerInvert();
  });
  ASSERT_EQ(rig.station->BuzzerByte() & 3, 1);
  ASSERT_TRUE(rig.box->Bridge().buzzerEnabled);
  ASSERT_FALSE(rig.box->Bridge().buzzerInverted);
}

}  // namespace varnex2::station
