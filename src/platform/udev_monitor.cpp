// DeviceMonitor on a libudev monitor, with Windows-style interface paths synthesised from sysfs.

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/device_monitor.h"
#include "platform/udev_event_path.h"

namespace varnex2::platform {
namespace {

constexpr int kPollSliceMs = 100;

std::string PropertyOrEmpty(udev_device* dev, const char* key) {
  const char* v = udev_device_get_property_value(dev, key);
  return v != nullptr ? v : "";
}

std::string SysattrOrEmpty(udev_device* dev, const char* key) {
  if (dev == nullptr) return "";
  const char* v = udev_device_get_sysattr_value(dev, key);
  return v != nullptr ? v : "";
}

int ParseHex(const std::string& text, int fallback) {
  if (text.empty()) return fallback;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 16);
  return end == text.c_str() ? fallback : static_cast<int>(v);
}

std::vector<std::uint8_t> ReadBinaryAttribute(const std::string& path) {
  std::vector<std::uint8_t> data;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return data;
  std::uint8_t chunk[1024];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0 || data.size() > 65536) break;
    data.insert(data.end(), chunk, chunk + n);
  }
  close(fd);
  return data;
}

// Fills ids, interface facts and the device's syspath from sysfs attributes of `dev` or its USB
// ancestors, falling back to the uevent's PRODUCT property (vid/pid/bcd, hexadecimal).
void ReadUsbFacts(udev_device* dev, UdevEventFacts& facts) {
  const bool isDevice = facts.kind == UdevNodeKind::UsbDevice;
  udev_device* usbDevice = isDevice ? dev : udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
  udev_device* usbInterface =
      isDevice ? nullptr : udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_interface");
  facts.vendorId = ParseHex(SysattrOrEmpty(usbDevice, "idVendor"), -1);
  facts.productId = ParseHex(SysattrOrEmpty(usbDevice, "idProduct"), -1);
  facts.interfaceCount = ParseHex(SysattrOrEmpty(usbDevice, "bNumInterfaces"), -1);
  facts.interfaceNumber = ParseHex(SysattrOrEmpty(usbInterface, "bInterfaceNumber"), -1);
  if (usbDevice != nullptr) {
    facts.deviceSyspath = udev_device_get_syspath(usbDevice);
    if (isDevice) facts.interfaces = ParseInterfaces(ReadBinaryAttribute(facts.deviceSyspath + "/descriptors"));
  }
  if (isDevice && (facts.vendorId < 0 || facts.productId < 0)) {
    unsigned vid = 0, pid = 0;
    if (std::sscanf(PropertyOrEmpty(dev, "PRODUCT").c_str(), "%x/%x", &vid, &pid) == 2) {
      facts.vendorId = static_cast<int>(vid);
      facts.productId = static_cast<int>(pid);
    }
  }
}

// The USB interface a hidraw node belongs to: the ancestor named "<bus>-<ports>:<config>.<n>".
std::string InterfaceSyspathOf(const std::string& syspath) {
  std::size_t end = syspath.size();
  while (end > 0) {
    const std::size_t begin = syspath.rfind('/', end - 1);
    if (begin == std::string::npos) break;
    const std::string name = syspath.substr(begin + 1, end - begin - 1);
    const std::size_t colon = name.find(':');
    if (colon != std::string::npos && name.find('-') < colon && name.find('.', colon) != std::string::npos)
      return syspath.substr(0, end);
    end = begin;
  }
  return "";
}

// A hidraw node of a composite device (MI_nn) that leaves while its USB interface stays was
// removed by a kernel-driver detach (a usbfs claim of the interface), not by an unplug. (In an
// unplug the interface may still exist when the event is handled early; the USB device's own
// removal reports the loss. A plain HID device's node stands for the device and always counts.)
bool IsDriverDetach(const UdevEventFacts& facts, const std::optional<DeviceEvent>& arrival) {
  if (facts.kind != UdevNodeKind::Hidraw || !arrival || arrival->interfacePath.find("&MI_") == std::string::npos)
    return false;
  const std::string iface = InterfaceSyspathOf(facts.syspath);
  return !iface.empty() && access((iface + "/uevent").c_str(), F_OK) == 0;
}

class UdevMonitor final : public DeviceMonitor {
 public:
  ~UdevMonitor() override { Stop(); }

