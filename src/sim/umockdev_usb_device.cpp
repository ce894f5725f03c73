// A USB device of the umockdev bus (see umockdev_usb_device.h), its life and its front: what the
// constructor reads from the configuration descriptor, adding the device with its interfaces and
// default drivers, unplugging it children first, the sysfs attributes the kernel writes, and the
// answers to control transfers (descriptors, strings, status, the root hub's hub requests).

#include "sim/umockdev_usb_device.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/box_identity.h"

namespace varnex2::sim::umockdev_detail {

std::array<std::uint8_t, 18> RootHubDeviceDescriptor() {
  return {18, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 64, 0x6B, 0x1D, 0x02, 0x00, 0x01, 0x06, 3, 2, 1, 1};
}
std::vector<std::uint8_t> RootHubConfiguration() {
  return {9, 0x02, 25,   0,    1, 1,    0, 0xE0, 0,  // self powered
          9, 0x04, 0,    0,    1, 0x09, 0, 0,    0,  // interface 0: hub class
          7, 0x05, 0x81, 0x03, 4, 0,    12};         // status change endpoint
}

UsbDevice::UsbDevice(Testbed& testbed, Counters& counters, std::shared_ptr<SimBox> box, DeviceSpec spec,
                     std::uint64_t session, std::function<bool(int)> portConnected)
    : testbed_(testbed),
      counters_(counters),
      box_(std::move(box)),
      spec_(std::move(spec)),
      session_(session),
      portConnected_(std::move(portConnected)) {
  char node[64];
  std::snprintf(node, sizeof node, "bus/usb/%03d/%03d", kBusNumber, spec_.devnum);
  relNode_ = node;
  devnode_ = std::string("/dev/") + node;
  name_ = spec_.kind == DeviceKind::RootHub ? "usb1" : "1-" + std::to_string(spec_.port);
  path_ = spec_.kind == DeviceKind::RootHub ? std::string(kUsbRoot) : std::string(kUsbRoot) + "/" + name_;
  const std::string interfacePrefix = (spec_.kind == DeviceKind::RootHub ? "1-0" : name_) + ":1.";
  for (std::size_t pos = 0; pos + 9 <= spec_.config.size() && spec_.config[pos] >= 2; pos += spec_.config[pos]) {
    if (spec_.config[pos + 1] != 0x04 || spec_.config[pos + 3] != 0) continue;
    Interface i;
    i.number = spec_.config[pos + 2];
    i.endpoints = spec_.config[pos + 4];
    i.cls = spec_.config[pos + 5];
    i.iInterface = spec_.config[pos + 8];
    i.path = path_ + "/" + interfacePrefix + std::to_string(i.number);
    i.defaultDriver = i.cls == 0x03 ? kHidDriver : (i.cls == 0x09 ? kHubDriver : "");
    i.driver = i.defaultDriver;
    for (std::size_t e = pos + spec_.config[pos]; e + 7 <= spec_.config.size() && spec_.config[e] >= 2;
         e += spec_.config[e]) {
      if (spec_.config[e + 1] == 0x04) break;
      if (spec_.config[e + 1] == 0x05) i.endpointAddresses.push_back(spec_.config[e + 2]);
    }
    interfaces_.push_back(std::move(i));
  }
  if (spec_.kind == DeviceKind::Controller) {
    liveIn_ = kControllerInEndpoint;
    liveOut_ = kControllerOutEndpoint;
  } else if (spec_.kind == DeviceKind::Bridge && box_ != nullptr) {
    liveIn_ = kBridgeInEndpoint;
    liveOut_ = kBridgeOutEndpoint;
  }
}

UsbDevice::~UsbDevice() {
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

bool UsbDevice::Add(std::string* error) {
  handler_ = umockdev_ioctl_base_new();
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&UsbDevice::OnIoctl), this);
  g_signal_connect(handler_, "client-vanished", G_CALLBACK(&UsbDevice::OnVanished), this);
  if (!testbed_.Attach(devnode_, handler_, error)) return false;
  attached_ = true;
  testbed_.MakeDriverDir("usb", "usb");
  for (const char* d : {kHidDriver, kHubDriver, kUsbfsDriver}) testbed_.MakeDriverDir("usb", d);
  if (!testbed_.AddFromString(SysfsText(), error)) return false;
  if (!MakeFifo(error)) return false;
  std::lock_guard bind(bindMutex_);
  for (Interface& i : interfaces_) {
    if (i.driver == kHidDriver && !AddHidNode(i, error)) return false;
  }
  for (Interface& i : interfaces_) {
    if (!i.driver.empty()) testbed_.Uevent("/sys" + i.path, "bind");
  }
  if (liveIn_ != 0) pump_ = std::jthread([this](std::stop_token st) { Pump(st); });
  return true;
}

