#pragma once
// ScannerRecords: the barcode scanner's three paths into the station and the test
// records they and the test cycle ask for. It owns the scan input (buffer and
// triggers), the record writer, the keyboard source (the hook thread's
// counterpart) and the scanner's serial port; every WM_LOG_RESULT is handled on
// the window thread, where the record is written.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "judging/node_map.h"
#include "platform/key_source.h"
#include "platform/settings_store.h"
#include "scanner/record_writer.h"
#include "scanner/scan_input.h"
#include "scanner/serial_link.h"
#include "station/panel_state.h"
#include "station/station_view.h"

namespace varnex2::station {

class ScannerRecords : private scanner::RecordSources {
 public:
  struct Parts {
    std::unique_ptr<platform::KeySource> keys;  // null: no keyboard path
    std::unique_ptr<scanner::SerialLink> serial;  // null: no serial path
    scanner::RecordFileOptions files;
  };
  ScannerRecords(judging::NodeMap& grid, PanelState& panel, StationView& view, platform::SettingsStore& settings,
                 Parts parts);
  ~ScannerRecords() override;
  ScannerRecords(const ScannerRecords&) = delete;
  ScannerRecords& operator=(const ScannerRecords&) = delete;

  // WM_LOG_RESULT on the window thread: the record for the verdict on display.
  void OnScannerData(const std::string& scanned);
  // The test cycle's own record request (window thread), then the keyboard
  // scanner's buffer emptied.
  void OnCycleRecordRequest();
  // The last short the cycle's pin-fault test reported (lines from 1, 0 none).
  void SetShortPositions(std::uint8_t xLine, std::uint8_t yLine);

  // StartDeviceThreads: starts reading the keyboards the first time (the hook
  // thread is started once). Any thread.
  void StartKeyboardHook();
  // The connection procedure, after the settings were loaded (connect thread):
  // tells once that no keyboard can be read when the settings choose the keyboard
  // scanner, and opens the serial port when the scanner is on it and no port is
  // open yet.
  void OnConnected(std::stop_token stop);
  // The foreground path (window thread): a key-down or a character that reached
  // the window; true when consumed.
  bool OnForegroundKeyDown(int vk);
  bool OnForegroundChar(char32_t character);
  // The serial ports the settings' index counts in (none without a serial back-end).
  std::vector<std::string> AvailablePorts();
  // Stops the keyboard source and closes the serial port (bounded). Window thread.
  void Shutdown();

  scanner::ScanInput& Input() { return input_; }
  scanner::RecordWriter& Writer() { return writer_; }

 private:
  // RecordSources over the node map (window thread).
  std::string VerdictText() override;
  std::uint32_t TestModeFlags() override;
  scanner::RecordRawMap RawMap() override;
  std::uint8_t ShortX() override { return shortX_.load(); }
  std::uint8_t ShortY() override { return shortY_.load(); }

  // A completed scan from any path: handed to the window thread and waited for.
  void Deliver(const std::string& text, int lParam);
  void Report(const scanner::RecordOutcome& outcome);
  void TellUnreadableKeyboard();

  judging::NodeMap& grid_;
  PanelState& panel_;
  StationView& view_;
  Parts parts_;
  scanner::RecordWriter writer_;
  scanner::ScanInput input_;
  std::stop_source stopping_;  // ends a scanner thread's wait for the window at shutdown
  std::atomic<std::uint8_t> shortX_{0};
  std::atomic<std::uint8_t> shortY_{0};
  std::once_flag hookStarted_;
  std::mutex keyboardMutex_;
  std::string keyboardProblem_;  // why no keyboard can be read; empty when one can
  bool settingsLoaded_ = false;
  bool keyboardTold_ = false;
  std::mutex serialMutex_;
};

}  // namespace varnex2::station
