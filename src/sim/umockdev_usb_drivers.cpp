// The kernel drivers on a USB device's interfaces (see umockdev_usb_device.h): binding the HID
// driver with its hidraw node, usbfs claims, detaching (DISCONNECT_CLAIM, USBDEVFS_DISCONNECT),
// releasing and connecting again (USBDEVFS_CONNECT), each with the uevents the kernel sends and
// the errors it answers. The caller holds bindMutex_.

#include "sim/umockdev_usb_device.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varnex2::sim::umockdev_detail {

bool UsbDevice::AddHidNode(Interface& i, std::string* error) {
  BoxFunction function = spec_.kind == DeviceKind::Controller ? BoxFunction::Controller : BoxFunction::Bridge;
  auto report = SimBox::HidReportDescriptor(function, i.number);
  int hidId = 0, hidraw = 0;
  {
    std::lock_guard lock(testbed_.mutex);  // the counters are shared by all devices
    hidId = counters_.nextHidId++;
    hidraw = counters_.nextHidraw++;
  }
  // Only the bridge's node carries reports; the controller's are there as the kernel makes them.
  auto node = std::make_unique<HidNode>(testbed_, spec_.kind == DeviceKind::Bridge ? box_ : nullptr, spec_.hid, i.path,
                                        i.number, spec_.port, hidId, hidraw, std::move(report), session_,
                                        spec_.kind != DeviceKind::Controller);
  const bool ok = node->Add(error);
  if (!ok) {
    node->Remove();
    retiredHid_.push_back(std::move(node));
    return false;
  }
  i.hid = std::move(node);
  return true;
}

// The bound driver lets go: a HID driver's hidraw and hid nodes leave first, then "unbind".
void UsbDevice::Unbind(Interface& i) {
  if (i.driver.empty()) return;
  if (i.hid != nullptr) {
    i.hid->Remove();
    retiredHid_.push_back(std::move(i.hid));
  }
  i.driver.clear();
  i.claimant = nullptr;
  testbed_.SetDriver("/sys" + i.path, "usb", "");
  testbed_.Uevent("/sys" + i.path, "unbind");
}

void UsbDevice::BindUsbfs(Interface& i, UMockdevIoctlClient* client) {
  i.driver = kUsbfsDriver;
  i.claimant = client;
  testbed_.SetDriver("/sys" + i.path, "usb", i.driver);
  testbed_.Uevent("/sys" + i.path, "bind");
}

// The kernel probes its driver again (USBDEVFS_CONNECT): true when one bound.
bool UsbDevice::BindDefault(Interface& i) {
  if (i.defaultDriver.empty()) return false;
  if (i.defaultDriver == kHidDriver) {
    std::string error;
    if (!AddHidNode(i, &error)) {
      std::fprintf(stderr, "umockdev box: hidraw node: %s\n", error.c_str());
      return false;
    }
  }
  i.driver = i.defaultDriver;
  testbed_.SetDriver("/sys" + i.path, "usb", i.driver);
  testbed_.Uevent("/sys" + i.path, "bind");
  return true;
}

UsbDevice::Interface* UsbDevice::Find(int number) {
  for (Interface& i : interfaces_) {
    if (i.number == number) return &i;
  }
  return nullptr;
}

UsbDevice::Interface* UsbDevice::FindByEndpoint(int endpoint) {
  for (Interface& i : interfaces_) {
    if (std::find(i.endpointAddresses.begin(), i.endpointAddresses.end(), endpoint) != i.endpointAddresses.end())
      return &i;
  }
  return nullptr;
}

bool UsbDevice::Gone() {
  std::lock_guard lock(mutex_);
  return gone_;
}

// usbfs claim (CLAIMINTERFACE, and implicitly before a transfer): a bound driver refuses.
int UsbDevice::ClaimLocked(Interface& i, UMockdevIoctlClient* client) {
  if (i.claimant == client) return 0;
  if (!i.driver.empty()) return EBUSY;
  BindUsbfs(i, client);
  return 0;
}

