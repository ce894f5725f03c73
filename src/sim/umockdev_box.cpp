// umockdev adapter of the simulated box: a USB bus with its root hub, the controller and the
// bridge as usbfs devices with their interfaces, and under each HID interface the hid device and
// hidraw node the kernel's HID driver creates; the box answers at report level. This file holds
// UmockdevBox itself: the testbed's creation, the device numbers and root hub ports, and the
// presence observer that plugs and unplugs the devices; the pieces it builds on live in the
// internal umockdev_testbed, umockdev_hidraw and umockdev_usb_device files.

#include "sim/umockdev_box.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/box_identity.h"
#include "sim/umockdev_testbed.h"
#include "sim/umockdev_usb_device.h"

namespace varnex2::sim {

using umockdev_detail::Counters;
using umockdev_detail::DeviceKind;
using umockdev_detail::DeviceSpec;
using umockdev_detail::HidSpec;
using umockdev_detail::kMaxDevnum;
using umockdev_detail::kRootHubDevnum;
using umockdev_detail::kRootHubManufacturer;
using umockdev_detail::kRootHubProduct;
using umockdev_detail::RootHubConfiguration;
using umockdev_detail::RootHubDeviceDescriptor;
using umockdev_detail::Testbed;
using umockdev_detail::UsbDevice;

struct UmockdevBox::Impl {
  std::shared_ptr<SimBox> box;
  Testbed testbed;
  Counters counters;
  int observerId = -1;
  std::atomic<std::uint32_t> occupiedPorts{0};  // bit p: a device on root hub port p

  std::mutex mutex;  // the device lists and the device numbers below
  int devnumNext = kRootHubDevnum + 1;
  int nextPort = 3;  // 1: controller, 2: bridge, 3 on: silent devices
  std::unique_ptr<UsbDevice> rootHub;
  std::unique_ptr<UsbDevice> controller;
  std::unique_ptr<UsbDevice> bridge;
  std::map<std::string, std::unique_ptr<UsbDevice>> silent;
  // Unplugged devices, still answering ENODEV to files left open, until their number is reused.
  std::vector<std::unique_ptr<UsbDevice>> retired;

  // The kernel's choice: the next free number after the last one given, wrapping at 127 to the
  // lowest free one (the root hub keeps 1). Caller holds `mutex`. 0 when all are taken.
  int AllocateDevnum() {
    std::set<int> used;
    for (const UsbDevice* d : {rootHub.get(), controller.get(), bridge.get()}) {
      if (d != nullptr) used.insert(d->Devnum());
    }
    for (const auto& [path, d] : silent) used.insert(d->Devnum());
    int devnum = 0;
    for (int n = devnumNext; n <= kMaxDevnum && devnum == 0; ++n) {
      if (used.count(n) == 0) devnum = n;
    }
    for (int n = 1; n <= kMaxDevnum && devnum == 0; ++n) {
      if (used.count(n) == 0) devnum = n;
    }
    if (devnum == 0) return 0;
    devnumNext = devnum >= kMaxDevnum ? 1 : devnum + 1;
    // A retired device with this number gives its node up now.
    std::erase_if(retired, [&](const std::unique_ptr<UsbDevice>& d) { return d->Devnum() == devnum; });
    return devnum;
  }

  void SetPort(int port, bool occupied) {
    if (port <= 0 || port >= 32) return;
    if (occupied) {
      occupiedPorts.fetch_or(1u << port);
    } else {
      occupiedPorts.fetch_and(~(1u << port));
    }
  }

  // Caller holds `mutex`. Null (and `error`) on failure.
  std::unique_ptr<UsbDevice> Plug(DeviceKind kind, int port, HidSpec hid, std::uint64_t session, std::string* error) {
    DeviceSpec spec;
    spec.kind = kind;
    spec.port = port;
    spec.devnum = AllocateDevnum();
    if (spec.devnum == 0) {
      if (error != nullptr) *error = "no free USB device number";
      return nullptr;
    }
    const BoxFunction function = kind == DeviceKind::Controller ? BoxFunction::Controller : BoxFunction::Bridge;
    spec.device = SimBox::DeviceDescriptor(function);
    spec.device[8] = static_cast<std::uint8_t>(hid.vendorId & 0xFF);
    spec.device[9] = static_cast<std::uint8_t>(hid.vendorId >> 8);
    spec.device[10] = static_cast<std::uint8_t>(hid.productId & 0xFF);
    spec.device[11] = static_cast<std::uint8_t>(hid.productId >> 8);
    spec.config = SimBox::ConfigurationDescriptor(function);
    spec.hid = std::move(hid);
    auto dev = std::make_unique<UsbDevice>(testbed, counters, kind == DeviceKind::Silent ? nullptr : box,
                                           std::move(spec), session);
    SetPort(port, true);
    if (!dev->Add(error)) {
      dev->Unplug();
      SetPort(port, false);
      retired.push_back(std::move(dev));
      return nullptr;
    }
    return dev;
  }

  void Unplug(std::unique_ptr<UsbDevice>& dev) {
    if (dev == nullptr) return;
    dev->Unplug();
    SetPort(dev->Port(), false);
    retired.push_back(std::move(dev));
  }

