// umockdev adapter of the simulated box: a usbfs device for the controller, a hidraw device for
// the bridge, both answered by the SimBox at report level.

#include "sim/umockdev_box.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/usbdevice_fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "sim/box_identity.h"

namespace varnex2::sim {
namespace {

constexpr const char* kUsbRoot = "/devices/pci0000:00/0000:00:14.0/usb1";
constexpr int kBusNumber = 1;

std::string HexString(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  static constexpr char kDigits[] = "0123456789abcdef";
  for (const std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  return out;
}

std::string Hex4(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", v);
  return text;
}

// Serialises every call into the testbed: presence changes arrive on any thread.
struct Testbed {
  UMockdevTestbed* tb = nullptr;
  std::mutex mutex;
  std::string root;
  std::string sys;

  bool AddFromString(const std::string& text, std::string* error) {
    std::lock_guard lock(mutex);
    GError* gerror = nullptr;
    if (!umockdev_testbed_add_from_string(tb, text.c_str(), &gerror)) {
      if (error != nullptr) *error = gerror != nullptr ? gerror->message : "add_from_string failed";
      if (gerror != nullptr) g_error_free(gerror);
      return false;
    }
    return true;
  }
  bool Attach(const std::string& devnode, UMockdevIoctlBase* handler, std::string* error) {
    std::lock_guard lock(mutex);
    GError* gerror = nullptr;
    if (!umockdev_testbed_attach_ioctl(tb, devnode.c_str(), handler, &gerror)) {
      if (error != nullptr) *error = gerror != nullptr ? gerror->message : "attach_ioctl failed";
      if (gerror != nullptr) g_error_free(gerror);
      return false;
    }
    return true;
  }
  void Detach(const std::string& devnode) {
    std::lock_guard lock(mutex);
    GError* gerror = nullptr;
    if (!umockdev_testbed_detach_ioctl(tb, devnode.c_str(), &gerror) && gerror != nullptr) g_error_free(gerror);
  }
  void Uevent(const std::string& syspath, const char* action) {
    std::lock_guard lock(mutex);
    umockdev_testbed_uevent(tb, syspath.c_str(), action);
  }
  void Remove(const std::string& syspath) {
    std::lock_guard lock(mutex);
    umockdev_testbed_remove_device(tb, syspath.c_str());
  }
  int DevFd(const std::string& devnode) {
    std::lock_guard lock(mutex);
    return umockdev_testbed_get_dev_fd(tb, devnode.c_str());
  }
  void SetProperty(const std::string& syspath, const char* name, const std::string& value) {
    std::lock_guard lock(mutex);
    umockdev_testbed_set_property(tb, syspath.c_str(), name, value.c_str());
  }
  void SetAttribute(const std::string& syspath, const char* name, const std::string& value) {
    std::lock_guard lock(mutex);
    umockdev_testbed_set_attribute(tb, syspath.c_str(), name, value.c_str());
  }
};

// ---------------------------------------------------------------------------------------------
// usbfs: the controller function.

class UsbfsDevice {
 public:
  UsbfsDevice(Testbed& testbed, std::shared_ptr<SimBox> box, int devnum, std::uint64_t session)
      : testbed_(testbed), box_(std::move(box)), devnum_(devnum), session_(session) {
    char node[64];
    std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", kBusNumber, devnum_);
    relNode_ = node;
    devnode_ = std::string("/dev/") + node;
    syspath_ = std::string("/sys") + kUsbRoot + "/1-1";
  }

  ~UsbfsDevice() {
    pump_.request_stop();
    cv_.notify_all();
    if (pump_.joinable()) pump_.join();
    if (attached_) testbed_.Detach(devnode_);
    if (handler_ != nullptr) {
      g_signal_handlers_disconnect_by_data(handler_, this);
      g_object_unref(handler_);
    }
    std::lock_guard lock(mutex_);
    for (auto& u : pendingIn_) Drop(u);
    for (auto& u : reapable_) Drop(u);
    pendingIn_.clear();
    reapable_.clear();
    if (fifoFd_ >= 0) close(fifoFd_);
  }

  const std::string& Syspath() const { return syspath_; }

  bool Add(std::string* error) {
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbfsDevice::OnIoctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&UsbfsDevice::OnVanished), this);
    if (!testbed_.Attach(devnode_, handler_, error)) return false;
    attached_ = true;

    const auto device = SimBox::DeviceDescriptor(BoxFunction::Controller);
    const auto config = SimBox::ConfigurationDescriptor(BoxFunction::Controller);
    std::vector<std::uint8_t> descriptors(device.begin(), device.end());
    descriptors.insert(descriptors.end(), config.begin(), config.end());
    const int interfaces = config.size() > 4 ? config[4] : 1;
    char busdev[64];
    std::snprintf(busdev, sizeof busdev, "E: BUSNUM=%03d\nE: DEVNUM=%03d\nA: busnum=%d\\n\nA: devnum=%d\\n\n",
                  kBusNumber, devnum_, kBusNumber, devnum_);
    std::string text =
        std::string("P: ") + kUsbRoot + "/1-1\n" + "N: " + relNode_ + "\n" +
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" + "E: DEVNAME=" + devnode_ + "\n" + busdev +
        "E: PRODUCT=" + ProductProperty() + "\n" + "A: speed=12\\n\nA: bConfigurationValue=1\\n\n" +
        "A: bNumInterfaces= " + std::to_string(interfaces) + "\\n\n" + "A: idVendor=" + Hex4(kControllerVendorId) +
        "\n" + "A: idProduct=" + Hex4(kControllerProductId) + "\n" +
        "A: bcdDevice=" + Hex4(static_cast<std::uint16_t>(device[12] | (device[13] << 8))) + "\n" +
        "A: manufacturer=" + std::string(kControllerManufacturer) + "\n" +
        "A: product=" + std::string(kControllerProduct) + "\n" + "H: descriptors=" + HexString(descriptors) + "\n";
    if (!testbed_.AddFromString(text, error)) return false;
    if (!MakeFifo(error)) return false;
    pump_ = std::jthread([this](std::stop_token st) { Pump(st); });
    return true;
  }

