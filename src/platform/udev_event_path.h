#pragma once
// Maps what udev tells about a device node to a DeviceEvent with a Windows-style interface path.
// Pure functions, kept apart from libudev so that the mapping can be tested without devices.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
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

}  // namespace varnex2::platform
