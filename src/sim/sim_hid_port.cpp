// HidPort over the simulated box's bridge function, with hidapi semantics: 65-byte reports
// (byte 0 the report id, 0), reads bounded by their time-out, failures once the bridge has
// left the bus.

#include <mutex>

#include "sim/sim_ports.h"

namespace varnex2::sim {

namespace {

std::u16string Widen(std::string_view s) { return std::u16string(s.begin(), s.end()); }

class SimHidPort final : public platform::HidPort {
 public:
  explicit SimHidPort(std::shared_ptr<SimBox> box) : box_(std::move(box)) {}
  ~SimHidPort() override { Close(); }

  std::vector<platform::HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) override {
    std::vector<platform::HidDeviceInfo> list;
    if (!box_->IsPresent(BoxFunction::Bridge)) return list;
    if ((vendorId != 0 && vendorId != kBridgeVendorId) || (productId != 0 && productId != kBridgeProductId)) {
      return list;
    }
    platform::HidDeviceInfo info;
    info.path = SimBox::InterfacePath(BoxFunction::Bridge, 0);
    info.vendorId = kBridgeVendorId;
    info.productId = kBridgeProductId;
    info.manufacturer = Widen(kBridgeManufacturer);
    info.product = Widen(kBridgeProduct);
    info.interfaceNumber = 0;
    list.push_back(std::move(info));
    return list;
  }

  int Open(const std::string& path) override {
    const std::uint64_t session = box_->Session(BoxFunction::Bridge);
    std::lock_guard lk(mutex_);
    if (session == 0 || path != SimBox::InterfacePath(BoxFunction::Bridge, 0)) return -1;
    session_ = session;
    stop_ = std::stop_source();
    // Like a freshly opened hidraw node, a new handle sees only reports that arrive from now on.
    BridgeReport stale{};
    while (box_->BridgeRead(session, stale, std::chrono::microseconds(0)) == InResult::Report) {
    }
    return 0;
  }

  bool IsOpen() const override {
    std::lock_guard lk(mutex_);
    return session_ != 0;
  }

  int Write(std::span<const std::uint8_t, platform::kHidReportSize> report) override {
    std::uint64_t session;
    {
      std::lock_guard lk(mutex_);
      session = session_;
    }
    if (session == 0) return -1;
    if (box_->BridgeWrite(session, report) != OutResult::Ok) return -1;
    return static_cast<int>(platform::kHidReportSize);
  }

  // A negative time-out waits until a report arrives, the bridge leaves the bus or the port
  // is closed.
  int Read(std::span<std::uint8_t, platform::kHidReportSize> report, std::chrono::milliseconds timeout) override {
    std::uint64_t session;
    std::stop_token token;
    {
      std::lock_guard lk(mutex_);
      session = session_;
      token = stop_.get_token();
    }
    if (session == 0) return -1;
    const auto wait = timeout.count() < 0 ? std::chrono::microseconds(std::chrono::hours(24 * 365))
                                          : std::chrono::duration_cast<std::chrono::microseconds>(timeout);
    BridgeReport in{};
    switch (box_->BridgeRead(session, in, wait, token)) {
      case InResult::Report:
        std::copy(in.begin(), in.end(), report.begin());
        return static_cast<int>(platform::kHidReportSize);
      case InResult::Timeout:
        return 0;
      case InResult::NoDevice:
      case InResult::Interrupted:
        return -1;
    }
    return -1;
  }

  void Close() override {
    std::lock_guard lk(mutex_);
    session_ = 0;
    stop_.request_stop();
  }

 private:
  std::shared_ptr<SimBox> box_;
  mutable std::mutex mutex_;
  std::uint64_t session_ = 0;
  std::stop_source stop_;
};

}  // namespace

std::unique_ptr<platform::HidPort> CreateSimHidPort(std::shared_ptr<SimBox> box) {
  return std::make_unique<SimHidPort>(std::move(box));
}

}  // namespace varnex2::sim