  bool AddRootHub(std::string* error) {
    std::lock_guard lock(mutex);
    DeviceSpec spec;
    spec.kind = DeviceKind::RootHub;
    spec.devnum = kRootHubDevnum;
    spec.hid = {0x1D6B, 0x0002, kRootHubManufacturer, kRootHubProduct};
    spec.device = RootHubDeviceDescriptor();
    spec.config = RootHubConfiguration();
    rootHub = std::make_unique<UsbDevice>(testbed, counters, nullptr, std::move(spec), 0, [this](int port) {
      return port > 0 && port < 32 && (occupiedPorts.load() & (1u << port)) != 0;
    });
    return rootHub->Add(error);
  }

  // `session` comes from the presence notice: the box may hold its own locks while it notifies.
  bool PlugController(std::uint64_t session, std::string* error) {
    std::lock_guard lock(mutex);
    if (controller != nullptr) return true;
    controller = Plug(DeviceKind::Controller, 1,
                      {kControllerVendorId, kControllerProductId, std::string(kControllerManufacturer),
                       std::string(kControllerProduct)},
                      session, error);
    return controller != nullptr;
  }
  void UnplugController() {
    std::lock_guard lock(mutex);
    Unplug(controller);
  }
  bool PlugBridge(std::uint64_t session, std::string* error) {
    std::lock_guard lock(mutex);
    if (bridge != nullptr) return true;
    bridge = Plug(DeviceKind::Bridge, 2,
                  {kBridgeVendorId, kBridgeProductId, std::string(kBridgeManufacturer), std::string(kBridgeProduct)},
                  session, error);
    return bridge != nullptr;
  }
  void UnplugBridge() {
    std::lock_guard lock(mutex);
    Unplug(bridge);
  }

  void OnPresence(BoxFunction function, bool present, std::uint64_t session) {
    std::string error;
    if (function == BoxFunction::Controller) {
      if (present) {
        if (!PlugController(session, &error)) std::fprintf(stderr, "umockdev box: controller: %s\n", error.c_str());
      } else {
        UnplugController();
      }
    } else {
      if (present) {
        if (!PlugBridge(session, &error)) std::fprintf(stderr, "umockdev box: bridge: %s\n", error.c_str());
      } else {
        UnplugBridge();
      }
    }
  }

  ~Impl() {
    if (observerId >= 0) box->RemovePresenceObserver(observerId);
    std::lock_guard lock(mutex);
    controller.reset();
    bridge.reset();
    silent.clear();
    retired.clear();
    rootHub.reset();
    if (testbed.tb != nullptr) g_object_unref(testbed.tb);
  }
};

UmockdevBox::UmockdevBox(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UmockdevBox::~UmockdevBox() = default;

std::unique_ptr<UmockdevBox> UmockdevBox::Create(std::shared_ptr<SimBox> box, std::string* error) {
  if (box == nullptr) {
    if (error != nullptr) *error = "no box";
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->box = std::move(box);
  impl->testbed.tb = umockdev_testbed_new();
  if (impl->testbed.tb == nullptr) {
    if (error != nullptr) *error = "umockdev_testbed_new failed";
    return nullptr;
  }
  gchar* root = umockdev_testbed_get_root_dir(impl->testbed.tb);
  gchar* sys = umockdev_testbed_get_sys_dir(impl->testbed.tb);
  impl->testbed.root = root != nullptr ? root : "";
  impl->testbed.sys = sys != nullptr ? sys : "";
  g_free(root);
  g_free(sys);

  // The bus first: its root hub stays for the testbed's whole life.
  std::string why;
  if (!impl->AddRootHub(&why)) {
    if (error != nullptr) *error = "root hub: " + why;
    return nullptr;
  }
  // Observe first, then add what is present: a change in between is not lost (plugging twice is
  // harmless).
  Impl* raw = impl.get();
  impl->observerId = impl->box->AddPresenceObserver([raw](BoxFunction function, bool present, std::uint64_t session) {
    raw->OnPresence(function, present, session);
  });
  if (impl->box->IsPresent(BoxFunction::Controller) &&
      !impl->PlugController(impl->box->Session(BoxFunction::Controller), &why)) {
    if (error != nullptr) *error = "controller: " + why;
    return nullptr;
  }
  if (impl->box->IsPresent(BoxFunction::Bridge) && !impl->PlugBridge(impl->box->Session(BoxFunction::Bridge), &why)) {
    if (error != nullptr) *error = "bridge: " + why;
    return nullptr;
  }
  return std::unique_ptr<UmockdevBox>(new UmockdevBox(std::move(impl)));
}

std::string UmockdevBox::RootDir() const { return impl_->testbed.root; }
const std::shared_ptr<SimBox>& UmockdevBox::Box() const { return impl_->box; }

std::string UmockdevBox::AddSilentHidDevice(const SilentHidDevice& device) {
  std::lock_guard lock(impl_->mutex);
  std::string error;
  auto dev = impl_->Plug(DeviceKind::Silent, impl_->nextPort++,
                         {device.vendorId, device.productId, device.manufacturer, device.product}, 0, &error);
  if (dev == nullptr) {
    std::fprintf(stderr, "umockdev box: silent HID device: %s\n", error.c_str());
    return "";
  }
  const std::string syspath = dev->Syspath();
  impl_->silent[syspath] = std::move(dev);
  return syspath;
}

void UmockdevBox::RemoveSilentHidDevice(const std::string& syspath) {
  std::lock_guard lock(impl_->mutex);
  auto it = impl_->silent.find(syspath);
  if (it == impl_->silent.end()) return;
  impl_->Unplug(it->second);
  impl_->silent.erase(it);
}

}  // namespace varnex2::sim
