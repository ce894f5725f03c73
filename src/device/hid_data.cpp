#include "device/hid_data.h"

#include <algorithm>

namespace varnex2::device {

namespace {
constexpr std::size_t kMaxStringLength = 254;

std::string_view Clip(std::string_view s) { return s.substr(0, std::min(s.size(), kMaxStringLength)); }
}  // namespace

std::string NarrowHidString(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t unit : text) out.push_back(unit < 256 ? static_cast<char>(unit) : '?');
  return out;
}

int hiddata::FindHidDevice(std::uint16_t vendorId, std::uint16_t productId, std::string_view manufacturer,
                           std::string_view product) {
  CloseHandle();
  manufacturer = Clip(manufacturer);
  product = Clip(product);
  const bool anyStrings = !manufacturer.empty() || !product.empty();
  int status = kHidNotFound;
  for (const platform::HidDeviceInfo& info : port_.Enumerate(vendorId, productId)) {
    if (port_.Open(info.path) != 0) continue;
    bool take = false;
    if (info.vendorId == vendorId && info.productId == productId) {
      if (!anyStrings) {
        take = true;
      } else if (!info.manufacturerKnown) {
        status = kHidStringQueryFailed;
      } else if (NarrowHidString(info.manufacturer) == manufacturer) {
        if (!info.productKnown) {
          status = kHidStringQueryFailed;
        } else {
          take = NarrowHidString(info.product) == product;
          if (!take) status = kHidNotFound;
        }
      } else {
        status = kHidNotFound;
      }
    }
    if (take) {
      bHandle_ = true;
      return kHidFound;
    }
    port_.Close();
  }
  return status;
}

int hiddata::WriteReport(const std::array<std::uint8_t, platform::kHidReportSize>& report) {
  if (!bHandle_) return -1;
  return port_.Write(std::span<const std::uint8_t, platform::kHidReportSize>(report));
}

const std::uint8_t* hiddata::ReadReport() {
  if (bHandle_) {
    std::array<std::uint8_t, platform::kHidReportSize> report{};
    const int n = port_.Read(std::span<std::uint8_t, platform::kHidReportSize>(report), kBridgeReadTimeout);
    if (n > 0) std::copy(report.begin(), report.end(), inputBuffer_.begin());
  }
  pLastInput_ = inputBuffer_.data();
  return pLastInput_;
}

void hiddata::CloseHandle() {
  if (bHandle_) port_.Close();
  bHandle_ = false;
}

}  // namespace varnex2::device
