#include "platform/udev_event_path.h"

#include <algorithm>
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

// "1-1:1.0", "2-1.4.3:1.1": bus-ports:configuration.interface.
bool IsInterfaceName(std::string_view name) {
  const auto digits = [&](std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9') ++pos;
    return pos > start;
  };
  std::size_t pos = 0;
  if (!digits(pos) || pos >= name.size() || name[pos++] != '-' || !digits(pos)) return false;
  while (pos < name.size() && name[pos] == '.') {
    ++pos;
    if (!digits(pos)) return false;
  }
  if (pos >= name.size() || name[pos++] != ':' || !digits(pos)) return false;
  if (pos >= name.size() || name[pos++] != '.' || !digits(pos)) return false;
  return pos == name.size();
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

std::string UsbInterfaceSyspath(std::string_view nodeSyspath) {
  std::size_t end = nodeSyspath.size();
  while (end > 0) {
    const std::size_t slash = nodeSyspath.rfind('/', end - 1);
    if (slash == std::string_view::npos) break;
    if (IsInterfaceName(nodeSyspath.substr(slash + 1, end - slash - 1))) return std::string(nodeSyspath.substr(0, end));
    end = slash;
  }
  return {};
}

std::optional<DeviceEvent> DriverDetachTracker::HidrawRemoved(std::string_view syspath,
                                                              std::optional<DeviceEvent> event, Clock::time_point now) {
  std::string interface = UsbInterfaceSyspath(syspath);
  if (interface.empty()) return event;
  held_.push_back({std::move(interface), std::move(event), now + kGrace});
  return std::nullopt;
}

bool DriverDetachTracker::HidrawAdded(std::string_view syspath) {
  const std::string interface = UsbInterfaceSyspath(syspath);
  if (interface.empty()) return true;
  // Back before its removal's grace passed: a detach and release in quick succession.
  const auto held = std::find_if(held_.begin(), held_.end(), [&](const Held& h) { return h.interface == interface; });
  if (held != held_.end()) {
    held_.erase(held);
    return false;
  }
  return detached_.erase(interface) == 0;
}

std::vector<DeviceEvent> DriverDetachTracker::Removed(std::string_view syspath) {
  const auto under = [&](const std::string& interface) {
    return interface == syspath ||
           (interface.size() > syspath.size() && interface.compare(0, syspath.size(), syspath) == 0 &&
            interface[syspath.size()] == '/');
  };
  std::vector<DeviceEvent> due;
  for (auto it = held_.begin(); it != held_.end();) {
    if (!under(it->interface)) {
      ++it;
      continue;
    }
    if (it->event) due.push_back(*it->event);
    it = held_.erase(it);
  }
  std::erase_if(detached_, under);
  return due;
}

std::vector<DeviceEvent> DriverDetachTracker::Expired(Clock::time_point now,
                                                      const std::function<bool(const std::string&)>& interfacePresent) {
  std::vector<DeviceEvent> due;
  for (auto it = held_.begin(); it != held_.end();) {
    if (it->deadline > now) {
      ++it;
      continue;
    }
    if (interfacePresent(it->interface)) {
      detached_.insert(it->interface);
    } else if (it->event) {
      due.push_back(*it->event);
    }
    it = held_.erase(it);
  }
  return due;
}

std::optional<DriverDetachTracker::Clock::time_point> DriverDetachTracker::NextDeadline() const {
  std::optional<Clock::time_point> next;
  for (const Held& h : held_)
    if (!next || h.deadline < *next) next = h.deadline;
  return next;
}

}  // namespace varnex2::platform