  // The device leaves the bus: what is in flight ends with -ESHUTDOWN, everything later with
  // ENODEV, and udev hears "remove".
  void Unplug() {
    {
      std::lock_guard lock(mutex_);
      if (gone_) return;
      gone_ = true;
      while (!pendingIn_.empty()) {
        Urb u = pendingIn_.front();
        pendingIn_.pop_front();
        Finish(u, -ESHUTDOWN, 0);
      }
      DrainFifo();  // the client must notice even when nothing was in flight
    }
    cv_.notify_all();
    testbed_.Uevent(syspath_, "remove");
    testbed_.Remove(syspath_);
  }

 private:
  // umockdev writes an ioctl's data back to the client after the handler has completed it, on its
  // own thread. A URB's memory is therefore only touched inside the handler of the ioctl that
  // carries it back: its outcome waits here until the REAP.
  struct Urb {
    UMockdevIoctlClient* client = nullptr;  // referenced
    UMockdevIoctlData* urb = nullptr;       // referenced: the client's usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;    // referenced: its data buffer
    int status = 0;
    int actualLength = 0;
    std::vector<std::uint8_t> payload;  // IN data to copy into the buffer at the REAP
  };

  static std::string ProductProperty() {
    char text[32];
    std::snprintf(text, sizeof text, "%x/%x/100", kControllerVendorId, kControllerProductId);
    return text;
  }

  static usbdevfs_urb* Fields(const Urb& u) { return reinterpret_cast<usbdevfs_urb*>(u.urb->data); }

  static void Drop(Urb& u) {
    if (u.buffer != nullptr) g_object_unref(u.buffer);
    if (u.urb != nullptr) g_object_unref(u.urb);
    if (u.client != nullptr) g_object_unref(u.client);
    u = {};
  }

  // Caller holds mutex_.
  void Finish(Urb& u, int status, int actualLength) {
    u.status = status;
    u.actualLength = actualLength;
    reapable_.push_back(u);
    DrainFifo();
  }

