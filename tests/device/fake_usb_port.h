#pragma once
// A scripted UsbPort: every result can be forced, OUT reports go to a handler that may queue IN
// reports, and IN completions are delivered by HandleEvents like a real back-end does.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usb_port.h"

namespace varnex2::device::testing {

using Report = std::array<std::uint8_t, 64>;

class FakeUsbPort : public platform::UsbPort {
 public:
  // Forced results.
  std::atomic<int> initResult{0};
  std::atomic<int> openResult{0};
  std::atomic<int> descriptorResult{0};
  std::atomic<int> claimResult{0};
  std::atomic<int> allocResult{0};
  std::atomic<int> submitResult{0};    // first submission
  std::atomic<int> resubmitResult{0};  // later submissions (from the callback)
  std::atomic<int> handleEventsResult{0};
  std::atomic<int> writeResult{0};
  std::atomic<int> shortWriteBytes{-1};  // >= 0: report this many bytes transferred
  std::string manufacturer = "Atmel";
  std::string product = "Atmel maXTouch Control";
  platform::UsbDeviceDescriptor descriptor{18, 1, 0x00, 0x02, 0, 0, 0, 64, 0xEB, 0x03, 0x2C, 0x21};

  // Called for each OUT report on the writer's thread (no lock of the port held).
  std::function<void(const Report& request)> onRequest;

  // Queues one IN completion.
  void QueueIn(const Report& report, platform::TransferStatus status = platform::TransferStatus::Completed) {
    std::lock_guard lock(mutex_);
    queue_.push_back({status, report, 64});
    cv_.notify_all();
  }
  void QueueShortIn(const Report& report, std::size_t length) {
    std::lock_guard lock(mutex_);
    queue_.push_back({platform::TransferStatus::Completed, report, length});
    cv_.notify_all();
  }
  void QueueStatus(platform::TransferStatus status) { QueueIn(Report{}, status); }

  std::vector<Report> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  void ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }
  int Count(const std::string& what) const {
    std::lock_guard lock(mutex_);
    auto it = counts_.find(what);
    return it == counts_.end() ? 0 : it->second;
  }
  bool Submitted() const {
    std::lock_guard lock(mutex_);
    return submitted_;
  }
  // Waits (bounded) until the queue is empty and the IN transfer is submitted again.
  bool WaitIdle(std::chrono::milliseconds wait = std::chrono::milliseconds(5000)) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, wait, [this] { return queue_.empty() && !delivering_; });
  }

  // UsbPort
  int Init() override { return Bump("init"), initResult; }
  void Exit() override { Bump("exit"); }
  int Open(std::uint16_t, std::uint16_t) override {
    Bump("open");
    std::lock_guard lock(mutex_);
    open_ = openResult == 0;
    return openResult;
  }
  bool IsOpen() const override {
    std::lock_guard lock(mutex_);
    return open_;
  }
  int GetDeviceDescriptor(platform::UsbDeviceDescriptor& out) override {
    out = descriptor;
    return descriptorResult;
  }
  int ClaimInterface(int) override { return Bump("claim"), claimResult; }
  int ReleaseInterface(int) override { return Bump("release"), 0; }
  int GetStringDescriptorAscii(std::uint8_t index, std::string& out) override {
    if (index == 1)
      out = manufacturer;
    else if (index == 2)
      out = product;
    else
      return platform::kUsbErrorPipe;
    return static_cast<int>(out.size());
  }
  int InterruptWrite(std::uint8_t, std::span<const std::uint8_t> data, int& transferred,
                     std::chrono::milliseconds) override {
    Report r{};
    std::copy_n(data.begin(), std::min<std::size_t>(data.size(), 64), r.begin());
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(r);
    }
    transferred = 0;
    if (writeResult != 0) return writeResult;
    transferred = shortWriteBytes >= 0 ? shortWriteBytes.load() : static_cast<int>(data.size());
    if (onRequest) onRequest(r);
    return 0;
  }
  int AllocInTransfer(std::uint8_t, std::size_t, platform::InTransferCallback callback) override {
    Bump("alloc");
    if (allocResult != 0) return allocResult;
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
    firstSubmit_ = true;
    return 0;
  }
  int SubmitInTransfer() override {
    std::lock_guard lock(mutex_);
    ++counts_["submit"];
    const int r = firstSubmit_ ? submitResult : resubmitResult;
    firstSubmit_ = false;
    if (r == 0) submitted_ = true;
    cv_.notify_all();
    return r;
  }
  int CancelInTransfer() override {
    std::lock_guard lock(mutex_);
    ++counts_["cancel"];
    if (!submitted_) return platform::kUsbErrorNotFound;
    queue_.push_front({platform::TransferStatus::Cancelled, Report{}, 0});
    cv_.notify_all();
    return 0;
  }
  void FreeInTransfer() override {
    Bump("free");
    std::lock_guard lock(mutex_);
    callback_ = nullptr;
  }
  int HandleEvents(std::chrono::milliseconds timeout) override {
    std::unique_lock lock(mutex_);
    ++counts_["handle"];
    if (handleEventsResult != 0) return handleEventsResult;
    if (!cv_.wait_for(lock, timeout, [this] { return interrupted_ || (submitted_ && !queue_.empty()); })) return 0;
    if (interrupted_) {
      interrupted_ = false;
      return 0;
    }
    Item item = queue_.front();
    queue_.pop_front();
    submitted_ = false;
    delivering_ = true;
    platform::InTransferCallback cb = callback_;
    lock.unlock();
    if (cb) cb(item.status, std::span<const std::uint8_t>(item.report.data(), item.length));
    lock.lock();
    delivering_ = false;
    cv_.notify_all();
    return 0;
  }
  void InterruptEventHandling() override {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    cv_.notify_all();
  }
  void Close() override {
    Bump("close");
    std::lock_guard lock(mutex_);
    open_ = false;
  }

 private:
  struct Item {
    platform::TransferStatus status;
    Report report;
    std::size_t length;
  };
  void Bump(const std::string& what) {
    std::lock_guard lock(mutex_);
    ++counts_[what];
  }

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool interrupted_ = false;
  std::deque<Item> queue_;
  std::vector<Report> requests_;
  std::map<std::string, int> counts_;
  platform::InTransferCallback callback_;
  bool open_ = false;
  bool submitted_ = false;
  bool firstSubmit_ = true;
  bool delivering_ = false;
};

}  // namespace varnex2::device::testing
