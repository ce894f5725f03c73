#pragma once
// The settings the station core reads and writes itself: the output trigger,
// the screen-level group and the scanner's connection type. Each read that
// fails writes the default back.

#include <cstdint>
#include <memory>

#include "config/panel_config.h"
#include "platform/settings_store.h"

namespace varnex2::app {

inline constexpr const char* kOutputSettingKey = "Software\\Varnx2\\OutPutSetting";
inline constexpr const char* kScreenThresholdKey = "Software\\Varnx2\\ScreenThreshold";
inline constexpr const char* kDiffModeKey = "Software\\Varnx2\\DiffMode";
inline constexpr const char* kScannerConnectKey = "Software\\Varnx2\\ScannerSetting\\Connect";

// A DWORD value, or `fallback` written back when it cannot be read.
std::int32_t ReadDwordOrDefault(platform::SettingsStore& store, const char* key, const char* name,
                                std::int32_t fallback);

void LoadOutputTrigger(platform::SettingsStore& store, std::int32_t& trigger, std::int32_t& stableFrameCount);
void LoadScreenLevel(platform::SettingsStore& store, config::ScreenLevelSettings& screen);
void SaveScreenLevel(platform::SettingsStore& store, const config::ScreenLevelSettings& screen);
int LoadConnectType(platform::SettingsStore& store);

// A store that lives only in memory (used when no store is given).
std::unique_ptr<platform::SettingsStore> CreateMemorySettingsStore();

}  // namespace varnex2::app
