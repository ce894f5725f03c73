#pragma once
// The link session: the controller link and the bridge channel, the lock held around every use
// of the controller link, and the generations that tell a reconnect whether the loss it was
// started for has been dealt with already.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "device/controller_link.h"
#include "device/usb_channel.h"
#include "platform/hid_port.h"
#include "platform/usb_port.h"

namespace varnex2::station {

class LinkSession {
 public:
  // Either port may be null: the station then runs without that function of the box.
  LinkSession(platform::UsbPort* usb, platform::HidPort* hid);
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  device::ControllerLink* Controller() { return link_.get(); }
  device::CUSBChannel* Bridge() { return channel_.get(); }
  // Held around every use of the controller link (exchanges, open, close). The test thread is
  // its only user while it runs; the lock keeps a cycle that outlived StopTestThread's bound
  // from overlapping the next user.
  [[nodiscard]] std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }

  // Called (on the link's event thread) when a transfer fails; set before the first open.
  void SetLostCallback(device::ControllerLink::LostCallback callback);

  // Opens the controller link (device::kErrNoHandle without one); counts successful opens.
  int Open();
  // Opens the link unless it is open and connected already (then `alreadyOpen`), in one step,
  // so an arrival never takes a reopen in progress elsewhere for a failure.
  int OpenUnlessConnected(bool& alreadyOpen);
  // Closes the link; with `onlyGeneration`, only while no open has succeeded since that
  // generation was read (an arrival may have reopened it meanwhile). False: left open.
  bool Close(std::optional<std::uint64_t> onlyGeneration = std::nullopt);
  bool Connected();
  std::uint64_t Generation();  // counts successful opens

  // A loss (removal, failed transfer, failed open) was seen at the present generation. A
  // reconnect that starts after a newer open is stale.
  void NoteLoss() { lostGeneration_ = Generation(); }
  bool LossIsCurrent() { return Generation() == lostGeneration_.load(); }

  // Wakes an exchange waiting for its answer (no lock: the waiter holds it).
  void SignalResponse();
  // The box has gone (another of its interfaces was removed): exchanges are refused until
  // the next open.
  void ClearConnected();

  std::uint8_t BridgeConfigByte();
  void CloseBridge();

 private:
  int OpenLocked();

  std::unique_ptr<device::ControllerLink> link_;
  std::unique_ptr<device::CUSBChannel> channel_;
  std::recursive_mutex mutex_;
  std::uint64_t generation_ = 0;  // mutex_
  std::atomic<std::uint64_t> lostGeneration_{0};
};

}  // namespace varnex2::station