  bool MakeFifo(std::string* error) {
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
  void FillFifo() {
    if (fifoFull_ || fifoFd_ < 0) return;
    const char byte = 0;
    fifoFull_ = write(fifoFd_, &byte, 1) == 1;
  }
  void DrainFifo() {
    if (!fifoFull_ || fifoFd_ < 0) return;
    char bytes[64];
    while (read(fifoFd_, bytes, sizeof bytes) > 0) {
    }
    fifoFull_ = false;
  }

  void Pump(std::stop_token st) {
    while (!st.stop_requested()) {
      {
        std::unique_lock lock(mutex_);
        cv_.wait_for(lock, st, std::chrono::milliseconds(100), [&] { return gone_ || !pendingIn_.empty(); });
        if (gone_) return;
        if (pendingIn_.empty()) continue;
      }
      ControllerReport report{};
      bool have = false;
      if (held_) {
        report = *held_;
        held_.reset();
        have = true;
      } else {
        const InResult r = box_->PopControllerIn(session_, report, std::chrono::milliseconds(20), st);
        if (r == InResult::Report) have = true;
        if (r == InResult::NoDevice) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      if (!have) continue;
      std::lock_guard lock(mutex_);
      if (gone_ || pendingIn_.empty()) {
        held_ = report;  // the transfer was discarded meanwhile: keep the report for the next one
        continue;
      }
      Urb u = pendingIn_.front();
      pendingIn_.pop_front();
      const std::size_t room = u.buffer != nullptr ? static_cast<std::size_t>(u.buffer->data_len) : 0;
      const std::size_t n = std::min(report.size(), room);
      u.payload.assign(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(n));
      Finish(u, 0, static_cast<int>(n));
    }
  }

  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* self = static_cast<UsbfsDevice*>(data);
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
    self->claims_.erase(client);
    if (self->reapable_.empty() && !self->gone_) self->FillFifo();
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    return static_cast<UsbfsDevice*>(data)->HandleIoctl(client) ? TRUE : FALSE;
  }

  // The ioctl argument is the client's pointer; this is the memory it points to (new reference).
  static UMockdevIoctlData* Pointee(UMockdevIoctlData* arg, std::size_t size) {
    if (arg == nullptr || arg->data_len < static_cast<gint>(sizeof(void*))) return nullptr;
    GError* gerror = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, &gerror);
    if (gerror != nullptr) g_error_free(gerror);
    return data;
  }

