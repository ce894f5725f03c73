#pragma once
// Recognises the box's USB functions by the text of a device-interface path.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace varnex2::platform {

// The HID interface-class identifier; a path that begins with it names the class, not a device.
inline constexpr std::string_view kHidClassGuid = "{4D1E55B2-F16F-11CF-88CB-001111000030}";

// The patterns that mark one of the controller's other interfaces, in the order they are tested.
inline constexpr std::array<std::string_view, 4> kControllerOtherPatterns = {"COL02", "MI_00", "MI_01", "MI_02"};

struct InterfacePathClass {
  bool bridge = false;          // "VID_04B4" and "PID_E006"
  bool controllerMain = false;  // "VID_03EB", "PID_212C" and "COL01"
  // otherMatched[i]: the controller ids and kControllerOtherPatterns[i] were found. The
  // device-change handler acts once per matching pattern, so every match is reported.
  std::array<bool, kControllerOtherPatterns.size()> otherMatched{};

  bool IsControllerOther() const;
  std::size_t OtherMatchCount() const;
  bool IsNone() const { return !bridge && !controllerMain && !IsControllerOther(); }
};

// Case-insensitive: the path is upper-cased before the comparison. A pattern counts only when
// its first occurrence lies after the path's first character. Paths that begin with the HID
// class identifier match nothing.
InterfacePathClass ClassifyInterfacePath(std::string_view path);

// Upper-cases ASCII letters; other bytes stay as they are.
std::string ToUpperAscii(std::string_view text);

}  // namespace varnex2::platform
