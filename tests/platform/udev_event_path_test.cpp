#include "platform/udev_event_path.h"

#include <gtest/gtest.h>

#include "platform/interface_path.h"

namespace varnex2::platform {
namespace {

UdevEventFacts Hidraw(int vid, int pid, int interfaceNumber, int interfaceCount) {
  UdevEventFacts f;
  f.kind = UdevNodeKind::Hidraw;
  f.syspath = "/sys/devices/pci0000:00/usb1/1-1/1-1:1.0/0003:04B4:E006.0001/hidraw/hidraw0";
  f.deviceSyspath = "/sys/devices/pci0000:00/usb1/1-1";
  f.vendorId = vid;
  f.productId = pid;
  f.interfaceNumber = interfaceNumber;
  f.interfaceCount = interfaceCount;
  return f;
}

UdevEventFacts UsbDevice(int vid, int pid, std::vector<UsbInterfaceFact> interfaces) {
  UdevEventFacts f;
  f.kind = UdevNodeKind::UsbDevice;
  f.syspath = "/sys/devices/pci0000:00/usb1/1-2";
  f.deviceSyspath = f.syspath;
  f.vendorId = vid;
  f.productId = pid;
  f.interfaceCount = static_cast<int>(interfaces.size());
  f.interfaces = std::move(interfaces);
  return f;
}

TEST(UdevEventPath, BridgeHidrawNodeIsTheBridge) {
  const auto e = MakeDeviceEvent(Hidraw(0x04B4, 0xE006, 0, 1), DeviceEventKind::Arrival);
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->vendorId, 0x04B4);
  EXPECT_EQ(e->productId, 0xE006);
  EXPECT_EQ(e->interfacePath.rfind(R"(\\?\HID#VID_04B4&PID_E006#)", 0), 0u) << e->interfacePath;
  const auto c = ClassifyInterfacePath(e->interfacePath);
  EXPECT_TRUE(c.bridge);
  EXPECT_FALSE(c.controllerMain);
  EXPECT_FALSE(c.IsControllerOther());
}

TEST(UdevEventPath, ControllerDeviceIsTheMainInterfaceOnly) {
  // Interface 1 is HID class, as on the box; the device is no plain HID device.
  const auto e = MakeDeviceEvent(UsbDevice(0x03EB, 0x212C, {{1, 3}}), DeviceEventKind::Removal);
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->kind, DeviceEventKind::Removal);
  const auto c = ClassifyInterfacePath(e->interfacePath);
  EXPECT_TRUE(c.controllerMain) << e->interfacePath;
  EXPECT_FALSE(c.IsControllerOther());
  EXPECT_FALSE(c.bridge);
  EXPECT_TRUE(
      ClassifyInterfacePath(
          MakeDeviceEvent(UsbDevice(0x03EB, 0x212C, {{0, 3}, {1, 0xFF}}), DeviceEventKind::Arrival)->interfacePath)
          .controllerMain);
}

TEST(UdevEventPath, ControllerHidNodesAreItsOtherInterfaces) {
  for (int n = 0; n <= 2; ++n) {
    const auto e = MakeDeviceEvent(Hidraw(0x03EB, 0x212C, n, 2), DeviceEventKind::Removal);
    ASSERT_TRUE(e.has_value());
    const auto c = ClassifyInterfacePath(e->interfacePath);
    EXPECT_FALSE(c.controllerMain) << e->interfacePath;
    EXPECT_EQ(c.OtherMatchCount(), 1u) << e->interfacePath;
    EXPECT_TRUE(c.otherMatched[1 + static_cast<std::size_t>(n)]) << e->interfacePath;
  }
}

TEST(UdevEventPath, PlainHidDevicesAndUnknownIdsGiveNoDeviceEvent) {
  // The bridge as a USB device: its hidraw node reports it, not a second time here.
  EXPECT_FALSE(MakeDeviceEvent(UsbDevice(0x04B4, 0xE006, {{0, 3}}), DeviceEventKind::Arrival).has_value());
  EXPECT_FALSE(MakeDeviceEvent(Hidraw(-1, 0xE006, 0, 1), DeviceEventKind::Arrival).has_value());
  EXPECT_FALSE(MakeDeviceEvent(UsbDevice(0x03EB, -1, {{1, 3}}), DeviceEventKind::Arrival).has_value());
}

TEST(UdevEventPath, ParseInterfacesReadsAlternateSettingZeroAndStopsAtMalformedData) {
  const std::vector<std::uint8_t> blob = {
      // device descriptor
      18, 1, 0x00, 0x02, 0, 0, 0, 64, 0xEB, 0x03, 0x2C, 0x21, 0x00, 0x01, 1, 2, 0, 1,
      // configuration, two interfaces
      9, 2, 41, 0, 2, 1, 0, 0x80, 50, 9, 4, 0, 0, 1, 3, 0, 0, 0,  // interface 0, HID
      7, 5, 0x83, 3, 8, 0, 10,                                    // endpoint
      9, 4, 0, 1, 1, 3, 0, 0, 0,                                  // interface 0, alternate setting 1: ignored
      9, 4, 1, 0, 2, 0xFF, 0, 0, 0,                               // interface 1, vendor class
      0, 4, 1};                                                   // zero length: malformed tail
  const auto f = ParseInterfaces(blob);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].number, 0);
  EXPECT_EQ(f[0].interfaceClass, 3);
  EXPECT_EQ(f[1].number, 1);
  EXPECT_EQ(f[1].interfaceClass, 0xFF);
  EXPECT_TRUE(ParseInterfaces({}).empty());
  const std::vector<std::uint8_t> truncated = {18, 1, 0};
  EXPECT_TRUE(ParseInterfaces(truncated).empty());
}