void UsbDevice::Unplug() {
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
  std::lock_guard bind(bindMutex_);
  for (Interface& i : interfaces_) {
    if (i.hid != nullptr) {
      i.hid->Remove();
      retiredHid_.push_back(std::move(i.hid));
    }
    testbed_.UeventAndRemove("/sys" + i.path);
  }
  testbed_.UeventAndRemove(Syspath());
}

bool UsbDevice::StringOf(std::uint8_t index, std::string& out) const {
  switch (spec_.kind) {
    case DeviceKind::RootHub: {
      const char* texts[] = {nullptr, kRootHubSerial, kRootHubProduct, kRootHubManufacturer};  // a root hub's order
      if (index == 0 || index > 3) return false;
      out = texts[index];
      return true;
    }
    case DeviceKind::Controller:
      return SimBox::StringDescriptor(BoxFunction::Controller, index, out);
    case DeviceKind::Bridge:
    case DeviceKind::Silent:
      if (index == 1) out = spec_.hid.manufacturer;
      if (index == 2) out = spec_.hid.product;
      return index == 1 || index == 2;
  }
  return false;
}

// The sysfs entries of the device and its interfaces, with the attributes the kernel writes.
std::string UsbDevice::SysfsText() const {
  const bool hub = spec_.kind == DeviceKind::RootHub;
  const auto& d = spec_.device;
  const int numInterfaces = spec_.config.size() > 4 ? spec_.config[4] : 0;
  char product[32];
  std::snprintf(product, sizeof product, "%x/%x/%x", spec_.hid.vendorId, spec_.hid.productId, BcdDevice());
  char type[16];
  std::snprintf(type, sizeof type, "%d/%d/%d", d[4], d[5], d[6]);
  char busdev[64];
  std::snprintf(busdev, sizeof busdev, "E: BUSNUM=%03d\nE: DEVNUM=%03d\n", kBusNumber, spec_.devnum);
  char numIf[8];
  std::snprintf(numIf, sizeof numIf, "%2d", numInterfaces);
  char maxPower[16];
  std::snprintf(maxPower, sizeof maxPower, "%dmA", spec_.config.size() > 8 ? spec_.config[8] * 2 : 0);
  std::string manufacturer, productText, serial;
  StringOf(d[14], manufacturer);
  StringOf(d[15], productText);
  const bool hasSerial = d[16] != 0 && StringOf(d[16], serial);

  std::string text = "P: " + path_ + "\nN: " + relNode_ + "\n";
  text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: DEVNAME=" + devnode_ + "\n";
  text += busdev;
  text += std::string("E: PRODUCT=") + product + "\nE: TYPE=" + type + "\n";
  text += Attr("busnum", std::to_string(kBusNumber)) + Attr("devnum", std::to_string(spec_.devnum));
  text += Attr("devpath", std::to_string(spec_.port));
  text += Attr("speed", hub ? "480" : "12") + Attr("version", " 2.00");
  text += Attr("maxchild", std::to_string(hub ? kRootHubPorts : 0));
  text += Attr("idVendor", Hex4(spec_.hid.vendorId)) + Attr("idProduct", Hex4(spec_.hid.productId));
  text += Attr("bcdDevice", Hex4(BcdDevice()));
  text += Attr("bDeviceClass", Hex2(d[4])) + Attr("bDeviceSubClass", Hex2(d[5])) + Attr("bDeviceProtocol", Hex2(d[6]));
  text += Attr("bMaxPacketSize0", std::to_string(d[7])) + Attr("bNumConfigurations", std::to_string(d[17]));
  text += Attr("bConfigurationValue", "1") + Attr("bNumInterfaces", numIf);
  text += Attr("bmAttributes", Hex2(spec_.config.size() > 7 ? spec_.config[7] : 0x80)) + Attr("bMaxPower", maxPower);
  text += Attr("manufacturer", manufacturer) + Attr("product", productText);
  if (hasSerial) text += Attr("serial", serial);
  text += Attr("authorized", "1") + Attr("removable", hub ? "unknown" : "removable");
  text += "L: driver=" + UpToSys("/sys" + path_) + "bus/usb/drivers/usb\n";
  std::vector<std::uint8_t> descriptors(d.begin(), d.end());
  descriptors.insert(descriptors.end(), spec_.config.begin(), spec_.config.end());
  text += "H: descriptors=" + HexString(descriptors) + "\n\n";

  for (const Interface& i : interfaces_) {
    char modalias[96];
    std::snprintf(modalias, sizeof modalias, "usb:v%04Xp%04Xd%04Xdc%02Xdsc%02Xdp%02Xic%02Xisc00ip00in%02X",
                  spec_.hid.vendorId, spec_.hid.productId, BcdDevice(), d[4], d[5], d[6], i.cls, i.number);
    char alt[8];
    std::snprintf(alt, sizeof alt, "%2d", 0);
    text += "P: " + i.path + "\n";
    text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n";
    text += std::string("E: PRODUCT=") + product + "\nE: TYPE=" + type + "\n";
    text += "E: INTERFACE=" + std::to_string(i.cls) + "/0/0\n";
    text += std::string("E: MODALIAS=") + modalias + "\n";
    if (!i.driver.empty()) text += "E: DRIVER=" + i.driver + "\n";
    text += Attr("bInterfaceNumber", Hex2(static_cast<unsigned>(i.number))) + Attr("bAlternateSetting", alt);
    text += Attr("bNumEndpoints", Hex2(static_cast<unsigned>(i.endpoints)));
    text += Attr("bInterfaceClass", Hex2(static_cast<unsigned>(i.cls)));
    text += Attr("bInterfaceSubClass", "00") + Attr("bInterfaceProtocol", "00");
    text += Attr("authorized", "1") + Attr("supports_autosuspend", "1");
    std::string interfaceText;
    if (i.iInterface != 0 && StringOf(static_cast<std::uint8_t>(i.iInterface), interfaceText))
      text += Attr("interface", interfaceText);
    text += Attr("modalias", modalias);
    if (!i.driver.empty()) text += "L: driver=" + UpToSys("/sys" + i.path) + "bus/usb/drivers/" + i.driver + "\n";
    text += "\n";
  }
  return text;
}

