#pragma once
// The panel's area parameters as the controller holds them, and the controller writes of applying
// or resetting a panel configuration. The station maps its configuration record onto AreaSettings.

#include <cstdint>

#include "device/controller_link.h"
#include "device/controller_ops.h"

namespace varnex2::device {

struct AreaSettings {
  std::int32_t nXOrigin = 0;
  std::int32_t nYOrigin = 0;
  std::int32_t nXSize = 0;
  std::int32_t nYSize = 0;
  std::uint8_t nGain = 96;
  std::uint8_t bEnable = 0;
  std::uint16_t nThresUpper = 28000;
  std::uint16_t nThresLower = 19000;
};

// The controller's window fields of an area (origin, size and gain in 8 bits), on or off.
WindowFields ToWindow(const AreaSettings& a, bool enabled);

// Signal limits of T9, touch window, signal limits of T15, key window, backup — in this order.
// Every write is attempted; the first failure code is returned (0 when all succeeded).
int WritePanelAreas(ControllerLink& link, const AreaSettings& touch, const AreaSettings& key);

// The default set-up: key window off (gain 96), touch window 32 x 52 at (0, 0) with gain 96,
// T9 limits 28000 / 19000, backup. Returns the first failure code like WritePanelAreas.
int ResetPanelAreas(ControllerLink& link);

// Reads both windows and their signal limits (touch limits only from an enabled first T9 record,
// key limits from the first T15 record; 33 when missing). Returns the first failure code, filling
// what could be read.
int ReadPanelAreas(ControllerLink& link, AreaSettings& touch, AreaSettings& key);

}  // namespace varnex2::device
