#pragma once
// CUSBHardWare: the bridge's command frames, each report sequence atomic under the frame lock.

#include <array>
#include <cstdint>
#include <mutex>
#include <span>

#include "device/hid_data.h"

namespace varnex2::device {

// Bridge command bytes.
inline constexpr std::uint8_t kBridgeWritePage = 0x20;
inline constexpr std::uint8_t kBridgeReadPage = 0x21;
inline constexpr std::uint8_t kBridgeReadOutputBlock = 0x24;
inline constexpr std::uint8_t kBridgeWriteOutputBlock = 0x25;
inline constexpr std::uint8_t kBridgeSetConfigBits = 0x40;

inline constexpr std::size_t kBridgePageSize = 64;
inline constexpr std::size_t kBridgeConfigCopySize = 35;  // bytes 0..34 of the page
inline constexpr std::size_t kOutputLevelByte = 8;        // the output block byte that switches the output

using BridgeBlock = std::array<std::uint8_t, kBridgePageSize>;

class CUSBHardWare : public hiddata {
 public:
  explicit CUSBHardWare(platform::HidPort& port) : hiddata(port) {}

  // 0 when the bridge was opened, 1 when not; kept in the not-open flag as well.
  int OpenBridge();

  // Results of the underlying transfers are not examined (a missing bridge fails silently).
  void WritePage(std::uint8_t page, std::span<const std::uint8_t, kBridgePageSize> data);
  void ReadPage(std::uint8_t page, std::span<std::uint8_t, kBridgePageSize> dest,
                std::uint8_t length = kBridgePageSize);
  void ReadOutputBlock(std::span<std::uint8_t, kBridgePageSize> dest);
  void WriteOutputBlock(std::span<const std::uint8_t, kBridgePageSize> data);
  void SetConfigBits(std::uint8_t page, std::uint8_t operand, std::uint8_t value, std::uint8_t mask);

  bool IsBridgeOpen() const { return nNotOpen_ == 0; }

 protected:
  using Report = std::array<std::uint8_t, platform::kHidReportSize>;
  static Report CommandFrame(std::uint8_t command);

  int nNotOpen_ = 1;
  std::recursive_mutex frameLock_;
  std::array<std::uint8_t, kBridgeConfigCopySize> configCopy_{};
};

}  // namespace varnex2::device
