#pragma once
// An area as the panel configuration holds it and as the controller's windows store it.

#include "config/panel_config.h"
#include "device/panel_areas.h"

namespace varnex2::station {

inline device::AreaSettings ToAreaSettings(const config::AreaParams& p) {
  return {p.nXOrigin, p.nYOrigin, p.nXSize, p.nYSize, p.nGain, p.bEnable, p.nThresUpper, p.nThresLower};
}

inline config::AreaParams ToAreaParams(const device::AreaSettings& a) {
  config::AreaParams p;
  p.nXOrigin = a.nXOrigin;
  p.nYOrigin = a.nYOrigin;
  p.nXSize = a.nXSize;
  p.nYSize = a.nYSize;
  p.nGain = a.nGain;
  p.bEnable = a.bEnable;
  p.nThresUpper = a.nThresUpper;
  p.nThresLower = a.nThresLower;
  return p;
}

}  // namespace varnex2::station
