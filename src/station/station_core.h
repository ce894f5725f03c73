#pragma once
// The state behind Station, shared by the station and every worker thread it
// starts: a worker holds a shared owner of the core, so nothing it touches goes
// away while it runs, even after its slot has been emptied.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "station/station.h"
#include "config/panel_config.h"
#include "device/controller_link.h"
#include "device/panel_areas.h"
#include "device/usb_channel.h"
#include "judging/node_map.h"
#include "scanner/scanner_setting.h"

namespace varnex2::station {

// An area as the configuration holds it and as the controller's windows store it.
inline device::AreaSettings ToAreaSettings(const config::AreaParams& p) {
  return {p.nXOrigin, p.nYOrigin, p.nXSize, p.nYSize, p.nGain, p.bEnable, p.nThresUpper, p.nThresLower};
}
inline config::AreaParams ToAreaParams(const device::AreaSettings& a) {
  config::AreaParams p;
  p.nXOrigin = a.nXOrigin;
  p.nYOrigin = a.nYOrigin;
  p.nXSize = a.nXSize;
  p.nYSize = a.nYSize;
  p.nGain = a.nGain;
  p.bEnable = a.bEnable;
  p.nThresUpper = a.nThresUpper;
  p.nThresLower = a.nThresLower;
  return p;
}

// Auto-reset event (hCycleEvent).
class CycleEvent {
 public:
  void Set();
  void Reset();
  // True when the event was signalled within `timeout` (and resets it).
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

// A mutex a procedure holds for its whole run. Locking gives up when the
// caller's stop is requested (plain mutex and condition variable: the timed
// lock of std::timed_mutex is invisible to ThreadSanitizer).
class ProcedureMutex {
 public:
  bool LockUnlessStopped(std::stop_token stop);
  void Unlock();

 private:
  std::mutex mutex_;
  std::condition_variable_any cv_;
  bool held_ = false;
};

// Holds a ProcedureMutex until the end of the scope when it could be locked.
class ProcedureLock {
 public:
  ProcedureLock(ProcedureMutex& mutex, std::stop_token stop)
      : mutex_(mutex), owned_(mutex.LockUnlessStopped(stop)) {}
  ~ProcedureLock() {
    if (owned_) mutex_.Unlock();
  }
  ProcedureLock(const ProcedureLock&) = delete;
  ProcedureLock& operator=(const ProcedureLock&) = delete;
  bool Owned() const { return owned_; }

 private:
  ProcedureMutex& mutex_;
  bool owned_;
};

// The core's window, attached once the window exists (the window is built over the
// core's node map, so the core comes first). Until then posts and sends do nothing.
class ViewSlot final : public StationView {
 public:
  void Attach(StationView* view) { view_.store(view); }

  void Post(std::function<void()> call) override {
    if (auto* v = view_.load()) v->Post(std::move(call));
  }
  bool Send(std::function<void()> call, std::stop_token stop = {}) override {
    auto* v = view_.load();
    return v && v->Send(std::move(call), stop);
  }
  void SetTitle(const std::string& title) override {
    if (auto* v = view_.load()) v->SetTitle(title);
  }
  void SetStatusPane(int pane, const std::string& text, std::uint32_t textColour,
                     std::uint32_t backColour) override {
    if (auto* v = view_.load()) v->SetStatusPane(pane, text, textColour, backColour);
  }
  void SetStatusPaneWidth(int pane, int width) override {
    if (auto* v = view_.load()) v->SetStatusPaneWidth(pane, width);
  }
  void EnableTopMenus(bool enabled) override {
    if (auto* v = view_.load()) v->EnableTopMenus(enabled);
  }
  void RepaintGrid() override {
    if (auto* v = view_.load()) v->RepaintGrid();
  }
  void ShowMessage(const std::string& text, MessageIcon icon) override {
    if (auto* v = view_.load()) v->ShowMessage(text, icon);
  }
  void ExitProgram(int code) override {
    if (auto* v = view_.load()) v->ExitProgram(code);
  }
  bool CycleTraceEnabled() const override {
    auto* v = view_.load();
    return v && v->CycleTraceEnabled();
  }
  void CycleTrace(const std::string& line) override {
    if (auto* v = view_.load()) v->CycleTrace(line);
  }

