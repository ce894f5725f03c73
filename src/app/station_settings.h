#pragma once
// An in-memory settings store, for stations started without one.

#include <memory>

#include "platform/settings_store.h"

namespace varnex2::app {

// A store that lives only in memory (used when no store is given).
std::unique_ptr<platform::SettingsStore> CreateMemorySettingsStore();

}  // namespace varnex2::app