bool UsbDevice::Claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  UMockdevIoctlData* in = Pointee(arg, sizeof(unsigned int));
  if (in == nullptr) return Fail(client, EFAULT);
  unsigned int number = 0;
  std::memcpy(&number, in->data, sizeof number);
  g_object_unref(in);
  std::lock_guard bind(bindMutex_);
  if (Gone()) return Fail(client, ENODEV);
  Interface* i = Find(static_cast<int>(number));
  if (i == nullptr) return Fail(client, ENOENT);
  const int r = ClaimLocked(*i, client);
  return r == 0 ? Ok(client, 0) : Fail(client, r);
}

bool UsbDevice::DisconnectClaim(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  UMockdevIoctlData* in = Pointee(arg, sizeof(usbdevfs_disconnect_claim));
  if (in == nullptr) return Fail(client, EFAULT);
  usbdevfs_disconnect_claim dc{};
  std::memcpy(&dc, in->data, sizeof dc);
  g_object_unref(in);
  dc.driver[sizeof dc.driver - 1] = '\0';
  std::lock_guard bind(bindMutex_);
  if (Gone()) return Fail(client, ENODEV);
  Interface* i = Find(static_cast<int>(dc.interface));
  if (i == nullptr) return Fail(client, EINVAL);
  if (!i->driver.empty()) {
    const bool same = i->driver == dc.driver;
    if ((dc.flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) != 0 && !same) return Fail(client, EBUSY);
    if ((dc.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) != 0 && same) return Fail(client, EBUSY);
    Unbind(*i);
  }
  BindUsbfs(*i, client);
  return Ok(client, 0);
}

bool UsbDevice::Release(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  UMockdevIoctlData* in = Pointee(arg, sizeof(unsigned int));
  if (in == nullptr) return Fail(client, EFAULT);
  unsigned int number = 0;
  std::memcpy(&number, in->data, sizeof number);
  g_object_unref(in);
  std::lock_guard bind(bindMutex_);
  if (Gone()) return Fail(client, ENODEV);
  Interface* i = Find(static_cast<int>(number));
  if (i == nullptr) return Fail(client, ENOENT);
  if (i->claimant != client) return Fail(client, EINVAL);
  Unbind(*i);  // the kernel does not rebind here: USBDEVFS_CONNECT does
  return Ok(client, 0);
}

bool UsbDevice::GetDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  UMockdevIoctlData* io = Pointee(arg, sizeof(usbdevfs_getdriver));
  if (io == nullptr) return Fail(client, EFAULT);
  auto* gd = reinterpret_cast<usbdevfs_getdriver*>(io->data);
  std::lock_guard bind(bindMutex_);
  Interface* i = Find(static_cast<int>(gd->interface));
  if (i == nullptr || i->driver.empty()) {
    g_object_unref(io);
    return Fail(client, ENODATA);
  }
  std::memset(gd->driver, 0, sizeof gd->driver);
  std::memcpy(gd->driver, i->driver.data(), std::min(i->driver.size(), sizeof gd->driver - 1));
  g_object_unref(io);
  return Ok(client, 0);
}

// USBDEVFS_IOCTL: DISCONNECT detaches whatever driver is bound, CONNECT lets the kernel bind its
// own (the result is 1 when one bound).
bool UsbDevice::DriverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  UMockdevIoctlData* in = Pointee(arg, sizeof(usbdevfs_ioctl));
  if (in == nullptr) return Fail(client, EFAULT);
  usbdevfs_ioctl command{};
  std::memcpy(&command, in->data, sizeof command);
  g_object_unref(in);
  std::lock_guard bind(bindMutex_);
  if (Gone()) return Fail(client, ENODEV);
  Interface* i = Find(command.ifno);
  if (i == nullptr) return Fail(client, EINVAL);
  if (static_cast<unsigned long>(command.ioctl_code) == USBDEVFS_DISCONNECT) {
    if (i->driver.empty()) return Fail(client, ENODATA);
    Unbind(*i);
    return Ok(client, 0);
  }
  if (static_cast<unsigned long>(command.ioctl_code) == USBDEVFS_CONNECT) {
    if (!i->driver.empty()) return Fail(client, EBUSY);
    return Ok(client, BindDefault(*i) ? 1 : 0);
  }
  return Fail(client, ENOTTY);
}

}  // namespace varnex2::sim::umockdev_detail
