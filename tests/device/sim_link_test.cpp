// The whole device link against the in-process simulated box.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <unistd.h>

#include "device/box_ids.h"
#include "device/controller_link.h"
#include "device/controller_ops.h"
#include "device/panel_areas.h"
#include "device/usb_channel.h"
#include "device/user_data_record.h"
#include "sim/box_identity.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"

namespace varnex2::device {
namespace {

// The station's and the simulated box's copies of the box identity must agree.
static_assert(kBridgeVendorId == sim::kBridgeVendorId && kBridgeProductId == sim::kBridgeProductId);
static_assert(kBridgeManufacturer == sim::kBridgeManufacturer && kBridgeProduct == sim::kBridgeProduct);
static_assert([] {
  if (kBridgeSignature.size() != sim::kBridgeConfigSignature.size()) return false;
  for (std::size_t i = 0; i < kBridgeSignature.size(); ++i)
    if (kBridgeSignature[i] != static_cast<std::uint8_t>(sim::kBridgeConfigSignature[i])) return false;
  return true;
}());
static_assert(kBridgeConfigPage == sim::kBridgeConfigPage);
static_assert(kControllerVendorId == sim::kControllerVendorId && kControllerProductId == sim::kControllerProductId);
static_assert(kControllerManufacturer == sim::kControllerManufacturer && kControllerProduct == sim::kControllerProduct);
static_assert(kControllerInterface == sim::kControllerInterface &&
              kControllerInEndpoint == sim::kControllerInEndpoint &&
              kControllerOutEndpoint == sim::kControllerOutEndpoint);

using namespace std::chrono_literals;
using sim::BoxFunction;

std::vector<std::uint16_t> Reference(const sim::PanelState& state) {
  sim::PanelModel model(32, 52, 1);
  model.SetState(state);
  std::vector<std::uint16_t> v(32 * 52);
  model.ReferenceFrame(v);
  return v;
}

class SimLinkTest : public ::testing::Test {
 protected:
  void Start(sim::SimBoxOptions options = {}) {
    TearDown();
    options.resetDowntime = 300ms;
    box = std::make_shared<sim::SimBox>(options);
    port = sim::CreateSimUsbPort(box);
    link = std::make_unique<ControllerLink>(*port);
    link->SetLostCallback([this](int status) {
      lostStatus = status;
      ++lost;
    });
  }
  void Open() {
    ASSERT_EQ(link->OpenController(), 0);
    ASSERT_EQ(ReadInfoBlock(*link, *link->Record()), 0);
  }
  void TearDown() override {
    link.reset();
    port.reset();
    box.reset();
  }
  ControllerRecord& Rec() { return *link->Record(); }

