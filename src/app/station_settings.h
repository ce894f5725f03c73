#pragma once
// Settings helpers of the station core: the scanner's connection type and an
// in-memory store for stations started without one. A read that fails writes
// the default back.

#include <cstdint>
#include <memory>

#include "config/panel_config.h"
#include "platform/settings_store.h"

namespace varnex2::app {

inline constexpr const char* kScannerConnectKey = "Software\\Varnx2\\ScannerSetting\\Connect";

// A DWORD value, or `fallback` written back when it cannot be read.
std::int32_t ReadDwordOrDefault(platform::SettingsStore& store, const char* key, const char* name,
                                std::int32_t fallback);

int LoadConnectType(platform::SettingsStore& store);

// A store that lives only in memory (used when no store is given).
std::unique_ptr<platform::SettingsStore> CreateMemorySettingsStore();

}  // namespace varnex2::app
