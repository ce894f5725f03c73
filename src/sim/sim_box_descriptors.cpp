// The simulated box's USB identity (see sim_box.h): device and configuration descriptors, HID
// report descriptors and strings, all derived from one table of interfaces so that the
// in-process back-ends and the umockdev adapter describe the same device, and the Windows-style
// interface paths.

#include "sim/sim_box.h"

#include <iterator>
#include <string_view>

namespace varnex2::sim {

// ---------------------------------------------------------------- identity
std::array<std::uint8_t, 18> SimBox::DeviceDescriptor(BoxFunction function) {
  const bool c = function == BoxFunction::Controller;
  const std::uint16_t vid = c ? kControllerVendorId : kBridgeVendorId;
  const std::uint16_t pid = c ? kControllerProductId : kBridgeProductId;
  return {18,
          0x01,
          0x00,
          0x02,
          0x00,
          0x00,
          0x00,
          64,
          static_cast<std::uint8_t>(vid & 0xFF),
          static_cast<std::uint8_t>(vid >> 8),
          static_cast<std::uint8_t>(pid & 0xFF),
          static_cast<std::uint8_t>(pid >> 8),
          0x00,
          0x01,
          1,
          2,
          0,
          1};
}

namespace {

constexpr std::string_view kHidGuidSuffix = "#{4d1e55b2-f16f-11cf-88cb-001111000030}";

struct InterfaceLayout {
  std::uint8_t number;
  std::uint8_t inEndpoint;
  std::uint8_t outEndpoint;
  std::uint8_t iInterface;
  std::uint8_t usage;  // of the vendor report descriptor's application collection
};

// The one table both the descriptors and every adapter derive from.
std::vector<InterfaceLayout> InterfacesOf(BoxFunction function) {
  if (function == BoxFunction::Bridge) return {{kBridgeInterface, kBridgeInEndpoint, kBridgeOutEndpoint, 0, 0x01}};
  return {{kControllerOtherInterface, kControllerOtherInEndpoint, kControllerOtherOutEndpoint,
           kControllerInterfaceString, 0x02},
          {kControllerInterface, kControllerInEndpoint, kControllerOutEndpoint, kControllerInterfaceString, 0x01}};
}

std::vector<std::uint8_t> VendorReportDescriptor(std::uint8_t usage) {
  return {0x06, 0x00,  0xFF,        // usage page (vendor)
          0x09, usage, 0xA1, 0x01,  // usage, collection (application)
          0x09, 0x02,  0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x81, 0x02,  // 64-byte input
          0x09, 0x03,  0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x91, 0x02,  // 64-byte output
          0xC0};
}

}  // namespace

std::vector<std::uint8_t> SimBox::HidReportDescriptor(BoxFunction function, int interfaceNumber) {
  for (const InterfaceLayout& i : InterfacesOf(function)) {
    if (i.number == interfaceNumber) return VendorReportDescriptor(i.usage);
  }
  return {};
}

std::vector<int> SimBox::InterfaceNumbers(BoxFunction function) {
  std::vector<int> numbers;
  for (const InterfaceLayout& i : InterfacesOf(function)) numbers.push_back(i.number);
  return numbers;
}

std::vector<std::uint8_t> SimBox::ConfigurationDescriptor(BoxFunction function) {
  const auto interfaces = InterfacesOf(function);
  // configuration: bus powered, 100 mA; total length and interface count filled in below
  std::vector<std::uint8_t> d = {9, 0x02, 0, 0, static_cast<std::uint8_t>(interfaces.size()), 1, 0, 0x80, 50};
  for (const InterfaceLayout& i : interfaces) {
    const auto reportLength = static_cast<std::uint16_t>(VendorReportDescriptor(i.usage).size());
    const std::uint8_t block[] = {
        9,
        0x04,
        i.number,
        0,
        2,
        0x03,
        0,
        0,
        i.iInterface,  // interface: HID, 2 endpoints
        9,
        0x21,
        0x11,
        0x01,
        0,
        1,
        0x22,
        static_cast<std::uint8_t>(reportLength & 0xFF),
        static_cast<std::uint8_t>(reportLength >> 8),  // HID 1.11, one report descriptor
        7,
        0x05,
        i.inEndpoint,
        0x03,
        64,
        0,
        1,  // interrupt IN, 64 bytes, 1 ms
        7,
        0x05,
        i.outEndpoint,
        0x03,
        64,
        0,
        1,  // interrupt OUT, 64 bytes, 1 ms
    };
    d.insert(d.end(), std::begin(block), std::end(block));
  }
  d[2] = static_cast<std::uint8_t>(d.size() & 0xFF);
  d[3] = static_cast<std::uint8_t>(d.size() >> 8);
  return d;
}

bool SimBox::StringDescriptor(BoxFunction function, std::uint8_t index, std::string& out) {
  const bool c = function == BoxFunction::Controller;
  switch (index) {
    case 1:
      out = std::string(c ? kControllerManufacturer : kBridgeManufacturer);
      return true;
    case 2:
      out = std::string(c ? kControllerProduct : kBridgeProduct);
      return true;
    case 3:
      if (!c) return false;
      out = std::string(kControllerProduct);
      return true;
    default:
      return false;
  }
}

std::string SimBox::InterfacePath(BoxFunction function, int interfaceNumber) {
  std::string path = "\\\\?\\HID#";
  if (function == BoxFunction::Bridge) {
    path += "VID_04B4&PID_E006#6&3c4d5e6f&0&0000";
  } else if (interfaceNumber == 0) {
    path += "VID_03EB&PID_212C&MI_00#7&2b3c4d5e&0&0000";
  } else {
    path += "VID_03EB&PID_212C&MI_01&COL01#7&1a2b3c4d&0&0000";
  }
  path += kHidGuidSuffix;
  return path;
}

}  // namespace varnex2::sim
