#pragma once
// Device presence: the device-change handler (the interface-path rules of
// platform/interface_path.h), the lost and replug messages, opening at start-up, the connect,
// start-test, device-lost, launcher and reconnect procedures, device initialisation and the
// disconnected look.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

#include "judging/node_map.h"
#include "platform/device_monitor.h"
#include "platform/settings_store.h"
#include "station/link_session.h"
#include "station/panel_state.h"
#include "station/procedure_mutex.h"
#include "station/scanner_records.h"
#include "station/station.h"
#include "station/station_clock.h"
#include "station/setup_commands.h"
#include "station/station_view.h"
#include "station/test_cycle.h"
#include "station/worker_slots.h"

namespace varnex2::station {

class DevicePresence {
 public:
  DevicePresence(WorkerSlots& slots, LinkSession& link, TestCycle& cycle, SetupCommands& commands, PanelState& panel,
                 ScannerRecords& scanner, judging::NodeMap& grid, StationView& view, StationClock& clock,
                 platform::SettingsStore& settings);
  DevicePresence(const DevicePresence&) = delete;
  DevicePresence& operator=(const DevicePresence&) = delete;

  // Window thread.
  void OnDeviceEvent(const platform::DeviceEvent& event);
  void OnDevLost(int transferStatus);  // WM_DEV_LOST
  void OnDevReplug();                  // WM_DEV_REPLUG
  // Opens the controller link at start-up: the connected start, or the disconnected look.
  void OpenAtStart();
  // Starts the connect thread unless its slot is filled (then nothing at all happens), the
  // keyboard hook and the bridge. Window thread or the reconnect thread.
  void StartDeviceThreads();

  bool Connected() const { return bDeviceConnected_.load(); }  // bDeviceConnected
  void MarkDisconnected() { bDeviceConnected_ = false; }

  void SetKeyboardHookStarter(std::function<void()> start);
  void SetScannerSettingsLoaded(Station::ScannerSettingsLoaded handler);

 private:
  // Runs `call` on the window thread (directly when already there). False when it did not run.
  bool OnWindow(const std::function<void()>& call, std::stop_token stop = {});
  // Starts a procedure of this part in its slot.
  bool StartProc(SlotId slot, void (DevicePresence::*proc)(std::stop_token));
  void StartReconnectLauncher();
  // The controller link has just opened (window thread): connected look, the two settling
  // waits around StopTestThread, then the device threads.
  void StartAfterOpen();
  void ShowDisconnected(std::stop_token stop = {}, std::optional<std::uint64_t> onlyGeneration = std::nullopt);
  bool InitDevice(std::stop_token stop);
  // The scanner settings, then the screen-level group, then the difference-mode gain, in one
  // load; the screen-level group goes to the record and the node map.
  void LoadConnectionSettings();
  void ShowNotice(const std::string& text, std::stop_token stop);
  void ConnectThreadProc(std::stop_token stop);
  void StartTestThreadProc(std::stop_token stop);
  void DeviceLostThreadProc(std::stop_token stop);
  void ReconnectLauncherProc(std::stop_token stop);
  void ReconnectThreadProc(std::stop_token stop);
  void RequestReconnect();

  WorkerSlots& slots_;
  LinkSession& link_;
  TestCycle& cycle_;
  SetupCommands& commands_;
  PanelState& panel_;
  ScannerRecords& scanner_;
  judging::NodeMap& grid_;
  StationView& view_;
  StationClock& clock_;
  platform::SettingsStore& settings_;

  std::atomic<bool> bDeviceConnected_{false};
  // One mutex per procedure, held for its whole run.
  ProcedureMutex connectMutex_, startTestMutex_, reconnectMutex_, launcherMutex_, deviceLostMutex_;
  std::mutex hooksMutex_;
  std::function<void()> keyboardHookStarter_;             // hooksMutex_
  Station::ScannerSettingsLoaded scannerSettingsLoaded_;  // hooksMutex_
};

}  // namespace varnex2::station
