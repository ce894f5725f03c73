// The hidapi back-end against the simulated box's bridge as an umockdev hidraw device.

#include <algorithm>
#include <array>

#include "platform/hid_port.h"
#include "sim/box_identity.h"
#include "test_umockdev_support.h"

namespace varnex2::sim {
namespace {

using namespace std::chrono_literals;

std::u16string U16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class UmockdevHid : public ::testing::Test {
 protected:
  void SetUp() override {
    box_ = std::make_shared<SimBox>();
    testbed_ = testing::MakeTestbed(box_);
    ASSERT_NE(testbed_, nullptr);
    port_ = platform::CreateHidapiPort();
  }
  void TearDown() override {
    if (port_) port_->Close();
    port_.reset();
    testbed_.reset();
  }

  std::string BridgePath() {
    for (const auto& d : port_->Enumerate(kBridgeVendorId, kBridgeProductId)) {
      if (d.product == U16(kBridgeProduct)) return d.path;
    }
    return "";
  }

  static std::array<std::uint8_t, platform::kHidReportSize> Report(std::initializer_list<std::uint8_t> bytes) {
    std::array<std::uint8_t, platform::kHidReportSize> r{};
    std::copy(bytes.begin(), bytes.end(), r.begin());
    return r;
  }

  std::shared_ptr<SimBox> box_;
  std::unique_ptr<UmockdevBox> testbed_;
  std::unique_ptr<platform::HidPort> port_;
};

TEST_F(UmockdevHid, EnumeratesByIdsWithStringsIncludingASecondDeviceWithOtherStrings) {
  auto devices = port_->Enumerate(kBridgeVendorId, kBridgeProductId);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].vendorId, kBridgeVendorId);
  EXPECT_EQ(devices[0].productId, kBridgeProductId);
  EXPECT_EQ(devices[0].manufacturer, U16(kBridgeManufacturer));
  EXPECT_EQ(devices[0].product, U16(kBridgeProduct));
  EXPECT_EQ(devices[0].interfaceNumber, 0);
  EXPECT_TRUE(port_->Enumerate(0x1234, 0x5678).empty());

  const std::string other = testbed_->AddSilentHidDevice(
      {kBridgeVendorId, kBridgeProductId, std::string(kBridgeManufacturer), "OtherBridgeV9"});
  ASSERT_FALSE(other.empty());
  devices = port_->Enumerate(kBridgeVendorId, kBridgeProductId);
  ASSERT_EQ(devices.size(), 2u);
  const auto otherIt =
      std::find_if(devices.begin(), devices.end(), [](const auto& d) { return d.product == u"OtherBridgeV9"; });
  ASSERT_NE(otherIt, devices.end());
  EXPECT_EQ(otherIt->manufacturer, U16(kBridgeManufacturer));
  EXPECT_NE(otherIt->path, BridgePath());

  testbed_->RemoveSilentHidDevice(other);
  EXPECT_EQ(port_->Enumerate(kBridgeVendorId, kBridgeProductId).size(), 1u);
}

TEST_F(UmockdevHid, ReadPageRoundTripInTheSixtyFiveByteShape) {
  const std::string path = BridgePath();
  ASSERT_FALSE(path.empty());
  ASSERT_EQ(port_->Open(path), 0);
  EXPECT_TRUE(port_->IsOpen());
  EXPECT_EQ(port_->Write(Report({0x00, 0xAA, 0x55, 0x21})), 65);
  EXPECT_EQ(port_->Write(Report({0x00, kBridgeConfigPage, 64})), 65);
  std::array<std::uint8_t, platform::kHidReportSize> in{};
  in.fill(0xEE);
  ASSERT_EQ(port_->Read(in, 1000ms), 65);
  EXPECT_EQ(in[0], 0);  // report id put in front
  const auto page = box_->BridgePage(kBridgeConfigPage);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), in.begin() + 1));
  // Nothing more is queued: the next read times out with 0.
  EXPECT_EQ(port_->Read(in, 50ms), 0);
}

TEST_F(UmockdevHid, AnswersLeftUnreadDoNotReachTheNextOpen) {
  const std::string path = BridgePath();
  ASSERT_EQ(port_->Open(path), 0);
  ASSERT_EQ(port_->Write(Report({0x00, 0xAA, 0x55, 0x24})), 65);  // answered, never read
  std::this_thread::sleep_for(100ms);
  port_->Close();
  ASSERT_EQ(port_->Open(path), 0);
  std::array<std::uint8_t, platform::kHidReportSize> in{};
  EXPECT_EQ(port_->Read(in, 100ms), 0);
  // The device still answers the new file.
  ASSERT_EQ(port_->Write(Report({0x00, 0xAA, 0x55, 0x24})), 65);
  EXPECT_EQ(port_->Read(in, 1000ms), 65);
}

TEST_F(UmockdevHid, OutputBlockWriteReachesTheBox) {
  ASSERT_EQ(port_->Open(BridgePath()), 0);
  ASSERT_EQ(port_->Write(Report({0x00, 0xAA, 0x55, 0x24})), 65);
  std::array<std::uint8_t, platform::kHidReportSize> block{};
  ASSERT_EQ(port_->Read(block, 1000ms), 65);
  block[0] = 0;
  block[1 + 8] = 1;
  ASSERT_EQ(port_->Write(Report({0x00, 0xAA, 0x55, 0x25})), 65);
  ASSERT_EQ(port_->Write(block), 65);
  std::array<std::uint8_t, platform::kHidReportSize> ack{};
  EXPECT_EQ(port_->Read(ack, 1000ms), 65);
  EXPECT_EQ(box_->Bridge().outputLevel, 1);
}

TEST_F(UmockdevHid, DeviceThatNeverAnswersTimesOut) {
  const std::string silent = testbed_->AddSilentHidDevice({0x04B4, 0xE006, "Nobody", "Silent"});
  ASSERT_FALSE(silent.empty());
  std::string path;
  for (const auto& d : port_->Enumerate(0x04B4, 0xE006)) {
    if (d.product == u"Silent") path = d.path;
  }
  ASSERT_FALSE(path.empty());
  ASSERT_EQ(port_->Open(path), 0);
  EXPECT_EQ(port_->Write(Report({0x00, 0xAA, 0x55, 0x21})), 65);
  std::array<std::uint8_t, platform::kHidReportSize> in{};
  EXPECT_EQ(port_->Read(in, 100ms), 0);
  EXPECT_EQ(port_->Read(in, std::chrono::milliseconds(-5)), 0);  // a negative wait does not block
}

TEST_F(UmockdevHid, UnplugWhileOpenFailsReads) {
  ASSERT_EQ(port_->Open(BridgePath()), 0);
  box_->Unplug(BoxFunction::Bridge);
  std::array<std::uint8_t, platform::kHidReportSize> in{};
  EXPECT_LT(port_->Read(in, 500ms), 0);
  port_->Close();
  EXPECT_TRUE(port_->Enumerate(kBridgeVendorId, kBridgeProductId).empty());
  box_->Plug(BoxFunction::Bridge);
  EXPECT_FALSE(BridgePath().empty());
}

}  // namespace
}  // namespace varnex2::sim
