#pragma once
// The in-process back-ends of the platform seams over a SimBox.

#include <memory>

#include "platform/device_monitor.h"
#include "platform/hid_port.h"
#include "platform/usb_port.h"
#include "sim/sim_box.h"

namespace varnex2::sim {

std::unique_ptr<platform::UsbPort> CreateSimUsbPort(std::shared_ptr<SimBox> box);
std::unique_ptr<platform::HidPort> CreateSimHidPort(std::shared_ptr<SimBox> box);
std::unique_ptr<platform::DeviceMonitor> CreateSimDeviceMonitor(std::shared_ptr<SimBox> box);

}  // namespace varnex2::sim