TEST(UdevEventPath, InstancePartIsStablePerDevice) {
  const auto a = MakeDeviceEvent(Hidraw(0x04B4, 0xE006, 0, 1), DeviceEventKind::Arrival);
  const auto b = MakeDeviceEvent(Hidraw(0x04B4, 0xE006, 0, 1), DeviceEventKind::Removal);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->interfacePath, b->interfacePath);
  auto other = Hidraw(0x04B4, 0xE006, 0, 1);
  other.deviceSyspath = "/sys/devices/pci0000:00/usb1/1-3";
  EXPECT_NE(MakeDeviceEvent(other, DeviceEventKind::Arrival)->interfacePath, a->interfacePath);
}

TEST(UdevEventPath, InterfaceOfANodeIsFoundByItsName) {
  EXPECT_EQ(UsbInterfaceSyspath("/sys/devices/pci0000:00/usb1/1-1/1-1:1.1/0003:03EB:212C.0002/hidraw/hidraw1"),
            "/sys/devices/pci0000:00/usb1/1-1/1-1:1.1");
  EXPECT_EQ(UsbInterfaceSyspath("/sys/devices/usb2/2-1/2-1.4.3/2-1.4.3:1.0/0003:04B4:E006.0001/hidraw/hidraw0"),
            "/sys/devices/usb2/2-1/2-1.4.3/2-1.4.3:1.0");
  EXPECT_EQ(UsbInterfaceSyspath("/sys/devices/virtual/misc/uhid/0003:1234:5678.0003/hidraw/hidraw2"), "");
  EXPECT_EQ(UsbInterfaceSyspath("/sys/devices/usb1/1-1"), "");
  EXPECT_EQ(UsbInterfaceSyspath("/sys/devices/usb1/1-1/1-1:1./x"), "");
}

// A program's claim takes the driver (and the hidraw node) off an interface and gives it back:
// nothing is reported. The device leaving is, as soon as its interface or device goes too.
TEST(UdevEventPath, DriverDetachIsToldFromTheDeviceLeaving) {
  using Clock = DriverDetachTracker::Clock;
  const std::string device = "/sys/devices/usb1/1-1";
  const std::string interface = device + "/1-1:1.1";
  const std::string node = interface + "/0003:03EB:212C.0002/hidraw/hidraw1";
  DeviceEvent removal;
  removal.kind = DeviceEventKind::Removal;
  removal.interfacePath = "MI_01";
  const auto present = [](const std::string&) { return true; };
  const auto gone = [](const std::string&) { return false; };
  const Clock::time_point t0 = Clock::now();
  const Clock::time_point late = t0 + DriverDetachTracker::kGrace;

  DriverDetachTracker t;
  // Detached by a claim: held, then dropped when the interface is still there after the grace.
  EXPECT_FALSE(t.HidrawRemoved(node, removal, t0));
  EXPECT_EQ(t.NextDeadline(), late);
  EXPECT_TRUE(t.Expired(late - std::chrono::milliseconds(1), gone).empty());
  EXPECT_TRUE(t.Expired(late, present).empty());
  EXPECT_FALSE(t.NextDeadline());
  EXPECT_FALSE(t.HidrawAdded(node));  // released: the driver is back, no arrival
  EXPECT_TRUE(t.HidrawAdded(node));   // a further arrival is a real one

  // Unplugged: the interface's removal reports the held node at once.
  EXPECT_FALSE(t.HidrawRemoved(node, removal, t0));
  auto due = t.Removed(interface);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].interfacePath, "MI_01");
  EXPECT_TRUE(t.Expired(late, gone).empty());  // and only once
  // ... or the device's; or the grace with the interface gone.
  EXPECT_FALSE(t.HidrawRemoved(node, removal, t0));
  EXPECT_TRUE(t.Removed("/sys/devices/usb1/1-10").empty());  // shares the prefix "1-1" only
  EXPECT_EQ(t.Removed(device).size(), 1u);
  EXPECT_FALSE(t.HidrawRemoved(node, removal, t0));
  EXPECT_EQ(t.Expired(late, gone).size(), 1u);

  // Detach and release within the grace: neither is reported.
  EXPECT_FALSE(t.HidrawRemoved(node, removal, t0));
  EXPECT_FALSE(t.HidrawAdded(node));
  EXPECT_TRUE(t.Expired(late, gone).empty());

  // Unplugged while detached: the device's removal forgets the interface, so the node of the
  // device plugged again is an arrival.
  EXPECT_FALSE(t.HidrawRemoved(node, removal, t0));
  EXPECT_TRUE(t.Expired(late, present).empty());
  EXPECT_TRUE(t.Removed(device).empty());
  EXPECT_TRUE(t.HidrawAdded(node));

  // A node outside a USB interface is reported at once.
  EXPECT_TRUE(t.HidrawRemoved("/sys/devices/virtual/misc/uhid/0003:1234:5678.0003/hidraw/hidraw2", removal, t0));
}

}  // namespace
}  // namespace varnex2::platform
