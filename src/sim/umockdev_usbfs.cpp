// The usbfs node of a USB device (see umockdev_usb_device.h): the ioctl dispatch, URB submission,
// reaping and discarding, the one-slot FIFO that makes the client's poll real, and the pump that
// completes IN transfers on the live endpoint with the box's reports (OUT transfers go to the box
// at once). A client that goes away loses its URBs and its claims.

#include "sim/umockdev_usb_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace varnex2::sim::umockdev_detail {

usbdevfs_urb* UsbDevice::Fields(const Urb& u) { return reinterpret_cast<usbdevfs_urb*>(u.urb->data); }

void UsbDevice::Drop(Urb& u) {
  if (u.buffer != nullptr) g_object_unref(u.buffer);
  if (u.urb != nullptr) g_object_unref(u.urb);
  if (u.client != nullptr) g_object_unref(u.client);
  u = {};
}

// Caller holds mutex_.
void UsbDevice::Finish(Urb& u, int status, int actualLength) {
  u.status = status;
  u.actualLength = actualLength;
  reapable_.push_back(u);
  DrainFifo();
}

bool UsbDevice::MakeFifo(std::string* error) {
  const std::string path = testbed_.root + devnode_;
  unlink(path.c_str());
  if (mkfifo(path.c_str(), 0666) != 0) {
    if (error != nullptr) *error = "mkfifo " + path + ": " + std::strerror(errno);
    return false;
  }
  fifoFd_ = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fifoFd_ < 0) {
    if (error != nullptr) *error = "open " + path + ": " + std::strerror(errno);
    return false;
  }
  fcntl(fifoFd_, F_SETPIPE_SZ, 4096);
  std::lock_guard lock(mutex_);
  FillFifo();
  return true;
}

// A full one-slot FIFO is not writable: the client's poll for POLLOUT waits. Drained, it is
// writable, and the client reaps.
void UsbDevice::FillFifo() {
  if (fifoFull_ || fifoFd_ < 0) return;
  const char byte = 0;
  fifoFull_ = write(fifoFd_, &byte, 1) == 1;
}

void UsbDevice::DrainFifo() {
  if (!fifoFull_ || fifoFd_ < 0) return;
  char bytes[64];
  while (read(fifoFd_, bytes, sizeof bytes) > 0) {
  }
  fifoFull_ = false;
}

// The next report of the live IN endpoint from the box.
InResult UsbDevice::PopIn(std::vector<std::uint8_t>& out, std::stop_token st) {
  if (spec_.kind == DeviceKind::Controller) {
    ControllerReport report{};
    const InResult r = box_->PopControllerIn(session_, report, std::chrono::milliseconds(20), st);
    if (r == InResult::Report) out.assign(report.begin(), report.end());
    return r;
  }
  BridgeReport report{};
  const InResult r = box_->BridgeRead(session_, report, std::chrono::milliseconds(20), st);
  if (r == InResult::Report) out.assign(report.begin() + 1, report.end());  // no report ids on the wire
  return r;
}

OutResult UsbDevice::PushOut(std::span<const std::uint8_t> data) {
  if (spec_.kind == DeviceKind::Controller) return box_->ControllerOut(session_, data);
  if (data.size() > kBridgeReportSize - 1) return OutResult::InvalidParam;
  std::array<std::uint8_t, kBridgeReportSize> report{};
  std::copy(data.begin(), data.end(), report.begin() + 1);
  return box_->BridgeWrite(session_, report);
}

bool UsbDevice::HasPendingLive() const {
  return std::any_of(pendingIn_.begin(), pendingIn_.end(),
                     [&](const Urb& u) { return Fields(u)->endpoint == liveIn_; });
}