  int Start(DeviceEventCallback callback) override {
    std::lock_guard lock(startStop_);
    if (thread_.joinable()) return -1;
    udev_ = udev_new();
    if (udev_ == nullptr) return -1;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ == nullptr) {
      Release();
      return -1;
    }
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device");
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
    if (udev_monitor_enable_receiving(monitor_) < 0) {
      Release();
      return -1;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
      Release();
      return -1;
    }
    RememberPresentDevices();
    callback_ = std::move(callback);
    stop_.store(false);
    thread_ = std::thread([this] { Run(); });
    return 0;
  }

  void Stop() override {
    std::lock_guard lock(startStop_);
    if (!thread_.joinable()) return;
    stop_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = write(wakeFd_, &one, sizeof one);
    thread_.join();
    callback_ = nullptr;
    Release();
  }

 private:
  void Release() {
    if (wakeFd_ >= 0) close(wakeFd_);
    wakeFd_ = -1;
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    monitor_ = nullptr;
    if (udev_ != nullptr) udev_unref(udev_);
    udev_ = nullptr;
    known_.clear();
  }

  // Devices present before the start are removed later with no attributes left to read: note
  // what they are now, so that their removal is reported like any other.
  void RememberPresentDevices() {
    udev_enumerate* e = udev_enumerate_new(udev_);
    if (e == nullptr) return;
    udev_enumerate_add_match_subsystem(e, "usb");
    udev_enumerate_add_match_subsystem(e, "hidraw");
    if (udev_enumerate_scan_devices(e) == 0) {
      udev_list_entry* entry = nullptr;
      udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
        udev_device* dev = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
        if (dev == nullptr) continue;
        UdevEventFacts facts;
        if (Describe(dev, facts)) {
          ReadUsbFacts(dev, facts);
          known_[facts.syspath] = MakeDeviceEvent(facts, DeviceEventKind::Arrival);
        }
        udev_device_unref(dev);
      }
    }
    udev_enumerate_unref(e);
  }

  // Kind and syspath of the nodes this monitor reports; false for any other device.
  static bool Describe(udev_device* dev, UdevEventFacts& facts) {
    const char* subsystem = udev_device_get_subsystem(dev);
    const char* syspath = udev_device_get_syspath(dev);
    if (subsystem == nullptr || syspath == nullptr) return false;
    const std::string sub = subsystem;
    const char* devtype = udev_device_get_devtype(dev);
    if (sub == "hidraw") {
      facts.kind = UdevNodeKind::Hidraw;
    } else if (sub == "usb" && devtype != nullptr && std::string(devtype) == "usb_device") {
      facts.kind = UdevNodeKind::UsbDevice;
    } else {
      return false;
    }
    facts.syspath = syspath;
    return true;
  }

  void Run() {
    const int monitorFd = udev_monitor_get_fd(monitor_);
    while (!stop_.load()) {
      pollfd fds[2] = {{monitorFd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
      const int rc = poll(fds, 2, kPollSliceMs);
      if (stop_.load()) break;
      if (rc <= 0 || (fds[0].revents & POLLIN) == 0) continue;
      udev_device* dev = udev_monitor_receive_device(monitor_);
      if (dev == nullptr) continue;
      Handle(dev);
      udev_device_unref(dev);
    }
  }

  void Handle(udev_device* dev) {
    const char* action = udev_device_get_action(dev);
    if (action == nullptr) return;
    const std::string act = action;
    if (act != "add" && act != "remove") return;  // bind/unbind/change are no arrivals
    UdevEventFacts facts;
    if (!Describe(dev, facts)) return;

    std::optional<DeviceEvent> event;
    if (act == "add") {
      ReadUsbFacts(dev, facts);
      event = MakeDeviceEvent(facts, DeviceEventKind::Arrival);
      known_[facts.syspath] = event;
    } else {
      // Attributes are usually gone by now: report what was known at arrival. A node seen arriving
      // with nothing to report (the plain HID bridge's USB device) leaves silently too; read again
      // after its sysfs entries are gone, it would pass for a device of its own.
      auto it = known_.find(facts.syspath);
      if (it != known_.end() && IsDriverDetach(facts, it->second)) {
        known_.erase(it);
        return;
      }
      if (it != known_.end()) {
        event = it->second;
        known_.erase(it);
      } else {
        ReadUsbFacts(dev, facts);
        event = MakeDeviceEvent(facts, DeviceEventKind::Arrival);
      }
      if (event) event->kind = DeviceEventKind::Removal;
    }
    if (event && callback_) callback_(*event);
  }

  std::mutex startStop_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  DeviceEventCallback callback_;
  // syspath → event of its arrival, or none if it was not reported (monitor thread only)
  std::map<std::string, std::optional<DeviceEvent>> known_;
};

}  // namespace

std::unique_ptr<DeviceMonitor> CreateUdevMonitor() { return std::make_unique<UdevMonitor>(); }

}  // namespace varnex2::platform