  bool HandleIoctl(UMockdevIoctlClient* client) {
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
      case USBDEVFS_DISCONNECT_CLAIM:
      case USBDEVFS_RELEASEINTERFACE: {
        UMockdevIoctlData* in = Pointee(arg, sizeof(unsigned int));  // first member of disconnect_claim too
        if (in == nullptr) return Fail(client, EFAULT);
        unsigned int number = 0;
        std::memcpy(&number, in->data, sizeof number);
        g_object_unref(in);
        // The kernel refuses an unknown interface with ENOENT, or EINVAL for DISCONNECT_CLAIM.
        return Claim(client, static_cast<int>(number), request != USBDEVFS_RELEASEINTERFACE,
                     request == USBDEVFS_DISCONNECT_CLAIM ? EINVAL : ENOENT);
      }
      case USBDEVFS_GETDRIVER:
      case USBDEVFS_IOCTL:
        return Fail(client, ENODATA);  // no kernel driver is bound
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

  static bool Ok(UMockdevIoctlClient* client, long result) {
    umockdev_ioctl_client_complete(client, result, 0);
    return true;
  }
  static bool Fail(UMockdevIoctlClient* client, int error) {
    umockdev_ioctl_client_complete(client, -1, error);
    return true;
  }

  bool Claim(UMockdevIoctlClient* client, int number, bool claim, int unknownError) {
    bool exists = false;
    const auto config = SimBox::ConfigurationDescriptor(BoxFunction::Controller);
    for (std::size_t pos = 0; pos + 4 <= config.size() && config[pos] >= 2; pos += config[pos]) {
      if (config[pos + 1] == 4 && config[pos + 2] == number) exists = true;
    }
    std::lock_guard lock(mutex_);
    if (gone_) return Fail(client, ENODEV);
    if (!exists) return Fail(client, unknownError);
    if (!claim) {
      auto it = claims_.find(client);
      if (it == claims_.end() || it->second.erase(number) == 0) return Fail(client, EINVAL);
      return Ok(client, 0);
    }
    for (const auto& [other, numbers] : claims_) {
      if (other != client && numbers.count(number) != 0) return Fail(client, EBUSY);
    }
    claims_[client].insert(number);
    return Ok(client, 0);
  }

  bool Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
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
    UMockdevIoctlData* buffer = nullptr;
    if (fields->buffer_length > 0) {
      GError* gerror = nullptr;
      buffer = umockdev_ioctl_data_resolve(urb, offsetof(usbdevfs_urb, buffer),
                                           static_cast<gsize>(fields->buffer_length), &gerror);
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
      {
        std::lock_guard lock(mutex_);
        pendingIn_.push_back(u);
      }
      cv_.notify_all();
      return Ok(client, 0);
    }
    // OUT: the box takes the report at once (or, paced, at its next slot).
    const std::size_t length = buffer != nullptr ? static_cast<std::size_t>(buffer->data_len) : 0;
    const OutResult r = box_->ControllerOut(
        session_, std::span<const std::uint8_t>(buffer != nullptr ? buffer->data : nullptr, length));
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

  // Answers a control transfer in place; returns the data length or -1 for a stall.
  int Control(Urb& u) {
    if (u.buffer == nullptr || u.buffer->data_len < 8) return -1;
    std::uint8_t* setup = u.buffer->data;
    const std::uint8_t requestType = setup[0];
    const std::uint8_t request = setup[1];
    const int value = setup[2] | (setup[3] << 8);
    const int wLength = setup[6] | (setup[7] << 8);
    const int room = std::min(wLength, u.buffer->data_len - 8);
    std::vector<std::uint8_t> answer;
    if (requestType == 0x80 && request == 6) {  // GET_DESCRIPTOR from the device
      const int type = value >> 8;
      const auto index = static_cast<std::uint8_t>(value & 0xFF);
      if (type == 1) {
        const auto d = SimBox::DeviceDescriptor(BoxFunction::Controller);
        answer.assign(d.begin(), d.end());
      } else if (type == 2) {
        answer = SimBox::ConfigurationDescriptor(BoxFunction::Controller);
      } else if (type == 3 && index == 0) {
        answer = {4, 3, 0x09, 0x04};
      } else if (type == 3) {
        std::string text;
        if (!SimBox::StringDescriptor(BoxFunction::Controller, index, text)) return -1;
        text.resize(std::min<std::size_t>(text.size(), 126));
        answer.push_back(static_cast<std::uint8_t>(2 + 2 * text.size()));
        answer.push_back(3);
        for (const char c : text) {
          answer.push_back(static_cast<std::uint8_t>(c));
          answer.push_back(0);
        }
      } else {
        return -1;
      }
    } else if ((requestType & 0x80) == 0) {
      return 0;  // host-to-device requests (set configuration, set idle...) are accepted
    } else {
      return -1;
    }
    const int n = std::min(room, static_cast<int>(answer.size()));
    if (n > 0) std::memcpy(setup + 8, answer.data(), static_cast<std::size_t>(n));
    return n;
  }

  bool Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
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

  bool Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
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

  Testbed& testbed_;
  std::shared_ptr<SimBox> box_;
  int devnum_;
  std::uint64_t session_;
  std::string relNode_, devnode_, syspath_;
  UMockdevIoctlBase* handler_ = nullptr;
  bool attached_ = false;

  std::mutex mutex_;
  std::condition_variable_any cv_;
  bool gone_ = false;
  std::deque<Urb> pendingIn_;
  std::deque<Urb> reapable_;
  std::optional<ControllerReport> held_;  // pump thread only
  std::map<UMockdevIoctlClient*, std::set<int>> claims_;
  int fifoFd_ = -1;
  bool fifoFull_ = false;
  std::jthread pump_;
};

// ---------------------------------------------------------------------------------------------
// hidraw: the bridge function, and silent HID devices.

struct HidSpec {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string manufacturer;
  std::string product;
};

class HidrawDevice {
 public:
  // `box` null: a silent device. `port` names the USB port (1-<port>), `index` the hidraw minor.
  HidrawDevice(Testbed& testbed, std::shared_ptr<SimBox> box, HidSpec spec, int port, int index, std::uint64_t session)
      : testbed_(testbed), box_(std::move(box)), spec_(std::move(spec)), port_(port), index_(index), session_(session) {
    char text[160];
    std::snprintf(text, sizeof text, "%s/1-%d", kUsbRoot, port_);
    usbPath_ = text;
    interfacePath_ = usbPath_ + "/1-" + std::to_string(port_) + ":1.0";
    std::snprintf(text, sizeof text, "0003:%04X:%04X.%04X", spec_.vendorId, spec_.productId, index_ + 1);
    hidName_ = text;
    hidPath_ = interfacePath_ + "/" + hidName_;
    hidrawName_ = "hidraw" + std::to_string(index_);
    hidrawPath_ = hidPath_ + "/hidraw/" + hidrawName_;
    devnode_ = "/dev/" + hidrawName_;
  }

  ~HidrawDevice() {
    pump_.request_stop();
    if (pump_.joinable()) pump_.join();
    if (attached_) testbed_.Detach(devnode_);
    if (handler_ != nullptr) {
      g_signal_handlers_disconnect_by_data(handler_, this);
      g_object_unref(handler_);
    }
    if (slaveFd_ >= 0) close(slaveFd_);
  }

  std::string Syspath() const { return "/sys" + usbPath_; }

  bool Add(std::string* error) {
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&HidrawDevice::OnIoctl), this);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(&HidrawDevice::OnRead), this);
    g_signal_connect(handler_, "handle-write", G_CALLBACK(&HidrawDevice::OnWrite), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(&HidrawDevice::OnConnected), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(&HidrawDevice::OnVanished), this);
    if (!testbed_.Attach(devnode_, handler_, error)) return false;
    attached_ = true;

