#include "device/panel_areas.h"

#include <vector>

#include "device/controller_ops.h"

namespace varnex2::device {

namespace {

void FromWindow(const WindowFields& w, AreaSettings& a) {
  a.nXOrigin = w.xOrigin;
  a.nYOrigin = w.yOrigin;
  a.nXSize = w.xSize;
  a.nYSize = w.ySize;
  a.nGain = w.gain;
  a.bEnable = w.enabled ? 1 : 0;
}

void Keep(int& first, int r) {
  if (first == 0) first = r;
}

}  // namespace

WindowFields ToWindow(const AreaSettings& a, bool enabled) {
  WindowFields w;
  w.xOrigin = static_cast<std::uint8_t>(a.nXOrigin);
  w.yOrigin = static_cast<std::uint8_t>(a.nYOrigin);
  w.xSize = static_cast<std::uint8_t>(a.nXSize);
  w.ySize = static_cast<std::uint8_t>(a.nYSize);
  w.gain = a.nGain;
  w.enabled = enabled;
  return w;
}


int WritePanelAreas(ControllerLink& link, const AreaSettings& touch, const AreaSettings& key) {
  int first = 0;
  Keep(first, WriteSignalLimits(link, kT9Touchscreen, touch.nThresUpper, touch.nThresLower));
  Keep(first, WriteTouchWindow(link, ToWindow(touch, true)));
  Keep(first, WriteSignalLimits(link, kT15KeyArray, key.nThresUpper, key.nThresLower));
  Keep(first, WriteKeyWindow(link, ToWindow(key, key.bEnable != 0)));
  if (!BackupSettings(link)) Keep(first, kErrNoHandle);
  return first;
}

int ResetPanelAreas(ControllerLink& link) {
  int first = 0;
  AreaSettings key;
  key.nGain = 96;
  Keep(first, WriteKeyWindow(link, ToWindow(key, false)));
  AreaSettings touch;
  touch.nXSize = 32;
  touch.nYSize = 52;
  touch.nGain = 96;
  Keep(first, WriteTouchWindow(link, ToWindow(touch, true)));
  Keep(first, WriteSignalLimits(link, kT9Touchscreen, 28000, 19000));
  if (!BackupSettings(link)) Keep(first, kErrNoHandle);
  return first;
}

int ReadPanelAreas(ControllerLink& link, AreaSettings& touch, AreaSettings& key) {
  int first = 0;
  WindowFields w;
  int r = ReadTouchWindow(link, w);
  Keep(first, r);
  if (r == 0) FromWindow(w, touch);
  std::vector<SignalLimit> limits;
  r = ReadSignalLimits(link, kT9Touchscreen, limits);
  if (r == 0 && (limits.empty() || !limits.front().enabled)) r = kErrNoSignalLimits;
  Keep(first, r);
  if (r == 0) {
    touch.nThresUpper = limits.front().upper;
    touch.nThresLower = limits.front().lower;
  }
  w = {};
  r = ReadKeyWindow(link, w);
  Keep(first, r);
  if (r == 0) FromWindow(w, key);
  r = ReadSignalLimits(link, kT15KeyArray, limits);
  if (r == 0 && limits.empty()) r = kErrNoSignalLimits;
  Keep(first, r);
  if (r == 0) {
    key.nThresUpper = limits.front().upper;
    key.nThresLower = limits.front().lower;
  }
  return first;
}

}  // namespace varnex2::device
