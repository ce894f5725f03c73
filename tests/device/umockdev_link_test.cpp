// The link over the real back-ends (libusb, hidapi) against the simulated box's umockdev devices.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "device/box_ids.h"
#include "device/controller_link.h"
#include "device/controller_ops.h"
#include "device/usb_channel.h"
#include "platform/hid_port.h"
#include "platform/usb_port.h"
#include "sim/sim_box.h"
#include "sim/umockdev_box.h"

namespace varnex2::device {
namespace {

using namespace std::chrono_literals;

class UmockdevLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    box = std::make_shared<sim::SimBox>();
    std::string error;
    testbed = sim::UmockdevBox::Create(box, &error);
    ASSERT_NE(testbed, nullptr) << error;
  }
  void TearDown() override { testbed.reset(); }
  std::shared_ptr<sim::SimBox> box;
  std::unique_ptr<sim::UmockdevBox> testbed;
};

TEST_F(UmockdevLinkTest, FramesAndRegistersOverLibusb) {
  auto port = platform::CreateLibusbPort();
  {
    ControllerLink link(*port);
    // Over the emulated usbfs a frame's 58 reports take 35-350 ms depending on the host's load;
    // the link's own 200 ms is checked by the in-process link tests.
    link.SetAnswerTimeout(3s);
    std::atomic<int> lost{0};
    link.SetLostCallback([&](int) { ++lost; });
    ASSERT_EQ(link.OpenController(), 0);
    ASSERT_EQ(ReadInfoBlock(link, *link.Record()), 0);
    EXPECT_EQ(link.Record()->versionText, "2.0.AB");
    std::vector<std::uint16_t> frame(kMaxNodes);
    int x = 0, y = 0;
    for (int i = 0; i < 20; ++i) ASSERT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), 0) << i;
    EXPECT_EQ(x * y, 1664);
    std::vector<std::uint8_t> pattern(64);
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i * 3);
    ASSERT_EQ(WriteObject(link, kT38UserData, 0, pattern), 0);
    std::vector<std::uint8_t> back(64);
    ASSERT_EQ(ReadObject(link, kT38UserData, 0, back), 0);
    EXPECT_EQ(back, pattern);
    EXPECT_EQ(RunPinFaultTest(link, *link.Record(), 0x12), 0);

    box->Unplug(sim::BoxFunction::Controller);
    for (int i = 0; i < 1000 && lost == 0; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(lost, 1);
    link.CloseController();
    box->Plug(sim::BoxFunction::Controller);
    bool reopened = false;
    for (int i = 0; i < 100 && !reopened; ++i) {
      reopened = link.OpenController() == 0;
      if (!reopened) std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(reopened);
    ASSERT_EQ(ReadInfoBlock(link, *link.Record()), 0);
    EXPECT_EQ(link.AcquireFrame(*link.Record(), frame, x, y, 0x20), 0);
  }
}

TEST_F(UmockdevLinkTest, BridgeOverHidapi) {
  auto hid = platform::CreateHidapiPort();
  CUSBChannel channel(*hid);
  ASSERT_EQ(channel.OpenBridge(), 0);
  channel.LoadConfigPage();
  const auto page = box->BridgePage(kBridgeConfigPage);
  EXPECT_EQ(channel.GetConfigByte(), page[0]);
  const std::uint8_t flipped = channel.GetConfigByte() ^ 2;
  channel.SetConfigByte(flipped);
  channel.SetBuzzerInvert(flipped);
  channel.SaveConfigPage();
  EXPECT_EQ(box->Bridge().buzzerInverted, (flipped & 2) != 0);
  channel.SetOutputLevel(1);
  EXPECT_EQ(box->Bridge().outputLevel, 1);
  channel.CloseBridge();
}

}  // namespace
}  // namespace varnex2::device
