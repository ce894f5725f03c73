// UsbPort over the simulated box's controller function, with libusb semantics: the IN
// transfer completes on the thread that runs HandleEvents; a cancelled transfer completes with
// Cancelled there; a transfer pending when the device leaves the bus completes with NoDevice.

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "sim/sim_ports.h"

namespace varnex2::sim {

namespace {

using platform::InTransferCallback;
using platform::TransferStatus;
using Clock = std::chrono::steady_clock;

class SimUsbPort final : public platform::UsbPort {
 public:
  explicit SimUsbPort(std::shared_ptr<SimBox> box) : box_(std::move(box)) {}
  ~SimUsbPort() override { Close(); }

  int Init() override {
    std::lock_guard lk(mutex_);
    initialised_ = true;
    return platform::kUsbSuccess;
  }

  void Exit() override {
    Close();
    std::lock_guard lk(mutex_);
    initialised_ = false;
  }

  int Open(std::uint16_t vendorId, std::uint16_t productId) override {
    std::lock_guard lk(mutex_);
    if (!initialised_) return platform::kUsbErrorOther;
    if (vendorId != kControllerVendorId || productId != kControllerProductId) return platform::kUsbErrorNotFound;
    const std::uint64_t session = box_->Session(BoxFunction::Controller);
    if (session == 0) return platform::kUsbErrorNotFound;
    session_ = session;
    claimed_ = 0;
    ++wake_;
    return platform::kUsbSuccess;
  }

  bool IsOpen() const override {
    std::lock_guard lk(mutex_);
    return session_ != 0;
  }

  int GetDeviceDescriptor(platform::UsbDeviceDescriptor& out) override {
    std::lock_guard lk(mutex_);
    if (session_ == 0) return platform::kUsbErrorInvalidParam;
    out = SimBox::DeviceDescriptor(BoxFunction::Controller);  // cached at enumeration, as libusb does
    return platform::kUsbSuccess;
  }

  int ClaimInterface(int interfaceNumber) override {
    std::lock_guard lk(mutex_);
    if (int r = CheckDevice(); r != 0) return r;
    if (!Declared(interfaceNumber)) return platform::kUsbErrorNotFound;
    claimed_ |= 1u << interfaceNumber;
    return platform::kUsbSuccess;
  }

  int ReleaseInterface(int interfaceNumber) override {
    std::lock_guard lk(mutex_);
    if (session_ == 0) return platform::kUsbErrorInvalidParam;
    if (!Declared(interfaceNumber) || (claimed_ & (1u << interfaceNumber)) == 0) return platform::kUsbErrorNotFound;
    claimed_ &= ~(1u << interfaceNumber);
    return StaleLocked() ? platform::kUsbErrorNoDevice : platform::kUsbSuccess;
  }

  int GetStringDescriptorAscii(std::uint8_t index, std::string& out) override {
    std::lock_guard lk(mutex_);
    if (int r = CheckDevice(); r != 0) return r;
    std::string text;
    if (index == 0 || !SimBox::StringDescriptor(BoxFunction::Controller, index, text)) return platform::kUsbErrorPipe;
    if (text.size() > 255) text.resize(255);
    out = text;
    return static_cast<int>(out.size());
  }

  int InterruptWrite(std::uint8_t endpoint, std::span<const std::uint8_t> data, int& transferred,
                     std::chrono::milliseconds) override {
    transferred = 0;
    std::uint64_t session = 0;
    {
      std::lock_guard lk(mutex_);
      if (int r = CheckDevice(); r != 0) return r;
      if (endpoint != kControllerOutEndpoint) return platform::kUsbErrorNotFound;
      session = session_;
    }
    // A transfer longer than the packet size goes out as several packets.
    std::size_t offset = 0;
    do {
      const std::size_t n = std::min(kControllerReportSize, data.size() - offset);
      if (box_->ControllerOut(session, data.subspan(offset, n)) != OutResult::Ok) {
        return platform::kUsbErrorNoDevice;
      }
      offset += n;
      transferred = static_cast<int>(offset);
    } while (offset < data.size());
    return platform::kUsbSuccess;
  }

  int AllocInTransfer(std::uint8_t endpoint, std::size_t length, InTransferCallback callback) override {
    std::lock_guard lk(mutex_);
    if (endpoint != kControllerInEndpoint || length == 0 || !callback) return platform::kUsbErrorInvalidParam;
    if (submitted_) return platform::kUsbErrorBusy;
    allocated_ = true;
    length_ = std::min(length, kControllerReportSize);
    callback_ = std::make_shared<InTransferCallback>(std::move(callback));
    return platform::kUsbSuccess;
  }

  int SubmitInTransfer() override {
    {
      std::lock_guard lk(mutex_);
      if (!allocated_) return platform::kUsbErrorInvalidParam;
      if (submitted_) return platform::kUsbErrorBusy;
      if (int r = CheckDevice(); r != 0) return r;
      submitted_ = true;
      cancelPending_ = false;
      ++wake_;
    }
    cv_.notify_all();
    return platform::kUsbSuccess;
  }

