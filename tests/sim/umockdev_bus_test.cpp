// The emulated bus as libusb, hidapi and libudev see it on a real host: the root hub, the bridge
// and the controller with their interfaces, the HID driver on the controller's interfaces, and
// the device numbers of repeated plugs.

#include <libudev.h>
#include <libusb.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid_port.h"
#include "sim/box_identity.h"
#include "test_umockdev_support.h"

namespace varnex2::sim {
namespace {

using namespace std::chrono_literals;

constexpr const char* kControllerSyspath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";

struct UsbIds {
  std::uint16_t vendorId;
  std::uint16_t productId;
  bool operator==(const UsbIds&) const = default;
};

class UmockdevBus : public ::testing::Test {
 protected:
  void SetUp() override {
    box_ = std::make_shared<SimBox>(options_);
    testbed_ = testing::MakeTestbed(box_);
    ASSERT_NE(testbed_, nullptr);
    ASSERT_EQ(libusb_init(&ctx_), 0);
    udev_ = udev_new();
    ASSERT_NE(udev_, nullptr);
  }
  void TearDown() override {
    if (handle_ != nullptr) libusb_close(handle_);
    if (ctx_ != nullptr) libusb_exit(ctx_);
    if (udev_ != nullptr) udev_unref(udev_);
    testbed_.reset();
  }

  std::vector<UsbIds> DeviceIds() {
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx_, &list);
    std::vector<UsbIds> ids;
    for (ssize_t i = 0; i < n; ++i) {
      libusb_device_descriptor d{};
      if (libusb_get_device_descriptor(list[i], &d) == 0) ids.push_back({d.idVendor, d.idProduct});
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    return ids;
  }

  // The device's active configuration (null when absent); free with libusb_free_config_descriptor.
  libusb_config_descriptor* Config(std::uint16_t vendorId, std::uint16_t productId) {
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx_, &list);
    libusb_config_descriptor* config = nullptr;
    for (ssize_t i = 0; i < n && config == nullptr; ++i) {
      libusb_device_descriptor d{};
      if (libusb_get_device_descriptor(list[i], &d) != 0 || d.idVendor != vendorId || d.idProduct != productId)
        continue;
      libusb_get_active_config_descriptor(list[i], &config);
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    return config;
  }

  std::string Sysattr(const std::string& syspath, const char* name) {
    udev_device* dev = udev_device_new_from_syspath(udev_, syspath.c_str());
    if (dev == nullptr) return "<no device>";
    const char* v = udev_device_get_sysattr_value(dev, name);
    std::string value = v != nullptr ? v : "<none>";
    udev_device_unref(dev);
    return value;
  }
  std::string Driver(const std::string& syspath) {
    udev_device* dev = udev_device_new_from_syspath(udev_, syspath.c_str());
    if (dev == nullptr) return "<no device>";
    const char* d = udev_device_get_driver(dev);
    std::string driver = d != nullptr ? d : "";
    udev_device_unref(dev);
    return driver;
  }
  // hidraw nodes below a sysfs path.
  std::vector<std::string> HidrawBelow(const std::string& syspath) {
    std::vector<std::string> found;
    udev_enumerate* e = udev_enumerate_new(udev_);
    udev_enumerate_add_match_subsystem(e, "hidraw");
    udev_enumerate_scan_devices(e);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
      const std::string path = udev_list_entry_get_name(entry);
      if (path.rfind(syspath + "/", 0) == 0) found.push_back(path);
    }
    udev_enumerate_unref(e);
    return found;
  }

