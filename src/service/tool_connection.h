#pragma once
// What the service tools share about the box: one controller link opened by the tool itself
// (the station's core never runs beside a tool), the titles and version text of the connected
// controller, and which device changes concern it.

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "device/controller_link.h"
#include "device/controller_record.h"
#include "platform/device_monitor.h"
#include "platform/usb_port.h"

namespace varnex2::service {

inline constexpr const char* kToolNotFoundTitle = "Varnex2 Tester - 未找到设备";

// "Varnex2 Tester(FW=%x.%x[F=0x%02X V=0x%02X B=0x%02X]) - 设备已经连接": version high and low
// nibble, family, variant, build.
std::string ToolConnectedTitle(const device::ControllerRecord& record);
// "固件版本%x.%x,Family=0x%02X Variant=0x%02X Build=0x%02X".
std::string FirmwareVersionText(const device::ControllerRecord& record);

// An arrival or removal of the controller's main interface ("VID_03EB", "PID_212C", "COL01").
bool ConcernsController(const platform::DeviceEvent& event);

// The controller link of a service tool. The window's thread (opening, device changes) and a
// tool's worker take turns on it through Lock(); every controller call is made under it.
class ToolConnection {
 public:
  explicit ToolConnection(platform::UsbPort& port);
  ~ToolConnection();
  ToolConnection(const ToolConnection&) = delete;
  ToolConnection& operator=(const ToolConnection&) = delete;

  // OpenController (the box's ids and strings), then ReadInfoBlock. 0, or the first failing
  // code; the connection is closed again on failure. Each call takes Lock() itself.
  int Open();
  // The two halves of Open, for the self-test's first two steps: the USB link alone, then the
  // information block (the connection counts as open once it has been read).
  int OpenLink();
  int ReadInfo();
  void Close();
  bool IsOpen() const { return open_; }

  device::ControllerLink& Link() { return link_; }
  // The link's record, read by the last successful Open (the object operations use it);
  // nullptr when not open.
  const device::ControllerRecord* Record() { return open_ ? link_.Record() : nullptr; }

  [[nodiscard]] std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }

  // Tests over an emulated bus widen the link's answer wait (see ControllerLink).
  void SetAnswerTimeout(std::chrono::milliseconds timeout) { link_.SetAnswerTimeout(timeout); }

 private:
  std::recursive_mutex mutex_;
  device::ControllerLink link_;
  std::atomic<bool> open_{false};
};

}  // namespace varnex2::service
