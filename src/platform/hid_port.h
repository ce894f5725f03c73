#pragma once
// Seam: what the bridge channel needs of the HID layer (hidapi semantics, Windows report shape).

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace varnex2::platform {

inline constexpr std::size_t kHidReportSize = 65;  // report id byte 0 + 64 data bytes

struct HidDeviceInfo {
  std::string path;  // opaque, passed back to Open
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::u16string manufacturer;  // as the device reports it (16-bit text)
  std::u16string product;
  int interfaceNumber = -1;
  // False when the back-end could not query the string (as opposed to an empty string).
  bool manufacturerKnown = true;
  bool productKnown = true;
};

class HidPort {
 public:
  virtual ~HidPort() = default;
  virtual std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) = 0;
  // 0 on success, negative on failure.
  virtual int Open(const std::string& path) = 0;
  virtual bool IsOpen() const = 0;
  // Writes one report (byte 0 is the report id). Returns bytes written or a negative value.
  virtual int Write(std::span<const std::uint8_t, kHidReportSize> report) = 0;
  // Reads one report into `report` (byte 0 the report id, 0 for devices without numbered
  // reports). Returns the byte count, 0 when nothing arrived within `timeout`, negative on error.
  virtual int Read(std::span<std::uint8_t, kHidReportSize> report, std::chrono::milliseconds timeout) = 0;
  virtual void Close() = 0;
};

// The hidapi (hidraw) back-end.
std::unique_ptr<HidPort> CreateHidapiPort();

}  // namespace varnex2::platform