  SimBoxOptions options_;
  std::shared_ptr<SimBox> box_;
  std::unique_ptr<UmockdevBox> testbed_;
  libusb_context* ctx_ = nullptr;
  libusb_device_handle* handle_ = nullptr;
  udev* udev_ = nullptr;
};

bool Holds(const std::vector<UsbIds>& ids, UsbIds wanted) {
  return std::find(ids.begin(), ids.end(), wanted) != ids.end();
}

constexpr UsbIds kRootHub{0x1D6B, 0x0002};
constexpr UsbIds kController{kControllerVendorId, kControllerProductId};
constexpr UsbIds kBridge{kBridgeVendorId, kBridgeProductId};

class UmockdevBusReset : public UmockdevBus {
 protected:
  UmockdevBusReset() { options_.resetDowntime = 400ms; }
};

// During the controller's absence after a T6 reset the list still holds the root hub (and the
// bridge); it is never empty.
TEST_F(UmockdevBusReset, DeviceListDuringAResetHoldsTheRootHub) {
  auto ids = DeviceIds();
  ASSERT_TRUE(Holds(ids, kRootHub) && Holds(ids, kController) && Holds(ids, kBridge));
  box_->Unplug(BoxFunction::Bridge);  // the controller alone with the hub: the hardest case
  const std::uint16_t t6 = box_->ObjectAddress(6);
  const std::uint8_t reset[] = {
      0x01, 0x51, 0x03, 0x00, static_cast<std::uint8_t>(t6 & 0xFF), static_cast<std::uint8_t>(t6 >> 8), 0x01};
  ASSERT_EQ(box_->ControllerOut(box_->Session(BoxFunction::Controller), reset), OutResult::Ok);
  bool sawAbsence = false;
  bool back = false;
  for (int i = 0; i < 150 && !back; ++i) {
    ids = DeviceIds();
    ASSERT_FALSE(ids.empty());
    ASSERT_TRUE(Holds(ids, kRootHub));
    if (!Holds(ids, kController)) sawAbsence = true;
    back = sawAbsence && Holds(ids, kController);
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(sawAbsence);
  EXPECT_TRUE(back);
  EXPECT_EQ(box_->ResetCount(), 1u);
  EXPECT_EQ(Sysattr("/sys/bus/usb/devices/usb1", "devnum"), "1");
}

// The bridge has its usbfs device with its HID interface, held by the HID driver as a real HID
// device is, and its hidraw node for hidapi.
TEST_F(UmockdevBus, BridgeEnumeratesThroughLibusbAndHidapi) {
  libusb_config_descriptor* config = Config(kBridgeVendorId, kBridgeProductId);
  ASSERT_NE(config, nullptr);
  ASSERT_EQ(config->bNumInterfaces, 1);
  const libusb_interface_descriptor& i = config->interface[0].altsetting[0];
  EXPECT_EQ(i.bInterfaceNumber, 0);
  EXPECT_EQ(i.bInterfaceClass, LIBUSB_CLASS_HID);
  ASSERT_EQ(i.bNumEndpoints, 2);
  EXPECT_EQ(i.endpoint[0].bEndpointAddress, kBridgeInEndpoint);
  EXPECT_EQ(i.endpoint[1].bEndpointAddress, kBridgeOutEndpoint);
  libusb_free_config_descriptor(config);

  handle_ = libusb_open_device_with_vid_pid(ctx_, kBridgeVendorId, kBridgeProductId);
  ASSERT_NE(handle_, nullptr);
  unsigned char text[64] = {};
  ASSERT_GT(libusb_get_string_descriptor_ascii(handle_, 1, text, sizeof text), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), kBridgeManufacturer);
  EXPECT_EQ(libusb_kernel_driver_active(handle_, 0), 1);
  EXPECT_EQ(libusb_claim_interface(handle_, 0), LIBUSB_ERROR_BUSY);  // usbhid holds it

  auto hid = platform::CreateHidapiPort();
  const auto bridges = hid->Enumerate(kBridgeVendorId, kBridgeProductId);
  ASSERT_EQ(bridges.size(), 1u);
  EXPECT_EQ(bridges[0].interfaceNumber, 0);
  // The controller's HID interfaces have their hidraw nodes too.
  const auto controller = hid->Enumerate(kControllerVendorId, kControllerProductId);
  ASSERT_EQ(controller.size(), 2u);
  std::vector<int> numbers{controller[0].interfaceNumber, controller[1].interfaceNumber};
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, (std::vector<int>{0, 1}));
  // They are inert but open like any hidraw node.
  ASSERT_EQ(hid->Open(controller[0].path), 0);
  hid->Close();

