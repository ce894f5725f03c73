// Controller operations against the small controller model.

#include "device/controller_ops.h"

#include <gtest/gtest.h>

#include <numeric>

#include "device/panel_areas.h"
#include "fake_controller.h"

namespace varnex2::device {
namespace {

using testing::FakeController;
using testing::FakeUsbPort;
using testing::Report;

// The checksum as the controller's documentation states it, written independently.
std::uint32_t ReferenceCrc(const std::vector<std::uint8_t>& b) {
  std::uint32_t crc = 0;
  auto step = [&](std::uint8_t lo, std::uint8_t hi) {
    std::uint32_t r = (crc << 1) ^ (static_cast<std::uint32_t>(hi) << 8 | lo);
    if (r & 0x1000000) r ^= 0x80001B;
    crc = r & 0xFFFFFF;
  };
  std::size_t i = 0;
  for (; i + 1 < b.size(); i += 2) step(b[i], b[i + 1]);
  if (i < b.size()) step(b[i], 0);
  return crc;
}

class OpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(link.OpenController(), 0);
    ASSERT_EQ(ReadInfoBlock(link, *link.Record()), 0);
  }
  ControllerRecord& Rec() { return *link.Record(); }
  std::size_t Writes() {
    std::size_t n = 0;
    for (const Report& r : port.Requests())
      if (r[1] == 0x51 && r[2] != 0x02) ++n;
    return n;
  }

  FakeUsbPort port;
  FakeController box{port};
  ControllerLink link{port};
};

TEST(Checksum, MatchesTheReferenceIncludingAnOddTail) {
  std::vector<std::uint8_t> b;
  for (int i = 0; i < 67; ++i) b.push_back(static_cast<std::uint8_t>(i * 37 + 11));
  EXPECT_EQ(InfoBlockChecksum(b), ReferenceCrc(b));
  b.pop_back();
  EXPECT_EQ(InfoBlockChecksum(b), ReferenceCrc(b));
  EXPECT_EQ(InfoBlockChecksum(std::vector<std::uint8_t>{0x01, 0x02}), 0x0201u);
  EXPECT_EQ(InfoBlockChecksum(std::vector<std::uint8_t>{0x01, 0x02, 0x03}), (0x0201u << 1) ^ 0x03u);
  std::vector<std::uint8_t> ones(40, 0xFF);
  EXPECT_EQ(InfoBlockChecksum(ones), ReferenceCrc(ones));
}

TEST_F(OpsTest, InfoBlockIsReadAndChecked) {
  const ControllerRecord& r = Rec();
  EXPECT_EQ(r.FamilyId(), 0xA2);
  EXPECT_EQ(r.MatrixX(), 32);
  EXPECT_EQ(r.MatrixY(), 52);
  EXPECT_EQ(r.objects.size(), box.objects.size());
  EXPECT_EQ(r.versionText, "2.0.AB");
  // 1 + T6 1 + T9 2x10 + T15 1 + T22 1 + T25 1 + T48 1
  EXPECT_EQ(r.nReportIdCount, 26);
  ASSERT_EQ(r.reportIds.size(), 26u);
  EXPECT_EQ(r.reportIds[1].type, kT6CommandProcessor);
  EXPECT_EQ(r.reportIds[12].type, kT9Touchscreen);
  EXPECT_EQ(r.reportIds[12].instance, 1);
  EXPECT_EQ(r.reportIds[box.t25ReportId].type, kT25SelfTest);
  EXPECT_EQ(ReportIdOwner(r, 0), nullptr);
  EXPECT_EQ(ReportIdOwner(r, 26), nullptr);
}

TEST_F(OpsTest, ChecksumMismatchGives17AndNoReportIds) {
  box.BuildInfoBlock(/*corrupt=*/true);
  EXPECT_EQ(ReadInfoBlock(link, Rec()), kErrChecksumMismatch);
  EXPECT_TRUE(Rec().reportIds.empty());
  EXPECT_EQ(Rec().nReportIdCount, 0);
  box.BuildInfoBlock();
  EXPECT_EQ(ReadInfoBlock(link, Rec()), 0);
  EXPECT_FALSE(Rec().reportIds.empty());
}

TEST_F(OpsTest, ZeroChecksumGives2) {
  std::fill(box.memory.begin(), box.memory.begin() + 16, 0);  // no objects, all zero
  EXPECT_EQ(ReadInfoBlock(link, Rec()), kErrChecksumZero);
}

