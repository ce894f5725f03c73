#pragma once
// CUSBChannel: the bridge operations the station calls, each atomic under the channel lock.
// Lock order is always channel lock, then frame lock.

#include <cstdint>
#include <mutex>

#include "device/usb_hardware.h"

namespace varnex2::device {

class CUSBChannel : public CUSBHardWare {
 public:
  explicit CUSBChannel(platform::HidPort& port) : CUSBHardWare(port) {}

  int OpenBridge();                          // 0 on success, 1 when no bridge was opened
  void CloseBridge();                        // the channel stays usable for the next OpenBridge
  void LoadConfigPage();                     // reads page 249 and keeps bytes 0..34
  void SaveConfigPage();                     // page 249 with bytes 0..34 replaced by the kept copy
  void SetBuzzerEnable(std::uint8_t value);  // configuration bit 0
  void SetBuzzerInvert(std::uint8_t value);  // configuration bit 1
  // Switches the box's output: only byte 8 of the output block changes. Costs two 10 ms waits.
  void SetOutputLevel(std::uint8_t level);

  // bConfigByte: byte 0 of the kept page copy (bit 0 buzzer enable, bit 1 buzzer invert).
  std::uint8_t GetConfigByte();
  void SetConfigByte(std::uint8_t value);

 private:
  std::recursive_mutex channelLock_;
};

}  // namespace varnex2::device
