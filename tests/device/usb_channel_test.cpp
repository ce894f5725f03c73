// The bridge channel: device discovery, command sequences and the page/output bits.

#include "device/usb_channel.h"

#include <gtest/gtest.h>

#include <chrono>

#include "fake_hid_port.h"

namespace varnex2::device {
namespace {

using namespace std::chrono_literals;
using testing::FakeHidPort;
using testing::HidReport;

TEST(NarrowHidString, UnitsAbove255BecomeQuestionMarks) {
  EXPECT_EQ(NarrowHidString(u"Ab\u00FF\u0100\u4E2D"), "Ab\xFF??");
}

TEST(FindHidDevice, TakesTheFirstFullMatchAndSearchesOn) {
  FakeHidPort port;
  port.AddBridge("a", u"VarnexTestBox02");
  port.AddBridge("b", u"varnextestbox01");  // case differs
  port.AddBridge("c", u"VarnexTestBox01", u"ZorvatBridgeV5");
  port.AddBridge("d");
  hiddata hid(port);
  EXPECT_EQ(hid.FindHidDevice(kBridgeVendorId, kBridgeProductId, kBridgeManufacturer, kBridgeProduct), kHidFound);
  EXPECT_EQ(port.openPath, "d");
  EXPECT_TRUE(hid.HasHandle());
}

TEST(FindHidDevice, StatusWhenNothingMatches) {
  FakeHidPort port;
  hiddata hid(port);
  EXPECT_EQ(hid.FindHidDevice(kBridgeVendorId, kBridgeProductId, kBridgeManufacturer, kBridgeProduct), kHidNotFound);
  port.AddBridge("a", u"Other");
  EXPECT_EQ(hid.FindHidDevice(kBridgeVendorId, kBridgeProductId, kBridgeManufacturer, kBridgeProduct), kHidNotFound);
  EXPECT_FALSE(port.IsOpen());
  port.AddBridge("e", u"");  // an empty manufacturer string is a mismatch, not a failed query
  EXPECT_EQ(hid.FindHidDevice(kBridgeVendorId, kBridgeProductId, kBridgeManufacturer, kBridgeProduct), kHidNotFound);
  port.AddBridge("b");
  port.devices.back().manufacturerKnown = false;  // the last candidate's string query failed
  EXPECT_EQ(hid.FindHidDevice(kBridgeVendorId, kBridgeProductId, kBridgeManufacturer, kBridgeProduct),
            kHidStringQueryFailed);
  port.devices.back().manufacturerKnown = true;
  port.devices.back().productKnown = false;
  EXPECT_EQ(hid.FindHidDevice(kBridgeVendorId, kBridgeProductId, kBridgeManufacturer, kBridgeProduct),
            kHidStringQueryFailed);
  port.devices.back().productKnown = true;
  EXPECT_FALSE(hid.HasHandle());
  port.unopenable = {"a", "b", "e"};
  port.AddBridge("c");
  EXPECT_EQ(hid.FindHidDevice(kBridgeVendorId, kBridgeProductId, kBridgeManufacturer, kBridgeProduct), kHidFound);
  EXPECT_EQ(port.openPath, "c");
}

TEST(FindHidDevice, WideCharactersCompareAsQuestionMarks) {
  FakeHidPort port;
  port.AddBridge("a", u"VarnexTestBox0\u4E00");
  hiddata hid(port);
  EXPECT_EQ(hid.FindHidDevice(kBridgeVendorId, kBridgeProductId, kBridgeManufacturer, kBridgeProduct), kHidNotFound);
  EXPECT_EQ(hid.FindHidDevice(kBridgeVendorId, kBridgeProductId, "VarnexTestBox0?", kBridgeProduct), kHidFound);
}

TEST(FindHidDevice, NoStringsTakesTheFirstIdMatch) {
  FakeHidPort port;
  port.AddBridge("a", u"whatever", u"else");
  hiddata hid(port);
  EXPECT_EQ(hid.FindHidDevice(kBridgeVendorId, kBridgeProductId, "", ""), kHidFound);
}

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port.AddBridge("bridge");
    for (int i = 0; i < 64; ++i) {
      port.page249[i] = static_cast<std::uint8_t>(0xF0 + i);
      port.output[i] = static_cast<std::uint8_t>(0x80 + i);
    }
    ASSERT_EQ(channel.OpenBridge(), 0);
    port.written.clear();
  }
  FakeHidPort port;
  CUSBChannel channel{port};
};