  int CancelInTransfer() override {
    {
      std::lock_guard lk(mutex_);
      if (!submitted_ || cancelPending_) return platform::kUsbErrorNotFound;
      cancelPending_ = true;
      stop_.request_stop();
      ++wake_;
    }
    cv_.notify_all();
    return platform::kUsbSuccess;
  }

  void FreeInTransfer() override {
    std::lock_guard lk(mutex_);
    allocated_ = false;
    submitted_ = false;
    cancelPending_ = false;
    callback_ = nullptr;
    stop_.request_stop();
    ++wake_;
    cv_.notify_all();
  }

  void InterruptEventHandling() override {
    {
      std::lock_guard lk(mutex_);
      interrupted_ = true;
      stop_.request_stop();
      ++wake_;
    }
    cv_.notify_all();
  }

  int HandleEvents(std::chrono::milliseconds timeout) override {
    const auto deadline = Clock::now() + std::max(timeout, std::chrono::milliseconds(0));
    bool completedOne = false;
    std::unique_lock lk(mutex_);
    for (;;) {
      if (interrupted_) {
        interrupted_ = false;
        return platform::kUsbSuccess;
      }
      if (submitted_ && cancelPending_) {
        Complete(lk, TransferStatus::Cancelled, 0);
        completedOne = true;
        continue;
      }
      if (submitted_ && StaleLocked()) {
        Complete(lk, TransferStatus::NoDevice, 0);
        completedOne = true;
        continue;
      }
      const auto now = Clock::now();
      if (!submitted_) {
        if (completedOne || now >= deadline) return platform::kUsbSuccess;
        const std::uint64_t seen = wake_;
        cv_.wait_until(lk, deadline, [&] { return wake_ != seen; });
        if (!submitted_ && session_ == 0) return platform::kUsbSuccess;  // closed meanwhile
        continue;
      }
      // Drain what is ready without waiting once something has completed.
      const auto wait = completedOne || now >= deadline
                            ? std::chrono::microseconds(0)
                            : std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
      if (stop_.stop_requested()) stop_ = std::stop_source();
      const std::stop_token token = stop_.get_token();
      const std::uint64_t session = session_;
      lk.unlock();
      const InResult r = box_->PopControllerIn(session, buffer_, wait, token);
      lk.lock();
      switch (r) {
        case InResult::Report:
          if (submitted_ && !cancelPending_) {
            Complete(lk, TransferStatus::Completed, length_);
          } else if (submitted_) {
            // Cancel raced with the completion: libusb reports the data as completed too, but
            // the station asked for cancellation; hand the report back as cancelled.
            Complete(lk, TransferStatus::Cancelled, 0);
          }
          completedOne = true;
          break;
        case InResult::NoDevice:
          if (submitted_) {
            Complete(lk, TransferStatus::NoDevice, 0);
            completedOne = true;
          } else {
            return platform::kUsbSuccess;
          }
          break;
        case InResult::Timeout:
          return platform::kUsbSuccess;
        case InResult::Interrupted:
          if (session_ == 0 && !submitted_) return platform::kUsbSuccess;
          break;
      }
    }
  }

  void Close() override {
    {
      std::lock_guard lk(mutex_);
      session_ = 0;
      claimed_ = 0;
      submitted_ = false;
      cancelPending_ = false;
      stop_.request_stop();
      ++wake_;
    }
    cv_.notify_all();
  }

 private:
  bool StaleLocked() const { return session_ != 0 && box_->Session(BoxFunction::Controller) != session_; }

  int CheckDevice() const {
    if (session_ == 0) return platform::kUsbErrorInvalidParam;
    if (StaleLocked()) return platform::kUsbErrorNoDevice;
    return 0;
  }

  // Runs the callback without the lock; the callback may resubmit.
  void Complete(std::unique_lock<std::mutex>& lk, TransferStatus status, std::size_t length) {
    submitted_ = false;
    cancelPending_ = false;
    std::shared_ptr<InTransferCallback> cb = callback_;  // no copy of the function itself
    lk.unlock();
    if (cb && *cb) (*cb)(status, std::span<const std::uint8_t>(buffer_.data(), length));
    lk.lock();
  }

  std::shared_ptr<SimBox> box_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::uint64_t wake_ = 0;
  bool initialised_ = false;
  std::uint64_t session_ = 0;
  static bool Declared(int interfaceNumber) {
    const auto numbers = SimBox::InterfaceNumbers(BoxFunction::Controller);
    return interfaceNumber >= 0 && interfaceNumber < 32 &&
           std::find(numbers.begin(), numbers.end(), interfaceNumber) != numbers.end();
  }

  unsigned claimed_ = 0;  // bit n: interface n claimed
  bool allocated_ = false;
  bool submitted_ = false;
  bool cancelPending_ = false;
  bool interrupted_ = false;  // InterruptEventHandling: the running HandleEvents returns
  std::size_t length_ = kControllerReportSize;
  std::shared_ptr<InTransferCallback> callback_;
  std::stop_source stop_;
  ControllerReport buffer_{};  // touched only by the thread running HandleEvents
};

}  // namespace

std::unique_ptr<platform::UsbPort> CreateSimUsbPort(std::shared_ptr<SimBox> box) {
  return std::make_unique<SimUsbPort>(std::move(box));
}

}  // namespace varnex2::sim
