#include "device/usb_channel.h"

#include <algorithm>
#include <thread>

#include "device/box_ids.h"

namespace varnex2::device {

namespace {
constexpr std::chrono::milliseconds kOutputWait{10};
}

int CUSBChannel::OpenBridge() {
  std::lock_guard lock(channelLock_);
  return CUSBHardWare::OpenBridge();
}

void CUSBChannel::CloseBridge() {
  std::lock_guard lock(channelLock_);
  std::lock_guard frame(frameLock_);
  CloseHandle();
  nNotOpen_ = 1;
}

void CUSBChannel::LoadConfigPage() {
  std::lock_guard lock(channelLock_);
  BridgeBlock page{};
  ReadPage(kBridgeConfigPage, page);
  std::copy_n(page.begin(), configCopy_.size(), configCopy_.begin());
}

void CUSBChannel::SaveConfigPage() {
  std::lock_guard lock(channelLock_);
  std::lock_guard frame(frameLock_);
  BridgeBlock page{};
  ReadPage(kBridgeConfigPage, page);
  std::copy(configCopy_.begin(), configCopy_.end(), page.begin());
  WritePage(kBridgeConfigPage, page);
}

void CUSBChannel::SetBuzzerEnable(std::uint8_t value) {
  std::lock_guard lock(channelLock_);
  SetConfigBits(kBridgeConfigPage, 0, value & 1, 1);
}

void CUSBChannel::SetBuzzerInvert(std::uint8_t value) {
  std::lock_guard lock(channelLock_);
  SetConfigBits(kBridgeConfigPage, 0, value & 2, 2);
}

void CUSBChannel::SetOutputLevel(std::uint8_t level) {
  std::lock_guard lock(channelLock_);
  std::lock_guard frame(frameLock_);
  std::this_thread::sleep_for(kOutputWait);
  BridgeBlock block{};
  ReadOutputBlock(block);
  block[kOutputLevelByte] = level;
  std::this_thread::sleep_for(kOutputWait);
  WriteOutputBlock(block);
}

std::uint8_t CUSBChannel::GetConfigByte() {
  std::lock_guard lock(channelLock_);
  return configCopy_[0];
}

void CUSBChannel::SetConfigByte(std::uint8_t value) {
  std::lock_guard lock(channelLock_);
  configCopy_[0] = value;
}

}  // namespace varnex2::device