void UsbDevice::PutString(std::vector<std::uint8_t>& answer, std::string text) {
  text.resize(std::min<std::size_t>(text.size(), 126));
  answer.push_back(static_cast<std::uint8_t>(2 + 2 * text.size()));
  answer.push_back(3);
  for (const char c : text) {
    answer.push_back(static_cast<std::uint8_t>(c));
    answer.push_back(0);
  }
}

// Answers a control transfer in place; returns the data length or -1 for a stall.
int UsbDevice::Control(Urb& u) {
  if (u.buffer == nullptr || u.buffer->data_len < 8) return -1;
  std::uint8_t* setup = u.buffer->data;
  const std::uint8_t requestType = setup[0];
  const std::uint8_t request = setup[1];
  const int value = setup[2] | (setup[3] << 8);
  const int index = setup[4] | (setup[5] << 8);
  const int wLength = setup[6] | (setup[7] << 8);
  const int room = std::min(wLength, u.buffer->data_len - 8);
  const bool hub = spec_.kind == DeviceKind::RootHub;
  std::vector<std::uint8_t> answer;
  if ((requestType & 0x80) == 0) {
    return 0;  // host-to-device requests (set configuration, set idle, port features...) are accepted
  } else if (requestType == 0x80 && request == 6) {  // GET_DESCRIPTOR from the device
    const int type = value >> 8;
    const auto stringIndex = static_cast<std::uint8_t>(value & 0xFF);
    if (type == 1) {
      answer.assign(spec_.device.begin(), spec_.device.end());
    } else if (type == 2) {
      answer = spec_.config;
    } else if (type == 3 && stringIndex == 0) {
      answer = {4, 3, 0x09, 0x04};
    } else if (type == 3) {
      std::string text;
      if (!StringOf(stringIndex, text)) return -1;
      PutString(answer, text);
    } else {
      return -1;  // no device qualifier (full speed only) and no BOS (USB 2.0)
    }
  } else if ((requestType & 0x9F) == 0x80 && request == 0) {  // GET_STATUS: device, interface, endpoint
    answer = {static_cast<std::uint8_t>(hub && (requestType & 0x1F) == 0 ? 0x01 : 0x00), 0};
  } else if (requestType == 0x80 && request == 8) {  // GET_CONFIGURATION
    answer = {1};
  } else if (requestType == 0x81 && request == 10) {  // GET_INTERFACE
    answer = {0};
  } else if (hub && requestType == 0xA0 && request == 6 && (value >> 8) == 0x29) {  // hub descriptor
    answer = {11, 0x29, kRootHubPorts, 0x0A, 0x00, 10, 0, 0x00, 0x00, 0xFF, 0xFF};
  } else if (hub && requestType == 0xA0 && request == 0) {  // hub status
    answer = {0, 0, 0, 0};
  } else if (hub && requestType == 0xA3 &&
             request == 0) {  // port status: powered, and connected and enabled when in use
    if (index < 1 || index > kRootHubPorts) return -1;
    const bool connected = portConnected_ && portConnected_(index);
    answer = {static_cast<std::uint8_t>(connected ? 0x03 : 0x00), 0x01, 0, 0};
  } else {
    return -1;
  }
  const int n = std::min(room, static_cast<int>(answer.size()));
  if (n > 0) std::memcpy(setup + 8, answer.data(), static_cast<std::size_t>(n));
  return n;
}

}  // namespace varnex2::sim::umockdev_detail
