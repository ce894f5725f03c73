#include "service/firmware_switch.h"

#include <array>
#include <cstdint>
#include <thread>

#include "device/controller_ops.h"
#include "device/result_codes.h"

namespace varnex2::service {

namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t kLastOldVersion = 0x11;  // firmware 1.1
constexpr auto kSettleWait = 500ms;

// The older generation's touch object: a 32 x 52 window, gain 96, and its tuning (bytes 18-19
// and 20-21 are 4095, little-endian).
constexpr std::array<std::uint8_t, 36> kOldT9 = {0x81, 0,    0,  32, 52, 0,  96,   255,  1,    0,    10, 15,
                                                 1,    0x41, 10, 20, 30, 20, 0xFF, 0x0F, 0xFF, 0x0F, 5,  246,
                                                 5,    5,    0,  0,  0,  0,  32,   20,   51,   53,   0,  1};
// Power object: free-run idle and active acquisition, bits 0 and 1 of byte 3.
constexpr std::array<std::uint8_t, 4> kOldT7 = {255, 255, 255, 3};
// The newer generation's T46: gain setting enabled, X drive voltage 0, ADC gain 15.
constexpr std::array<std::uint8_t, 11> kNewT46 = {4, 0, 10, 16, 0, 0, 1, 0, 0, 0, 15};

constexpr device::WindowFields kKeyWindow{0, 0, 0, 0, 96, false};
constexpr device::WindowFields kTouchWindow{0, 0, 32, 52, 96, true};
constexpr std::uint16_t kSignalUpper = 28000;
constexpr std::uint16_t kSignalLower = 19000;

const char* StepText(SwitchStep step) {
  switch (step) {
    case SwitchStep::ReadInfoBlock:
      return "读取信息块";
    case SwitchStep::WriteT9:
      return "写入 T9 ";
    case SwitchStep::WriteT7:
      return "写入 T7 ";
    case SwitchStep::WriteKeyWindow:
      return "写入按键窗口";
    case SwitchStep::WriteTouchWindow:
      return "写入触摸窗口";
    case SwitchStep::WriteSignalLimits:
      return "写入信号限值";
    case SwitchStep::BackupSettings:
      return "备份设置";
    case SwitchStep::WriteT46:
      return "写入 T46 ";
    case SwitchStep::None:
      break;
  }
  return "";
}

// Runs the steps in order until one fails.
class Steps {
 public:
  explicit Steps(device::ControllerLink& link) : link_(link) {}

  // Runs `step` unless an earlier one failed; false once any has failed.
  template <typename F>
  bool Run(SwitchStep step, F&& write) {
    if (failed_ != SwitchStep::None) return false;
    const int code = write(link_);
    if (code != 0) {
      failed_ = step;
      code_ = code;
    }
    return code == 0;
  }

  bool Backup() {
    // BackupSettings only says whether the command went out; its failure is the link's "no handle".
    return Run(SwitchStep::BackupSettings,
               [](device::ControllerLink& l) { return device::BackupSettings(l) ? 0 : device::kErrNoHandle; });
  }

  SwitchResult Result(const char* done) const {
    SwitchResult result;
    result.failedStep = failed_;
    result.code = code_;
    result.message = failed_ == SwitchStep::None ? std::string(done) : SwitchFailureText(failed_, code_);
    return result;
  }

 private:
  device::ControllerLink& link_;
  SwitchStep failed_ = SwitchStep::None;
  int code_ = 0;
};

int ReadInfo(device::ControllerLink& link) {
  device::ControllerRecord* record = link.Record();
  return record ? device::ReadInfoBlock(link, *record) : device::kErrNoHandle;
}

int KeyWindow(device::ControllerLink& link) { return device::WriteKeyWindow(link, kKeyWindow); }
int TouchWindow(device::ControllerLink& link) { return device::WriteTouchWindow(link, kTouchWindow); }
int SignalLimits(device::ControllerLink& link) {
  return device::WriteSignalLimits(link, device::kT9Touchscreen, kSignalUpper, kSignalLower);
}

}  // namespace

bool OldSwitchAllowed(const device::ControllerRecord& record) { return record.Version() <= kLastOldVersion; }

std::string SwitchFailureText(SwitchStep step, int code) {
  return "切换失败：" + std::string(StepText(step)) + "失败（错误码 " + std::to_string(code) + "）";
}

void RealSleep(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

SwitchResult RunFirmwareSwitch(ToolConnection& connection, Generation generation, const SleepFunction& sleep) {
  auto lock = connection.Lock();
  if (!connection.IsOpen()) {
    SwitchResult result;
    result.failedStep = SwitchStep::ReadInfoBlock;
    result.code = device::kErrNoHandle;
    result.message = SwitchFailureText(result.failedStep, result.code);
    return result;
  }
  Steps steps(connection.Link());
  if (generation == Generation::Old) {
    if (steps.Run(SwitchStep::ReadInfoBlock, ReadInfo)) sleep(kSettleWait);
    steps.Run(SwitchStep::WriteT9,
              [](device::ControllerLink& l) { return device::WriteObject(l, device::kT9Touchscreen, 0, kOldT9); });
    steps.Run(SwitchStep::WriteT7,
              [](device::ControllerLink& l) { return device::WriteObject(l, device::kT7Power, 0, kOldT7); });
    steps.Run(SwitchStep::WriteKeyWindow, KeyWindow);
    steps.Run(SwitchStep::WriteTouchWindow, TouchWindow);  // rewrites T9 as a whole
    steps.Run(SwitchStep::WriteSignalLimits, SignalLimits);
    if (steps.Backup()) sleep(kSettleWait);
    return steps.Result(kOldSwitchDone);
  }
  steps.Run(SwitchStep::ReadInfoBlock, ReadInfo);
  steps.Run(SwitchStep::WriteKeyWindow, KeyWindow);
  steps.Run(SwitchStep::WriteTouchWindow, TouchWindow);
  steps.Run(SwitchStep::WriteSignalLimits, SignalLimits);
  steps.Backup();
  steps.Run(SwitchStep::WriteT46,
            [](device::ControllerLink& l) { return device::WriteObject(l, device::kT46CteConfig, 0, kNewT46); });
  steps.Backup();
  return steps.Result(kNewSwitchDone);
}

int RunRecoverUnattended(platform::UsbPort& port, Generation generation, std::FILE* out, std::FILE* err,
                         const SleepFunction& sleep) {
  ToolConnection connection(port);
  auto lock = connection.Lock();
  const int opened = connection.Open();
  if (opened != 0) {
    std::fprintf(err, "%s（错误码 %d）\n", kToolNotFoundTitle, opened);
    return 2;
  }
  const device::ControllerRecord& record = *connection.Record();
  if (generation == Generation::Old && !OldSwitchAllowed(record)) {
    std::fprintf(err, "固件版本%x.%x不能切换为老版本（只适用于 1.2 以下的固件）\n", record.Version() >> 4,
                 record.Version() & 0x0F);
    return 2;
  }
  const SwitchResult result = RunFirmwareSwitch(connection, generation, sleep);
  std::fprintf(out, "%s\n", result.message.c_str());
  std::fflush(out);
  return result.Ok() ? 0 : 1;
}

}  // namespace varnex2::service
