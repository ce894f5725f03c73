#include "device/usb_hardware.h"

#include <algorithm>

#include "device/box_ids.h"

namespace varnex2::device {

CUSBHardWare::Report CUSBHardWare::CommandFrame(std::uint8_t command) {
  Report r{};
  r[1] = 0xAA;
  r[2] = 0x55;
  r[3] = command;
  return r;
}

int CUSBHardWare::OpenBridge() {
  std::lock_guard lock(frameLock_);
  const int status = FindHidDevice(kBridgeVendorId, kBridgeProductId, kBridgeManufacturer, kBridgeProduct);
  nNotOpen_ = status == kHidFound ? 0 : 1;
  return nNotOpen_;
}

void CUSBHardWare::WritePage(std::uint8_t page, std::span<const std::uint8_t, kBridgePageSize> data) {
  std::lock_guard lock(frameLock_);
  WriteReport(CommandFrame(kBridgeWritePage));
  Report r{};
  r[1] = page;
  WriteReport(r);
  Report d{};
  std::copy(data.begin(), data.end(), d.begin() + 1);
  WriteReport(d);
}

void CUSBHardWare::ReadPage(std::uint8_t page, std::span<std::uint8_t, kBridgePageSize> dest, std::uint8_t length) {
  std::lock_guard lock(frameLock_);
  WriteReport(CommandFrame(kBridgeReadPage));
  Report r{};
  r[1] = page;
  r[2] = length;
  WriteReport(r);
  const std::uint8_t* in = ReadReport();
  std::copy(in + 1, in + 1 + kBridgePageSize, dest.begin());
}

void CUSBHardWare::ReadOutputBlock(std::span<std::uint8_t, kBridgePageSize> dest) {
  std::lock_guard lock(frameLock_);
  WriteReport(CommandFrame(kBridgeReadOutputBlock));
  const std::uint8_t* in = ReadReport();
  std::copy(in + 1, in + 1 + kBridgePageSize, dest.begin());
}

void CUSBHardWare::WriteOutputBlock(std::span<const std::uint8_t, kBridgePageSize> data) {
  std::lock_guard lock(frameLock_);
  WriteReport(CommandFrame(kBridgeWriteOutputBlock));
  Report d{};
  std::copy(data.begin(), data.end(), d.begin() + 1);
  WriteReport(d);
  ReadReport();  // acknowledgement, discarded
}

void CUSBHardWare::SetConfigBits(std::uint8_t page, std::uint8_t operand, std::uint8_t value, std::uint8_t mask) {
  std::lock_guard lock(frameLock_);
  Report r = CommandFrame(kBridgeSetConfigBits);
  r[4] = page;
  r[5] = operand;
  r[6] = value;
  r[7] = mask;
  std::copy(kBridgeSignature.begin(), kBridgeSignature.end(), r.begin() + 8);
  WriteReport(r);
}

}  // namespace varnex2::device
