#pragma once
// Seam: what the controller link needs of a USB library (libusb semantics).

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace varnex2::platform {

// Error codes, numerically equal to libusb's so that they can be passed through unchanged.
enum UsbError : int {
  kUsbSuccess = 0,
  kUsbErrorIo = -1,
  kUsbErrorInvalidParam = -2,
  kUsbErrorAccess = -3,
  kUsbErrorNoDevice = -4,
  kUsbErrorNotFound = -5,
  kUsbErrorBusy = -6,
  kUsbErrorTimeout = -7,
  kUsbErrorOverflow = -8,
  kUsbErrorPipe = -9,
  kUsbErrorInterrupted = -10,
  kUsbErrorNoMem = -11,
  kUsbErrorNotSupported = -12,
  kUsbErrorOther = -99,
};

// Completion status of an asynchronous transfer (libusb_transfer_status order).
enum class TransferStatus : int {
  Completed = 0,
  Error = 1,
  TimedOut = 2,
  Cancelled = 3,
  Stall = 4,
  NoDevice = 5,
  Overflow = 6,
};

using UsbDeviceDescriptor = std::array<std::uint8_t, 18>;

// Called on the thread that runs HandleEvents when the IN transfer completes. `data` is the
// transferred part of the transfer's buffer; it is valid only during the call. The callback may
// call SubmitInTransfer() again to keep the transfer submitted.
using InTransferCallback = std::function<void(TransferStatus status, std::span<const std::uint8_t> data)>;

class UsbPort {
 public:
  virtual ~UsbPort() = default;

  // Library context (the default context for libusb).
  virtual int Init() = 0;
  virtual void Exit() = 0;

  // Opens the first device with these ids. kUsbErrorNotFound when there is none.
  virtual int Open(std::uint16_t vendorId, std::uint16_t productId) = 0;
  virtual bool IsOpen() const = 0;
  virtual int GetDeviceDescriptor(UsbDeviceDescriptor& out) = 0;
  virtual int ClaimInterface(int interfaceNumber) = 0;
  virtual int ReleaseInterface(int interfaceNumber) = 0;
  // ASCII string descriptor (language 0x0409, at most 255 bytes). Returns its length or an error.
  virtual int GetStringDescriptorAscii(std::uint8_t index, std::string& out) = 0;

  // Synchronous interrupt OUT transfer. Returns 0 or an error; `transferred` gets the byte count.
  virtual int InterruptWrite(std::uint8_t endpoint, std::span<const std::uint8_t> data, int& transferred,
                             std::chrono::milliseconds timeout) = 0;

  // Asynchronous interrupt OUT transfer, fire and forget: the data is copied and the transfer
  // completes on the event thread. Use it from the IN callback, where a synchronous transfer
  // cannot run (the event thread would have to wait for itself). Returns 0 once submitted.
  virtual int InterruptWriteAsync(std::uint8_t endpoint, std::span<const std::uint8_t> data) {
    int transferred = 0;
    return InterruptWrite(endpoint, data, transferred, std::chrono::milliseconds(200));
  }

  // The one asynchronous interrupt IN transfer: allocated once, then (re)submitted; no time-out.
  virtual int AllocInTransfer(std::uint8_t endpoint, std::size_t length, InTransferCallback callback) = 0;
  virtual int SubmitInTransfer() = 0;
  virtual int CancelInTransfer() = 0;
  virtual void FreeInTransfer() = 0;

  // Runs pending completions; returns after at most `timeout`.
  virtual int HandleEvents(std::chrono::milliseconds timeout) = 0;
  // Makes a HandleEvents running on another thread return soon, so a closing link need not
  // wait out its time-out when no transfer is pending.
  virtual void InterruptEventHandling() = 0;

  // Releases nothing by itself: callers release the interface first.
  virtual void Close() = 0;
};

// The libusb back-end.
std::unique_ptr<UsbPort> CreateLibusbPort();

}  // namespace varnex2::platform