void UsbDevice::Pump(std::stop_token st) {
  while (!st.stop_requested()) {
    {
      std::unique_lock lock(mutex_);
      cv_.wait_for(lock, st, std::chrono::milliseconds(100), [&] { return gone_ || HasPendingLive(); });
      if (gone_) return;
      if (!HasPendingLive()) continue;
    }
    std::vector<std::uint8_t> report;
    bool have = false;
    if (held_) {
      report = std::move(*held_);
      held_.reset();
      have = true;
    } else {
      const InResult r = PopIn(report, st);
      if (r == InResult::Report) have = true;
      if (r == InResult::NoDevice) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!have) continue;
    std::lock_guard lock(mutex_);
    auto it = std::find_if(pendingIn_.begin(), pendingIn_.end(),
                           [&](const Urb& u) { return Fields(u)->endpoint == liveIn_; });
    if (gone_ || it == pendingIn_.end()) {
      held_ = std::move(report);  // the transfer was discarded meanwhile: keep the report for the next one
      continue;
    }
    Urb u = *it;
    pendingIn_.erase(it);
    const std::size_t room = u.buffer != nullptr ? static_cast<std::size_t>(u.buffer->data_len) : 0;
    const std::size_t n = std::min(report.size(), room);
    u.payload.assign(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(n));
    Finish(u, 0, static_cast<int>(n));
  }
}

// A client that closes the node (or dies) loses its URBs and its claims; as in the kernel, the
// interfaces it held stay without a driver until someone asks for one (USBDEVFS_CONNECT).
void UsbDevice::OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  auto* self = static_cast<UsbDevice*>(data);
  {
    std::lock_guard lock(self->mutex_);
    auto dropFor = [&](std::deque<Urb>& list) {
      for (auto it = list.begin(); it != list.end();) {
        if (it->client == client) {
          Drop(*it);
          it = list.erase(it);
        } else {
          ++it;
        }
      }
    };
    dropFor(self->pendingIn_);
    dropFor(self->reapable_);
    if (self->reapable_.empty() && !self->gone_) self->FillFifo();
  }
  std::lock_guard bind(self->bindMutex_);
  if (self->Gone()) return;
  for (Interface& i : self->interfaces_) {
    if (i.claimant == client) self->Unbind(i);
  }
}

gboolean UsbDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  return static_cast<UsbDevice*>(data)->HandleIoctl(client) ? TRUE : FALSE;
}

// The ioctl argument is the client's pointer; this is the memory it points to (new reference).
UMockdevIoctlData* UsbDevice::Pointee(UMockdevIoctlData* arg, std::size_t size) {
  if (arg == nullptr || arg->data_len < static_cast<gint>(sizeof(void*))) return nullptr;
  GError* gerror = nullptr;
  UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, &gerror);
  if (gerror != nullptr) g_error_free(gerror);
  return data;
}

bool UsbDevice::HandleIoctl(UMockdevIoctlClient* client) {
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      const std::uint32_t caps = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                 USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
      UMockdevIoctlData* out = Pointee(arg, sizeof caps);
      if (out == nullptr) return Fail(client, EFAULT);
      std::memcpy(out->data, &caps, sizeof caps);
      g_object_unref(out);
      return Ok(client, 0);
    }
    case USBDEVFS_CLAIMINTERFACE:
      return Claim(client, arg);
    case USBDEVFS_DISCONNECT_CLAIM:
      return DisconnectClaim(client, arg);
    case USBDEVFS_RELEASEINTERFACE:
      return Release(client, arg);
    case USBDEVFS_GETDRIVER:
      return GetDriver(client, arg);
    case USBDEVFS_IOCTL:
      return DriverIoctl(client, arg);
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET: {
      std::lock_guard lock(mutex_);
      return gone_ ? Fail(client, ENODEV) : Ok(client, 0);
    }
    case USBDEVFS_SUBMITURB:
      return Submit(client, arg);
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      return Reap(client, arg);
    case USBDEVFS_DISCARDURB:
      return Discard(client, arg);
    default:
      return false;
  }
}

bool UsbDevice::Ok(UMockdevIoctlClient* client, long result) {
  umockdev_ioctl_client_complete(client, result, 0);
  return true;
}

bool UsbDevice::Fail(UMockdevIoctlClient* client, int error) {
  umockdev_ioctl_client_complete(client, -1, error);
  return true;
}

