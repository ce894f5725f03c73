#pragma once
// The panel state the station keeps between its parts: the panel configuration record, the
// statistics text of the last cycle, the output-trigger settings, difference mode and the
// scanner settings. Each item has its own lock or is atomic; none is held while waiting.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "config/panel_config.h"
#include "scanner/scanner_setting.h"

namespace varnex2::station {

class PanelState {
 public:
  // The panel configuration: written only while the test thread is stopped, read by the cycle.
  config::PanelConfig Config() const;
  void UpdateConfig(const std::function<void(config::PanelConfig&)>& change);
  void ReadConfig(const std::function<void(const config::PanelConfig&)>& read) const;
  // The touch and the key area in one read (the cycle's thresholds).
  void Areas(config::AreaParams& touch, config::AreaParams& key) const;

  // The main window's copy of the node map's statistics text, refreshed every cycle.
  std::string StatisticsText() const;
  void SetStatisticsText(std::string text);

  std::int32_t TriggerLevel() const { return nTriggerLevel_.load(); }
  void SetTriggerLevel(std::int32_t level) { nTriggerLevel_ = level; }
  std::int32_t StableFrameCount() const { return nOutputTriggerStableFrameCnt_.load(); }
  void SetStableFrameCount(std::int32_t count) { nOutputTriggerStableFrameCnt_ = count; }

  bool DiffMode() const { return bDiffMode_.load(); }
  void SetDiffMode(bool on) { bDiffMode_ = on; }

  // Reloaded at every connection; the cycle reads the connection type from it every cycle.
  scanner::SharedScannerSetting& ScannerSettings() { return scannerSetting_; }

 private:
  mutable std::mutex configMutex_;
  config::PanelConfig panel_;
  mutable std::mutex statsMutex_;
  std::string strStatistics_;
  std::atomic<std::int32_t> nTriggerLevel_{28000};
  std::atomic<std::int32_t> nOutputTriggerStableFrameCnt_{3};
  std::atomic<bool> bDiffMode_{false};
  scanner::SharedScannerSetting scannerSetting_;
};

}  // namespace varnex2::station
