// UsbPort on libusb-1.0 (default context).

#include <libusb.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/usb_port.h"

namespace varnex2::platform {
namespace {

// libusb reads a time-out of 0 as "wait for ever"; every wait here is bounded.
unsigned int BoundedTimeout(std::chrono::milliseconds timeout) {
  return timeout.count() <= 0 ? 1u : static_cast<unsigned int>(timeout.count());
}

class LibusbPort final : public UsbPort {
 public:
  ~LibusbPort() override {
    Close();
    FreeInTransfer();
    while (initCount_ > 0) Exit();
  }

  int Init() override {
    const int rc = libusb_init(nullptr);
    if (rc == LIBUSB_SUCCESS) ++initCount_;
    return rc;
  }

  void Exit() override {
    if (initCount_.load() == 0) return;
    --initCount_;
    libusb_exit(nullptr);
  }

  int Open(std::uint16_t vendorId, std::uint16_t productId) override {
    if (initCount_.load() == 0) return kUsbErrorNotFound;  // no context: nothing to find
    if (handle_.load() != nullptr) return kUsbErrorBusy;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(nullptr, &list);
    if (count < 0) return static_cast<int>(count);
    int rc = kUsbErrorNotFound;
    for (ssize_t i = 0; i < count; ++i) {
      libusb_device_descriptor desc{};
      if (libusb_get_device_descriptor(list[i], &desc) != LIBUSB_SUCCESS) continue;
      if (desc.idVendor != vendorId || desc.idProduct != productId) continue;
      libusb_device_handle* handle = nullptr;
      rc = libusb_open(list[i], &handle);
      if (rc == LIBUSB_SUCCESS) handle_.store(handle);
      break;
    }
    libusb_free_device_list(list, 1);
    return rc;
  }

  bool IsOpen() const override { return handle_.load() != nullptr; }

  int GetDeviceDescriptor(UsbDeviceDescriptor& out) override {
    libusb_device_handle* handle = handle_.load();
    if (handle == nullptr) return kUsbErrorNoDevice;
    libusb_device_descriptor d{};
    const int rc = libusb_get_device_descriptor(libusb_get_device(handle), &d);
    if (rc != LIBUSB_SUCCESS) return rc;
    // Wire order of the standard descriptor (multi-byte fields little-endian).
    out = {d.bLength,
           d.bDescriptorType,
           static_cast<std::uint8_t>(d.bcdUSB & 0xFF),
           static_cast<std::uint8_t>(d.bcdUSB >> 8),
           d.bDeviceClass,
           d.bDeviceSubClass,
           d.bDeviceProtocol,
           d.bMaxPacketSize0,
           static_cast<std::uint8_t>(d.idVendor & 0xFF),
           static_cast<std::uint8_t>(d.idVendor >> 8),
           static_cast<std::uint8_t>(d.idProduct & 0xFF),
           static_cast<std::uint8_t>(d.idProduct >> 8),
           static_cast<std::uint8_t>(d.bcdDevice & 0xFF),
           static_cast<std::uint8_t>(d.bcdDevice >> 8),
           d.iManufacturer,
           d.iProduct,
           d.iSerialNumber,
           d.bNumConfigurations};
    return kUsbSuccess;
  }

  int ClaimInterface(int interfaceNumber) override {
    libusb_device_handle* handle = handle_.load();
    if (handle == nullptr) return kUsbErrorNoDevice;
    // On Linux the kernel's HID driver may hold the interface: let libusb detach it for
    // the claim and re-attach it at release. Unsupported platforms simply keep the driver.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    return libusb_claim_interface(handle, interfaceNumber);
  }

  int ReleaseInterface(int interfaceNumber) override {
    libusb_device_handle* handle = handle_.load();
    if (handle == nullptr) return kUsbErrorNoDevice;
    return libusb_release_interface(handle, interfaceNumber);
  }

  int GetStringDescriptorAscii(std::uint8_t index, std::string& out) override {
    libusb_device_handle* handle = handle_.load();
    if (handle == nullptr) return kUsbErrorNoDevice;
    unsigned char buffer[256] = {};
    const int rc = libusb_get_string_descriptor_ascii(handle, index, buffer, 255);
    if (rc < 0) return rc;
    out.assign(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(rc));
    return rc;
  }

  int InterruptWrite(std::uint8_t endpoint, std::span<const std::uint8_t> data, int& transferred,
                     std::chrono::milliseconds timeout) override {
    transferred = 0;
    libusb_device_handle* handle = handle_.load();
    if (handle == nullptr) return kUsbErrorNoDevice;
    // libusb takes a non-const buffer for both directions; an OUT transfer does not write to it.
    return libusb_interrupt_transfer(handle, endpoint, const_cast<unsigned char*>(data.data()),
                                     static_cast<int>(data.size()), &transferred, BoundedTimeout(timeout));
  }

