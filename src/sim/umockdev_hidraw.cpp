// The hidraw side of the umockdev adapter (see umockdev_hidraw.h): the hid device's and hidraw
// node's sysfs entries, the pty that gives a streaming node real read waits and device numbers,
// the pump that carries the bridge's reports to open files, and the hidraw read, write and ioctl
// answers.

#include "sim/umockdev_hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace varnex2::sim::umockdev_detail {

HidNode::HidNode(Testbed& testbed, std::shared_ptr<SimBox> box, HidSpec spec, std::string interfacePath,
                 int interfaceNumber, int port, int hidId, int hidrawIndex, std::vector<std::uint8_t> reportDescriptor,
                 std::uint64_t session, bool streaming)
    : testbed_(testbed),
      box_(std::move(box)),
      spec_(std::move(spec)),
      interfacePath_(std::move(interfacePath)),
      interfaceNumber_(interfaceNumber),
      port_(port),
      session_(session),
      reportDescriptor_(std::move(reportDescriptor)),
      streaming_(streaming) {
  char text[64];
  std::snprintf(text, sizeof text, "0003:%04X:%04X.%04X", spec_.vendorId, spec_.productId, hidId & 0xFFFF);
  hidName_ = text;
  hidPath_ = interfacePath_ + "/" + hidName_;
  hidrawName_ = "hidraw" + std::to_string(hidrawIndex);
  hidrawPath_ = hidPath_ + "/hidraw/" + hidrawName_;
  devnode_ = "/dev/" + hidrawName_;
}

HidNode::~HidNode() {
  pump_.request_stop();
  if (pump_.joinable()) pump_.join();
  if (attached_) testbed_.Detach(devnode_);
  if (handler_ != nullptr) {
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
  }
  if (slaveFd_ >= 0) close(slaveFd_);
}

bool HidNode::Add(std::string* error) {
  handler_ = umockdev_ioctl_base_new();
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&HidNode::OnIoctl), this);
  g_signal_connect(handler_, "handle-read", G_CALLBACK(&HidNode::OnRead), this);
  g_signal_connect(handler_, "handle-write", G_CALLBACK(&HidNode::OnWrite), this);
  g_signal_connect(handler_, "client-connected", G_CALLBACK(&HidNode::OnConnected), this);
  g_signal_connect(handler_, "client-vanished", G_CALLBACK(&HidNode::OnVanished), this);
  if (!testbed_.Attach(devnode_, handler_, error)) return false;
  attached_ = true;

  char hidId[40];
  std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", spec_.vendorId, spec_.productId);
  char modalias[64];
  std::snprintf(modalias, sizeof modalias, "hid:b0003g0001v%08Xp%08X", spec_.vendorId, spec_.productId);
  std::string text;
  text += "P: " + hidPath_ + "\n";
  text += "E: SUBSYSTEM=hid\nE: DRIVER=hid-generic\n";
  text += std::string("E: HID_ID=") + hidId + "\n";
  text += "E: HID_NAME=" + spec_.manufacturer + " " + spec_.product + "\n";
  text += "E: HID_PHYS=" + Phys() + "\n";
  text += "E: HID_UNIQ=\n";
  text += std::string("E: MODALIAS=") + modalias + "\n";
  text += "H: report_descriptor=" + HexString(reportDescriptor_) + "\n";
  text += "L: driver=" + UpToSys("/sys" + hidPath_) + "bus/hid/drivers/hid-generic\n\n";

  text += "P: " + hidrawPath_ + "\n";
  text += "N: " + hidrawName_ + (streaming_ ? "" : "=00") + "\n";
  text += "E: SUBSYSTEM=hidraw\nE: DEVNAME=" + devnode_ + "\n";
  text += "L: device=../../../" + hidName_ + "\n";
  testbed_.MakeDriverDir("hid", "hid-generic");
  if (!testbed_.AddFromString(text, error)) return false;
  added_ = true;
  if (streaming_ && !SetUpPty(error)) return false;
  if (box_ != nullptr) pump_ = std::jthread([this](std::stop_token st) { Pump(st); });
  return true;
}

void HidNode::Remove() {
  {
    std::lock_guard lock(mutex_);
    if (gone_) return;
    gone_ = true;
    reports_.clear();
    // Opened through the preload, the slave counts against its small table of device files.
    if (slaveFd_ >= 0) close(slaveFd_);
    slaveFd_ = -1;
  }
  pump_.request_stop();
  const int master = testbed_.DevFd(devnode_);
  if (master >= 0) {
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) dup2(null, master);
    if (null >= 0) close(null);
  }
  if (!added_) return;
  testbed_.UeventAndRemove("/sys" + hidrawPath_);
  testbed_.UeventAndRemove("/sys" + hidPath_);
}

std::string HidNode::Phys() const {
  return "usb-0000:00:14.0-" + std::to_string(port_) + "/input" + std::to_string(interfaceNumber_);
}

// The node is a pty. Its real device number goes into sysfs, because hidapi looks the open
// device up by fstat(); one byte per queued report on the master makes the client's poll real.
bool HidNode::SetUpPty(std::string* error) {
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
  testbed_.SetAttribute(sys, "dev", major + ":" + minor + "\n");
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

void HidNode::Pump(std::stop_token st) {
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

void HidNode::OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
  auto* self = static_cast<HidNode*>(data);
  std::lock_guard lock(self->mutex_);
  ++self->clients_;
  // An open starts with an empty buffer, as a fresh hidraw file does. (The buffer is shared:
  // with two files open at once, the second open empties the first one's buffer too.)
  self->reports_.clear();
  char bytes[64];
  while (read(self->slaveFd_, bytes, sizeof bytes) > 0) {
  }
}

void HidNode::OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer data) {
  auto* self = static_cast<HidNode*>(data);
  std::lock_guard lock(self->mutex_);
  if (self->clients_ > 0) --self->clients_;
}

gboolean HidNode::OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  auto* self = static_cast<HidNode*>(data);
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

gboolean HidNode::OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  auto* self = static_cast<HidNode*>(data);
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

gboolean HidNode::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
  auto* self = static_cast<HidNode*>(data);
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
      if (_IOC_NR(request) == 0x05) text = self->Phys();
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

}  // namespace varnex2::sim::umockdev_detail