    auto device = SimBox::DeviceDescriptor(BoxFunction::Bridge);
    device[8] = static_cast<std::uint8_t>(spec_.vendorId & 0xFF);
    device[9] = static_cast<std::uint8_t>(spec_.vendorId >> 8);
    device[10] = static_cast<std::uint8_t>(spec_.productId & 0xFF);
    device[11] = static_cast<std::uint8_t>(spec_.productId >> 8);
    const auto config = SimBox::ConfigurationDescriptor(BoxFunction::Bridge);
    std::vector<std::uint8_t> descriptors(device.begin(), device.end());
    descriptors.insert(descriptors.end(), config.begin(), config.end());
    reportDescriptor_ = SimBox::HidReportDescriptor(BoxFunction::Bridge);
    const std::string vid = Hex4(spec_.vendorId), pid = Hex4(spec_.productId);
    char product[32];
    std::snprintf(product, sizeof product, "%x/%x/100", spec_.vendorId, spec_.productId);
    char hidId[40];
    std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", spec_.vendorId, spec_.productId);
    const int devnum = 10 + port_;
    char busdev[96];
    std::snprintf(busdev, sizeof busdev, "E: BUSNUM=%03d\nE: DEVNUM=%03d\nA: busnum=%d\\n\nA: devnum=%d\\n\n",
                  kBusNumber, devnum, kBusNumber, devnum);

    std::string text;
    text += "P: " + usbPath_ + "\n";
    text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n";
    text += busdev;
    text += std::string("E: PRODUCT=") + product + "\n";
    text += "A: speed=12\\n\nA: bConfigurationValue=1\\n\nA: bNumInterfaces= 1\\n\n";
    text += "A: idVendor=" + vid + "\nA: idProduct=" + pid + "\nA: bcdDevice=0100\n";
    text += "A: manufacturer=" + spec_.manufacturer + "\nA: product=" + spec_.product + "\n";
    text += "H: descriptors=" + HexString(descriptors) + "\n\n";

    text += "P: " + interfacePath_ + "\n";
    text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n";
    text += std::string("E: PRODUCT=") + product + "\nE: INTERFACE=3/0/0\n";
    text += "A: bInterfaceNumber=00\nA: bInterfaceClass=03\nA: bInterfaceSubClass=00\nA: bInterfaceProtocol=00\n";
    text += "A: bAlternateSetting= 0\nA: bNumEndpoints=02\n\n";

    text += "P: " + hidPath_ + "\n";
    text += "E: SUBSYSTEM=hid\n";
    text += std::string("E: HID_ID=") + hidId + "\n";
    text += "E: HID_NAME=" + spec_.manufacturer + " " + spec_.product + "\n";
    text += "E: HID_PHYS=usb-0000:00:14.0-" + std::to_string(port_) + "/input0\n";
    text += "E: HID_UNIQ=\n";
    text += "H: report_descriptor=" + HexString(reportDescriptor_) + "\n\n";