  int InterruptWriteAsync(std::uint8_t endpoint, std::span<const std::uint8_t> data) override {
    libusb_device_handle* handle = handle_.load();
    if (handle == nullptr) return kUsbErrorNoDevice;
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (transfer == nullptr) return kUsbErrorNoMem;
    auto* buffer = static_cast<unsigned char*>(std::malloc(data.size() == 0 ? 1 : data.size()));
    if (buffer == nullptr) {
      libusb_free_transfer(transfer);
      return kUsbErrorNoMem;
    }
    if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
    libusb_fill_interrupt_transfer(transfer, handle, endpoint, buffer, static_cast<int>(data.size()),
                                   &LibusbPort::OnWriteDone, nullptr, kAsyncWriteTimeoutMs);
    transfer->flags = LIBUSB_TRANSFER_FREE_BUFFER | LIBUSB_TRANSFER_FREE_TRANSFER;
    const int rc = libusb_submit_transfer(transfer);
    if (rc != LIBUSB_SUCCESS) libusb_free_transfer(transfer);  // frees the buffer too
    return rc;
  }

  int AllocInTransfer(std::uint8_t endpoint, std::size_t length, InTransferCallback callback) override {
    libusb_device_handle* handle = handle_.load();
    if (handle == nullptr) return kUsbErrorNoDevice;
    // A second allocation (a reopened device) reuses the idle transfer for the new handle.
    if (in_ != nullptr && inFlight_.load()) return kUsbErrorBusy;
    if (in_ == nullptr) in_ = libusb_alloc_transfer(0);
    if (in_ == nullptr) return kUsbErrorNoMem;
    inBuffer_.assign(length, 0);
    inCallback_ = std::move(callback);
    libusb_fill_interrupt_transfer(in_, handle, endpoint, inBuffer_.data(), static_cast<int>(length),
                                   &LibusbPort::OnInTransfer, this, 0);
    return kUsbSuccess;
  }

  int SubmitInTransfer() override {
    if (in_ == nullptr) return kUsbErrorNotFound;
    if (inFlight_.load()) return kUsbErrorBusy;
    inFlight_.store(true);
    const int rc = libusb_submit_transfer(in_);
    if (rc != LIBUSB_SUCCESS) inFlight_.store(false);
    return rc;
  }

  int CancelInTransfer() override {
    if (in_ == nullptr || !inFlight_.load()) return kUsbErrorNotFound;
    return libusb_cancel_transfer(in_);
  }

  void FreeInTransfer() override {
    if (in_ == nullptr) return;
    DrainInTransfer();
    // A transfer libusb still holds must not be freed; leaking it is the lesser harm.
    if (!inFlight_.load()) libusb_free_transfer(in_);
    in_ = nullptr;
    inCallback_ = nullptr;
  }

  void InterruptEventHandling() override { libusb_interrupt_event_handler(nullptr); }

  int HandleEvents(std::chrono::milliseconds timeout) override {
    if (initCount_.load() == 0) return kUsbErrorNotFound;
    timeval tv{};
    const auto ms = timeout.count() < 0 ? 0 : timeout.count();
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return libusb_handle_events_timeout_completed(nullptr, &tv, nullptr);
  }

  void Close() override {
    libusb_device_handle* handle = handle_.load();
    if (handle == nullptr) return;
    // Closing with the IN transfer still submitted would leave it owned by a dead handle.
    DrainInTransfer();
    handle_.store(nullptr);
    libusb_close(handle);
  }

 private:
  static constexpr unsigned int kAsyncWriteTimeoutMs = 200;

  // Fire-and-forget OUT transfers: libusb frees buffer and transfer after this returns.
  static void LIBUSB_CALL OnWriteDone(libusb_transfer*) {}

  static void LIBUSB_CALL OnInTransfer(libusb_transfer* transfer) {
    auto* self = static_cast<LibusbPort*>(transfer->user_data);
    self->inFlight_.store(false);
    const auto status = static_cast<TransferStatus>(transfer->status);
    if (self->inCallback_) {
      const auto length = transfer->actual_length < 0 ? 0 : static_cast<std::size_t>(transfer->actual_length);
      self->inCallback_(status, std::span<const std::uint8_t>(transfer->buffer, length));
    }
  }

  // Cancels the IN transfer and runs events until its callback has run (at most about 1 s).
  void DrainInTransfer() {
    if (in_ == nullptr || !inFlight_.load()) return;
    libusb_cancel_transfer(in_);
    for (int i = 0; i < 50 && inFlight_.load(); ++i) {
      timeval tv{0, 20000};
      libusb_handle_events_timeout_completed(nullptr, &tv, nullptr);
    }
  }

  std::atomic<libusb_device_handle*> handle_{nullptr};
  std::atomic<int> initCount_{0};
  libusb_transfer* in_ = nullptr;
  std::vector<std::uint8_t> inBuffer_;
  InTransferCallback inCallback_;
  std::atomic<bool> inFlight_{false};
};

}  // namespace

std::unique_ptr<UsbPort> CreateLibusbPort() { return std::make_unique<LibusbPort>(); }

}  // namespace varnex2::platform
