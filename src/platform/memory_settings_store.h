#pragma once
// An in-memory settings store, for stations started without one.

#include <memory>

#include "platform/settings_store.h"

namespace varnex2::platform {

// A store that lives only in memory (used when no store is given).
std::unique_ptr<SettingsStore> CreateMemorySettingsStore();

}  // namespace varnex2::platform
