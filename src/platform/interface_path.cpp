#include "platform/interface_path.h"

#include <algorithm>

namespace varnex2::platform {
namespace {

// Position 0 does not count: a device path always starts with a prefix such as "\\?\HID#".
bool FoundAfterFirst(std::string_view upperPath, std::string_view pattern) {
  const std::size_t pos = upperPath.find(pattern);
  return pos != std::string_view::npos && pos > 0;
}

}  // namespace

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool InterfacePathClass::IsControllerOther() const {
  return std::any_of(otherMatched.begin(), otherMatched.end(), [](bool m) { return m; });
}

std::size_t InterfacePathClass::OtherMatchCount() const {
  return static_cast<std::size_t>(std::count(otherMatched.begin(), otherMatched.end(), true));
}

InterfacePathClass ClassifyInterfacePath(std::string_view path) {
  InterfacePathClass result;
  const std::string upper = ToUpperAscii(path);
  if (std::string_view(upper).starts_with(kHidClassGuid)) return result;

  result.bridge = FoundAfterFirst(upper, "VID_04B4") && FoundAfterFirst(upper, "PID_E006");

  const bool controllerIds = FoundAfterFirst(upper, "VID_03EB") && FoundAfterFirst(upper, "PID_212C");
  if (controllerIds) {
    result.controllerMain = FoundAfterFirst(upper, "COL01");
    for (std::size_t i = 0; i < kControllerOtherPatterns.size(); ++i) {
      result.otherMatched[i] = FoundAfterFirst(upper, kControllerOtherPatterns[i]);
    }
  }
  return result;
}

}  // namespace varnex2::platform