  std::shared_ptr<sim::SimBox> box;
  std::unique_ptr<platform::UsbPort> port;
  std::unique_ptr<ControllerLink> link;
  std::atomic<int> lost{0};
  std::atomic<int> lostStatus{-1};
};

TEST_F(SimLinkTest, OpenReadAndFrame) {
  Start();
  Open();
  EXPECT_EQ(Rec().FamilyId(), 0xA2);
  EXPECT_EQ(Rec().versionText, "2.0.AB");
  EXPECT_EQ(FrameCommandAddress(Rec()), box->CommandAddress());
  EXPECT_EQ(FindObject(Rec(), kT38UserData, 0), box->ObjectAddress(kT38UserData));
  EXPECT_EQ(ObjectSize(Rec(), kT37Diagnostic), static_cast<int>(box->ObjectSize(kT37Diagnostic)));

  sim::PanelState state;
  state.placed = true;
  state.noise = 0;
  box->SetPanel(state);
  std::vector<std::uint16_t> frame(kMaxNodes);
  int x = 0, y = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(link->AcquireFrame(Rec(), frame, x, y, 0x20), 0);
    EXPECT_EQ(x, 32);
    EXPECT_EQ(y, 52);
    EXPECT_EQ(frame, Reference(state));
  }
  std::vector<std::int16_t> diag(kMaxNodes);
  ASSERT_EQ(ReadDiagnosticFrame(*link, Rec(), diag, x, y, 0x11), 0);
  const std::vector<std::uint16_t> ref = Reference(state);
  for (std::size_t i = 0; i < ref.size(); ++i) ASSERT_EQ(static_cast<std::uint16_t>(diag[i]), ref[i]) << i;
}

TEST_F(SimLinkTest, ManyFramesInARow) {
  Start();
  Open();
  std::vector<std::uint16_t> frame(kMaxNodes);
  int x = 0, y = 0;
  // Back-to-back frames: the end acknowledgement of one must never answer the next mode write.
  for (int i = 0; i < 300; ++i) ASSERT_EQ(link->AcquireFrame(Rec(), frame, x, y, 0x20), 0) << i;
  std::vector<std::uint8_t> b(7);
  EXPECT_EQ(link->ReadRegisters(0, b), 0);
}

TEST_F(SimLinkTest, RegisterRoundTripThroughT38) {
  Start();
  Open();
  std::vector<std::uint8_t> pattern(64);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<std::uint8_t>(i);
  ASSERT_EQ(WriteObject(*link, kT38UserData, 0, pattern), 0);
  std::vector<std::uint8_t> back(64);
  ASSERT_EQ(ReadObject(*link, kT38UserData, 0, back), 0);
  EXPECT_EQ(back, pattern);
  UserDataRecord r;
  bool recognised = true;
  ASSERT_EQ(ReadUserData(*link, r, &recognised), 0);
  EXPECT_FALSE(recognised) << "the self-test pattern is not a user-data record";
  std::vector<std::uint8_t> info(7);
  EXPECT_EQ(link->WriteRegisters(0, info), kErrBadStatus) << "the information block is read-only";
}

TEST_F(SimLinkTest, CorruptChecksumGives17) {
  sim::SimBoxOptions o;
  o.variant.corruptChecksum = true;
  Start(o);
  ASSERT_EQ(link->OpenController(), 0);
  EXPECT_EQ(ReadInfoBlock(*link, Rec()), kErrChecksumMismatch);
  EXPECT_TRUE(Rec().reportIds.empty());
}

TEST_F(SimLinkTest, OtherFamilyGetsNoFrame) {
  sim::SimBoxOptions o;
  o.variant = sim::ControllerVariant::OtherFamily();
  Start(o);
  Open();
  std::vector<std::uint16_t> frame(kMaxNodes, 1);
  int x = 0, y = 0;
  EXPECT_EQ(link->AcquireFrame(Rec(), frame, x, y, 0x20), kErrNoAnswer);
  EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](std::uint16_t v) { return v == 0; }));
}

TEST_F(SimLinkTest, FirmwareVariantsUseTheirCommandAddress) {
  for (const auto& v : {sim::ControllerVariant::Version10(), sim::ControllerVariant::Version11(),
                        sim::ControllerVariant::Version12(), sim::ControllerVariant::Variant0B()}) {
    sim::SimBoxOptions o;
    o.variant = v;
    Start(o);
    Open();
    EXPECT_EQ(FrameCommandAddress(Rec()), box->CommandAddress());
    std::vector<std::uint16_t> frame(kMaxNodes);
    int x = 0, y = 0;
    EXPECT_EQ(link->AcquireFrame(Rec(), frame, x, y, 0x20), 0);
  }
}

TEST_F(SimLinkTest, PinFaultSelfTest) {
  Start();
  Open();
  sim::PanelState state;
  state.placed = true;
  box->SetPanel(state);
  EXPECT_EQ(RunPinFaultTest(*link, Rec(), 0x12), 0);
  box->AddShort({true, 3, 2});
  EXPECT_EQ(RunPinFaultTest(*link, Rec(), 0x12), 13);
  EXPECT_EQ(link->PinFault().kind, 2);
  EXPECT_EQ(link->PinFault().xLine, 4);
  EXPECT_EQ(link->PinFault().yLine, 0);
  box->ClearFaults();
  EXPECT_EQ(RunPinFaultTest(*link, Rec(), 0x12), 0);
  EXPECT_EQ(link->PinFault().kind, 0);
  box->SetPowerFault(true);
  EXPECT_NE(RunPinFaultTest(*link, Rec(), 0x01), 0);
}

TEST_F(SimLinkTest, ResetAndReconnect) {
  Start();
  Open();
  const auto resets = box->ResetCount();
  ASSERT_EQ(ResetController(*link, Rec()), 0);
  EXPECT_EQ(box->ResetCount(), resets + 1);
  ASSERT_EQ(ReadInfoBlock(*link, Rec()), 0);
  std::vector<std::uint16_t> frame(kMaxNodes);
  int x = 0, y = 0;
  EXPECT_EQ(link->AcquireFrame(Rec(), frame, x, y, 0x20), 0);
}