    text += "P: " + hidrawPath_ + "\n";
    text += "N: " + hidrawName_ + "\n";
    text += "E: SUBSYSTEM=hidraw\nE: DEVNAME=" + devnode_ + "\n";
    text += "L: device=../../../" + hidName_ + "\n";
    if (!testbed_.AddFromString(text, error)) return false;
    if (!SetUpPty(error)) return false;
    if (box_ != nullptr) pump_ = std::jthread([this](std::stop_token st) { Pump(st); });
    return true;
  }

  void Unplug() {
    {
      std::lock_guard lock(mutex_);
      if (gone_) return;
      gone_ = true;
      reports_.clear();
    }
    pump_.request_stop();
    // Hang up the node: the client's poll sees POLLHUP, as for a removed hidraw device.
    const int master = testbed_.DevFd(devnode_);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (master >= 0 && null >= 0) dup2(null, master);
    if (null >= 0) close(null);
    // Children first, as the kernel does; each one also leaves its bus and class links.
    for (const std::string& p : {hidrawPath_, hidPath_, interfacePath_, usbPath_})
      testbed_.Uevent("/sys" + p, "remove");
    for (const std::string& p : {hidrawPath_, hidPath_, interfacePath_, usbPath_}) testbed_.Remove("/sys" + p);
  }

 private:
  // The node is a pty. Its real device number goes into sysfs, because hidapi looks the open
  // device up by fstat(); one byte per queued report on the master makes the client's poll real.
  bool SetUpPty(std::string* error) {
    const int master = testbed_.DevFd(devnode_);
    if (master < 0) {
      if (error != nullptr) *error = "no pty for " + devnode_;
      return false;
    }
    char name[128] = {};
    if (ptsname_r(master, name, sizeof name) != 0) {
      if (error != nullptr) *error = "ptsname failed";
      return false;
    }
    slaveFd_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slaveFd_ < 0) {
      if (error != nullptr) *error = std::string("open ") + name + ": " + std::strerror(errno);
      return false;
    }
    termios tio{};
    if (tcgetattr(slaveFd_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(slaveFd_, TCSANOW, &tio);
    }
    struct stat st {};
    if (fstat(slaveFd_, &st) != 0) {
      if (error != nullptr) *error = "fstat pty failed";
      return false;
    }
    const std::string major = std::to_string(::major(st.st_rdev));
    const std::string minor = std::to_string(::minor(st.st_rdev));
    const std::string sys = "/sys" + hidrawPath_;
    testbed_.SetProperty(sys, "MAJOR", major);
    testbed_.SetProperty(sys, "MINOR", minor);
    testbed_.SetAttribute(sys, "dev", major + ":" + minor);
    const std::string charDir = testbed_.sys + "/dev/char";
    g_mkdir_with_parents(charDir.c_str(), 0755);
    const std::string link = charDir + "/" + major + ":" + minor;
    unlink(link.c_str());
    if (symlink(("../.." + hidrawPath_).c_str(), link.c_str()) != 0) {
      if (error != nullptr) *error = "symlink " + link + ": " + std::strerror(errno);
      return false;
    }
    return true;
  }

  void Pump(std::stop_token st) {
    while (!st.stop_requested()) {
      BridgeReport report{};
      const InResult r = box_->BridgeRead(session_, report, std::chrono::milliseconds(50), st);
      if (r == InResult::NoDevice) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      if (r != InResult::Report) continue;
      std::lock_guard lock(mutex_);
      if (gone_) return;
      // As hidraw: reports reach only open files, and a full buffer drops new ones.
      if (clients_ == 0 || reports_.size() >= kReportBufferSize) continue;
      reports_.push_back(report);
      const int master = testbed_.DevFd(devnode_);
      const char byte = 'r';
      if (master >= 0) [[maybe_unused]]
        auto n = write(master, &byte, 1);
    }
  }

  static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
    auto* self = static_cast<HidrawDevice*>(data);
    std::lock_guard lock(self->mutex_);
    ++self->clients_;
    // An open starts with an empty buffer, as a fresh hidraw file does. (The buffer is shared:
    // with two files open at once, the second open empties the first one's buffer too.)
    self->reports_.clear();
    char bytes[64];
    while (read(self->slaveFd_, bytes, sizeof bytes) > 0) {
    }
  }

  static void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
    auto* self = static_cast<HidrawDevice*>(data);
    std::lock_guard lock(self->mutex_);
    if (self->clients_ > 0) --self->clients_;
  }

  static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* self = static_cast<HidrawDevice*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(self->mutex_);
    if (self->gone_) {
      umockdev_ioctl_client_complete(client, -1, ENODEV);
      return TRUE;
    }
    if (self->reports_.empty() || arg == nullptr) {
      umockdev_ioctl_client_complete(client, -1, EAGAIN);
      return TRUE;
    }
    const BridgeReport report = self->reports_.front();
    self->reports_.pop_front();
    char byte = 0;
    [[maybe_unused]] const auto consumed = read(self->slaveFd_, &byte, 1);
    // No numbered reports: the node delivers the 64 bytes after the report id.
    const auto n = std::min<std::size_t>(kBridgeReportSize - 1, static_cast<std::size_t>(arg->data_len));
    std::memcpy(arg->data, report.data() + 1, n);
    umockdev_ioctl_client_complete(client, static_cast<glong>(n), 0);
    return TRUE;
  }

  static gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* self = static_cast<HidrawDevice*>(data);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    {
      std::lock_guard lock(self->mutex_);
      if (self->gone_) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
      }
    }
    const std::size_t length = arg != nullptr ? static_cast<std::size_t>(arg->data_len) : 0;
    if (self->box_ != nullptr && length > 0) {
      BridgeReport report{};
      std::memcpy(report.data(), arg->data, std::min(length, report.size()));
      if (self->box_->BridgeWrite(self->session_, report) == OutResult::NoDevice) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
      }
    }
    umockdev_ioctl_client_complete(client, static_cast<glong>(length), 0);
    return TRUE;
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* self = static_cast<HidrawDevice*>(data);
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (_IOC_TYPE(request) != 'H' || arg == nullptr) return FALSE;
    const auto room = static_cast<std::size_t>(arg->data_len);
    auto put = [&](const void* bytes, std::size_t n) {
      n = std::min(n, room);
      std::memcpy(arg->data, bytes, n);
      return n;
    };
    switch (_IOC_NR(request)) {
      case 0x01: {  // HIDIOCGRDESCSIZE
        const int size = static_cast<int>(self->reportDescriptor_.size());
        put(&size, sizeof size);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case 0x02: {  // HIDIOCGRDESC: the caller says how much it wants in `size`
        hidraw_report_descriptor d{};
        std::memcpy(&d, arg->data, std::min(room, sizeof d.size));
        const auto n = std::min<std::size_t>({d.size, self->reportDescriptor_.size(), sizeof d.value});
        d.size = static_cast<__u32>(n);
        std::memcpy(d.value, self->reportDescriptor_.data(), n);
        put(&d, sizeof d);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case 0x03: {  // HIDIOCGRAWINFO
        hidraw_devinfo info{};
        info.bustype = 3;  // BUS_USB
        info.vendor = static_cast<__s16>(self->spec_.vendorId);
        info.product = static_cast<__s16>(self->spec_.productId);
        put(&info, sizeof info);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case 0x04:    // HIDIOCGRAWNAME
      case 0x05:    // HIDIOCGRAWPHYS
      case 0x08: {  // HIDIOCGRAWUNIQ
        std::string text;
        if (_IOC_NR(request) == 0x04) text = self->spec_.manufacturer + " " + self->spec_.product;
        if (_IOC_NR(request) == 0x05) text = "usb-0000:00:14.0-" + std::to_string(self->port_) + "/input0";
        const std::size_t n = put(text.c_str(), text.size() + 1);
        umockdev_ioctl_client_complete(client, static_cast<glong>(n), 0);
        return TRUE;
      }
      case 0x06:  // HIDIOCSFEATURE / GFEATURE: the bridge has no feature reports
      case 0x07:
        umockdev_ioctl_client_complete(client, -1, EPIPE);
        return TRUE;
      default:
        return FALSE;
    }
  }

  Testbed& testbed_;
  std::shared_ptr<SimBox> box_;
  HidSpec spec_;
  int port_;
  int index_;
  std::uint64_t session_;
  std::string usbPath_, interfacePath_, hidName_, hidPath_, hidrawName_, hidrawPath_, devnode_;
  std::vector<std::uint8_t> reportDescriptor_;
  UMockdevIoctlBase* handler_ = nullptr;
  bool attached_ = false;
  int slaveFd_ = -1;

  std::mutex mutex_;
  bool gone_ = false;
  static constexpr std::size_t kReportBufferSize = 64;  // the kernel's hidraw buffer
  int clients_ = 0;
  std::deque<BridgeReport> reports_;
  std::jthread pump_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

struct UmockdevBox::Impl {
  std::shared_ptr<SimBox> box;
  Testbed testbed;
  int observerId = -1;

  std::mutex mutex;  // the device lists below
  int nextDevnum = 2;
  int nextHidIndex = 0;
  int nextPort = 3;  // 1: controller, 2: bridge, 3 on: silent devices
  std::unique_ptr<UsbfsDevice> controller;
  std::vector<std::unique_ptr<UsbfsDevice>> oldControllers;  // unplugged, still answering ENODEV
  std::unique_ptr<HidrawDevice> bridge;
  std::vector<std::unique_ptr<HidrawDevice>> oldHid;
  std::map<std::string, std::unique_ptr<HidrawDevice>> silent;

  // `session` comes from the presence notice: the box may hold its own locks while it notifies.
  bool PlugController(std::uint64_t session, std::string* error) {
    std::lock_guard lock(mutex);
    if (controller != nullptr) return true;
    auto dev = std::make_unique<UsbfsDevice>(testbed, box, nextDevnum++, session);
    if (!dev->Add(error)) {
      oldControllers.push_back(std::move(dev));
      return false;
    }
    controller = std::move(dev);
    return true;
  }
  void UnplugController() {
    std::lock_guard lock(mutex);
    if (controller == nullptr) return;
    controller->Unplug();
    oldControllers.push_back(std::move(controller));
  }
  bool PlugBridge(std::uint64_t session, std::string* error) {
    std::lock_guard lock(mutex);
    if (bridge != nullptr) return true;
    HidSpec spec{kBridgeVendorId, kBridgeProductId, std::string(kBridgeManufacturer), std::string(kBridgeProduct)};
    auto dev = std::make_unique<HidrawDevice>(testbed, box, spec, 2, nextHidIndex++, session);
    if (!dev->Add(error)) {
      oldHid.push_back(std::move(dev));
      return false;
    }
    bridge = std::move(dev);
    return true;
  }
  void UnplugBridge() {
    std::lock_guard lock(mutex);
    if (bridge == nullptr) return;
    bridge->Unplug();
    oldHid.push_back(std::move(bridge));
  }

  void OnPresence(BoxFunction function, bool present, std::uint64_t session) {
    std::string error;
    if (function == BoxFunction::Controller) {
      if (present) {
        if (!PlugController(session, &error)) std::fprintf(stderr, "umockdev box: controller: %s\n", error.c_str());
      } else {
        UnplugController();
      }
    } else {
      if (present) {
        if (!PlugBridge(session, &error)) std::fprintf(stderr, "umockdev box: bridge: %s\n", error.c_str());
      } else {
        UnplugBridge();
      }
    }
  }

  ~Impl() {
    if (observerId >= 0) box->RemovePresenceObserver(observerId);
    std::lock_guard lock(mutex);
    controller.reset();
    oldControllers.clear();
    bridge.reset();
    oldHid.clear();
    silent.clear();
    if (testbed.tb != nullptr) g_object_unref(testbed.tb);
  }
};

UmockdevBox::UmockdevBox(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
UmockdevBox::~UmockdevBox() = default;

std::unique_ptr<UmockdevBox> UmockdevBox::Create(std::shared_ptr<SimBox> box, std::string* error) {
  if (box == nullptr) {
    if (error != nullptr) *error = "no box";
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->box = std::move(box);
  impl->testbed.tb = umockdev_testbed_new();
  if (impl->testbed.tb == nullptr) {
    if (error != nullptr) *error = "umockdev_testbed_new failed";
    return nullptr;
  }
  gchar* root = umockdev_testbed_get_root_dir(impl->testbed.tb);
  gchar* sys = umockdev_testbed_get_sys_dir(impl->testbed.tb);
  impl->testbed.root = root != nullptr ? root : "";
  impl->testbed.sys = sys != nullptr ? sys : "";
  g_free(root);
  g_free(sys);

  // Observe first, then add what is present: a change in between is not lost (plugging twice is
  // harmless).
  Impl* raw = impl.get();
  impl->observerId = impl->box->AddPresenceObserver([raw](BoxFunction function, bool present, std::uint64_t session) {
    raw->OnPresence(function, present, session);
  });
  std::string why;
  if (impl->box->IsPresent(BoxFunction::Controller) &&
      !impl->PlugController(impl->box->Session(BoxFunction::Controller), &why)) {
    if (error != nullptr) *error = "controller: " + why;
    return nullptr;
  }
  if (impl->box->IsPresent(BoxFunction::Bridge) && !impl->PlugBridge(impl->box->Session(BoxFunction::Bridge), &why)) {
    if (error != nullptr) *error = "bridge: " + why;
    return nullptr;
  }
  return std::unique_ptr<UmockdevBox>(new UmockdevBox(std::move(impl)));
}

std::string UmockdevBox::RootDir() const { return impl_->testbed.root; }
const std::shared_ptr<SimBox>& UmockdevBox::Box() const { return impl_->box; }

std::string UmockdevBox::AddSilentHidDevice(const SilentHidDevice& device) {
  std::lock_guard lock(impl_->mutex);
  HidSpec spec{device.vendorId, device.productId, device.manufacturer, device.product};
  auto dev = std::make_unique<HidrawDevice>(impl_->testbed, nullptr, spec, impl_->nextPort++, impl_->nextHidIndex++, 0);
  std::string error;
  if (!dev->Add(&error)) {
    std::fprintf(stderr, "umockdev box: silent HID device: %s\n", error.c_str());
    impl_->oldHid.push_back(std::move(dev));
    return "";
  }
  const std::string syspath = dev->Syspath();
  impl_->silent[syspath] = std::move(dev);
  return syspath;
}

void UmockdevBox::RemoveSilentHidDevice(const std::string& syspath) {
  std::lock_guard lock(impl_->mutex);
  auto it = impl_->silent.find(syspath);
  if (it == impl_->silent.end()) return;
  it->second->Unplug();
  impl_->oldHid.push_back(std::move(it->second));
  impl_->silent.erase(it);
}

}  // namespace varnex2::sim
