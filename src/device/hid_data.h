#pragma once
// hiddata: finds and opens the bridge's HID device and moves single 65-byte reports.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/hid_port.h"

namespace varnex2::device {

// Status of FindHidDevice.
inline constexpr int kHidFound = 0;
inline constexpr int kHidStringQueryFailed = 2;  // the last candidate's string query failed
inline constexpr int kHidNotFound = 3;

// Answer reports are awaited at most this long; a silent bridge then leaves the input buffer as it was.
inline constexpr std::chrono::milliseconds kBridgeReadTimeout{200};

// 16-bit device text to 8 bits: a unit below 256 becomes that byte, any other unit "?".
std::string NarrowHidString(std::u16string_view text);

class hiddata {
 public:
  explicit hiddata(platform::HidPort& port) : port_(port) {}
  virtual ~hiddata() = default;
  hiddata(const hiddata&) = delete;
  hiddata& operator=(const hiddata&) = delete;

  // Opens the first device with these ids whose manufacturer and product strings equal the wanted
  // ones exactly (case-sensitive, after narrowing). Both strings empty: the first id match is taken.
  // Returns kHidFound with the device open, otherwise kHidNotFound or kHidStringQueryFailed.
  int FindHidDevice(std::uint16_t vendorId, std::uint16_t productId, std::string_view manufacturer,
                    std::string_view product);

  // Writes report bytes 0..64. Returns the byte count or a negative value (no device: at once).
  int WriteReport(const std::array<std::uint8_t, platform::kHidReportSize>& report);
  // Reads one report into the input buffer and returns a pointer to it. A failed or timed-out read
  // leaves the previous contents in place.
  const std::uint8_t* ReadReport();
  void CloseHandle();
  bool HasHandle() const { return bHandle_; }

 protected:
  const std::uint8_t* pLastInput_ = nullptr;
  std::array<std::uint8_t, 256> inputBuffer_{};
  bool bHandle_ = false;  // the device file is open
  platform::HidPort& port_;
};

}  // namespace varnex2::device
