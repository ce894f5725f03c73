#pragma once
// Seam: device arrival and removal events.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace varnex2::platform {

enum class DeviceEventKind { Arrival, Removal };

struct DeviceEvent {
  DeviceEventKind kind = DeviceEventKind::Arrival;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  int interfaceNumber = -1;
  // Interface path in the Windows device-interface form, for example
  // "\\?\HID#VID_03EB&PID_212C&MI_01&COL01#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}".
  // Back-ends on other systems synthesise it from what they know, so the path rules hold everywhere.
  std::string interfacePath;
};

using DeviceEventCallback = std::function<void(const DeviceEvent&)>;

class DeviceMonitor {
 public:
  virtual ~DeviceMonitor() = default;
  // Starts delivering events on the monitor's own thread. 0 on success.
  virtual int Start(DeviceEventCallback callback) = 0;
  // Stops delivery; no callback runs after Stop returns.
  virtual void Stop() = 0;
};

// The libudev back-end.
std::unique_ptr<DeviceMonitor> CreateUdevMonitor();

}  // namespace varnex2::platform