 private:
  std::atomic<StationView*> view_{nullptr};
};

// One worker thread. `done` is set (under the core's worker lock) as the last
// thing the thread does, so a done worker can be joined at once.
struct Worker {
  std::jthread thread;
  bool done = false;
};

// The six thread slots of the main window.
enum class SlotId : int { Connect, StartTest, Reconnect, Launcher, DeviceLost, Test };
inline constexpr int kSlotCount = 6;

class StationCore : public std::enable_shared_from_this<StationCore> {
 public:
  explicit StationCore(StationBackends backends);
  ~StationCore();
  StationCore(const StationCore&) = delete;
  StationCore& operator=(const StationCore&) = delete;

  // Wires the callbacks that need a weak owner of the core; called once after construction.
  void Attach();
  void Initialise();
  void Shutdown();

  // ---- workers (station.cpp) ----
  using Proc = void (StationCore::*)(std::stop_token);
  // Starts `proc` in the slot unless the slot is filled or the station is shutting down.
  bool StartWorker(SlotId slot, Proc proc);
  std::shared_ptr<Worker> SlotWorker(SlotId slot);
  void EmptySlot(SlotId slot, const std::shared_ptr<Worker>& expected = nullptr);
  void EmptyAllSlots();
  void RequestStop(SlotId slot);
  // Waits (real time, at most `timeout`) until the worker's procedure has returned.
  enum class WaitResult { Done, TimedOut, Failed };  // Failed: the caller is that worker
  WaitResult WaitWorker(const std::shared_ptr<Worker>& worker, std::chrono::milliseconds timeout);
  bool WaitWorkerDone(const std::shared_ptr<Worker>& worker, std::chrono::milliseconds timeout) {
    return WaitWorker(worker, timeout) == WaitResult::Done;
  }
  // Requests a stop of the slot's thread and waits for it as above; true when none runs.
  bool StopAndWait(SlotId slot, std::chrono::milliseconds timeout);
  bool ShuttingDown() const { return shuttingDown_.load(); }
  // Runs `call` on the window thread (directly when already there). False when it did not run.
  bool OnWindow(const std::function<void()>& call, std::stop_token stop = {});
  // Posts a call of a core member to the window thread; dropped when the core is gone.
  void PostToWindow(std::function<void(StationCore&)> call);

  // ---- test cycle (test_cycle.cpp) ----
  void StartTestThread();
  int StopTestThread();
  void ResumeTest();
  void TestThreadProc(std::stop_token stop);
  void RunTestCycle(std::stop_token stop);

  // ---- device presence (device_presence.cpp) ----
  void OnDeviceEvent(const platform::DeviceEvent& event);
  void OnDevLost(int transferStatus);
  void OnDevReplug();
  void OpenAtStart();
  // Open and close of the controller link, one at a time (the window thread and
  // the reconnect thread both do it).
  int OpenLink();
  // Opens the link unless it is open and connected already (then `alreadyOpen`), in one
  // step, so an arrival never takes a reopen in progress elsewhere for a failure.
  int OpenLinkUnlessConnected(bool& alreadyOpen);
  // Closes the link; with `onlyGeneration`, only while no open has succeeded since
  // that generation was read (an arrival may have reopened it meanwhile).
  bool CloseLink(std::optional<std::uint64_t> onlyGeneration = std::nullopt);  // false: left open
  bool LinkConnected();
  std::uint64_t LinkGeneration();  // counts successful opens
  // The controller link has just opened (window thread): connected look, the two
  // settling waits around StopTestThread, then the device threads.
  void StartAfterOpen();
  void StartDeviceThreads();
  void ShowDisconnected(std::stop_token stop = {}, std::optional<std::uint64_t> onlyGeneration = std::nullopt);
  // Device initialisation's read-back: read, validate and lay out the
  // controller's panel, its user-data record and the screen-level group.
  enum class ReadBackResult { Ok, Invalid, NoDevice };
  using ReadBack = ReadBackResult;
  ReadBack ReadBackPanel(std::string& message);
  bool InitDevice(std::stop_token stop);
  void ConnectThreadProc(std::stop_token stop);
  void StartTestThreadProc(std::stop_token stop);
  void DeviceLostThreadProc(std::stop_token stop);
  void ReconnectLauncherProc(std::stop_token stop);
  void ReconnectThreadProc(std::stop_token stop);
  void RequestReconnect(SlotId from);

