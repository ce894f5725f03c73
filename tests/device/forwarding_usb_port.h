#pragma once
// A UsbPort that passes every call on to another port. Test and benchmark wrappers derive
// from it and override only the calls they watch or change.

#include <memory>
#include <utility>

#include "platform/usb_port.h"

namespace varnex2::device::testing {

class ForwardingUsbPort : public platform::UsbPort {
 public:
  explicit ForwardingUsbPort(platform::UsbPort& inner) : inner_(inner) {}
  explicit ForwardingUsbPort(std::unique_ptr<platform::UsbPort> owned) : owned_(std::move(owned)), inner_(*owned_) {}

  int Init() override { return inner_.Init(); }
  void Exit() override { inner_.Exit(); }
  int Open(std::uint16_t vendorId, std::uint16_t productId) override { return inner_.Open(vendorId, productId); }
  bool IsOpen() const override { return inner_.IsOpen(); }
  int GetDeviceDescriptor(platform::UsbDeviceDescriptor& out) override { return inner_.GetDeviceDescriptor(out); }
  int ClaimInterface(int n) override { return inner_.ClaimInterface(n); }
  int ReleaseInterface(int n) override { return inner_.ReleaseInterface(n); }
  int GetStringDescriptorAscii(std::uint8_t index, std::string& out) override {
    return inner_.GetStringDescriptorAscii(index, out);
  }
  int InterruptWrite(std::uint8_t endpoint, std::span<const std::uint8_t> data, int& transferred,
                     std::chrono::milliseconds timeout) override {
    return inner_.InterruptWrite(endpoint, data, transferred, timeout);
  }
  int InterruptWriteAsync(std::uint8_t endpoint, std::span<const std::uint8_t> data) override {
    return inner_.InterruptWriteAsync(endpoint, data);
  }
  int AllocInTransfer(std::uint8_t endpoint, std::size_t length, platform::InTransferCallback callback) override {
    return inner_.AllocInTransfer(endpoint, length, std::move(callback));
  }
  int SubmitInTransfer() override { return inner_.SubmitInTransfer(); }
  int CancelInTransfer() override { return inner_.CancelInTransfer(); }
  void FreeInTransfer() override { inner_.FreeInTransfer(); }
  int HandleEvents(std::chrono::milliseconds timeout) override { return inner_.HandleEvents(timeout); }
  void InterruptEventHandling() override { inner_.InterruptEventHandling(); }
  void Close() override { inner_.Close(); }

 protected:
  platform::UsbPort& Inner() { return inner_; }

 private:
  std::unique_ptr<platform::UsbPort> owned_;
  platform::UsbPort& inner_;
};

}  // namespace varnex2::device::testing
