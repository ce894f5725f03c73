#pragma once
// Maps what udev tells about a device node to a DeviceEvent with a Windows-style interface path.
// Pure functions, kept apart from libudev so that the mapping can be tested without devices.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/device_monitor.h"

namespace varnex2::platform {

enum class UdevNodeKind { Hidraw, UsbDevice };

struct UsbInterfaceFact {
  int number = -1;
  int interfaceClass = -1;  // bInterfaceClass, 3 = HID
};

struct UdevEventFacts {
  UdevNodeKind kind = UdevNodeKind::Hidraw;
  std::string syspath;        // of the node the event is about
  std::string deviceSyspath;  // of its USB device (stable across the device's interfaces)
  int vendorId = -1;
  int productId = -1;
  int interfaceNumber = -1;                  // hidraw: the USB interface the node belongs to
  int interfaceCount = -1;                   // bNumInterfaces of the USB device
  std::vector<UsbInterfaceFact> interfaces;  // USB device: its interfaces (alternate setting 0)
};

// The interfaces (alternate setting 0) listed in a device's sysfs "descriptors" blob: the
// device descriptor followed by its configuration descriptors.
std::vector<UsbInterfaceFact> ParseInterfaces(std::span<const std::uint8_t> descriptors);

// hidraw node (a HID interface as hidapi opens it):
//   "\\?\HID#VID_vvvv&PID_pppp[&MI_nn]#<instance>#{hid class}", MI_nn for composite devices
//   as Windows writes it.
// USB device (what libusb opens): "\\?\HID#VID_vvvv&PID_pppp&COL01#<instance>#{hid class}", the
//   device's main function; except a plain HID device (one interface, number 0, HID class),
//   which its hidraw node alone stands for.
// Nothing without ids gives an event.
std::optional<DeviceEvent> MakeDeviceEvent(const UdevEventFacts& facts, DeviceEventKind kind);

// The syspath of the USB interface a node sits under ("/sys/devices/.../1-1/1-1:1.1" for
// ".../1-1:1.1/0003:03EB:212C.0001/hidraw/hidraw0"); empty when there is none.
std::string UsbInterfaceSyspath(std::string_view nodeSyspath);

// A program that claims a HID interface through usbfs detaches the kernel's HID driver: the
// interface's hidraw node leaves while the interface stays, and comes back when the program
// releases it. Windows tells nothing of the kind, so these are neither removals nor arrivals.
// A hidraw removal is therefore held until its interface or device leaves too (reported at
// once then) or a short grace passes with the interface still there (dropped: a detach).
// Monitor thread only.
class DriverDetachTracker {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kGrace{300};

  // A hidraw node was removed. Returns the event when it is to be reported now (a node outside
  // any USB interface); otherwise it is held.
  std::optional<DeviceEvent> HidrawRemoved(std::string_view syspath, std::optional<DeviceEvent> event,
                                           Clock::time_point now);
  // A hidraw node was added. False when it comes back to an interface its driver had left (or
  // whose removal is still held): no arrival then.
  bool HidrawAdded(std::string_view syspath);
  // A USB interface or device was removed: the held removals under it, to be reported now.
  std::vector<DeviceEvent> Removed(std::string_view syspath);
  // The held removals whose grace has passed: reported when their interface is gone
  // (`interfacePresent` false), dropped as detaches otherwise.
  std::vector<DeviceEvent> Expired(Clock::time_point now, const std::function<bool(const std::string&)>& interfacePresent);
  // When the next held removal expires, if any.
  std::optional<Clock::time_point> NextDeadline() const;

 private:
  struct Held {
    std::string interface;
    std::optional<DeviceEvent> event;
    Clock::time_point deadline;
  };
  std::vector<Held> held_;                        // in arrival order
  std::set<std::string, std::less<>> detached_;  // usb_interface syspaths without their driver
};

}  // namespace varnex2::platform