  // ---- commands (station_commands.cpp) ----
  void ResetPanelConfig();
  void SetDisplayStyle(int style);
  void ToggleDiffMode();
  void ToggleBuzzer(std::uint8_t bit);
  void ToggleLineNumberBase();
  void ToggleTestModeBit(std::uint32_t bit);
  void ApplyPanelConfig(const config::PanelConfig& panel);
  void LoadParameterFile(const std::filesystem::path& file);
  void SaveParameterFile(const std::filesystem::path& file);
  void CaptureFrame(const std::filesystem::path& file);
  // Writes marks, display style and legacy test mode to the controller's
  // user-data record, then backs the controller's settings up.
  void WriteUserDataRecord();
  // Reads the user-data record into the panel configuration (defaults when absent).
  void ReadUserDataRecord();

  // ---- shared state ----
  ViewSlot view;
  // The node-map model: judged by the cycle, painted by the window's widget.
  judging::NodeMap grid;
  StationBackends backends;
  std::unique_ptr<device::ControllerLink> link;
  std::unique_ptr<device::CUSBChannel> channel;
  // Held around every use of the controller link (exchanges, open, close). The
  // test thread is its only user while it runs; the lock keeps a cycle that
  // outlived StopTestThread's bound from overlapping the next user.
  std::recursive_mutex linkMutex;
  std::uint64_t linkGeneration = 0;  // linkMutex
  // The link generation when the latest loss (removal, failed transfer, failed open)
  // was seen. A reconnect that starts after a newer open is stale: the loss it was
  // started for has been dealt with.
  std::atomic<std::uint64_t> lostGeneration{0};
  void NoteLoss() { lostGeneration = LinkGeneration(); }
  StationClock& clock;

  // The panel configuration; written only while the test thread is stopped,
  // read by the test cycle.
  mutable std::mutex configMutex;
  config::PanelConfig panel;

  std::atomic<std::int32_t> nTriggerLevel{28000};
  std::atomic<std::int32_t> nOutputTriggerStableFrameCnt{3};
  std::atomic<bool> bDiffMode{false};
  std::atomic<bool> bTestRunning{false};
  // bTestRunning and the node map's view of it (only the cycle's own repaint counts verdicts).
  void SetTestRunning(bool running) {
    bTestRunning = running;
    grid.SetTestRunning(running);
  }
  std::atomic<bool> bDeviceConnected{false};

  scanner::SharedScannerSetting scannerSetting;

  mutable std::mutex statsMutex;
  std::string strStatistics;

  std::mutex logMutex;
  Station::LogResultHandler logResult;
  std::function<void()> keyboardHookStarter;             // under logMutex
  Station::ScannerSettingsLoaded scannerSettingsLoaded;  // under logMutex

  CycleEvent hCycleEvent;
  // A test loop StopTestThread gave up waiting for; ResumeTest waits for it to end.
  std::mutex lateLoopMutex;
  std::shared_ptr<Worker> lateLoop;  // lateLoopMutex
  ProcedureMutex testThreadMutex;
  std::mutex cycleLock;
  // Reference frame of difference mode, [Y line][X line] with kMaxLines per Y line.
  std::vector<std::int32_t> reference;
  std::vector<std::uint16_t> rawBuffer;

  // One mutex per device procedure, held for its whole run.
  ProcedureMutex connectMutex, startTestMutex, reconnectMutex, launcherMutex, deviceLostMutex;

 private:
  void WorkerFinished(const std::shared_ptr<Worker>& worker);
  void ReapLocked();

  std::mutex workersMutex_;
  std::condition_variable workerDone_;
  std::array<std::shared_ptr<Worker>, kSlotCount> slots_;
  std::vector<std::shared_ptr<Worker>> workers_;  // every started thread until joined
  std::atomic<bool> shuttingDown_{false};
  bool monitorStarted_ = false;
};

}  // namespace varnex2::station