TEST_F(SimLinkTest, UnplugIsALostDevice) {
  Start();
  Open();
  box->Unplug(BoxFunction::Controller);
  for (int i = 0; i < 1000 && lost == 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(lostStatus, static_cast<int>(platform::TransferStatus::NoDevice));
  std::vector<std::uint8_t> b(1);
  EXPECT_NE(link->ReadRegisters(0, b), 0);
  link->CloseController();
  EXPECT_NE(link->OpenController(), 0);
  box->Plug(BoxFunction::Controller);
  Open();
  EXPECT_EQ(lost, 1);
}

TEST_F(SimLinkTest, BackupSurvivesARestartOfTheBox) {
  const std::filesystem::path store =
      std::filesystem::temp_directory_path() / ("varnex2_device_store_" + std::to_string(::getpid()));
  std::filesystem::remove_all(store);
  sim::SimBoxOptions o;
  o.storePath = store.string();
  UserDataRecord marks;
  marks.nUiColorMode = 3;
  marks.marks[4] = 0x1234;
  {
    Start(o);
    Open();
    ASSERT_EQ(WritePanelAreas(*link, AreaSettings{1, 2, 20, 30, 80, 1, 27000, 18000},
                              AreaSettings{25, 0, 2, 8, 70, 1, 26000, 17000}),
              0);
    ASSERT_EQ(WriteUserData(*link, marks), 0);
    ASSERT_TRUE(BackupSettings(*link));
    TearDown();
  }
  Start(o);
  Open();
  AreaSettings t, k;
  ASSERT_EQ(ReadPanelAreas(*link, t, k), 0);
  EXPECT_EQ(t.nXOrigin, 1);
  EXPECT_EQ(t.nYSize, 30);
  EXPECT_EQ(t.nGain, 80);
  EXPECT_EQ(t.nThresUpper, 27000);
  EXPECT_EQ(k.bEnable, 1);
  EXPECT_EQ(k.nXOrigin, 25);
  EXPECT_EQ(k.nThresLower, 17000);
  UserDataRecord back;
  bool recognised = false;
  ASSERT_EQ(ReadUserData(*link, back, &recognised), 0);
  EXPECT_TRUE(recognised);
  EXPECT_EQ(back.nUiColorMode, 3);
  EXPECT_EQ(back.marks, marks.marks);

  ASSERT_EQ(ResetPanelAreas(*link), 0);
  ASSERT_EQ(ReadPanelAreas(*link, t, k), 0);
  EXPECT_EQ(t.nXSize, 32);
  EXPECT_EQ(t.nYSize, 52);
  EXPECT_EQ(k.bEnable, 0);
  TearDown();
  std::filesystem::remove_all(store);
}

TEST(SimBridge, ChannelAgainstTheSimulatedBridge) {
  auto box = std::make_shared<sim::SimBox>();
  auto hid = sim::CreateSimHidPort(box);
  CUSBChannel channel(*hid);
  ASSERT_EQ(channel.OpenBridge(), 0);
  channel.LoadConfigPage();
  const auto page = box->BridgePage(kBridgeConfigPage);
  EXPECT_EQ(channel.GetConfigByte(), page[0]);
  for (int i = 0; i < 2; ++i) {
    const std::uint8_t flipped = channel.GetConfigByte() ^ 1;
    channel.SetConfigByte(flipped);
    channel.SetBuzzerEnable(flipped);
    channel.SaveConfigPage();
    EXPECT_EQ(box->Bridge().buzzerEnabled, (flipped & 1) != 0);
  }
  EXPECT_EQ(box->BridgePage(kBridgeConfigPage), page);
  EXPECT_EQ(box->Bridge().rejectedConfigBits, 0u);

  const auto block = box->OutputBlock();
  channel.SetOutputLevel(1);
  EXPECT_EQ(box->Bridge().outputLevel, 1);
  channel.SetOutputLevel(0);
  EXPECT_EQ(box->OutputBlock(), block);
  EXPECT_EQ(box->Bridge().outputWrites, 2u);

  box->Unplug(BoxFunction::Bridge);
  channel.CloseBridge();
  EXPECT_EQ(channel.OpenBridge(), 1);
  const auto t0 = std::chrono::steady_clock::now();
  channel.SetOutputLevel(1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
  box->Plug(BoxFunction::Bridge);
  EXPECT_EQ(channel.OpenBridge(), 0);
}

}  // namespace
}  // namespace varnex2::device