TEST_F(OpsTest, VersionTextFormat) {
  box.info[2] = 0x11;
  box.info[3] = 0x0A;
  box.BuildInfoBlock();
  ASSERT_EQ(ReadInfoBlock(link, Rec()), 0);
  EXPECT_EQ(Rec().versionText, "1.1.0A");
}

TEST_F(OpsTest, FindObjectEdges) {
  EXPECT_EQ(FindObject(Rec(), kT9Touchscreen, 0), FakeController::kT9);
  EXPECT_EQ(FindObject(Rec(), kT9Touchscreen, 1), FakeController::kT9 + 36);
  EXPECT_EQ(FindObject(Rec(), kT9Touchscreen, 2), 0) << "instance 2 of an object with 2 instances";
  EXPECT_EQ(FindObject(Rec(), kT9Touchscreen, -1), 0);
  EXPECT_EQ(FindObject(Rec(), kT100Touchscreen, 0), 0);
  EXPECT_EQ(ObjectInstances(Rec(), kT9Touchscreen), 2);
  EXPECT_EQ(ObjectInstances(Rec(), kT100Touchscreen), 0);
  EXPECT_EQ(ObjectSize(Rec(), kT38UserData), 64);
  EXPECT_EQ(ObjectSize(Rec(), kT56Shieldless), 0);
}

TEST_F(OpsTest, ObjectAccessIsBoundedByTheObject) {
  std::vector<std::uint8_t> big(100);
  std::iota(big.begin(), big.end(), 0);
  ASSERT_EQ(WriteObject(link, kT7Power, 0, big), 0);
  EXPECT_EQ(box.memory[FakeController::kT7 + 3], 3);
  EXPECT_EQ(box.memory[FakeController::kT7 + 4], 0) << "the write stops at the object's end";
  std::vector<std::uint8_t> back(100, 0xEE);
  ASSERT_EQ(ReadObject(link, kT7Power, 0, back), 0);
  EXPECT_EQ(back[3], 3);
  EXPECT_EQ(back[4], 0xEE);

  port.ClearRequests();
  EXPECT_EQ(ReadObject(link, kT56Shieldless, 0, back), 0);
  EXPECT_EQ(WriteObject(link, kT56Shieldless, 0, big), 0);
  EXPECT_TRUE(port.Requests().empty()) << "absent objects move nothing";
  EXPECT_EQ(ReadObject(link, kT9Touchscreen, 2, back), kErrObjectAbsent);
  EXPECT_EQ(WriteObject(link, kT7Power, 1, big), kErrObjectAbsent);
  EXPECT_TRUE(port.Requests().empty());
}

