#pragma once
// Internal to the umockdev adapter (not for use outside its umockdev_*.cpp files): a USB device on
// the emulated bus, the root hub included. The class is declared here and defined in three files
// by responsibility: umockdev_usb_device.cpp (life on the bus, sysfs attributes, the descriptor
// answers of control transfers), umockdev_usb_drivers.cpp (kernel drivers bound to the interfaces:
// claim, detach, release, connect with their uevents) and umockdev_usbfs.cpp (the usbfs ioctls and
// the URB transfers that carry the box's reports).

#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_box.h"
#include "sim/umockdev_hidraw.h"
#include "sim/umockdev_testbed.h"

namespace varnex2::sim::umockdev_detail {

constexpr const char* kUsbRoot = "/devices/pci0000:00/0000:00:14.0/usb1";
constexpr int kBusNumber = 1;
constexpr int kRootHubPorts = 15;
constexpr int kRootHubDevnum = 1;
constexpr int kMaxDevnum = 127;  // usbfs device numbers are 1..127 per bus

constexpr const char* kHidDriver = "usbhid";
constexpr const char* kHubDriver = "hub";
constexpr const char* kUsbfsDriver = "usbfs";

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
std::array<std::uint8_t, 18> RootHubDeviceDescriptor();
std::vector<std::uint8_t> RootHubConfiguration();
constexpr const char* kRootHubManufacturer = "Linux 6.1.0 xhci-hcd";
constexpr const char* kRootHubProduct = "xHCI Host Controller";
constexpr const char* kRootHubSerial = "0000:00:14.0";

// A USB device on the bus: its sysfs device and interfaces, its usbfs node (an ioctl handler
// speaking the kernel's usbfs), the kernel drivers bound to its interfaces and, under each HID
// interface while its driver is bound, a HidNode.
class UsbDevice {
 public:
  // `portConnected` (root hub only): whether a device is attached to a port.
  UsbDevice(Testbed& testbed, Counters& counters, std::shared_ptr<SimBox> box, DeviceSpec spec, std::uint64_t session,
            std::function<bool(int)> portConnected = nullptr);
  ~UsbDevice();

  std::string Syspath() const { return "/sys" + path_; }
  int Devnum() const { return spec_.devnum; }
  int Port() const { return spec_.port; }

  bool Add(std::string* error);
  // The device leaves the bus: what is in flight ends with -ESHUTDOWN, everything later with
  // ENODEV, and udev hears "remove" for every node, children first (hidraw, hid, interface,
  // device).
  void Unplug();

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

  // ---- sysfs and descriptors (umockdev_usb_device.cpp) ----

  bool StringOf(std::uint8_t index, std::string& out) const;
  std::string SysfsText() const;
  static void PutString(std::vector<std::uint8_t>& answer, std::string text);
  int Control(Urb& u);

  // ---- kernel drivers on the interfaces (caller holds bindMutex_; umockdev_usb_drivers.cpp) ----

  bool AddHidNode(Interface& i, std::string* error);
  void Unbind(Interface& i);
  void BindUsbfs(Interface& i, UMockdevIoctlClient* client);
  bool BindDefault(Interface& i);
  Interface* Find(int number);
  Interface* FindByEndpoint(int endpoint);
  bool Gone();
  int ClaimLocked(Interface& i, UMockdevIoctlClient* client);
  bool Claim(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  bool DisconnectClaim(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  bool Release(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  bool GetDriver(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  bool DriverIoctl(UMockdevIoctlClient* client, UMockdevIoctlData* arg);

  // ---- usbfs (umockdev_usbfs.cpp) ----

  static usbdevfs_urb* Fields(const Urb& u);
  static void Drop(Urb& u);
  void Finish(Urb& u, int status, int actualLength);
  bool MakeFifo(std::string* error);
  void FillFifo();
  void DrainFifo();
  InResult PopIn(std::vector<std::uint8_t>& out, std::stop_token st);
  OutResult PushOut(std::span<const std::uint8_t> data);
  bool HasPendingLive() const;
  void Pump(std::stop_token st);
  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
  static UMockdevIoctlData* Pointee(UMockdevIoctlData* arg, std::size_t size);
  bool HandleIoctl(UMockdevIoctlClient* client);
  static bool Ok(UMockdevIoctlClient* client, long result);
  static bool Fail(UMockdevIoctlClient* client, int error);
  bool Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  bool Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  bool Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);

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

}  // namespace varnex2::sim::umockdev_detail
