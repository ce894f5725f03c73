#pragma once
// What the gain dialogs ask of the station: the test cycle's stop and resume, and access to the
// controller's configuration objects. GainAccessFor adapts the station core; tests fake it.

#include <cstdint>
#include <span>

#include "device/controller_ops.h"
#include "device/controller_record.h"
#include "device/result_codes.h"

namespace varnex2::service {

// The objects the gain dialogs edit.
inline constexpr std::uint8_t kT46Object = device::kT46CteConfig;  // capacitive-engine configuration
inline constexpr std::uint8_t kT56Object = device::kT56Shieldless;  // single-layer sensor set-up

class GainAccess {
 public:
  virtual ~GainAccess() = default;
  virtual int StopTestThread() = 0;
  virtual void ResumeTest() = 0;
  // Instance 0 of `type`, the first bytes up to the object's size. 0 on success; an object the
  // controller does not have is kErrObjectAbsent (nothing moved), no link kErrNoHandle.
  virtual int ReadObject(std::uint8_t type, std::span<std::uint8_t> dest) = 0;
  virtual int WriteObject(std::uint8_t type, std::span<const std::uint8_t> source) = 0;
  // The configuration into the controller's non-volatile memory; false when it was not sent.
  virtual bool BackupSettings() = 0;
  // Reset and reopen (device::ResetController): 0 when the link is open again.
  virtual int ResetController() = 0;
};

// Over a core with StopTestThread, ResumeTest, Controller() and LockController(): every
// controller access holds the core's controller lock.
template <class Core>
class GainAccessFor final : public GainAccess {
 public:
  explicit GainAccessFor(Core& core) : core_(core) {}

  int StopTestThread() override { return core_.StopTestThread(); }
  void ResumeTest() override { core_.ResumeTest(); }

  int ReadObject(std::uint8_t type, std::span<std::uint8_t> dest) override {
    auto turn = core_.LockController();
    device::ControllerLink* link = core_.Controller();
    const int absent = Absent(link, type);
    return absent != device::kOk ? absent : device::ReadObject(*link, type, 0, dest);
  }
  int WriteObject(std::uint8_t type, std::span<const std::uint8_t> source) override {
    auto turn = core_.LockController();
    device::ControllerLink* link = core_.Controller();
    const int absent = Absent(link, type);
    return absent != device::kOk ? absent : device::WriteObject(*link, type, 0, source);
  }
  bool BackupSettings() override {
    auto turn = core_.LockController();
    device::ControllerLink* link = core_.Controller();
    return link != nullptr && device::BackupSettings(*link);
  }
  int ResetController() override {
    auto turn = core_.LockController();
    device::ControllerLink* link = core_.Controller();
    if (link == nullptr || link->Record() == nullptr) return device::kErrNoHandle;
    return device::ResetController(*link, *link->Record());
  }

 private:
  // device::ReadObject and WriteObject move nothing and answer 0 for an absent object; the
  // dialogs must not take that for the object's contents.
  static int Absent(device::ControllerLink* link, std::uint8_t type) {
    if (link == nullptr || link->Record() == nullptr) return device::kErrNoHandle;
    return device::ObjectSize(*link->Record(), type) == 0 ? device::kErrObjectAbsent : device::kOk;
  }

  Core& core_;
};

}  // namespace varnex2::service
