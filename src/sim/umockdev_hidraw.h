#pragma once
// Internal to the umockdev adapter (not for use outside its umockdev_*.cpp files): the hid device
// and hidraw node the kernel's HID driver puts under a bound USB HID interface. The USB device
// creates one when its interface's driver binds and removes it when the driver lets go or the
// device leaves; it is a class of its own because it speaks hidraw, not usbfs.

#include <umockdev.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_box.h"
#include "sim/umockdev_testbed.h"

namespace varnex2::sim::umockdev_detail {

struct HidSpec {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string manufacturer;
  std::string product;
};

// hid device + hidraw node under a USB HID interface, as the kernel's HID driver creates them.
// With a box it is the bridge's node; without, it accepts every report and never answers. A
// streaming node is a pty (real read waits and device numbers); an inert one is a plain file
// with the same ioctls, which costs no descriptor for the testbed's life.
class HidNode {
 public:
  HidNode(Testbed& testbed, std::shared_ptr<SimBox> box, HidSpec spec, std::string interfacePath, int interfaceNumber,
          int port, int hidId, int hidrawIndex, std::vector<std::uint8_t> reportDescriptor, std::uint64_t session,
          bool streaming);
  ~HidNode();

  const std::string& HidrawSyspath() const { return hidrawPath_; }

  // Adds the hid device and its hidraw node ("add" uevents for both, parent first).
  bool Add(std::string* error);
  // The driver lets go of the interface, or the device leaves: the hidraw node goes first, then the
  // hid device, each with its "remove" uevent. An open file sees a hang-up.
  void Remove();

 private:
  std::string Phys() const;
  bool SetUpPty(std::string* error);
  void Pump(std::stop_token st);

  static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data);
  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data);
  static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
  static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);
  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data);

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

}  // namespace varnex2::sim::umockdev_detail
