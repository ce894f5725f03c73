#pragma once
// The firmware-generation switch: after the controller has been reflashed, write the
// configuration its firmware generation expects (touch and key windows, signal limits, and T9/T7
// for the older generation or T46 for the newer one) and back it up into non-volatile memory.
// Every write is checked; a switch stops at the first failing one and says which it was.

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "device/controller_record.h"
#include "platform/usb_port.h"
#include "service/tool_connection.h"

namespace varnex2::service {

enum class Generation { Old, New };

inline constexpr const char* kOldSwitchDone = "初始化成功！";
inline constexpr const char* kNewSwitchDone = "新版本高速版本初始化成功！";

// The older generation's configuration only suits firmware below 1.2 (version byte < 0x12).
bool OldSwitchAllowed(const device::ControllerRecord& record);

// The steps of a switch, in the terms of the failure message.
enum class SwitchStep {
  None,  // no step failed
  ReadInfoBlock,
  WriteT9,
  WriteT7,
  WriteKeyWindow,
  WriteTouchWindow,
  WriteSignalLimits,
  BackupSettings,
  WriteT46,
};

struct SwitchResult {
  SwitchStep failedStep = SwitchStep::None;
  int code = 0;         // the failing step's result code (BackupSettings has none: kErrNoHandle)
  std::string message;  // the operator's one-line message, success or failure
  bool Ok() const { return failedStep == SwitchStep::None; }
};

// "切换失败：<step>失败（错误码 <code>）".
std::string SwitchFailureText(SwitchStep step, int code);

// The waits of a switch (500 ms each); tests pass a shorter or recording one.
using SleepFunction = std::function<void(std::chrono::milliseconds)>;
void RealSleep(std::chrono::milliseconds duration);

// Runs one switch on an open connection (under its lock). Old: ReadInfoBlock, wait, T9 instance 0
// (36 bytes), T7 (4 bytes), key window, touch window, signal limits of T9, BackupSettings, wait.
// New: ReadInfoBlock, key window, touch window, signal limits, BackupSettings, T46 (11 bytes),
// BackupSettings. Whether the old switch suits the firmware is the caller's question
// (OldSwitchAllowed). A closed connection fails at ReadInfoBlock with kErrNoHandle.
SwitchResult RunFirmwareSwitch(ToolConnection& connection, Generation generation,
                               const SleepFunction& sleep = RealSleep);

// `varnex2 recover --switch=old|new`: opens the controller and runs one switch. A missing box
// (2) or a firmware the old switch does not suit (2) is one line on `err`; otherwise the switch's
// message is one line on `out` and the result is 0 (done) or 1 (a write failed).
int RunRecoverUnattended(platform::UsbPort& port, Generation generation, std::FILE* out, std::FILE* err,
                         const SleepFunction& sleep = RealSleep);

}  // namespace varnex2::service
