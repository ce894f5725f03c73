#pragma once
// Maps what udev tells about a device node to a DeviceEvent with a Windows-style interface path.
// Pure functions, kept apart from libudev so that the mapping can be tested without devices.

#include <optional>
#include <string>

#include "platform/device_monitor.h"

namespace varnex2::platform {

enum class UdevNodeKind { Hidraw, UsbInterface };

struct UdevEventFacts {
  UdevNodeKind kind = UdevNodeKind::Hidraw;
  std::string syspath;        // of the node the event is about
  std::string deviceSyspath;  // of its USB device (stable across the device's interfaces)
  int vendorId = -1;
  int productId = -1;
  int interfaceNumber = -1;
  int interfaceClass = -1;  // bInterfaceClass, 3 = HID
  int interfaceCount = -1;  // bNumInterfaces of the USB device
};

// hidraw node: "\\?\HID#VID_vvvv&PID_pppp[&MI_nn]#<instance>#{hid class}", MI_nn for composite
// devices as Windows writes it. A USB interface of any class but HID (the interfaces programs
// reach through libusb): "\\?\HID#VID_vvvv&PID_pppp&COL01#<instance>#{hid class}", the device's
// main function. HID-class USB interfaces give no event (their hidraw node stands for them), nor
// does anything without ids.
std::optional<DeviceEvent> MakeDeviceEvent(const UdevEventFacts& facts, DeviceEventKind kind);

}  // namespace varnex2::platform
