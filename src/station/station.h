#pragma once
// The station core: start-up of the device link, the test thread and its
// cycle, device presence and reconnection, and the commands that change the
// set-up. Qt-free; it reaches the window only through StationView.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "station/station_clock.h"
#include "station/setup_prompts.h"
#include "station/station_view.h"
#include "platform/device_monitor.h"
#include "platform/hid_port.h"
#include "platform/key_source.h"
#include "platform/settings_store.h"
#include "config/legacy_import.h"
#include "config/panel_config.h"
#include "platform/usb_port.h"
#include "scanner/scanner_setting.h"
#include "scanner/serial_link.h"

namespace varnex2::judging {
class NodeMap;
}
namespace varnex2::device {
class ControllerLink;
class CUSBChannel;
}  // namespace varnex2::device

namespace varnex2::station {

// The back-ends chosen at start-up: the real ones or the simulated box's.
struct StationBackends {
  std::unique_ptr<platform::UsbPort> usb;            // installed as the controller link's port
  std::unique_ptr<platform::HidPort> hid;            // the bridge channel's port
  std::unique_ptr<platform::DeviceMonitor> monitor;  // may be null: no device events
  std::unique_ptr<platform::SettingsStore> settings;
  std::unique_ptr<StationClock> clock;
  std::unique_ptr<platform::KeySource> keys;      // the keyboard scanner's source; null: none
  std::unique_ptr<scanner::SerialLink> serial;    // the serial scanner's port; null: none
  // Where the test records go (empty: the working directory); the encoding comes from
  // the settings ("FileRecoder"/"Encoding").
  std::string recordsDirectory;
  // How long StopTestThread and ResumeTest wait for the test cycle to answer (real time).
  std::chrono::milliseconds cycleAnswerWait{5000};
};

class Station {
 public:
  // The station owns the node-map model; its window is attached once built over it
  // (before Initialise). Posts and sends before that do nothing.
  explicit Station(StationBackends backends);
  Station(StationView& view, StationBackends backends);
  void AttachView(StationView& view);
  // The node-map model the cycle judges and the window's widget paints.
  judging::NodeMap& Model();
  const judging::NodeMap& Model() const;
  ~Station();  // stops every thread (bounded) and closes both links
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Window initialisation steps 4 to 6: output-trigger settings, registration
  // for device events, opening the controller link and starting the device
  // threads. Window thread.
  void Initialise();
  // The window closes: stop threads, close the links, stop the monitor (bounded).
  void Shutdown();

  // ---- Test cycle --------------------------------------------------------------
  void StartTestThread();
  // Stops the test loop, waiting at most cycleAnswerWait for it to end: 0, or -100
  // when it did not end in time (it ends later, after its current cycle).
  int StopTestThread();
  // Wakes an exchange the stopped loop may still wait in and waits at most
  // cycleAnswerWait for that loop to end; then starts the test thread. Shows
  // "超时！" (or "未知错误！" when it cannot wait) and leaves the test stopped otherwise.
  void ResumeTest();
  bool TestRunning() const;  // bTestRunning

  // ---- Device presence (window thread; the core posts them to itself) -----------
  void OnDeviceEvent(const platform::DeviceEvent& event);
  void OnDevLost(int transferStatus);  // WM_DEV_LOST
  void OnDevReplug();                  // WM_DEV_REPLUG
  bool DeviceConnected() const;        // bDeviceConnected

  // ---- Commands (window thread) -----------------------------------------------
  void ResetPanelConfig();          // 32783
  void SetDisplayStyle(int style);  // 32790..32793
  int DisplayStyle() const;
  void ToggleDiffMode();  // 32863
  bool DiffMode() const;
  void ToggleBuzzerEnable();                  // 32901
  void ToggleBuzzerInvert();                  // 32902
  std::uint8_t BuzzerByte() const;            // bConfigByte
  void ToggleLineNumberBase();                // 32822
  void ToggleTestModeBit(std::uint32_t bit);  // 32802 (0x2), 32853 (0x4)
  std::uint32_t TestModeFlags() const;
  // Parameter file load/save, bracketed by StopTestThread/ResumeTest; they show
  // their own messages through the view.
  void LoadParameterFile(const std::filesystem::path& file);
  void SaveParameterFile(const std::filesystem::path& file);
  // Appends the current frame to `file`; shows "保存成功！" on success.
  void CaptureFrame(const std::filesystem::path& file);
  // The same in two steps, so that the frame is the one shown when the command
  // starts and not a later one: the capture text of the current counts, then
  // appending that text to `file` once it is chosen ("保存成功！" on success;
  // nothing for an empty path).
  std::string CaptureFrameText() const;
  void WriteFrameCapture(const std::filesystem::path& file, const std::string& text);

  // The panel configuration record (areas as read back from the controller,
  // marks, display fields, sample limits, ...). Dialogs change it on the window
  // thread between StopTestThread and ResumeTest; the change runs under the
  // record's lock (no waits inside).
  config::PanelConfig PanelConfigCopy() const;
  void UpdatePanelConfig(const std::function<void(config::PanelConfig&)>& change);

