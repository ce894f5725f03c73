#include "station/panel_state.h"

namespace varnex2::station {

config::PanelConfig PanelState::Config() const {
  std::lock_guard lock(configMutex_);
  return panel_;
}

void PanelState::UpdateConfig(const std::function<void(config::PanelConfig&)>& change) {
  std::lock_guard lock(configMutex_);
  change(panel_);
}

void PanelState::ReadConfig(const std::function<void(const config::PanelConfig&)>& read) const {
  std::lock_guard lock(configMutex_);
  read(panel_);
}

void PanelState::Areas(config::AreaParams& touch, config::AreaParams& key) const {
  std::lock_guard lock(configMutex_);
  touch = panel_.touchArea;
  key = panel_.keyArea;
}

std::string PanelState::StatisticsText() const {
  std::lock_guard lock(statsMutex_);
  return strStatistics_;
}

void PanelState::SetStatisticsText(std::string text) {
  std::lock_guard lock(statsMutex_);
  strStatistics_ = std::move(text);
}

}  // namespace varnex2::station