TEST_F(ChannelTest, CommandSequences) {
  channel.LoadConfigPage();
  ASSERT_EQ(port.written.size(), 2u);
  HidReport frame{};
  frame[1] = 0xAA;
  frame[2] = 0x55;
  frame[3] = 0x21;
  EXPECT_EQ(port.written[0], frame);
  HidReport second{};
  second[1] = 249;
  second[2] = 64;
  EXPECT_EQ(port.written[1], second);
  EXPECT_EQ(channel.GetConfigByte(), 0xF0);

  port.written.clear();
  channel.SaveConfigPage();  // read page, then write page: frame, page report, data report
  ASSERT_EQ(port.written.size(), 5u);
  EXPECT_EQ(port.written[2][3], 0x20);
  EXPECT_EQ(port.written[3][1], 249);
  EXPECT_EQ(port.written[3][2], 0);
  EXPECT_EQ(port.written[4][1], 0xF0);
  EXPECT_EQ(port.written[4][64], static_cast<std::uint8_t>(0xF0 + 63));

  port.written.clear();
  channel.SetBuzzerInvert(0xFF);
  ASSERT_EQ(port.written.size(), 1u);
  const HidReport& bits = port.written[0];
  EXPECT_EQ(bits[3], 0x40);
  EXPECT_EQ(bits[4], 249);
  EXPECT_EQ(bits[5], 0);
  EXPECT_EQ(bits[6], 2);
  EXPECT_EQ(bits[7], 2);
  EXPECT_EQ(std::string(bits.begin() + 8, bits.begin() + 18), "VNX2SIGN01");
  EXPECT_TRUE(std::all_of(bits.begin() + 18, bits.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(ChannelTest, TogglingEnableTwiceRestoresThePage) {
  channel.LoadConfigPage();
  const auto before = port.page249;
  for (int i = 0; i < 2; ++i) {  // the menu command: flip, set the bit, save
    const std::uint8_t flipped = channel.GetConfigByte() ^ 1;
    channel.SetConfigByte(flipped);
    channel.SetBuzzerEnable(flipped);
    channel.SaveConfigPage();
    EXPECT_EQ(port.page249[0], flipped);
    EXPECT_TRUE(std::equal(before.begin() + 1, before.end(), port.page249.begin() + 1));
  }
  EXPECT_EQ(port.page249, before);
  EXPECT_EQ(channel.GetConfigByte(), before[0]);
}

TEST_F(ChannelTest, OutputLevelChangesOnlyByte8) {
  const auto before = port.output;
  channel.SetOutputLevel(1);
  EXPECT_EQ(port.output[8], 1);
  channel.SetOutputLevel(0);
  auto expected = before;
  expected[8] = 0;
  EXPECT_EQ(port.output, expected);
  // Each level: output-block read frame, write frame, data report.
  EXPECT_EQ(port.written.size(), 6u);
  EXPECT_EQ(port.written[0][3], 0x24);
  EXPECT_EQ(port.written[1][3], 0x25);
}

TEST_F(ChannelTest, CloseAndReopen) {
  channel.CloseBridge();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(channel.IsBridgeOpen());
  EXPECT_EQ(channel.OpenBridge(), 0);
  EXPECT_TRUE(channel.IsBridgeOpen());
}

TEST(Channel, WithoutABridgeNothingBlocks) {
  FakeHidPort port;
  CUSBChannel channel(port);
  EXPECT_EQ(channel.OpenBridge(), 1);
  channel.LoadConfigPage();
  EXPECT_EQ(channel.GetConfigByte(), 0) << "filled from the untouched input buffer";
  const auto t0 = std::chrono::steady_clock::now();
  channel.SetOutputLevel(1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);  // only the two 10 ms waits, no reads
  EXPECT_EQ(port.reads, 0);
  EXPECT_TRUE(port.written.empty());
}

TEST(Channel, SilentBridgeKeepsThePreviousInput) {
  FakeHidPort port;
  port.AddBridge("bridge");
  port.page249[0] = 3;
  CUSBChannel channel(port);
  ASSERT_EQ(channel.OpenBridge(), 0);
  channel.LoadConfigPage();
  EXPECT_EQ(channel.GetConfigByte(), 3);
  port.answers = false;
  port.page249[0] = 0;
  const auto t0 = std::chrono::steady_clock::now();
  channel.LoadConfigPage();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  EXPECT_EQ(channel.GetConfigByte(), 3) << "the read timed out: the old input is copied";
}

}  // namespace
}  // namespace varnex2::device
