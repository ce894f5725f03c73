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
  f.interfaceClass = 3;
  f.interfaceCount = interfaceCount;
  return f;
}

UdevEventFacts UsbInterface(int vid, int pid, int interfaceNumber, int interfaceClass) {
  UdevEventFacts f;
  f.kind = UdevNodeKind::UsbInterface;
  f.syspath = "/sys/devices/pci0000:00/usb1/1-2/1-2:1." + std::to_string(interfaceNumber);
  f.deviceSyspath = "/sys/devices/pci0000:00/usb1/1-2";
  f.vendorId = vid;
  f.productId = pid;
  f.interfaceNumber = interfaceNumber;
  f.interfaceClass = interfaceClass;
  f.interfaceCount = 2;
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

TEST(UdevEventPath, ControllerVendorInterfaceIsTheMainInterfaceOnly) {
  const auto e = MakeDeviceEvent(UsbInterface(0x03EB, 0x212C, 1, 0xFF), DeviceEventKind::Removal);
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->kind, DeviceEventKind::Removal);
  EXPECT_EQ(e->interfaceNumber, 1);
  const auto c = ClassifyInterfacePath(e->interfacePath);
  EXPECT_TRUE(c.controllerMain);
  EXPECT_FALSE(c.IsControllerOther());
  EXPECT_FALSE(c.bridge);
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

TEST(UdevEventPath, HidInterfacesAndUnknownIdsGiveNoEvent) {
  // The HID interface is reported through its hidraw node, not twice.
  EXPECT_FALSE(MakeDeviceEvent(UsbInterface(0x04B4, 0xE006, 0, 3), DeviceEventKind::Arrival).has_value());
  EXPECT_FALSE(MakeDeviceEvent(UsbInterface(0x03EB, 0x212C, 1, -1), DeviceEventKind::Arrival).has_value());
  EXPECT_FALSE(MakeDeviceEvent(Hidraw(-1, 0xE006, 0, 1), DeviceEventKind::Arrival).has_value());
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

}  // namespace
}  // namespace varnex2::platform
