// The real back-ends with nothing behind them: every call fails cleanly and promptly.

#include <gtest/gtest.h>

#include <array>

#include "platform/device_monitor.h"
#include "platform/hid_port.h"
#include "platform/usb_port.h"

namespace varnex2::platform {
namespace {

using namespace std::chrono_literals;

TEST(LibusbPortUnattached, CallsWithoutContextOrHandleFail) {
  auto port = CreateLibusbPort();
  EXPECT_EQ(port->Open(0x03EB, 0x212C), kUsbErrorNotFound);
  EXPECT_LT(port->HandleEvents(10ms), 0);
  EXPECT_FALSE(port->IsOpen());
  UsbDeviceDescriptor d{};
  EXPECT_EQ(port->GetDeviceDescriptor(d), kUsbErrorNoDevice);
  EXPECT_EQ(port->ClaimInterface(1), kUsbErrorNoDevice);
  std::string text;
  EXPECT_EQ(port->GetStringDescriptorAscii(1, text), kUsbErrorNoDevice);
  std::array<std::uint8_t, 64> report{};
  int transferred = 7;
  EXPECT_EQ(port->InterruptWrite(0x02, report, transferred, 200ms), kUsbErrorNoDevice);
  EXPECT_EQ(transferred, 0);
  EXPECT_EQ(port->InterruptWriteAsync(0x02, report), kUsbErrorNoDevice);
  EXPECT_EQ(port->AllocInTransfer(0x81, 64, nullptr), kUsbErrorNoDevice);
  EXPECT_NE(port->SubmitInTransfer(), 0);
  EXPECT_NE(port->CancelInTransfer(), 0);
  port->FreeInTransfer();
  port->Close();
  port->Exit();  // without Init: nothing to undo
}

TEST(HidapiPortUnattached, ClosedPortFailsReadsAndWrites) {
  auto port = CreateHidapiPort();
  EXPECT_FALSE(port->IsOpen());
  EXPECT_LT(port->Open("/dev/does-not-exist-hidraw"), 0);
  EXPECT_FALSE(port->IsOpen());
  std::array<std::uint8_t, kHidReportSize> report{};
  EXPECT_LT(port->Write(report), 0);
  EXPECT_LT(port->Read(report, 10ms), 0);
  port->Close();
}

TEST(UdevMonitorUnattached, StopsPromptlyAndTwiceIsHarmless) {
  auto monitor = CreateUdevMonitor();
  monitor->Stop();  // never started
  const int rc = monitor->Start([](const DeviceEvent&) {});
  if (rc != 0) GTEST_SKIP() << "no udev netlink socket here";
  EXPECT_NE(monitor->Start([](const DeviceEvent&) {}), 0);  // already running
  monitor->Stop();
  monitor->Stop();
  EXPECT_EQ(monitor->Start([](const DeviceEvent&) {}), 0);  // restartable
  monitor->Stop();
}

}  // namespace
}  // namespace varnex2::platform
