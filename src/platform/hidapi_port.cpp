// HidPort on hidapi's hidraw back-end.

#include <hidapi/hidapi.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/hid_port.h"

namespace varnex2::platform {
namespace {

// hidapi hands out wchar_t text (UTF-32 here); the seam carries 16-bit text.
std::u16string ToU16(const wchar_t* text) {
  std::u16string out;
  if (text == nullptr) return out;
  for (; *text != L'\0'; ++text) {
    auto cp = static_cast<std::uint32_t>(*text);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

void InitHidapiOnce() {
  static std::once_flag once;
  std::call_once(once, [] { hid_init(); });
}

class HidapiPort final : public HidPort {
 public:
  ~HidapiPort() override { Close(); }

  std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) override {
    InitHidapiOnce();
    std::vector<HidDeviceInfo> result;
    hid_device_info* list = hid_enumerate(vendorId, productId);
    for (const hid_device_info* it = list; it != nullptr; it = it->next) {
      HidDeviceInfo info;
      info.path = it->path != nullptr ? it->path : "";
      info.vendorId = it->vendor_id;
      info.productId = it->product_id;
      info.manufacturer = ToU16(it->manufacturer_string);
      info.product = ToU16(it->product_string);
      info.interfaceNumber = it->interface_number;
      info.manufacturerKnown = it->manufacturer_string != nullptr;
      info.productKnown = it->product_string != nullptr;
      result.push_back(std::move(info));
    }
    hid_free_enumeration(list);
    return result;
  }

  int Open(const std::string& path) override {
    InitHidapiOnce();
    Close();
    device_ = hid_open_path(path.c_str());
    return device_ != nullptr ? 0 : -1;
  }

  bool IsOpen() const override { return device_ != nullptr; }

  int Write(std::span<const std::uint8_t, kHidReportSize> report) override {
    if (device_ == nullptr) return -1;
    return hid_write(device_, report.data(), report.size());
  }

  int Read(std::span<std::uint8_t, kHidReportSize> report, std::chrono::milliseconds timeout) override {
    if (device_ == nullptr) return -1;
    std::uint8_t buffer[kHidReportSize] = {};
    const int ms = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, 60'000));
    const int n = hid_read_timeout(device_, buffer, sizeof buffer, ms);
    if (n <= 0) return n < 0 ? -1 : 0;
    // A device without numbered reports delivers the 64 payload bytes alone; give the caller the
    // 65-byte shape with report id 0 in front. A full-length read already starts with its id.
    std::fill(report.begin(), report.end(), std::uint8_t{0});
    if (static_cast<std::size_t>(n) < kHidReportSize) {
      std::memcpy(report.data() + 1, buffer, static_cast<std::size_t>(n));
      return n + 1;
    }
    std::memcpy(report.data(), buffer, kHidReportSize);
    return n;
  }

  void Close() override {
    if (device_ == nullptr) return;
    hid_close(device_);
    device_ = nullptr;
  }

 private:
  hid_device* device_ = nullptr;
};

}  // namespace

std::unique_ptr<HidPort> CreateHidapiPort() { return std::make_unique<HidapiPort>(); }

}  // namespace varnex2::platform
