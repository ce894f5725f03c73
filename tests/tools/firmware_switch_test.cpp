// The firmware-generation switch on the simulated controller: what each generation leaves in the
// controller (after a power cycle, so only backed-up values count), the order of its writes and
// waits, the first refused write ending it, and the unattended run's lines and exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "recover_test_support.h"
#include "service/firmware_switch.h"

namespace varnex2::tools {
namespace {

using namespace std::chrono_literals;
using service::Generation;
using testing::kWaitMark;
using testing::SimController;

using Bytes = std::vector<std::uint8_t>;

service::SleepFunction LogWaits(SimController& sim, std::vector<std::chrono::milliseconds>& waits) {
  return [&sim, &waits](std::chrono::milliseconds d) {
    waits.push_back(d);
    sim.port.log.push_back(kWaitMark);
  };
}

// What both generations write: touch window 32 x 52 with gain 96 (T9 rewritten as a whole), no
// key window, signal limits 28000 / 19000 (0x6D60, 0x4A38).
void ExpectWindowsAndLimits(const SimController& sim) {
  Bytes t9(36, 0);
  const Bytes head = {0x81, 0, 0, 32, 52, 0, 96, 255};
  std::copy(head.begin(), head.end(), t9.begin());
  EXPECT_EQ(sim.Object(device::kT9Touchscreen, 36), t9);
  EXPECT_EQ(sim.Object(device::kT15KeyArray, 11), (Bytes{0, 0, 0, 0, 0, 0, 96, 255, 0, 0, 0}));
  EXPECT_EQ(sim.T9Limits(), (Bytes{0x60, 0x6D, 0x38, 0x4A}));
}

TEST(FirmwareSwitch, OldGenerationWritesBacksUpAndWaits) {
  SimController sim;
  ASSERT_EQ(sim.opened, 0);
  sim.Scramble();
  std::vector<std::chrono::milliseconds> waits;
  const service::SwitchResult result =
      service::RunFirmwareSwitch(sim.connection, Generation::Old, LogWaits(sim, waits));
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(result.message, "初始化成功！");
  // Wait after reading the information block; T9 image, T7, key window, touch window (T9) and
  // the limits' enable bit (T9), the T25 slot; backup (T6); wait.
  EXPECT_EQ(sim.port.log, (std::vector<int>{kWaitMark, 9, 7, 15, 9, 25, 6, kWaitMark}));
  EXPECT_EQ(waits, (std::vector<std::chrono::milliseconds>{500ms, 500ms}));

  sim.PowerCycle();
  ExpectWindowsAndLimits(sim);
  EXPECT_EQ(sim.Object(device::kT7Power, 4), (Bytes{255, 255, 255, 3}));
  EXPECT_EQ(sim.Object(device::kT46CteConfig, 11), Bytes(11, 0x44));  // not the old generation's
}

TEST(FirmwareSwitch, NewGenerationWritesT46AndBacksUpTwice) {
  SimController sim(sim::ControllerVariant{});  // firmware 2.0
  ASSERT_EQ(sim.opened, 0);
  sim.Scramble();
  std::vector<std::chrono::milliseconds> waits;
  const service::SwitchResult result =
      service::RunFirmwareSwitch(sim.connection, Generation::New, LogWaits(sim, waits));
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(result.message, "新版本高速版本初始化成功！");
  EXPECT_EQ(sim.port.log, (std::vector<int>{15, 9, 25, 6, 46, 6}));
  EXPECT_TRUE(waits.empty());

  sim.PowerCycle();
  ExpectWindowsAndLimits(sim);
  EXPECT_EQ(sim.Object(device::kT46CteConfig, 11), (Bytes{4, 0, 10, 16, 0, 0, 1, 0, 0, 0, 15}));
  EXPECT_EQ(sim.Object(device::kT7Power, 4), Bytes(4, 0x22));  // not the new generation's
}

TEST(FirmwareSwitch, FirstRefusedWriteEndsTheSwitchAndIsNamed) {
  SimController sim;
  ASSERT_EQ(sim.opened, 0);
  sim.Scramble();
  const std::uint64_t backups = sim.box->BackupCount();
  sim.port.refusedObject = device::kT15KeyArray;
  std::vector<std::chrono::milliseconds> waits;
  const service::SwitchResult result =
      service::RunFirmwareSwitch(sim.connection, Generation::Old, LogWaits(sim, waits));
  EXPECT_FALSE(result.Ok());
  EXPECT_EQ(result.failedStep, service::SwitchStep::WriteKeyWindow);
  EXPECT_EQ(result.code, platform::kUsbErrorIo);
  EXPECT_EQ(result.message, "切换失败：写入按键窗口失败（错误码 -1）");
  // Nothing after the refused write, no backup, no second wait; T9 still holds the 36-byte image
  // the touch window would have replaced.
  EXPECT_EQ(sim.port.log, (std::vector<int>{kWaitMark, 9, 7, 15}));
  EXPECT_EQ(sim.box->BackupCount(), backups);
  EXPECT_EQ(sim.Object(device::kT9Touchscreen, 36),
            (Bytes{0x81, 0,    0,    32,   52, 0,   96, 255, 1, 0, 10, 15, 1,  0x41, 10, 20, 30, 20,
                   0xFF, 0x0F, 0xFF, 0x0F, 5,  246, 5,  5,   0, 0, 0,  0,  32, 20,   51, 53, 0,  1}));

  EXPECT_EQ(service::SwitchFailureText(service::SwitchStep::WriteT9, -1), "切换失败：写入 T9 失败（错误码 -1）");
}

std::string Contents(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, file)) text += buffer;
  return text;
}

struct Unattended {
  int code = -1;
  std::string out;
  std::string err;
};

Unattended RunUnattended(SimController& sim, Generation generation) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  Unattended r;
  {
    sim.connection.Close();  // the unattended run opens its own connection
    r.code = service::RunRecoverUnattended(sim.port, generation, out, err, [](std::chrono::milliseconds) {});
  }
  r.out = Contents(out);
  r.err = Contents(err);
  std::fclose(out);
  std::fclose(err);
  return r;
}

TEST(FirmwareSwitch, UnattendedLinesAndExitCodes) {
  {
    SimController sim;  // firmware 1.1
    const Unattended r = RunUnattended(sim, Generation::Old);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "初始化成功！\n");
    EXPECT_EQ(r.err, "");
  }
  {
    SimController sim(sim::ControllerVariant::Version12());  // firmware 1.2: only the new generation
    Unattended r = RunUnattended(sim, Generation::Old);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "固件版本1.2不能切换为老版本（只适用于 1.2 以下的固件）\n");
    sim.port.refusedObject = device::kT46CteConfig;
    r = RunUnattended(sim, Generation::New);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "切换失败：写入 T46 失败（错误码 -1）\n");
  }
  {
    SimController sim(sim::ControllerVariant::Version11(), false);  // no controller on the bus
    const Unattended r = RunUnattended(sim, Generation::New);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Varnex2 Tester - 未找到设备（错误码 -1）\n");
  }
}

}  // namespace
}  // namespace varnex2::tools
