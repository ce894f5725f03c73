// The simulated bridge: page 249, the output block, SetConfigBits and the buzzer state.

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "sim/sim_box.h"

namespace varnex2::sim {
namespace {

using namespace std::chrono_literals;

class BridgeHost {
 public:
  explicit BridgeHost(SimBox& box) : box_(box), session_(box.Session(BoxFunction::Bridge)) {}

  bool Send(std::initializer_list<std::pair<int, std::uint8_t>> bytes) {
    BridgeReport r{};
    for (auto [i, v] : bytes) r[static_cast<std::size_t>(i)] = v;
    return box_.BridgeWrite(session_, r) == OutResult::Ok;
  }
  bool SendData(const std::array<std::uint8_t, 64>& data) {
    BridgeReport r{};
    std::copy(data.begin(), data.end(), r.begin() + 1);
    return box_.BridgeWrite(session_, r) == OutResult::Ok;
  }
  bool Command(std::uint8_t cmd) { return Send({{1, 0xAA}, {2, 0x55}, {3, cmd}}); }
  bool Read(std::array<std::uint8_t, 64>& out) {
    BridgeReport r{};
    if (box_.BridgeRead(session_, r, 1000ms) != InResult::Report) return false;
    EXPECT_EQ(r[0], 0);
    std::copy(r.begin() + 1, r.end(), out.begin());
    return true;
  }

  std::array<std::uint8_t, 64> ReadPage(std::uint8_t page) {
    Command(0x21);
    Send({{1, page}, {2, 64}});
    std::array<std::uint8_t, 64> out{};
    EXPECT_TRUE(Read(out));
    return out;
  }
  void WritePage(std::uint8_t page, const std::array<std::uint8_t, 64>& data) {
    Command(0x20);
    Send({{1, page}});
    SendData(data);
  }
  std::array<std::uint8_t, 64> ReadOutputBlock() {
    Command(0x24);
    std::array<std::uint8_t, 64> out{};
    EXPECT_TRUE(Read(out));
    return out;
  }
  void WriteOutputBlock(const std::array<std::uint8_t, 64>& data) {
    Command(0x25);
    SendData(data);
    std::array<std::uint8_t, 64> ack{};
    EXPECT_TRUE(Read(ack));
  }
  void SetConfigBits(std::uint8_t value, std::uint8_t mask, std::string_view signature = kBridgeConfigSignature,
                     std::uint8_t page = kBridgeConfigPage) {
    BridgeReport r{};
    r[1] = 0xAA;
    r[2] = 0x55;
    r[3] = 0x40;
    r[4] = page;
    r[5] = 0;
    r[6] = value & mask;
    r[7] = mask;
    for (std::size_t i = 0; i < 10 && i < signature.size(); ++i) r[8 + i] = static_cast<std::uint8_t>(signature[i]);
    box_.BridgeWrite(session_, r);
  }

 private:
  SimBox& box_;
  std::uint64_t session_;
};

TEST(SimBridge, ConfigPageReadsBackAndSetConfigBitsChangesOnlyTheMaskedBit) {
  SimBox box;
  BridgeHost host(box);
  const auto first = host.ReadPage(kBridgeConfigPage);
  EXPECT_EQ(first[0] & 0x03, 0x01);  // buzzer enabled, not inverted

  host.SetConfigBits(0x00, 0x01);  // enable off
  auto page = host.ReadPage(kBridgeConfigPage);
  EXPECT_EQ(page[0], first[0] & ~0x01);
  EXPECT_TRUE(std::equal(page.begin() + 1, page.end(), first.begin() + 1));
  EXPECT_FALSE(box.Bridge().buzzerEnabled);

  host.SetConfigBits(0x02, 0x02);  // invert on
  EXPECT_TRUE(box.Bridge().buzzerInverted);
  host.SetConfigBits(0x01, 0x01);
  host.SetConfigBits(0x00, 0x02);
  EXPECT_EQ(host.ReadPage(kBridgeConfigPage), first);
}

TEST(SimBridge, SetConfigBitsWithoutTheSignatureIsRefused) {
  SimBox box;
  BridgeHost host(box);
  const auto first = host.ReadPage(kBridgeConfigPage);
  host.SetConfigBits(0x00, 0x01, "VNX2SIGN00");
  host.SetConfigBits(0x00, 0x01, kBridgeConfigSignature, 12);
  EXPECT_EQ(host.ReadPage(kBridgeConfigPage), first);
  EXPECT_EQ(box.Bridge().rejectedConfigBits, 2u);
}

TEST(SimBridge, WritePageKeepsEveryByteAndPersists) {
  const auto path =
      (std::filesystem::temp_directory_path() / ("varnex2_bridge_" + std::to_string(::getpid()) + ".nv")).string();
  std::filesystem::remove(path);
  SimBoxOptions o;
  o.storePath = path;
  std::array<std::uint8_t, 64> data{};
  for (int i = 0; i < 64; ++i) data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(200 - i);
  {
    SimBox box(o);
    BridgeHost host(box);
    host.WritePage(kBridgeConfigPage, data);
    EXPECT_EQ(host.ReadPage(kBridgeConfigPage), data);
  }
  SimBox again(o);
  BridgeHost host(again);
  EXPECT_EQ(host.ReadPage(kBridgeConfigPage), data);
  std::filesystem::remove(path);
}

TEST(SimBridge, OutputBlockByteEightDrivesTheBuzzer) {
  SimBox box;
  BridgeHost host(box);
  auto block = host.ReadOutputBlock();
  block[3] = 0x5A;
  host.WriteOutputBlock(block);
  block = host.ReadOutputBlock();
  block[8] = 1;
  host.WriteOutputBlock(block);
  BridgeState s = box.Bridge();
  EXPECT_EQ(s.outputLevel, 1);
  EXPECT_TRUE(s.buzzerSounding);
  EXPECT_EQ(s.outputWrites, 2u);
  block[8] = 0;
  host.WriteOutputBlock(block);
  EXPECT_FALSE(box.Bridge().buzzerSounding);
  const auto now = box.OutputBlock();
  EXPECT_EQ(now[3], 0x5A);
  EXPECT_EQ(now[8], 0);
}

TEST(SimBridge, InvertedBuzzerSoundsWhileTheOutputIsOff) {
  SimBox box;
  BridgeHost host(box);
  host.SetConfigBits(0x02, 0x02);
  EXPECT_TRUE(box.Bridge().buzzerSounding);
  host.SetConfigBits(0x00, 0x01);
  EXPECT_FALSE(box.Bridge().buzzerSounding);
}

TEST(SimBridge, ReadTimesOutAndFailsAfterUnplug) {
  SimBox box;
  const std::uint64_t s = box.Session(BoxFunction::Bridge);
  BridgeReport r{};
  EXPECT_EQ(box.BridgeRead(s, r, 5ms), InResult::Timeout);
  box.Unplug(BoxFunction::Bridge);
  EXPECT_EQ(box.BridgeRead(s, r, 5ms), InResult::NoDevice);
  EXPECT_EQ(box.BridgeWrite(s, r), OutResult::NoDevice);
}

}  // namespace
}  // namespace varnex2::sim