  // Detached from its driver, the bridge answers over its interrupt endpoints.
  ASSERT_EQ(libusb_set_auto_detach_kernel_driver(handle_, 1), 0);
  ASSERT_EQ(libusb_claim_interface(handle_, 0), 0);
  EXPECT_TRUE(hid->Enumerate(kBridgeVendorId, kBridgeProductId).empty());
  unsigned char frame[64] = {0xAA, 0x55, 0x24};  // read the output block
  int transferred = 0;
  ASSERT_EQ(libusb_interrupt_transfer(handle_, kBridgeOutEndpoint, frame, sizeof frame, &transferred, 1000), 0);
  unsigned char answer[64] = {};
  ASSERT_EQ(libusb_interrupt_transfer(handle_, kBridgeInEndpoint, answer, sizeof answer, &transferred, 2000), 0);
  EXPECT_EQ(transferred, 64);
  ASSERT_EQ(libusb_release_interface(handle_, 0), 0);
  EXPECT_EQ(hid->Enumerate(kBridgeVendorId, kBridgeProductId).size(), 1u);
}

TEST_F(UmockdevBus, ControllerDeclaresTwoHidInterfacesBoundToTheHidDriver) {
  libusb_config_descriptor* config = Config(kControllerVendorId, kControllerProductId);
  ASSERT_NE(config, nullptr);
  ASSERT_EQ(config->bNumInterfaces, 2);
  handle_ = libusb_open_device_with_vid_pid(ctx_, kControllerVendorId, kControllerProductId);
  ASSERT_NE(handle_, nullptr);
  const std::uint8_t expectedEndpoints[2][2] = {{0x83, 0x04}, {0x81, 0x02}};
  for (int n = 0; n < 2; ++n) {
    const libusb_interface_descriptor& i = config->interface[n].altsetting[0];
    EXPECT_EQ(i.bInterfaceNumber, n);
    EXPECT_EQ(i.bInterfaceClass, LIBUSB_CLASS_HID);
    ASSERT_EQ(i.bNumEndpoints, 2);
    EXPECT_EQ(i.endpoint[0].bEndpointAddress, expectedEndpoints[n][0]);
    EXPECT_EQ(i.endpoint[1].bEndpointAddress, expectedEndpoints[n][1]);
    unsigned char text[64] = {};
    ASSERT_GT(libusb_get_string_descriptor_ascii(handle_, i.iInterface, text, sizeof text), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), "Atmel maXTouch Control");
    EXPECT_EQ(libusb_kernel_driver_active(handle_, static_cast<std::uint8_t>(n)), 1);
    const std::string iface = std::string(kControllerSyspath) + "/1-1:1." + std::to_string(n);
    EXPECT_EQ(Driver(iface), "usbhid");
    EXPECT_EQ(Sysattr(iface, "bInterfaceClass"), "03");
    EXPECT_EQ(HidrawBelow(iface).size(), 1u) << iface;
  }
  libusb_free_config_descriptor(config);
  EXPECT_EQ(Sysattr(kControllerSyspath, "bNumInterfaces"), " 2");
}

struct Uevent {
  std::string action;
  std::string subsystem;
  std::string syspath;
};

