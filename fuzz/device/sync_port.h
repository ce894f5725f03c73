#pragma once
// A UsbPort for fuzzing: every OUT report is answered at once, on the writer's thread, by a
// handler; the event thread only delivers the cancellation at close.

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/usb_port.h"

namespace varnex2::device::fuzzing {

class SyncPort : public platform::UsbPort {
 public:
  using Report = std::array<std::uint8_t, 64>;
  // Gets each request; calls Deliver() for the reports the box sends back.
  std::function<void(const Report& request)> onRequest;

  void Deliver(platform::TransferStatus status, std::span<const std::uint8_t> data) {
    if (callback_) callback_(status, data);
  }

  int Init() override { return 0; }
  void Exit() override {}
  int Open(std::uint16_t, std::uint16_t) override { return 0; }
  bool IsOpen() const override { return true; }
  int GetDeviceDescriptor(platform::UsbDeviceDescriptor& out) override {
    out = {18, 1, 0, 2, 0, 0, 0, 64};
    return 0;
  }
  int ClaimInterface(int) override { return 0; }
  int ReleaseInterface(int) override { return 0; }
  int GetStringDescriptorAscii(std::uint8_t index, std::string& out) override {
    out = index == 1 ? "Atmel" : "Atmel maXTouch Control";
    return static_cast<int>(out.size());
  }
  int InterruptWrite(std::uint8_t, std::span<const std::uint8_t> data, int& transferred,
                     std::chrono::milliseconds) override {
    Report r{};
    std::memcpy(r.data(), data.data(), std::min<std::size_t>(data.size(), r.size()));
    transferred = static_cast<int>(data.size());
    if (onRequest) onRequest(r);
    return 0;
  }
  int AllocInTransfer(std::uint8_t, std::size_t, platform::InTransferCallback cb) override {
    callback_ = std::move(cb);
    return 0;
  }
  int SubmitInTransfer() override { return 0; }
  int CancelInTransfer() override {
    std::lock_guard lock(mutex_);
    cancel_ = true;
    cv_.notify_all();
    return 0;
  }
  void FreeInTransfer() override { callback_ = nullptr; }
  void InterruptEventHandling() override {}
  int HandleEvents(std::chrono::milliseconds timeout) override {
    std::unique_lock lock(mutex_);
    // A short wait keeps a close after an unasked-for cancellation quick.
    if (!cv_.wait_for(lock, std::min(timeout, std::chrono::milliseconds(2)), [this] { return cancel_; })) return 0;
    cancel_ = false;
    lock.unlock();
    Deliver(platform::TransferStatus::Cancelled, {});
    return 0;
  }
  void Close() override {}

 private:
  platform::InTransferCallback callback_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool cancel_ = false;
};

// The answer of a register request from a memory image (reads) or into it (writes).
inline void AnswerRegister(SyncPort& port, std::vector<std::uint8_t>& memory, const SyncPort::Report& req) {
  if (req[1] != 0x51) return;
  SyncPort::Report a{};
  a[0] = 0x01;
  const std::size_t address = static_cast<std::size_t>(req[4] | req[5] << 8);
  if (req[2] == 0x02 && req[3] != 0) {
    a[1] = 0;
    for (std::size_t i = 0; i < req[3] && 3 + i < a.size(); ++i) {
      const std::size_t at = (address + i) & 0xFFFF;
      a[3 + i] = at < memory.size() ? memory[at] : 0;
    }
  } else {
    for (std::size_t i = 0; i + 2 < req[2] && 6 + i < req.size(); ++i) {
      const std::size_t at = (address + i) & 0xFFFF;
      if (at < memory.size()) memory[at] = req[6 + i];
    }
    a[1] = 4;
  }
  port.Deliver(platform::TransferStatus::Completed, a);
}

}  // namespace varnex2::device::fuzzing