bool UsbDevice::Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  {
    std::lock_guard lock(mutex_);
    if (gone_) return Fail(client, ENODEV);
  }
  UMockdevIoctlData* urb = Pointee(arg, sizeof(usbdevfs_urb));
  if (urb == nullptr) return Fail(client, EFAULT);
  auto* fields = reinterpret_cast<usbdevfs_urb*>(urb->data);
  if (fields->buffer_length < 0 || fields->buffer_length > 65536) {
    g_object_unref(urb);
    return Fail(client, EINVAL);
  }
  if (fields->type != USBDEVFS_URB_TYPE_CONTROL) {
    // As usbfs: the endpoint must exist, and its interface is claimed for the client unless a
    // driver holds it.
    std::lock_guard bind(bindMutex_);
    Interface* i = FindByEndpoint(fields->endpoint);
    const int r = i == nullptr ? ENOENT : ClaimLocked(*i, client);
    if (r != 0) {
      g_object_unref(urb);
      return Fail(client, r);
    }
  }
  UMockdevIoctlData* buffer = nullptr;
  if (fields->buffer_length > 0) {
    GError* gerror = nullptr;
    buffer = umockdev_ioctl_data_resolve(urb, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(fields->buffer_length),
                                         &gerror);
    if (gerror != nullptr) g_error_free(gerror);
    if (buffer == nullptr) {
      g_object_unref(urb);
      return Fail(client, EFAULT);
    }
  }
  Urb u{static_cast<UMockdevIoctlClient*>(g_object_ref(client)), urb, buffer};
  const bool in = (fields->endpoint & 0x80) != 0;

  if (fields->type == USBDEVFS_URB_TYPE_CONTROL) {
    const int n = Control(u);
    std::lock_guard lock(mutex_);
    Finish(u, n < 0 ? -EPIPE : 0, n < 0 ? 0 : n);
    return Ok(client, 0);
  }
  if (fields->type != USBDEVFS_URB_TYPE_INTERRUPT && fields->type != USBDEVFS_URB_TYPE_BULK) {
    Drop(u);
    return Fail(client, EINVAL);
  }
  if (in) {
    // The live endpoint's transfers complete with the box's reports; the others stay pending
    // (an interrupt endpoint with nothing to say) until discarded or unplugged.
    {
      std::lock_guard lock(mutex_);
      pendingIn_.push_back(u);
    }
    cv_.notify_all();
    return Ok(client, 0);
  }
  const std::size_t length = buffer != nullptr ? static_cast<std::size_t>(buffer->data_len) : 0;
  OutResult r = OutResult::Ok;
  if (fields->endpoint == liveOut_ && liveOut_ != 0) {
    // The box takes the report at once (or, paced, at its next slot).
    r = PushOut(std::span<const std::uint8_t>(buffer != nullptr ? buffer->data : nullptr, length));
  }
  std::lock_guard lock(mutex_);
  if (r == OutResult::NoDevice) {
    Finish(u, -ESHUTDOWN, 0);
  } else if (r == OutResult::InvalidParam) {
    Finish(u, -EOVERFLOW, 0);
  } else {
    Finish(u, 0, static_cast<int>(length));
  }
  return Ok(client, 0);
}

bool UsbDevice::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(reapable_.begin(), reapable_.end(), [&](const Urb& u) { return u.client == client; });
  if (it == reapable_.end()) {
    if (gone_) return Fail(client, ENODEV);
    if (reapable_.empty()) FillFifo();
    return Fail(client, EAGAIN);
  }
  // The argument points to the client's `void*` slot, which receives the URB's address.
  UMockdevIoctlData* slot = Pointee(arg, sizeof(void*));
  if (slot == nullptr) return Fail(client, EFAULT);
  Urb u = *it;
  reapable_.erase(it);
  Fields(u)->status = u.status;
  Fields(u)->actual_length = u.actualLength;
  if (!u.payload.empty()) std::memcpy(u.buffer->data, u.payload.data(), u.payload.size());
  umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
  g_object_unref(slot);
  if (reapable_.empty() && !gone_) FillFifo();
  Ok(client, 0);
  Drop(u);
  return true;
}

bool UsbDevice::Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  // _IO request: the argument is the URB's address itself.
  gulong address = 0;
  if (arg != nullptr && arg->data_len >= static_cast<gint>(sizeof(gulong))) {
    std::memcpy(&address, arg->data, sizeof address);
  }
  std::lock_guard lock(mutex_);
  auto it = std::find_if(pendingIn_.begin(), pendingIn_.end(), [&](const Urb& u) {
    return u.client == client &&
           (u.urb->client_addr == address || (arg != nullptr && u.urb->client_addr == arg->client_addr));
  });
  if (it == pendingIn_.end()) return Fail(client, EINVAL);
  Urb u = *it;
  pendingIn_.erase(it);
  Finish(u, -ENOENT, 0);
  return Ok(client, 0);
}

}  // namespace varnex2::sim::umockdev_detail