// The station's claim: libusb detaches the HID driver from interface 1, whose hidraw node and
// hid device leave (the interface stays); the release binds the driver again and they return.
TEST_F(UmockdevBus, DetachRemovesTheInterfacesHidrawNodeAndReleaseBringsItBack) {
  udev_monitor* monitor = udev_monitor_new_from_netlink(udev_, "udev");
  ASSERT_NE(monitor, nullptr);
  udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
  udev_monitor_filter_add_match_subsystem_devtype(monitor, "hid", nullptr);
  udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_interface");
  ASSERT_EQ(udev_monitor_enable_receiving(monitor), 0);
  auto collect = [&](std::chrono::milliseconds quiet) {
    std::vector<Uevent> events;
    const int fd = udev_monitor_get_fd(monitor);
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
      udev_device* d = udev_monitor_receive_device(monitor);
      if (d == nullptr) continue;
      events.push_back({udev_device_get_action(d), udev_device_get_subsystem(d), udev_device_get_syspath(d)});
      udev_device_unref(d);
    }
    return events;
  };
  const std::string iface1 = std::string(kControllerSyspath) + "/1-1:1.1";
  const std::string iface0 = std::string(kControllerSyspath) + "/1-1:1.0";
  const auto hidraw1 = HidrawBelow(iface1);
  ASSERT_EQ(hidraw1.size(), 1u);

  handle_ = libusb_open_device_with_vid_pid(ctx_, kControllerVendorId, kControllerProductId);
  ASSERT_NE(handle_, nullptr);
  ASSERT_EQ(libusb_set_auto_detach_kernel_driver(handle_, 1), 0);
  ASSERT_EQ(libusb_claim_interface(handle_, kControllerInterface), 0);
  auto events = collect(300ms);
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[0].action, "remove");
  EXPECT_EQ(events[0].subsystem, "hidraw");
  EXPECT_EQ(events[0].syspath, hidraw1[0]);
  EXPECT_EQ(events[1].action, "remove");
  EXPECT_EQ(events[1].subsystem, "hid");
  EXPECT_EQ(events[2].action, "unbind");
  EXPECT_EQ(events[2].syspath, iface1);
  // The interface stays, now held by usbfs; interface 0 keeps its driver and node.
  EXPECT_EQ(Sysattr(iface1, "bInterfaceNumber"), "01");
  EXPECT_EQ(Driver(iface1), "usbfs");
  EXPECT_TRUE(HidrawBelow(iface1).empty());
  EXPECT_EQ(Driver(iface0), "usbhid");
  EXPECT_EQ(HidrawBelow(iface0).size(), 1u);

  ASSERT_EQ(libusb_release_interface(handle_, kControllerInterface), 0);
  events = collect(300ms);
  std::vector<std::string> adds;
  for (const Uevent& e : events) {
    if (e.action == "add") adds.push_back(e.subsystem);
    EXPECT_NE(e.action, "remove") << e.syspath;
  }
  EXPECT_EQ(adds, (std::vector<std::string>{"hid", "hidraw"}));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().action, "bind");
  EXPECT_EQ(Driver(iface1), "usbhid");
  EXPECT_EQ(HidrawBelow(iface1).size(), 1u);

  // An explicit detach behaves alike, and the claim then needs no further detach.
  EXPECT_EQ(libusb_detach_kernel_driver(handle_, 0), 0);
  EXPECT_TRUE(HidrawBelow(iface0).empty());
  EXPECT_EQ(libusb_kernel_driver_active(handle_, 0), 0);
  EXPECT_EQ(libusb_attach_kernel_driver(handle_, 0), 0);
  EXPECT_EQ(HidrawBelow(iface0).size(), 1u);
  udev_monitor_unref(monitor);
}

// Every plug takes a new device number after the last one, wrapping below 128 as the kernel
// does and never taking one in use (the root hub's 1, the bridge's).
TEST_F(UmockdevBus, DeviceNumbersWrapWithoutReachingTheLimitOrANumberInUse) {
  const std::string bridgeDevnum = Sysattr("/sys/bus/usb/devices/1-2", "devnum");
  int previous = std::stoi(Sysattr(kControllerSyspath, "devnum"));
  bool wrapped = false;
  for (int i = 0; i < 130; ++i) {
    box_->Unplug(BoxFunction::Controller);
    box_->Plug(BoxFunction::Controller);
    const std::string text = Sysattr(kControllerSyspath, "devnum");
    const int devnum = std::stoi(text);
    ASSERT_GE(devnum, 2) << "plug " << i;
    ASSERT_LE(devnum, 127) << "plug " << i;
    ASSERT_NE(text, bridgeDevnum) << "plug " << i;
    if (devnum < previous) wrapped = true;
    previous = devnum;
  }
  EXPECT_TRUE(wrapped);
  // A reused number's node answers as the new device.
  std::this_thread::sleep_for(100ms);  // libusb's hotplug thread catches up
  handle_ = libusb_open_device_with_vid_pid(ctx_, kControllerVendorId, kControllerProductId);
  ASSERT_NE(handle_, nullptr);
  EXPECT_EQ(libusb_get_device_address(libusb_get_device(handle_)), previous);
  unsigned char text[64] = {};
  ASSERT_GT(libusb_get_string_descriptor_ascii(handle_, 2, text, sizeof text), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), kControllerProduct);
}

}  // namespace
}  // namespace varnex2::sim
