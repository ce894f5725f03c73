#pragma once
// A simulated box whose controller the firmware switch runs on, seen through a port that logs
// the register writes (as the object each lands in) and can refuse the writes into one object.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/controller_link.h"
#include "device/controller_ops.h"
#include "device/forwarding_usb_port.h"
#include "service/tool_connection.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"

namespace varnex2::tools::testing {

inline constexpr int kWaitMark = -1;  // a wait in the log

class LoggingPort : public device::testing::ForwardingUsbPort {
 public:
  LoggingPort(std::shared_ptr<sim::SimBox> box) : ForwardingUsbPort(sim::CreateSimUsbPort(box)), box_(std::move(box)) {}

  int InterruptWrite(std::uint8_t endpoint, std::span<const std::uint8_t> data, int& transferred,
                     std::chrono::milliseconds timeout) override {
    // A register write: 0x01 0x51 (count + 2) 0x00 address-low address-high data...
    if (data.size() >= 6 && data[1] == device::kCmdRegister && data[2] > 2) {
      const int type = ObjectAt(static_cast<std::uint16_t>(data[4] | data[5] << 8));
      if (log.empty() || log.back() != type) log.push_back(type);
      if (type == refusedObject) return platform::kUsbErrorIo;
    }
    return ForwardingUsbPort::InterruptWrite(endpoint, data, transferred, timeout);
  }

  // The object types a write touched, consecutive repeats folded, kWaitMark for a wait.
  std::vector<int> log;
  int refusedObject = 0;  // writes into this object type fail with kUsbErrorIo

 private:
  int ObjectAt(std::uint16_t address) const {
    for (std::uint8_t type : {6, 7, 9, 15, 25, 46}) {
      const std::uint16_t start = box_->ObjectAddress(type, 0);
      // All instances: T9 has two.
      const std::size_t span = box_->ObjectSize(type) * (box_->ObjectAddress(type, 1) ? 2 : 1);
      if (start != 0 && address >= start && address < start + span) return type;
    }
    return 0;
  }

  std::shared_ptr<sim::SimBox> box_;
};

// The box, its logging port and an open connection.
struct SimController {
  explicit SimController(sim::ControllerVariant variant = sim::ControllerVariant::Version11(), bool present = true)
      : box(MakeBox(variant, present)), port(box), connection(port) {
    auto lock = connection.Lock();
    opened = connection.Open();
  }

  static std::shared_ptr<sim::SimBox> MakeBox(sim::ControllerVariant variant, bool present) {
    sim::SimBoxOptions options;
    options.variant = variant;
    options.controllerPresent = present;
    return std::make_shared<sim::SimBox>(options);
  }

  // Overwrites (and backs up) everything the switch writes, so that what is read back after a
  // switch and a power cycle can only have come from the switch.
  void Scramble() {
    auto lock = connection.Lock();
    device::ControllerLink& link = connection.Link();
    std::array<std::uint8_t, 36> t9{};
    t9.fill(0x11);
    std::array<std::uint8_t, 4> t7{0x22, 0x22, 0x22, 0x22};
    std::array<std::uint8_t, 11> t15{};
    t15.fill(0x33);
    std::array<std::uint8_t, 11> t46{};
    t46.fill(0x44);
    std::array<std::uint8_t, 6> t25{3, 0, 1, 2, 3, 4};
    device::WriteObject(link, device::kT9Touchscreen, 0, t9);
    device::WriteObject(link, device::kT7Power, 0, t7);
    device::WriteObject(link, device::kT15KeyArray, 0, t15);
    device::WriteObject(link, device::kT46CteConfig, 0, t46);
    device::WriteObject(link, device::kT25SelfTest, 0, t25);
    device::BackupSettings(link);
    port.log.clear();
  }

  std::vector<std::uint8_t> Object(std::uint8_t type, std::size_t count) const {
    return box->ReadMemory(box->ObjectAddress(type, 0), count);
  }
  // The T9 instance 0 signal-limit slot of T25: upper, lower (little-endian).
  std::vector<std::uint8_t> T9Limits() const {
    return box->ReadMemory(static_cast<std::uint16_t>(box->ObjectAddress(device::kT25SelfTest, 0) + 2), 4);
  }
  void PowerCycle() {
    box->Unplug(sim::BoxFunction::Controller);
    box->Plug(sim::BoxFunction::Controller);
  }

  std::shared_ptr<sim::SimBox> box;
  LoggingPort port;
  service::ToolConnection connection;
  int opened = -1;
};

}  // namespace varnex2::tools::testing