  // For the dialogs that talk to the box themselves (gain settings, area
  // editing, legacy import). The controller link may only be used between
  // StopTestThread and ResumeTest; the bridge channel locks per operation.
  // Null when the station was started without that back-end.
  device::ControllerLink* Controller();
  // Held around a dialog's exchanges with the controller: a test cycle that
  // outlived StopTestThread's bound finishes its exchange first.
  [[nodiscard]] std::unique_lock<std::recursive_mutex> LockController();
  device::CUSBChannel* Bridge();
  // The information block's version and build bytes as last read from the controller (the
  // About window's firmware version); false while no controller record exists. Takes the
  // controller lock.
  bool FirmwareVersion(std::uint8_t& version, std::uint8_t& build);
  // Writes a validated configuration's areas to the controller and lays the
  // node map out for it (the caller brackets it and reads back afterwards).
  void ApplyPanelConfig(const config::PanelConfig& panel);
  // Reads the panel back from the controller as a connection does (areas,
  // user-data record, screen-level group), validates it and lays the node map
  // out. Returns the validation text when the controller holds invalid areas,
  // "" otherwise (also when no controller answers).
  std::string ReadBackPanel();

  // The INI part of the sample-limit editor's legacy import (32800), with the test thread
  // stopped (the editor's closing resumes it): validation (the message shown on failure),
  // the areas to the node map and the controller, display style, marks, user-data record,
  // read-back. Returns what was decided (the editor's controls come from it when valid).
  config::LegacyIniPart ImportLegacyIni(const config::LegacyIniFile& ini);

  // ---- Set-up on the node map (window thread; see AreaEditing) -------------------
  // Area drag finished: 1 touch area, 2 key area.
  void AreaDefined(int area, SetupPrompts& prompts);
  // Double clicks: threshold mode (area of the node), sample-limit mode, adjacent mode.
  void EditAreaOfNode(int nArea, SetupPrompts& prompts);
  void EditNodeLimits(int col, int row, SetupPrompts& prompts);
  void EditNodePercent(int nArea, int col, int row, SetupPrompts& prompts);
  // 32851 and the region selection.
  void AdjacentWholeMap(SetupPrompts& prompts);
  void AdjacentRegion(int col1, int row1, int col2, int row2, SetupPrompts& prompts);
  // Ctrl+double click: oldFlags the node's flag byte before the map flipped it.
  void MarkNode(int oldFlags, int nArea, int col, int row);
  // The screen-level group for its dialog (loaded as at a connection), and after it.
  config::ScreenLevelSettings LoadScreenLevel();
  void ApplyScreenLevel(const config::ScreenLevelSettings& group, bool confirmed);
  // The sample-limit editor closed: on OK its set replaces the record's and the
  // sample-limit mode goes on; on cancel threshold mode goes on and the sample-limit
  // mode off. The caller stopped the test cycle before opening it; this resumes it.
  void FinishSampleLimits(const config::SampleLimitSet* confirmed);
  // The settings store (the dialogs that keep their values there).
  platform::SettingsStore& Settings();

  // ---- What the window's handlers read -------------------------------------------
  std::string StatisticsText() const;     // the copy refreshed by every cycle
  std::int32_t TriggerLevel() const;      // nTriggerLevel
  std::int32_t StableFrameCount() const;  // nOutputTriggerStableFrameCnt
  // The placement-trigger dialog's OK (it writes the settings itself); the
  // test cycle uses the new values from its next frame on.
  void SetTriggerLevel(std::int32_t level);
  void SetStableFrameCount(std::int32_t count);

  // The record request of the test cycle (WM_LOG_RESULT, wParam 0, lParam 2048)
  // and of scanner input. Runs on the window thread (sent). The record writer
  // connects here.
  using LogResultHandler = std::function<void(const std::string& scanned, int lParam)>;
  void SetLogResultHandler(LogResultHandler handler);

  // Starts the scanner's keyboard-hook thread when its slot is empty; called by
  // every StartDeviceThreads that starts a connect thread, on the window thread
  // or on the reconnect thread (so it must be safe to call from either).
  void SetKeyboardHookStarter(std::function<void()> start);

  // Called on the connect thread after each connection has loaded the scanner
  // settings (the window opens the scanner's serial port when nConnectType is 1).
  using ScannerSettingsLoaded = std::function<void(const scanner::ScannerSetting&)>;
  void SetScannerSettingsLoaded(ScannerSettingsLoaded handler);

  // The scanner and record-file settings, reloaded at every device connection;
  // the test cycle reads the connection type from it at every cycle.
  scanner::SharedScannerSetting& ScannerSettings();
  // The serial ports the scanner may use, in the order the settings' index counts.
  std::vector<std::string> ScannerPorts();
  // The foreground path of the keyboard scanner (window thread): a key-down
  // (its virtual-key code) or a character that reached the window; true when
  // the window must not act on it.
  bool ForegroundKeyDown(int vk);
  bool ForegroundChar(char32_t character);
  // WM_LOG_RESULT (window thread): writes the record for the verdict on display.
  void OnScannerData(const std::string& scanned);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnex2::station
