// umockdev adapter of the simulated box: a USB bus with its root hub, the controller and the
// bridge as usbfs devices with their interfaces, and under each HID interface the hid device and
// hidraw node the kernel's HID driver creates; the box answers at report level.

#include "sim/umockdev_box.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/usbdevice_fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "sim/box_identity.h"

namespace varnex2::sim {
namespace {

constexpr const char* kUsbRoot = "/devices/pci0000:00/0000:00:14.0/usb1";
constexpr int kBusNumber = 1;
constexpr int kRootHubPorts = 15;
constexpr int kRootHubDevnum = 1;
constexpr int kMaxDevnum = 127;  // usbfs device numbers are 1..127 per bus

constexpr const char* kHidDriver = "usbhid";
constexpr const char* kHubDriver = "hub";
constexpr const char* kUsbfsDriver = "usbfs";

std::string HexString(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  static constexpr char kDigits[] = "0123456789abcdef";
  for (const std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  return out;
}

std::string Hex4(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", v);
  return text;
}

std::string Hex2(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02x", v & 0xFF);
  return text;
}

// A sysfs text attribute line as the kernel writes the value: ending with a newline.
std::string Attr(const std::string& name, const std::string& value) { return "A: " + name + "=" + value + "\\n\n"; }

// "../" up to /sys from inside the directory of `syspath` ("/sys/devices/...").
std::string UpToSys(const std::string& syspath) {
  std::string dots;
  for (std::size_t i = 1; i < syspath.size(); ++i) {
    if (syspath[i] == '/') dots += "../";
  }
  return dots;
}

// Serialises every call into the testbed: presence changes arrive on any thread, driver changes
// on the testbed's ioctl thread.
struct Testbed {
  UMockdevTestbed* tb = nullptr;
  std::recursive_mutex mutex;
  std::string root;
  std::string sys;

  bool AddFromString(const std::string& text, std::string* error) {
    std::lock_guard lock(mutex);
    GError* gerror = nullptr;
    if (!umockdev_testbed_add_from_string(tb, text.c_str(), &gerror)) {
      if (error != nullptr) *error = gerror != nullptr ? gerror->message : "add_from_string failed";
      if (gerror != nullptr) g_error_free(gerror);
      return false;
    }
    return true;
  }
  bool Attach(const std::string& devnode, UMockdevIoctlBase* handler, std::string* error) {
    std::lock_guard lock(mutex);
    GError* gerror = nullptr;
    if (!umockdev_testbed_attach_ioctl(tb, devnode.c_str(), handler, &gerror)) {
      if (error != nullptr) *error = gerror != nullptr ? gerror->message : "attach_ioctl failed";
      if (gerror != nullptr) g_error_free(gerror);
      return false;
    }
    return true;
  }
  void Detach(const std::string& devnode) {
    std::lock_guard lock(mutex);
    GError* gerror = nullptr;
    if (!umockdev_testbed_detach_ioctl(tb, devnode.c_str(), &gerror) && gerror != nullptr) g_error_free(gerror);
  }
  void Uevent(const std::string& syspath, const char* action) {
    std::lock_guard lock(mutex);
    umockdev_testbed_uevent(tb, syspath.c_str(), action);
  }
  // The kernel's order: the uevent while the device is still in sysfs, then its removal. (The
  // testbed's remove_device sends nothing.)
  void UeventAndRemove(const std::string& syspath) {
    std::lock_guard lock(mutex);
    umockdev_testbed_uevent(tb, syspath.c_str(), "remove");
    umockdev_testbed_remove_device(tb, syspath.c_str());
  }
  int DevFd(const std::string& devnode) {
    std::lock_guard lock(mutex);
    return umockdev_testbed_get_dev_fd(tb, devnode.c_str());
  }
  void SetProperty(const std::string& syspath, const char* name, const std::string& value) {
    std::lock_guard lock(mutex);
    umockdev_testbed_set_property(tb, syspath.c_str(), name, value.c_str());
  }
  void SetAttribute(const std::string& syspath, const char* name, const std::string& value) {
    std::lock_guard lock(mutex);
    umockdev_testbed_set_attribute(tb, syspath.c_str(), name, value.c_str());
  }
  // Creates /sys/bus/<bus>/drivers/<driver> so that "driver" links resolve.
  void MakeDriverDir(const std::string& bus, const std::string& driver) {
    const std::string dir = sys + "/bus/" + bus + "/drivers/" + driver;
    g_mkdir_with_parents(dir.c_str(), 0755);
  }
  // The device's "driver" link and DRIVER property; an empty `driver` unbinds.
  void SetDriver(const std::string& syspath, const std::string& bus, const std::string& driver) {
    std::lock_guard lock(mutex);
    const std::string dir = root + syspath;
    const std::string link = dir + "/driver";
    unlink(link.c_str());
    if (!driver.empty()) {
      MakeDriverDir(bus, driver);
      [[maybe_unused]] const int r =
          symlink((UpToSys(syspath) + "bus/" + bus + "/drivers/" + driver).c_str(), link.c_str());
    }
    std::string kept;
    {
      std::ifstream in(dir + "/uevent");
      std::string line;
      while (std::getline(in, line)) {
        if (line.rfind("DRIVER=", 0) != 0) kept += line + "\n";
      }
    }
    if (!driver.empty()) kept += "DRIVER=" + driver + "\n";
    std::ofstream(dir + "/uevent", std::ios::trunc) << kept;
  }
};

// Numbers shared by all devices of the testbed.
struct Counters {
  int nextHidId = 1;   // the kernel numbers hid devices 0003:VVVV:PPPP.NNNN without reuse
  int nextHidraw = 0;  // hidraw minors; the testbed cannot reuse a pty node name
};

struct HidSpec {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string manufacturer;
  std::string product;
};

// ---------------------------------------------------------------------------------------------
// hid device + hidraw node under a USB HID interface, as the kernel's HID driver creates them.
// With a box it is the bridge's node; without, it accepts every report and never answers. A
// streaming node is a pty (real read waits and device numbers); an inert one is a plain file
// with the same ioctls, which costs no descriptor for the testbed's life.

class HidNode {
 public:
  HidNode(Testbed& testbed, std::shared_ptr<SimBox> box, HidSpec spec, std::string interfacePath, int interfaceNumber,
          int port, int hidId, int hidrawIndex, std::vector<std::uint8_t> reportDescriptor, std::uint64_t session,
          bool streaming)
      : testbed_(testbed),
        box_(std::move(box)),
        spec_(std::move(spec)),
        interfacePath_(std::move(interfacePath)),
        interfaceNumber_(interfaceNumber),
        port_(port),
        session_(session),
        reportDescriptor_(std::move(reportDescriptor)),
        streaming_(streaming) {
    char text[64];
    std::snprintf(text, sizeof text, "0003:%04X:%04X.%04X", spec_.vendorId, spec_.productId, hidId & 0xFFFF);
    hidName_ = text;
    hidPath_ = interfacePath_ + "/" + hidName_;
    hidrawName_ = "hidraw" + std::to_string(hidrawIndex);
    hidrawPath_ = hidPath_ + "/hidraw/" + hidrawName_;
    devnode_ = "/dev/" + hidrawName_;
  }

  ~HidNode() {
    pump_.request_stop();
    if (pump_.joinable()) pump_.join();
    if (attached_) testbed_.Detach(devnode_);
    if (handler_ != nullptr) {
      g_signal_handlers_disconnect_by_data(handler_, this);
      g_object_unref(handler_);
    }
    if (slaveFd_ >= 0) close(slaveFd_);
  }

  const std::string& HidrawSyspath() const { return hidrawPath_; }

  // Adds the hid device and its hidraw node ("add" uevents for both, parent first).
  bool Add(std::string* error) {
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&HidNode::OnIoctl), this);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(&HidNode::OnRead), this);
    g_signal_connect(handler_, "handle-write", G_CALLBACK(&HidNode::OnWrite), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(&HidNode::OnConnected), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&HidNode::OnVanished), this);
    if (!testbed_.Attach(devnode_, handler_, error)) return false;
    attached_ = true;

