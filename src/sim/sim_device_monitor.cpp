// DeviceMonitor over the simulated box: presence changes become arrival and removal events of
// the interfaces, with the interface paths a real box would have, delivered on the monitor's
// own thread.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "sim/sim_ports.h"

namespace varnex2::sim {

namespace {

using platform::DeviceEvent;
using platform::DeviceEventKind;

constexpr std::size_t kMaxQueuedEvents = 1024;

class SimDeviceMonitor final : public platform::DeviceMonitor {
 public:
  explicit SimDeviceMonitor(std::shared_ptr<SimBox> box) : box_(std::move(box)) {}
  ~SimDeviceMonitor() override { Stop(); }

  int Start(platform::DeviceEventCallback callback) override {
    std::lock_guard sl(startMutex_);
    if (!callback) return -1;
    if (thread_.joinable()) {
      if (!thread_.get_stop_token().stop_requested() || thread_.get_id() == std::this_thread::get_id()) return -1;
      thread_.join();  // stopped from its own callback earlier
    }
    {
      std::lock_guard lk(mutex_);
      events_.clear();
    }
    observerId_ =
        box_->AddPresenceObserver([this](BoxFunction f, bool present, std::uint64_t) { Enqueue(f, present); });
    thread_ = std::jthread([this, cb = std::move(callback)](std::stop_token stop) { Run(stop, cb); });
    return 0;
  }

  // May be called from the callback (the thread then ends after it returns); the monitor must
  // not be destroyed from there.
  void Stop() override {
    std::lock_guard sl(startMutex_);
    if (!thread_.joinable()) return;
    if (observerId_ != 0) box_->RemovePresenceObserver(observerId_);
    observerId_ = 0;
    thread_.request_stop();
    cv_.notify_all();
    if (thread_.get_id() == std::this_thread::get_id()) return;
    thread_.join();
    thread_ = std::jthread();
  }

 private:
  void Enqueue(BoxFunction f, bool present) {
    const DeviceEventKind kind = present ? DeviceEventKind::Arrival : DeviceEventKind::Removal;
    std::lock_guard lk(mutex_);
    auto add = [&](std::uint16_t vid, std::uint16_t pid, int iface) {
      if (events_.size() >= kMaxQueuedEvents) events_.pop_front();
      DeviceEvent e;
      e.kind = kind;
      e.vendorId = vid;
      e.productId = pid;
      e.interfaceNumber = iface;
      e.interfacePath = SimBox::InterfacePath(f, iface);
      events_.push_back(std::move(e));
    };
    if (f == BoxFunction::Bridge) {
      add(kBridgeVendorId, kBridgeProductId, 0);
    } else {
      add(kControllerVendorId, kControllerProductId, kControllerInterface);
      add(kControllerVendorId, kControllerProductId, 0);
    }
    cv_.notify_all();
  }

  void Run(std::stop_token stop, const platform::DeviceEventCallback& cb) {
    std::unique_lock lk(mutex_);
    while (!stop.stop_requested()) {
      cv_.wait_for(lk, stop, std::chrono::milliseconds(500), [&] { return !events_.empty(); });
      while (!events_.empty() && !stop.stop_requested()) {
        DeviceEvent e = std::move(events_.front());
        events_.pop_front();
        lk.unlock();
        cb(e);
        lk.lock();
      }
    }
  }

  std::shared_ptr<SimBox> box_;
  std::mutex startMutex_;
  std::mutex mutex_;
  std::condition_variable_any cv_;
  std::deque<DeviceEvent> events_;
  int observerId_ = 0;
  std::jthread thread_;
};

}  // namespace

std::unique_ptr<platform::DeviceMonitor> CreateSimDeviceMonitor(std::shared_ptr<SimBox> box) {
  return std::make_unique<SimDeviceMonitor>(std::move(box));
}

}  // namespace varnex2::sim