TEST_F(OpsTest, TouchWindowRoundTrip) {
  std::fill_n(box.memory.begin() + FakeController::kT9, 36, 0x33);
  WindowFields w{1, 2, 30, 50, 96, true};
  ASSERT_EQ(WriteTouchWindow(link, w), 0);
  const std::uint8_t* t9 = box.memory.data() + FakeController::kT9;
  EXPECT_EQ(t9[0], 0x81);
  EXPECT_EQ(t9[3], 30);
  EXPECT_EQ(t9[5], 0);
  EXPECT_EQ(t9[6], 96);
  EXPECT_EQ(t9[7], 255);
  EXPECT_TRUE(std::all_of(t9 + 8, t9 + 36, [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(box.memory[FakeController::kT9 + 36], 0) << "instance 1 untouched";
  WindowFields back;
  ASSERT_EQ(ReadTouchWindow(link, back), 0);
  EXPECT_EQ(back.xOrigin, 1);
  EXPECT_EQ(back.yOrigin, 2);
  EXPECT_EQ(back.xSize, 30);
  EXPECT_EQ(back.ySize, 50);
  EXPECT_EQ(back.gain, 96);
  EXPECT_TRUE(back.enabled);
  w.enabled = false;
  ASSERT_EQ(WriteTouchWindow(link, w), 0);
  EXPECT_EQ(t9[0], 0x80);
}

TEST_F(OpsTest, KeyWindowNeedsAn11ByteObject) {
  WindowFields w{32, 0, 2, 8, 50, true};
  ASSERT_EQ(WriteKeyWindow(link, w), 0);
  EXPECT_EQ(box.memory[FakeController::kT15], 1);
  EXPECT_EQ(box.memory[FakeController::kT15 + 7], 255);
  WindowFields back;
  ASSERT_EQ(ReadKeyWindow(link, back), 0);
  EXPECT_EQ(back.xOrigin, 32);
  EXPECT_EQ(back.ySize, 8);
  EXPECT_TRUE(back.enabled);

  box.objects[7].size = 12;
  box.BuildInfoBlock();
  ASSERT_EQ(ReadInfoBlock(link, Rec()), 0);
  EXPECT_EQ(ReadKeyWindow(link, back), kErrKeyObjectSize);
  EXPECT_EQ(WriteKeyWindow(link, w), kErrKeyObjectSize);
}

TEST_F(OpsTest, SignalLimitSlotsFollowTheTypeOrder) {
  const std::uint16_t t25 = FakeController::kT25;
  EXPECT_EQ(SignalLimitSlot(Rec(), kT9Touchscreen, 0), t25 + 2);
  EXPECT_EQ(SignalLimitSlot(Rec(), kT9Touchscreen, 1), t25 + 6);
  EXPECT_EQ(SignalLimitSlot(Rec(), kT15KeyArray, 0), t25 + 10);  // after both T9 instances
  EXPECT_EQ(SignalLimitSlot(Rec(), kT15KeyArray, 1), 0);
  EXPECT_EQ(SignalLimitSlot(Rec(), kT7Power, 0), 0);

  ASSERT_EQ(WriteSignalLimits(link, kT15KeyArray, 28000, 19000), 0);
  EXPECT_EQ(box.memory[t25 + 10] | box.memory[t25 + 11] << 8, 28000);
  EXPECT_EQ(box.memory[t25 + 12] | box.memory[t25 + 13] << 8, 19000);
  EXPECT_EQ(box.memory[FakeController::kT15] & 1, 1) << "the instance is enabled";

  box.memory[FakeController::kT9] = 0x80;
  ASSERT_EQ(WriteSignalLimits(link, kT9Touchscreen, 30000, 20000), 0);
  EXPECT_EQ(box.memory[FakeController::kT9], 0x81) << "other bits of byte 0 kept";
  std::vector<SignalLimit> limits;
  ASSERT_EQ(ReadSignalLimits(link, kT9Touchscreen, limits), 0);
  ASSERT_EQ(limits.size(), 2u);
  EXPECT_EQ(limits[0].index, 1);
  EXPECT_EQ(limits[0].upper, 30000);
  EXPECT_EQ(limits[0].lower, 20000);
  EXPECT_TRUE(limits[0].enabled);
  EXPECT_EQ(limits[1].index, 2);
  EXPECT_FALSE(limits[1].enabled);
  EXPECT_EQ(WriteSignalLimits(link, kT100Touchscreen, 1, 0), kErrObjectAbsent);
}

TEST_F(OpsTest, MessagesInvalidOnesSkipped) {
  box.QueueMessage({0xFF, 1, 2});
  box.QueueMessage({5, 0x42});
  std::vector<std::uint8_t> seen;
  const int r = WaitForMessage(link, Rec(), 0, [&](std::span<const std::uint8_t> m) {
    EXPECT_EQ(m.size(), FakeController::kT5Size - 1u);
    seen.push_back(m[0]);
    return kSelfTestNotMessage;
  });
  EXPECT_EQ(r, 0);
  EXPECT_EQ(seen, std::vector<std::uint8_t>{5});
  box.QueueMessage({7});
  EXPECT_EQ(WaitForMessage(link, Rec(), 0, [](std::span<const std::uint8_t>) { return 77; }), 77);
  EXPECT_EQ(WaitForMessage(link, Rec(), 1, [](std::span<const std::uint8_t>) { return 0; }), kErrMessageTimeout);
}

struct SelfTestCase {
  std::uint8_t result;
  int code;
};
class PinFaultTest : public OpsTest, public ::testing::WithParamInterface<SelfTestCase> {};

TEST_P(PinFaultTest, ResultTable) {
  link.PinFault() = {9, 9, 9};
  box.selfTestResult = GetParam().result;
  box.faultKind = 2;
  box.faultX = 5;
  box.faultY = 7;
  EXPECT_EQ(RunPinFaultTest(link, Rec(), kPinFaultTestCommand), GetParam().code);
  const auto f = link.PinFault();
  if (GetParam().result == 0x12) {
    EXPECT_EQ(f.kind, 2);
    EXPECT_EQ(f.xLine, 5);
    EXPECT_EQ(f.yLine, 7);
  } else {
    EXPECT_EQ(f.kind, 0);
    EXPECT_EQ(f.xLine, 0);
    EXPECT_EQ(f.yLine, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Results, PinFaultTest,
                         ::testing::Values(SelfTestCase{0xFE, 0}, SelfTestCase{0xFD, 7}, SelfTestCase{0xFC, 4},
                                           SelfTestCase{0x01, 12}, SelfTestCase{0x11, 13}, SelfTestCase{0x12, 13},
                                           SelfTestCase{0x13, 14}, SelfTestCase{0x17, 15}, SelfTestCase{0x20, 16},
                                           SelfTestCase{0x55, 25}));

TEST_F(OpsTest, PinFaultTestSetsUpTheControllerAndDrainsOldMessages) {
  box.memory[FakeController::kT22] = 0x0F;
  box.memory[FakeController::kT48] = 0x0F;
  // A stale short report from an earlier run must not decide this one.
  box.QueueMessage({box.t25ReportId, 0x12, 3, 1, 1});
  box.QueueMessage({2, 0x80});  // a touch message
  box.selfTestResult = 0xFE;
  EXPECT_EQ(RunPinFaultTest(link, Rec(), 0x12), 0);
  EXPECT_EQ(box.memory[FakeController::kT25], 3);
  EXPECT_EQ(box.memory[FakeController::kT25 + 1], 0x12);
  EXPECT_EQ(box.memory[FakeController::kT22], 0);
  EXPECT_EQ(box.memory[FakeController::kT48], 0);
  EXPECT_EQ(link.PinFault().kind, 0);

  // A short, then a passing run clears the details again.
  box.selfTestResult = 0x12;
  box.faultKind = 1;
  box.faultX = 4;
  EXPECT_EQ(RunPinFaultTest(link, Rec(), 0x12), 13);
  EXPECT_EQ(link.PinFault().kind, 1);
  EXPECT_EQ(PinFaultMarker(link.PinFault().kind), 64);
  box.selfTestResult = 0xFE;
  EXPECT_EQ(RunPinFaultTest(link, Rec(), 0x12), 0);
  EXPECT_EQ(link.PinFault().kind, 0);
  EXPECT_EQ(link.PinFault().xLine, 0);
}

TEST_F(OpsTest, BackupWrites0x55) {
  EXPECT_TRUE(BackupSettings(link));
  EXPECT_EQ(box.backups, 1);
  EXPECT_EQ(box.memory[FakeController::kT6 + 1], 0x55);
}

TEST_F(OpsTest, ResetReopensTheLink) {
  EXPECT_EQ(ResetController(link, Rec()), 0);
  EXPECT_EQ(box.resets, 1);
  ASSERT_NE(link.Record(), nullptr);
  EXPECT_TRUE(link.Record()->objects.empty()) << "a fresh record after the reopen";
  EXPECT_TRUE(link.EventThreadRunning());
  ASSERT_EQ(ReadInfoBlock(link, Rec()), 0);
  std::vector<std::uint8_t> b(4);
  EXPECT_EQ(link.ReadRegisters(0, b), 0);
}

TEST_F(OpsTest, ResetWithoutT6) {
  ControllerRecord empty;
  EXPECT_EQ(ResetController(link, empty), kErrObjectAbsent);
  EXPECT_TRUE(link.HasHandle());
}

TEST_F(OpsTest, DiagnosticFrame) {
  std::vector<std::int16_t> frame(kMaxNodes, 0);
  int x = 0, y = 0;
  for (std::size_t i = 0; i < box.frame.size(); ++i) box.frame[i] = static_cast<std::uint16_t>(i * 3 - 500);
  ASSERT_EQ(ReadDiagnosticFrame(link, Rec(), frame, x, y, 0x11), 0);
  EXPECT_EQ(x, 32);
  EXPECT_EQ(y, 52);
  for (std::size_t i = 0; i < frame.size(); ++i) ASSERT_EQ(frame[i], static_cast<std::int16_t>(box.frame[i])) << i;

  box.diagnosticWrongPage = 3;
  EXPECT_EQ(ReadDiagnosticFrame(link, Rec(), frame, x, y, 0x11), kErrDiagnosticPage);
  box.diagnosticWrongPage = -1;
  box.diagnosticStuck = true;
  EXPECT_EQ(ReadDiagnosticFrame(link, Rec(), frame, x, y, 0x11), kErrMessageTimeout);
  box.diagnosticStuck = false;
  std::vector<std::int16_t> small(10);
  EXPECT_EQ(ReadDiagnosticFrame(link, Rec(), small, x, y, 0x11), kErrNoMemory);
  ControllerRecord noT37 = Rec();
  std::erase_if(noT37.objects, [](const ObjectEntry& e) { return e.type == kT37Diagnostic; });
  EXPECT_EQ(ReadDiagnosticFrame(link, noT37, frame, x, y, 0x11), kErrObjectAbsent);
}

TEST_F(OpsTest, PanelAreasAreWrittenInOrder) {
  AreaSettings touch{2, 3, 20, 40, 90, 1, 27000, 18000};
  AreaSettings key{24, 0, 2, 8, 70, 1, 26000, 17000};
  port.ClearRequests();
  ASSERT_EQ(WritePanelAreas(link, touch, key), 0);
  EXPECT_EQ(box.backups, 1);
  AreaSettings t, k;
  ASSERT_EQ(ReadPanelAreas(link, t, k), 0);
  EXPECT_EQ(t.nXOrigin, 2);
  EXPECT_EQ(t.nYSize, 40);
  EXPECT_EQ(t.nGain, 90);
  EXPECT_EQ(t.bEnable, 1);
  EXPECT_EQ(t.nThresUpper, 27000);
  EXPECT_EQ(t.nThresLower, 18000);
  EXPECT_EQ(k.nXOrigin, 24);
  EXPECT_EQ(k.nYSize, 8);
  EXPECT_EQ(k.bEnable, 1);
  EXPECT_EQ(k.nThresUpper, 26000);
  // The write order: T9 limits (byte 0, slot), T9 window, T15 limits, T15 window, backup.
  std::vector<std::uint16_t> writes;
  for (const Report& r : port.Requests())
    if (r[1] == 0x51 && r[2] != 0x02) writes.push_back(static_cast<std::uint16_t>(r[4] | r[5] << 8));
  const std::vector<std::uint16_t> expected = {FakeController::kT9,    FakeController::kT25 + 2,  FakeController::kT9,
                                               FakeController::kT15,   FakeController::kT25 + 10, FakeController::kT15,
                                               FakeController::kT6 + 1};
  EXPECT_EQ(writes, expected);

  key.bEnable = 0;
  ASSERT_EQ(WritePanelAreas(link, touch, key), 0);
  ASSERT_EQ(ReadPanelAreas(link, t, k), 0);
  EXPECT_EQ(k.bEnable, 0) << "the key window write follows the limits write";
}

TEST_F(OpsTest, ResetPanelAreasWritesTheDefaults) {
  ASSERT_EQ(WritePanelAreas(link, AreaSettings{2, 3, 20, 40, 90, 1, 27000, 18000},
                            AreaSettings{24, 0, 2, 8, 70, 1, 26000, 17000}),
            0);
  ASSERT_EQ(ResetPanelAreas(link), 0);
  AreaSettings t, k;
  ASSERT_EQ(ReadPanelAreas(link, t, k), 0);
  EXPECT_EQ(t.nXOrigin, 0);
  EXPECT_EQ(t.nXSize, 32);
  EXPECT_EQ(t.nYSize, 52);
  EXPECT_EQ(t.nGain, 96);
  EXPECT_EQ(t.nThresUpper, 28000);
  EXPECT_EQ(t.nThresLower, 19000);
  EXPECT_EQ(k.bEnable, 0);
  EXPECT_EQ(k.nGain, 96);
  EXPECT_EQ(k.nXSize, 0);
}

TEST_F(OpsTest, TouchLimitsNeedAnEnabledRecord) {
  WindowFields w{0, 0, 32, 52, 96, false};
  ASSERT_EQ(WriteTouchWindow(link, w), 0);
  AreaSettings t, k;
  EXPECT_EQ(ReadPanelAreas(link, t, k), kErrNoSignalLimits);
}

}  // namespace
}  // namespace varnex2::device