    char hidId[40];
    std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", spec_.vendorId, spec_.productId);
    char modalias[64];
    std::snprintf(modalias, sizeof modalias, "hid:b0003g0001v%08Xp%08X", spec_.vendorId, spec_.productId);
    std::string text;
    text += "P: " + hidPath_ + "\n";
    text += "E: SUBSYSTEM=hid\nE: DRIVER=hid-generic\n";
    text += std::string("E: HID_ID=") + hidId + "\n";
    text += "E: HID_NAME=" + spec_.manufacturer + " " + spec_.product + "\n";
    text += "E: HID_PHYS=" + Phys() + "\n";
    text += "E: HID_UNIQ=\n";
    text += std::string("E: MODALIAS=") + modalias + "\n";
    text += "H: report_descriptor=" + HexString(reportDescriptor_) + "\n";
    text += "L: driver=" + UpToSys("/sys" + hidPath_) + "bus/hid/drivers/hid-generic\n\n";

    text += "P: " + hidrawPath_ + "\n";
    text += "N: " + hidrawName_ + (streaming_ ? "" : "=00") + "\n";
    text += "E: SUBSYSTEM=hidraw\nE: DEVNAME=" + devnode_ + "\n";
    text += "L: device=../../../" + hidName_ + "\n";
    testbed_.MakeDriverDir("hid", "hid-generic");
    if (!testbed_.AddFromString(text, error)) return false;
    added_ = true;
    if (streaming_ && !SetUpPty(error)) return false;
    if (box_ != nullptr) pump_ = std::jthread([this](std::stop_token st) { Pump(st); });
    return true;
  }

  // The driver lets go of the interface, or the device leaves: the hidraw node goes first, then the
  // hid device, each with its "remove" uevent. An open file sees a hang-up.
  void Remove() {
    {
      std::lock_guard lock(mutex_);
      if (gone_) return;
      gone_ = true;
      reports_.clear();
      // Opened through the preload, the slave counts against its small table of device files.
      if (slaveFd_ >= 0) close(slaveFd_);
      slaveFd_ = -1;
    }
    pump_.request_stop();
    const int master = testbed_.DevFd(devnode_);
    if (master >= 0) {
      const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
      if (null >= 0) dup2(null, master);
      if (null >= 0) close(null);
    }
    if (!added_) return;
    testbed_.UeventAndRemove("/sys" + hidrawPath_);
    testbed_.UeventAndRemove("/sys" + hidPath_);
  }

 private:
  std::string Phys() const {
    return "usb-0000:00:14.0-" + std::to_string(port_) + "/input" + std::to_string(interfaceNumber_);
  }

  // The node is a pty. Its real device number goes into sysfs, because hidapi looks the open
  // device up by fstat(); one byte per queued report on the master makes the client's poll real.
  bool SetUpPty(std::string* error) {
    const int master = testbed_.DevFd(devnode_);
    if (master < 0) {
      if (error != nullptr) *error = "no pty for " + devnode_;
      return false;
    }
    char name[128] = {};
    if (ptsname_r(master, name, sizeof name) != 0) {
      if (error != nullptr) *error = "ptsname failed";
      return false;
    }
    slaveFd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slaveFd_ < 0) {
      if (error != nullptr) *error = std::string("open ") + name + ": " + std::strerror(errno);
      return false;
    }
    termios tio{};
    if (tcgetattr(slaveFd_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(slaveFd_, TCSANOW, &tio);
    }
    struct stat st {};
    if (fstat(slaveFd_, &st) != 0) {
      if (error != nullptr) *error = "fstat pty failed";
      return false;
    }
    const std::string major = std::to_string(::major(st.st_rdev));
    const std::string minor = std::to_string(::minor(st.st_rdev));
    const std::string sys = "/sys" + hidrawPath_;
    testbed_.SetProperty(sys, "MAJOR", major);
    testbed_.SetProperty(sys, "MINOR", minor);
    testbed_.SetAttribute(sys, "dev", major + ":" + minor + "\n");
    const std::string charDir = testbed_.sys + "/dev/char";
    g_mkdir_with_parents(charDir.c_str(), 0755);
    const std::string link = charDir + "/" + major + ":" + minor;
    unlink(link.c_str());
    if (symlink(("../.." + hidrawPath_).c_str(), link.c_str()) != 0) {
      if (error != nullptr) *error = "symlink " + link + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }

  void Pump(std::stop_token st) {
    while (!st.stop_requested()) {
      BridgeReport report{};
      const InResult r = box_->BridgeRead(session_, report, std::chrono::milliseconds(50), st);
      if (r == InResult::NoDevice) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      if (r != InResult::Report) continue;
      std::lock_guard lock(mutex_);
      if (gone_) return;
      // As hidraw: reports reach only open files, and a full buffer drops new ones.
      if (clients_ == 0 || reports_.size() >= kReportBufferSize) continue;
      reports_.push_back(report);
      const int master = testbed_.DevFd(devnode_);
      const char byte = 'r';
      if (master >= 0) [[maybe_unused]]
        auto n = write(master, &byte, 1);
    }
  }

  static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
    auto* self = static_cast<HidNode*>(data);
    std::lock_guard lock(self->mutex_);
    ++self->clients_;
    // An open starts with an empty buffer, as a fresh hidraw file does. (The buffer is shared:
    // with two files open at once, the second open empties the first one's buffer too.)
    self->reports_.clear();
    char bytes[64];
    while (read(self->slaveFd_, bytes, sizeof bytes) > 0) {
    }
  }

  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
    auto* self = static_cast<HidNode*>(data);
    std::lock_guard lock(self->mutex_);
    if (self->clients_ > 0) --self->clients_;
  }

  static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* self = static_cast<HidNode*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(self->mutex_);
    if (self->gone_) {
      umockdev_ioctl_client_complete(client, -1, ENODEV);
      return TRUE;
    }
    if (self->reports_.empty() || arg == nullptr) {
      umockdev_ioctl_client_complete(client, -1, EAGAIN);
      return TRUE;
    }
    const BridgeReport report = self->reports_.front();
    self->reports_.pop_front();
    char byte = 0;
    [[maybe_unused]] const auto consumed = read(self->slaveFd_, &byte, 1);
    // No numbered reports: the node delivers the 64 bytes after the report id.
    const auto n = std::min<std::size_t>(kBridgeReportSize - 1, static_cast<std::size_t>(arg->data_len));
    std::memcpy(arg->data, report.data() + 1, n);
    umockdev_ioctl_client_complete(client, static_cast<glong>(n), 0);
    return TRUE;
  }

  static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* self = static_cast<HidNode*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    {
      std::lock_guard lock(self->mutex_);
      if (self->gone_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
      }
    }
    const std::size_t length = arg != nullptr ? static_cast<std::size_t>(arg->data_len) : 0;
    if (self->box_ != nullptr && length > 0) {
      BridgeReport report{};
      std::memcpy(report.data(), arg->data, std::min(length, report.size()));
      if (self->box_->BridgeWrite(self->session_, report) == OutResult::NoDevice) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
      }
    }
    umockdev_ioctl_client_complete(client, static_cast<glong>(length), 0);
    return TRUE;
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* self = static_cast<HidNode*>(data);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (_IOC_TYPE(request) != 'H' || arg == nullptr) return FALSE;
    const auto room = static_cast<std::size_t>(arg->data_len);
    auto put = [&](const void* bytes, std::size_t n) {
      n = std::min(n, room);
      std::memcpy(arg->data, bytes, n);
      return n;
    };
    switch (_IOC_NR(request)) {
      case 0x01: {  // HIDIOCGRDESCSIZE
        const int size = static_cast<int>(self->reportDescriptor_.size());
        put(&size, sizeof size);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case 0x02: {  // HIDIOCGRDESC: the caller says how much it wants in `size`
        hidraw_report_descriptor d{};
        std::memcpy(&d, arg->data, std::min(room, sizeof d.size));
        const auto n = std::min<std::size_t>({d.size, self->reportDescriptor_.size(), sizeof d.value});
        d.size = static_cast<__u32>(n);
        std::memcpy(d.value, self->reportDescriptor_.data(), n);
        put(&d, sizeof d);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case 0x03: {  // HIDIOCGRAWINFO
        hidraw_devinfo info{};
        info.bustype = 3;  // BUS_USB
        info.vendor = static_cast<__s16>(self->spec_.vendorId);
        info.product = static_cast<__s16>(self->spec_.productId);
        put(&info, sizeof info);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case 0x04:    // HIDIOCGRAWNAME
      case 0x05:    // HIDIOCGRAWPHYS
      case 0x08: {  // HIDIOCGRAWUNIQ
        std::string text;
        if (_IOC_NR(request) == 0x04) text = self->spec_.manufacturer + " " + self->spec_.product;
        if (_IOC_NR(request) == 0x05) text = self->Phys();
        const std::size_t n = put(text.c_str(), text.size() + 1);
        umockdev_ioctl_client_complete(client, static_cast<glong>(n), 0);
        return TRUE;
      }
      case 0x06:  // HIDIOCSFEATURE / GFEATURE: the bridge has no feature reports
      case 0x07:
        umockdev_ioctl_client_complete(client, -1, EPIPE);
        return TRUE;
      default:
        return FALSE;
    }
  }

  Testbed& testbed_;
  std::shared_ptr<SimBox> box_;
  HidSpec spec_;
  std::string interfacePath_;
  int interfaceNumber_;
  int port_;
  std::uint64_t session_;
  std::vector<std::uint8_t> reportDescriptor_;
  std::string hidName_, hidPath_, hidrawName_, hidrawPath_, devnode_;
  UMockdevIoctlBase* handler_ = nullptr;
  bool attached_ = false;
  bool added_ = false;
  bool streaming_;
  int slaveFd_ = -1;

  std::mutex mutex_;
  bool gone_ = false;
  static constexpr std::size_t kReportBufferSize = 64;  // the kernel's hidraw buffer
  int clients_ = 0;
  std::deque<BridgeReport> reports_;
  std::jthread pump_;
};

// ---------------------------------------------------------------------------------------------
// A USB device on the bus: its sysfs device and interfaces, its usbfs node (an ioctl handler
// speaking the kernel's usbfs), the kernel drivers bound to its interfaces and, under each HID
// interface while its driver is bound, a HidNode.

enum class DeviceKind { RootHub, Controller, Bridge, Silent };

struct DeviceSpec {
  DeviceKind kind = DeviceKind::Silent;
  int port = 0;    // root hub port (1-<port>); 0 for the root hub itself
  int devnum = 0;  // usbfs device number
  HidSpec hid;     // ids and strings
  std::array<std::uint8_t, 18> device{};
  std::vector<std::uint8_t> config;
};

// What a root hub reports about itself: USB 2.0, hub class, one interface with its status
// endpoint.
std::array<std::uint8_t, 18> RootHubDeviceDescriptor() {
  return {18, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 64, 0x6B, 0x1D, 0x02, 0x00, 0x01, 0x06, 3, 2, 1, 1};
}
std::vector<std::uint8_t> RootHubConfiguration() {
  return {9, 0x02, 25,   0,    1, 1,    0, 0xE0, 0,  // self powered
          9, 0x04, 0,    0,    1, 0x09, 0, 0,    0,  // interface 0: hub class
          7, 0x05, 0x81, 0x03, 4, 0,    12};         // status change endpoint
}
constexpr const char* kRootHubManufacturer = "Linux 6.1.0 xhci-hcd";
constexpr const char* kRootHubProduct = "xHCI Host Controller";
constexpr const char* kRootHubSerial = "0000:00:14.0";

class UsbDevice {
 public:
  // `portConnected` (root hub only): whether a device is attached to a port.
  UsbDevice(Testbed& testbed, Counters& counters, std::shared_ptr<SimBox> box, DeviceSpec spec, std::uint64_t session,
            std::function<bool(int)> portConnected = nullptr)
      : testbed_(testbed),
        counters_(counters),
        box_(std::move(box)),
        spec_(std::move(spec)),
        session_(session),
        portConnected_(std::move(portConnected)) {
    char node[64];
    std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", kBusNumber, spec_.devnum);
    relNode_ = node;
    devnode_ = std::string("/dev/") + node;
    name_ = spec_.kind == DeviceKind::RootHub ? "usb1" : "1-" + std::to_string(spec_.port);
    path_ = spec_.kind == DeviceKind::RootHub ? std::string(kUsbRoot) : std::string(kUsbRoot) + "/" + name_;
    const std::string interfacePrefix = (spec_.kind == DeviceKind::RootHub ? "1-0" : name_) + ":1.";
    for (std::size_t pos = 0; pos + 9 <= spec_.config.size() && spec_.config[pos] >= 2; pos += spec_.config[pos]) {
      if (spec_.config[pos + 1] != 0x04 || spec_.config[pos + 3] != 0) continue;
      Interface i;
      i.number = spec_.config[pos + 2];
      i.endpoints = spec_.config[pos + 4];
      i.cls = spec_.config[pos + 5];
      i.iInterface = spec_.config[pos + 8];
      i.path = path_ + "/" + interfacePrefix + std::to_string(i.number);
      i.defaultDriver = i.cls == 0x03 ? kHidDriver : (i.cls == 0x09 ? kHubDriver : "");
      i.driver = i.defaultDriver;
      for (std::size_t e = pos + spec_.config[pos]; e + 7 <= spec_.config.size() && spec_.config[e] >= 2;
           e += spec_.config[e]) {
        if (spec_.config[e + 1] == 0x04) break;
        if (spec_.config[e + 1] == 0x05) i.endpointAddresses.push_back(spec_.config[e + 2]);
      }
      interfaces_.push_back(std::move(i));
    }
    if (spec_.kind == DeviceKind::Controller) {
      liveIn_ = kControllerInEndpoint;
      liveOut_ = kControllerOutEndpoint;
    } else if (spec_.kind == DeviceKind::Bridge && box_ != nullptr) {
      liveIn_ = kBridgeInEndpoint;
      liveOut_ = kBridgeOutEndpoint;
    }
  }

  ~UsbDevice() {
    pump_.request_stop();
    cv_.notify_all();
    if (pump_.joinable()) pump_.join();
    if (attached_) testbed_.Detach(devnode_);
    if (handler_ != nullptr) {
      g_signal_handlers_disconnect_by_data(handler_, this);
      g_object_unref(handler_);
    }
    std::lock_guard lock(mutex_);
    for (auto& u : pendingIn_) Drop(u);
    for (auto& u : reapable_) Drop(u);
    pendingIn_.clear();
    reapable_.clear();
    if (fifoFd_ >= 0) close(fifoFd_);
  }

  std::string Syspath() const { return "/sys" + path_; }
  int Devnum() const { return spec_.devnum; }
  int Port() const { return spec_.port; }

  bool Add(std::string* error) {
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbDevice::OnIoctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&UsbDevice::OnVanished), this);
    if (!testbed_.Attach(devnode_, handler_, error)) return false;
    attached_ = true;
    testbed_.MakeDriverDir("usb", "usb");
    for (const char* d : {kHidDriver, kHubDriver, kUsbfsDriver}) testbed_.MakeDriverDir("usb", d);
    if (!testbed_.AddFromString(SysfsText(), error)) return false;
    if (!MakeFifo(error)) return false;
    std::lock_guard bind(bindMutex_);
    for (Interface& i : interfaces_) {
      if (i.driver == kHidDriver && !AddHidNode(i, error)) return false;
    }
    for (Interface& i : interfaces_) {
      if (!i.driver.empty()) testbed_.Uevent("/sys" + i.path, "bind");
    }
    if (liveIn_ != 0) pump_ = std::jthread([this](std::stop_token st) { Pump(st); });
    return true;
  }

  // The device leaves the bus: what is in flight ends with -ESHUTDOWN, everything later with
  // ENODEV, and udev hears "remove" for every node, children first (hidraw, hid, interface,
  // device).
  void Unplug() {
    {
      std::lock_guard lock(mutex_);
      if (gone_) return;
      gone_ = true;
      while (!pendingIn_.empty()) {
        Urb u = pendingIn_.front();
        pendingIn_.pop_front();
        Finish(u, -ESHUTDOWN, 0);
      }
      DrainFifo();  // the client must notice even when nothing was in flight
    }
    cv_.notify_all();
    std::lock_guard bind(bindMutex_);
    for (Interface& i : interfaces_) {
      if (i.hid != nullptr) {
        i.hid->Remove();
        retiredHid_.push_back(std::move(i.hid));
      }
      testbed_.UeventAndRemove("/sys" + i.path);
    }
    testbed_.UeventAndRemove(Syspath());
  }

 private:
  struct Interface {
    int number = 0;
    int cls = 0;
    int endpoints = 0;
    int iInterface = 0;
    std::vector<int> endpointAddresses;
    std::string path;                         // sysfs path without "/sys"
    std::string defaultDriver;                // what the kernel binds on its own
    std::string driver;                       // bound now: a kernel driver, usbfs (claimed) or none
    UMockdevIoctlClient* claimant = nullptr;  // the usbfs client holding it (not referenced)
    std::unique_ptr<HidNode> hid;
  };

  // umockdev writes an ioctl's data back to the client after the handler has completed it, on its
  // own thread. A URB's memory is therefore only touched inside the handler of the ioctl that
  // carries it back: its outcome waits here until the REAP.
  struct Urb {
    UMockdevIoctlClient* client = nullptr;  // referenced
    UMockdevIoctlData* urb = nullptr;       // referenced: the client's usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;    // referenced: its data buffer
    int status = 0;
    int actualLength = 0;
    std::vector<std::uint8_t> payload;  // IN data to copy into the buffer at the REAP
  };

  std::uint16_t BcdDevice() const { return static_cast<std::uint16_t>(spec_.device[12] | (spec_.device[13] << 8)); }

  bool StringOf(std::uint8_t index, std::string& out) const {
    switch (spec_.kind) {
      case DeviceKind::RootHub: {
        const char* texts[] = {nullptr, kRootHubSerial, kRootHubProduct, kRootHubManufacturer};  // a root hub's order
        if (index == 0 || index > 3) return false;
        out = texts[index];
        return true;
      }
      case DeviceKind::Controller:
        return SimBox::StringDescriptor(BoxFunction::Controller, index, out);
      case DeviceKind::Bridge:
      case DeviceKind::Silent:
        if (index == 1) out = spec_.hid.manufacturer;
        if (index == 2) out = spec_.hid.product;
        return index == 1 || index == 2;
    }
    return false;
  }

  // The sysfs entries of the device and its interfaces, with the attributes the kernel writes.
  std::string SysfsText() const {
    const bool hub = spec_.kind == DeviceKind::RootHub;
    const auto& d = spec_.device;
    const int numInterfaces = spec_.config.size() > 4 ? spec_.config[4] : 0;
    char product[32];
    std::snprintf(product, sizeof product, "%x/%x/%x", spec_.hid.vendorId, spec_.hid.productId, BcdDevice());
    char type[16];
    std::snprintf(type, sizeof type, "%d/%d/%d", d[4], d[5], d[6]);
    char busdev[64];
    std::snprintf(busdev, sizeof busdev, "E: BUSNUM=%03d\nE: DEVNUM=%03d\n", kBusNumber, spec_.devnum);
    char numIf[8];
    std::snprintf(numIf, sizeof numIf, "%2d", numInterfaces);
    char maxPower[16];
    std::snprintf(maxPower, sizeof maxPower, "%dmA", spec_.config.size() > 8 ? spec_.config[8] * 2 : 0);
    std::string manufacturer, productText, serial;
    StringOf(d[14], manufacturer);
    StringOf(d[15], productText);
    const bool hasSerial = d[16] != 0 && StringOf(d[16], serial);

    std::string text = "P: " + path_ + "\nN: " + relNode_ + "\n";
    text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: DEVNAME=" + devnode_ + "\n";
    text += busdev;
    text += std::string("E: PRODUCT=") + product + "\nE: TYPE=" + type + "\n";
    text += Attr("busnum", std::to_string(kBusNumber)) + Attr("devnum", std::to_string(spec_.devnum));
    text += Attr("devpath", std::to_string(spec_.port));
    text += Attr("speed", hub ? "480" : "12") + Attr("version", " 2.00");
    text += Attr("maxchild", std::to_string(hub ? kRootHubPorts : 0));
    text += Attr("idVendor", Hex4(spec_.hid.vendorId)) + Attr("idProduct", Hex4(spec_.hid.productId));
    text += Attr("bcdDevice", Hex4(BcdDevice()));
    text +=
        Attr("bDeviceClass", Hex2(d[4])) + Attr("bDeviceSubClass", Hex2(d[5])) + Attr("bDeviceProtocol", Hex2(d[6]));
    text += Attr("bMaxPacketSize0", std::to_string(d[7])) + Attr("bNumConfigurations", std::to_string(d[17]));
    text += Attr("bConfigurationValue", "1") + Attr("bNumInterfaces", numIf);
    text += Attr("bmAttributes", Hex2(spec_.config.size() > 7 ? spec_.config[7] : 0x80)) + Attr("bMaxPower", maxPower);
    text += Attr("manufacturer", manufacturer) + Attr("product", productText);
    if (hasSerial) text += Attr("serial", serial);
    text += Attr("authorized", "1") + Attr("removable", hub ? "unknown" : "removable");
    text += "L: driver=" + UpToSys("/sys" + path_) + "bus/usb/drivers/usb\n";
    std::vector<std::uint8_t> descriptors(d.begin(), d.end());
    descriptors.insert(descriptors.end(), spec_.config.begin(), spec_.config.end());
    text += "H: descriptors=" + HexString(descriptors) + "\n\n";

    for (const Interface& i : interfaces_) {
      char modalias[96];
      std::snprintf(modalias, sizeof modalias, "usb:v%04Xp%04Xd%04Xdc%02Xdsc%02Xdp%02Xic%02Xisc00ip00in%02X",
                    spec_.hid.vendorId, spec_.hid.productId, BcdDevice(), d[4], d[5], d[6], i.cls, i.number);
      char alt[8];
      std::snprintf(alt, sizeof alt, "%2d", 0);
      text += "P: " + i.path + "\n";
      text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n";
      text += std::string("E: PRODUCT=") + product + "\nE: TYPE=" + type + "\n";
      text += "E: INTERFACE=" + std::to_string(i.cls) + "/0/0\n";
      text += std::string("E: MODALIAS=") + modalias + "\n";
      if (!i.driver.empty()) text += "E: DRIVER=" + i.driver + "\n";
      text += Attr("bInterfaceNumber", Hex2(static_cast<unsigned>(i.number))) + Attr("bAlternateSetting", alt);
      text += Attr("bNumEndpoints", Hex2(static_cast<unsigned>(i.endpoints)));
      text += Attr("bInterfaceClass", Hex2(static_cast<unsigned>(i.cls)));
      text += Attr("bInterfaceSubClass", "00") + Attr("bInterfaceProtocol", "00");
      text += Attr("authorized", "1") + Attr("supports_autosuspend", "1");
      std::string interfaceText;
      if (i.iInterface != 0 && StringOf(static_cast<std::uint8_t>(i.iInterface), interfaceText))
        text += Attr("interface", interfaceText);
      text += Attr("modalias", modalias);
      if (!i.driver.empty()) text += "L: driver=" + UpToSys("/sys" + i.path) + "bus/usb/drivers/" + i.driver + "\n";
      text += "\n";
    }
    return text;
  }

  // ---- kernel drivers on the interfaces (caller holds bindMutex_) ----

  bool AddHidNode(Interface& i, std::string* error) {
    BoxFunction function = spec_.kind == DeviceKind::Controller ? BoxFunction::Controller : BoxFunction::Bridge;
    auto report = SimBox::HidReportDescriptor(function, i.number);
    int hidId = 0, hidraw = 0;
    {
      std::lock_guard lock(testbed_.mutex);  // the counters are shared by all devices
      hidId = counters_.nextHidId++;
      hidraw = counters_.nextHidraw++;
    }
    // Only the bridge's node carries reports; the controller's are there as the kernel makes them.
    auto node = std::make_unique<HidNode>(testbed_, spec_.kind == DeviceKind::Bridge ? box_ : nullptr, spec_.hid,
                                          i.path, i.number, spec_.port, hidId, hidraw, std::move(report), session_,
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
  void Unbind(Interface& i) {
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

  void BindUsbfs(Interface& i, UMockdevIoctlClient* client) {
    i.driver = kUsbfsDriver;
    i.claimant = client;
    testbed_.SetDriver("/sys" + i.path, "usb", i.driver);
    testbed_.Uevent("/sys" + i.path, "bind");
  }

  // The kernel probes its driver again (USBDEVFS_CONNECT): true when one bound.
  bool BindDefault(Interface& i) {
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

  Interface* Find(int number) {
    for (Interface& i : interfaces_) {
      if (i.number == number) return &i;
    }
    return nullptr;
  }
  Interface* FindByEndpoint(int endpoint) {
    for (Interface& i : interfaces_) {
      if (std::find(i.endpointAddresses.begin(), i.endpointAddresses.end(), endpoint) != i.endpointAddresses.end())
        return &i;
    }
    return nullptr;
  }

  bool Gone() {
    std::lock_guard lock(mutex_);
    return gone_;
  }

  // usbfs claim (CLAIMINTERFACE, and implicitly before a transfer): a bound driver refuses.
  int ClaimLocked(Interface& i, UMockdevIoctlClient* client) {
    if (i.claimant == client) return 0;
    if (!i.driver.empty()) return EBUSY;
    BindUsbfs(i, client);
    return 0;
  }

  bool Claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
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

  bool DisconnectClaim(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
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

  bool Release(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
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

  bool GetDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
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
  bool DriverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
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

  // ---- usbfs ----

  static usbdevfs_urb* Fields(const Urb& u) { return reinterpret_cast<usbdevfs_urb*>(u.urb->data); }

  static void Drop(Urb& u) {
    if (u.buffer != nullptr) g_object_unref(u.buffer);
    if (u.urb != nullptr) g_object_unref(u.urb);
    if (u.client != nullptr) g_object_unref(u.client);
    u = {};
  }

  // Caller holds mutex_.
  void Finish(Urb& u, int status, int actualLength) {
    u.status = status;
    u.actualLength = actualLength;
    reapable_.push_back(u);
    DrainFifo();
  }

  bool MakeFifo(std::string* error) {
    const std::string path = testbed_.root + devnode_;
    unlink(path.c_str());
    if (mkfifo(path.c_str(), 0666) != 0) {
      if (error != nullptr) *error = "mkfifo " + path + ": " + std::strerror(errno);
      return false;
    }
    fifoFd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fifoFd_ < 0) {
      if (error != nullptr) *error = "open " + path + ": " + std::strerror(errno);
      return false;
    }
    fcntl(fifoFd_, F_SETPIPE_SZ, 4096);
    std::lock_guard lock(mutex_);
    FillFifo();
    return true;
  }

  // A full one-slot FIFO is not writable: the client's poll for POLLOUT waits. Drained, it is
  // writable, and the client reaps.
  void FillFifo() {
    if (fifoFull_ || fifoFd_ < 0) return;
    const char byte = 0;
    fifoFull_ = write(fifoFd_, &byte, 1) == 1;
  }
  void DrainFifo() {
    if (!fifoFull_ || fifoFd_ < 0) return;
    char bytes[64];
    while (read(fifoFd_, bytes, sizeof bytes) > 0) {
    }
    fifoFull_ = false;
  }

  // The next report of the live IN endpoint from the box.
  InResult PopIn(std::vector<std::uint8_t>& out, std::stop_token st) {
    if (spec_.kind == DeviceKind::Controller) {
      ControllerReport report{};
      const InResult r = box_->PopControllerIn(session_, report, std::chrono::milliseconds(20), st);
      if (r == InResult::Report) out.assign(report.begin(), report.end());
      return r;
    }
    BridgeReport report{};
    const InResult r = box_->BridgeRead(session_, report, std::chrono::milliseconds(20), st);
    if (r == InResult::Report) out.assign(report.begin() + 1, report.end());  // no report ids on the wire
    return r;
  }

  OutResult PushOut(std::span<const std::uint8_t> data) {
    if (spec_.kind == DeviceKind::Controller) return box_->ControllerOut(session_, data);
    if (data.size() > kBridgeReportSize - 1) return OutResult::InvalidParam;
    std::array<std::uint8_t, kBridgeReportSize> report{};
    std::copy(data.begin(), data.end(), report.begin() + 1);
    return box_->BridgeWrite(session_, report);
  }

  bool HasPendingLive() const {
    return std::any_of(pendingIn_.begin(), pendingIn_.end(),
                       [&](const Urb& u) { return Fields(u)->endpoint == liveIn_; });
  }

  void Pump(std::stop_token st) {
    while (!st.stop_requested()) {
      {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, st, std::chrono::milliseconds(100), [&] { return gone_ || HasPendingLive(); });
        if (gone_) return;
        if (!HasPendingLive()) continue;
      }
      std::vector<std::uint8_t> report;
      bool have = false;
      if (held_) {
        report = std::move(*held_);
        held_.reset();
        have = true;
      } else {
        const InResult r = PopIn(report, st);
        if (r == InResult::Report) have = true;
        if (r == InResult::NoDevice) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      if (!have) continue;
      std::lock_guard lock(mutex_);
      auto it = std::find_if(pendingIn_.begin(), pendingIn_.end(),
                             [&](const Urb& u) { return Fields(u)->endpoint == liveIn_; });
      if (gone_ || it == pendingIn_.end()) {
        held_ = std::move(report);  // the transfer was discarded meanwhile: keep the report for the next one
        continue;
      }
      Urb u = *it;
      pendingIn_.erase(it);
      const std::size_t room = u.buffer != nullptr ? static_cast<std::size_t>(u.buffer->data_len) : 0;
      const std::size_t n = std::min(report.size(), room);
      u.payload.assign(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(n));
      Finish(u, 0, static_cast<int>(n));
    }
  }

  // A client that closes the node (or dies) loses its URBs and its claims; as in the kernel, the
  // interfaces it held stay without a driver until someone asks for one (USBDEVFS_CONNECT).
  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* self = static_cast<UsbDevice*>(data);
    {
      std::lock_guard lock(self->mutex_);
      auto dropFor = [&](std::deque<Urb>& list) {
        for (auto it = list.begin(); it != list.end();) {
          if (it->client == client) {
            Drop(*it);
            it = list.erase(it);
          } else {
            ++it;
          }
        }
      };
      dropFor(self->pendingIn_);
      dropFor(self->reapable_);
      if (self->reapable_.empty() && !self->gone_) self->FillFifo();
    }
    std::lock_guard bind(self->bindMutex_);
    if (self->Gone()) return;
    for (Interface& i : self->interfaces_) {
      if (i.claimant == client) self->Unbind(i);
    }
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    return static_cast<UsbDevice*>(data)->HandleIoctl(client) ? TRUE : FALSE;
  }

  // The ioctl argument is the client's pointer; this is the memory it points to (new reference).
  static UMockdevIoctlData* Pointee(UMockdevIoctlData* arg, std::size_t size) {
    if (arg == nullptr || arg->data_len < static_cast<gint>(sizeof(void*))) return nullptr;
    GError* gerror = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, &gerror);
    if (gerror != nullptr) g_error_free(gerror);
    return data;
  }

  bool HandleIoctl(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        const std::uint32_t caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        UMockdevIoctlData* out = Pointee(arg, sizeof caps);
        if (out == nullptr) return Fail(client, EFAULT);
        std::memcpy(out->data, &caps, sizeof caps);
        g_object_unref(out);
        return Ok(client, 0);
      }
      case USBDEVFS_CLAIMINTERFACE:
        return Claim(client, arg);
      case USBDEVFS_DISCONNECT_CLAIM:
        return DisconnectClaim(client, arg);
      case USBDEVFS_RELEASEINTERFACE:
        return Release(client, arg);
      case USBDEVFS_GETDRIVER:
        return GetDriver(client, arg);
      case USBDEVFS_IOCTL:
        return DriverIoctl(client, arg);
      case USBDEVFS_SETCONFIGURATION:
      case USBDEVFS_SETINTERFACE:
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESETEP:
      case USBDEVFS_RESET: {
        std::lock_guard lock(mutex_);
        return gone_ ? Fail(client, ENODEV) : Ok(client, 0);
      }
      case USBDEVFS_SUBMITURB:
        return Submit(client, arg);
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        return Reap(client, arg);
      case USBDEVFS_DISCARDURB:
        return Discard(client, arg);
      default:
        return false;
    }
  }

  static bool Ok(UMockdevIoctlClient* client, long result) {
    umockdev_ioctl_client_complete(client, result, 0);
    return true;
  }
  static bool Fail(UMockdevIoctlClient* client, int error) {
    umockdev_ioctl_client_complete(client, -1, error);
    return true;
  }

  bool Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    {
      std::lock_guard lock(mutex_);
      if (gone_) return Fail(client, ENODEV);
    }
    UMockdevIoctlData* urb = Pointee(arg, sizeof(usbdevfs_urb));
    if (urb == nullptr) return Fail(client, EFAULT);
    auto* fields = reinterpret_cast<usbdevfs_urb*>(urb->data);
    if (fields->buffer_length < 0 || fields->buffer_length > 65536) {
      g_object_unref(urb);
      return Fail(client, EINVAL);
    }
    if (fields->type != USBDEVFS_URB_TYPE_CONTROL) {
      // As usbfs: the endpoint must exist, and its interface is claimed for the client unless a
      // driver holds it.
      std::lock_guard bind(bindMutex_);
      Interface* i = FindByEndpoint(fields->endpoint);
      const int r = i == nullptr ? ENOENT : ClaimLocked(*i, client);
      if (r != 0) {
        g_object_unref(urb);
        return Fail(client, r);
      }
    }
    UMockdevIoctlData* buffer = nullptr;
    if (fields->buffer_length > 0) {
      GError* gerror = nullptr;
      buffer = umockdev_ioctl_data_resolve(urb, offsetof(usbdevfs_urb, buffer),
                                           static_cast<gsize>(fields->buffer_length), &gerror);
      if (gerror != nullptr) g_error_free(gerror);
      if (buffer == nullptr) {
        g_object_unref(urb);
        return Fail(client, EFAULT);
      }
    }
    Urb u{static_cast<UMockdevIoctlClient*>(g_object_ref(client)), urb, buffer};
    const bool in = (fields->endpoint & 0x80) != 0;

    if (fields->type == USBDEVFS_URB_TYPE_CONTROL) {
      const int n = Control(u);
      std::lock_guard lock(mutex_);
      Finish(u, n < 0 ? -EPIPE : 0, n < 0 ? 0 : n);
      return Ok(client, 0);
    }
    if (fields->type != USBDEVFS_URB_TYPE_INTERRUPT && fields->type != USBDEVFS_URB_TYPE_BULK) {
      Drop(u);
      return Fail(client, EINVAL);
    }
    if (in) {
      // The live endpoint's transfers complete with the box's reports; the others stay pending
      // (an interrupt endpoint with nothing to say) until discarded or unplugged.
      {
        std::lock_guard lock(mutex_);
        pendingIn_.push_back(u);
      }
      cv_.notify_all();
      return Ok(client, 0);
    }
    const std::size_t length = buffer != nullptr ? static_cast<std::size_t>(buffer->data_len) : 0;
    OutResult r = OutResult::Ok;
    if (fields->endpoint == liveOut_ && liveOut_ != 0) {
      // The box takes the report at once (or, paced, at its next slot).
      r = PushOut(std::span<const std::uint8_t>(buffer != nullptr ? buffer->data : nullptr, length));
    }
    std::lock_guard lock(mutex_);
    if (r == OutResult::NoDevice) {
      Finish(u, -ESHUTDOWN, 0);
    } else if (r == OutResult::InvalidParam) {
      Finish(u, -EOVERFLOW, 0);
    } else {
      Finish(u, 0, static_cast<int>(length));
    }
    return Ok(client, 0);
  }

  static void PutString(std::vector<std::uint8_t>& answer, std::string text) {
    text.resize(std::min<std::size_t>(text.size(), 126));
    answer.push_back(static_cast<std::uint8_t>(2 + 2 * text.size()));
    answer.push_back(3);
    for (const char c : text) {
      answer.push_back(static_cast<std::uint8_t>(c));
      answer.push_back(0);
    }
  }

  // Answers a control transfer in place; returns the data length or -1 for a stall.
  int Control(Urb& u) {
    if (u.buffer == nullptr || u.buffer->data_len < 8) return -1;
    std::uint8_t* setup = u.buffer->data;
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const int value = setup[2] | (setup[3] << 8);
    const int index = setup[4] | (setup[5] << 8);
    const int wLength = setup[6] | (setup[7] << 8);
    const int room = std::min(wLength, u.buffer->data_len - 8);
    const bool hub = spec_.kind == DeviceKind::RootHub;
    std::vector<std::uint8_t> answer;
    if ((requestType & 0x80) == 0) {
      return 0;  // host-to-device requests (set configuration, set idle, port features...) are accepted
    } else if (requestType == 0x80 && request == 6) {  // GET_DESCRIPTOR from the device
      const int type = value >> 8;
      const auto stringIndex = static_cast<std::uint8_t>(value & 0xFF);
      if (type == 1) {
        answer.assign(spec_.device.begin(), spec_.device.end());
      } else if (type == 2) {
        answer = spec_.config;
      } else if (type == 3 && stringIndex == 0) {
        answer = {4, 3, 0x09, 0x04};
      } else if (type == 3) {
        std::string text;
        if (!StringOf(stringIndex, text)) return -1;
        PutString(answer, text);
      } else {
        return -1;  // no device qualifier (full speed only) and no BOS (USB 2.0)
      }
    } else if ((requestType & 0x9F) == 0x80 && request == 0) {  // GET_STATUS: device, interface, endpoint
      answer = {static_cast<std::uint8_t>(hub && (requestType & 0x1F) == 0 ? 0x01 : 0x00), 0};
    } else if (requestType == 0x80 && request == 8) {  // GET_CONFIGURATION
      answer = {1};
    } else if (requestType == 0x81 && request == 10) {  // GET_INTERFACE
      answer = {0};
    } else if (hub && requestType == 0xA0 && request == 6 && (value >> 8) == 0x29) {  // hub descriptor
      answer = {11, 0x29, kRootHubPorts, 0x0A, 0x00, 10, 0, 0x00, 0x00, 0xFF, 0xFF};
    } else if (hub && requestType == 0xA0 && request == 0) {  // hub status
      answer = {0, 0, 0, 0};
    } else if (hub && requestType == 0xA3 &&
               request == 0) {  // port status: powered, and connected and enabled when in use
      if (index < 1 || index > kRootHubPorts) return -1;
      const bool connected = portConnected_ && portConnected_(index);
      answer = {static_cast<std::uint8_t>(connected ? 0x03 : 0x00), 0x01, 0, 0};
    } else {
      return -1;
    }
    const int n = std::min(room, static_cast<int>(answer.size()));
    if (n > 0) std::memcpy(setup + 8, answer.data(), static_cast<std::size_t>(n));
    return n;
  }

  bool Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(reapable_.begin(), reapable_.end(), [&](const Urb& u) { return u.client == client; });
    if (it == reapable_.end()) {
      if (gone_) return Fail(client, ENODEV);
      if (reapable_.empty()) FillFifo();
      return Fail(client, EAGAIN);
    }
    // The argument points to the client's `void*` slot, which receives the URB's address.
    UMockdevIoctlData* slot = Pointee(arg, sizeof(void*));
    if (slot == nullptr) return Fail(client, EFAULT);
    Urb u = *it;
    reapable_.erase(it);
    Fields(u)->status = u.status;
    Fields(u)->actual_length = u.actualLength;
    if (!u.payload.empty()) std::memcpy(u.buffer->data, u.payload.data(), u.payload.size());
    umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
    g_object_unref(slot);
    if (reapable_.empty() && !gone_) FillFifo();
    Ok(client, 0);
    Drop(u);
    return true;
  }

  bool Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    // _IO request: the argument is the URB's address itself.
    gulong address = 0;
    if (arg != nullptr && arg->data_len >= static_cast<gint>(sizeof(gulong))) {
      std::memcpy(&address, arg->data, sizeof address);
    }
    std::lock_guard lock(mutex_);
    auto it = std::find_if(pendingIn_.begin(), pendingIn_.end(), [&](const Urb& u) {
      return u.client == client &&
             (u.urb->client_addr == address || (arg != nullptr && u.urb->client_addr == arg->client_addr));
    });
    if (it == pendingIn_.end()) return Fail(client, EINVAL);
    Urb u = *it;
    pendingIn_.erase(it);
    Finish(u, -ENOENT, 0);
    return Ok(client, 0);
  }

  Testbed& testbed_;
  Counters& counters_;
  std::shared_ptr<SimBox> box_;
  DeviceSpec spec_;
  std::uint64_t session_;
  std::function<bool(int)> portConnected_;
  std::string name_, path_, relNode_, devnode_;
  std::uint8_t liveIn_ = 0;   // the IN endpoint the box answers on (0: none)
  std::uint8_t liveOut_ = 0;  // the OUT endpoint whose reports reach the box (0: none)
  UMockdevIoctlBase* handler_ = nullptr;
  bool attached_ = false;

  // Driver state of the interfaces. Taken before mutex_ when both are needed.
  std::recursive_mutex bindMutex_;
  std::vector<Interface> interfaces_;
  std::vector<std::unique_ptr<HidNode>> retiredHid_;  // removed, kept until the device goes

  std::mutex mutex_;
  std::condition_variable_any cv_;
  bool gone_ = false;
  std::deque<Urb> pendingIn_;
  std::deque<Urb> reapable_;
  std::optional<std::vector<std::uint8_t>> held_;  // pump thread only
  int fifoFd_ = -1;
  bool fifoFull_ = false;
  std::jthread pump_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

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
