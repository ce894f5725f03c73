#pragma once
// Internal to the umockdev adapter (included only by its umockdev_*.cpp files, not for use
// elsewhere): the testbed wrapper through which every call into umockdev goes, serialised, the
// numbers all devices of one testbed share, and the helpers that write sysfs text the way the
// kernel does. It sits apart because the hidraw nodes, the USB devices and UmockdevBox all build
// on it.

#include <umockdev.h>

#include <cstdint>
#include <mutex>
#include <span>
#include <string>

namespace varnex2::sim::umockdev_detail {

std::string HexString(std::span<const std::uint8_t> bytes);
std::string Hex4(std::uint16_t v);
std::string Hex2(unsigned v);
// A sysfs text attribute line as the kernel writes the value: ending with a newline.
std::string Attr(const std::string& name, const std::string& value);
// "../" up to /sys from inside the directory of `syspath` ("/sys/devices/...").
std::string UpToSys(const std::string& syspath);

// Serialises every call into the testbed: presence changes arrive on any thread, driver changes
// on the testbed's ioctl thread.
struct Testbed {
  UMockdevTestbed* tb = nullptr;
  std::recursive_mutex mutex;
  std::string root;
  std::string sys;

  bool AddFromString(const std::string& text, std::string* error);
  bool Attach(const std::string& devnode, UMockdevIoctlBase* handler, std::string* error);
  void Detach(const std::string& devnode);
  void Uevent(const std::string& syspath, const char* action);
  // The kernel's order: the uevent while the device is still in sysfs, then its removal. (The
  // testbed's remove_device sends nothing.)
  void UeventAndRemove(const std::string& syspath);
  int DevFd(const std::string& devnode);
  void SetProperty(const std::string& syspath, const char* name, const std::string& value);
  void SetAttribute(const std::string& syspath, const char* name, const std::string& value);
  // Creates /sys/bus/<bus>/drivers/<driver> so that "driver" links resolve.
  void MakeDriverDir(const std::string& bus, const std::string& driver);
  // The device's "driver" link and DRIVER property; an empty `driver` unbinds.
  void SetDriver(const std::string& syspath, const std::string& bus, const std::string& driver);
};

// Numbers shared by all devices of the testbed.
struct Counters {
  int nextHidId = 1;   // the kernel numbers hid devices 0003:VVVV:PPPP.NNNN without reuse
  int nextHidraw = 0;  // hidraw minors; the testbed cannot reuse a pty node name
};

}  // namespace varnex2::sim::umockdev_detail
