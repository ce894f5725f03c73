#include "platform/udev_event_path.h"

#include <cstdio>
#include <functional>

namespace varnex2::platform {
namespace {

constexpr int kHidInterfaceClass = 3;

// The instance part of a Windows path is opaque; derive a stable one from the device's syspath.
std::string InstanceId(const UdevEventFacts& facts) {
  const std::string& base = facts.deviceSyspath.empty() ? facts.syspath : facts.deviceSyspath;
  const auto hash = static_cast<unsigned>(std::hash<std::string>{}(base)&0xFFFFFFFFu);
  char text[32];
  std::snprintf(text, sizeof text, "7&%08x&0&%04x", hash, facts.interfaceNumber < 0 ? 0 : facts.interfaceNumber);
  return text;
}

bool IsPlainHidDevice(const UdevEventFacts& facts) {
  return facts.interfaces.size() == 1 && facts.interfaces[0].number == 0 &&
         facts.interfaces[0].interfaceClass == kHidInterfaceClass;
}

}  // namespace

std::vector<UsbInterfaceFact> ParseInterfaces(std::span<const std::uint8_t> descriptors) {
  constexpr std::uint8_t kInterfaceDescriptor = 4;
  std::vector<UsbInterfaceFact> result;
  std::size_t pos = 0;
  while (pos + 2 <= descriptors.size()) {
    const std::size_t length = descriptors[pos];
    if (length < 2 || pos + length > descriptors.size()) break;  // malformed: stop, keep what was read
    if (descriptors[pos + 1] == kInterfaceDescriptor && length >= 9 && descriptors[pos + 3] == 0) {
      const int number = descriptors[pos + 2];
      bool seen = false;
      for (const auto& f : result) seen = seen || f.number == number;
      if (!seen) result.push_back({number, descriptors[pos + 5]});
    }
    pos += length;
  }
  return result;
}

std::optional<DeviceEvent> MakeDeviceEvent(const UdevEventFacts& facts, DeviceEventKind kind) {
  if (facts.vendorId < 0 || facts.productId < 0) return std::nullopt;
  char ids[64];
  if (facts.kind == UdevNodeKind::Hidraw) {
    if (facts.interfaceCount > 1 && facts.interfaceNumber >= 0) {
      std::snprintf(ids, sizeof ids, "VID_%04X&PID_%04X&MI_%02X", facts.vendorId, facts.productId,
                    facts.interfaceNumber);
    } else {
      std::snprintf(ids, sizeof ids, "VID_%04X&PID_%04X", facts.vendorId, facts.productId);
    }
  } else {
    if (IsPlainHidDevice(facts)) return std::nullopt;
    std::snprintf(ids, sizeof ids, "VID_%04X&PID_%04X&COL01", facts.vendorId, facts.productId);
  }
  DeviceEvent event;
  event.kind = kind;
  event.vendorId = static_cast<std::uint16_t>(facts.vendorId);
  event.productId = static_cast<std::uint16_t>(facts.productId);
  event.interfaceNumber = facts.interfaceNumber;
  event.interfacePath =
      std::string("\\\\?\\HID#") + ids + "#" + InstanceId(facts) + "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  return event;
}

}  // namespace varnex2::platform
