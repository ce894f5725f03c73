#pragma once
// The simulated box as umockdev devices: unmodified libusb, hidapi and libudev code in this
// process (with the umockdev preload active) or in a child started with the preload sees bus 1
// with its root hub and the box's controller and bridge as usbfs devices, their HID interfaces
// bound to the kernel's HID driver with hidraw nodes (the bridge's carries its reports).
//
// The testbed is created in this process (it sets UMOCKDEV_DIR). Presence follows the SimBox:
// SimBox::Unplug / Plug (directly, by a scenario or by a controller reset) remove and re-add
// the devices with the uevents the kernel would send.

#include <cstdint>
#include <memory>
#include <string>

#include "sim/sim_box.h"

namespace varnex2::sim {

// A HID device beside the box that accepts every report and never answers.
struct SilentHidDevice {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string manufacturer;
  std::string product;
};

class UmockdevBox {
 public:
  // Builds the testbed and adds the box's functions that are present. Create the testbed
  // before the code under test initialises libusb or creates a udev monitor.
  // Null (and `error` filled) when umockdev cannot be set up.
  static std::unique_ptr<UmockdevBox> Create(std::shared_ptr<SimBox> box, std::string* error = nullptr);
  ~UmockdevBox();
  UmockdevBox(const UmockdevBox&) = delete;
  UmockdevBox& operator=(const UmockdevBox&) = delete;

  // The testbed's root folder (the value of UMOCKDEV_DIR).
  std::string RootDir() const;
  const std::shared_ptr<SimBox>& Box() const;

  // Adds another HID device (same hidraw shape as the bridge). Returns its sysfs path, empty on
  // failure.
  std::string AddSilentHidDevice(const SilentHidDevice& device);
  // Unplugs a device added by AddSilentHidDevice.
  void RemoveSilentHidDevice(const std::string& syspath);

  struct Impl;

 private:
  explicit UmockdevBox(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace varnex2::sim
