#include "config/panel_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <vector>

namespace varnex2::config {
namespace {

constexpr int32_t kMX = 32;
constexpr int32_t kMY = 52;

AreaParams Touch(int32_t x0, int32_t y0, int32_t xs, int32_t ys) {
  AreaParams a = DefaultTouchArea();
  a.nXOrigin = x0;
  a.nYOrigin = y0;
  a.nXSize = xs;
  a.nYSize = ys;
  return a;
}

AreaParams Key(int32_t x0, int32_t y0, int32_t xs, int32_t ys) {
  AreaParams a = DefaultKeyArea();
  a.nXOrigin = x0;
  a.nYOrigin = y0;
  a.nXSize = xs;
  a.nYSize = ys;
  a.bEnable = 1;
  return a;
}

ValidationResult Validate(const AreaParams& t, const AreaParams& k, uint8_t nVersion = 0x20) {
  return ValidatePanelConfig(t, k, kMX, kMY, nVersion);
}

TEST(PanelConfigDefaults, MatchTheStationDefaults) {
  const PanelConfig c;
  EXPECT_EQ(c.touchArea, (AreaParams{0, 0, 32, 52, 96, 1, 28000, 19000}));
  EXPECT_EQ(c.keyArea, (AreaParams{0, 0, 0, 0, 96, 0, 28000, 19000}));
  EXPECT_EQ(c.nUiColorMode, 0);
  EXPECT_EQ(c.nLegacyTestMode, 0);
  EXPECT_EQ(c.nTestModeFlags, 1u);
  for (const UserMark& m : c.marks) EXPECT_EQ(m.Pack(), (std::array<uint8_t, 2>{0, 0}));
  EXPECT_EQ(c.screen.ToArray(), (std::array<int32_t, 12>{3, 0, 30000, 1, 20000, 1, 5000, 1, 402, 1, 4000, 1}));
  EXPECT_EQ(c.adjacentPercent.Rows(), 52);
  EXPECT_EQ(c.adjacentPercent.Cols(), 32);
  EXPECT_TRUE(c.sampleLimits.sampleFrames.Empty());
  EXPECT_EQ(c.sampleLimits.nLimitMode, 0);
  EXPECT_EQ(c.sampleLimits.nPercentX100, 1000);
  EXPECT_EQ(c.sampleLimits.nOffsetUpper, 2000);
  EXPECT_EQ(c.sampleLimits.nOffsetLower, 2000);
  EXPECT_STREQ(kScreenLevelValueNames.front(), "ViewMode");
  EXPECT_STREQ(kScreenLevelValueNames.back(), "RawdataRangeDiscardVarianceEnable");
}

TEST(PanelConfigWidths, FieldsKeepTheirLowBits) {
  AreaParams a;
  a.nGain = static_cast<uint8_t>(0x1FF);
  a.nThresUpper = static_cast<uint16_t>(0x12345);
  EXPECT_EQ(a.nGain, 0xFF);
  EXPECT_EQ(a.nThresUpper, 0x2345);

  PanelConfig c;
  c.nUiColorMode = 7u & 0x3u;
  EXPECT_EQ(c.nUiColorMode, 3);
}

TEST(UserMarkPacking, FieldsSitInTheirBits) {
  UserMark m;
  m.nType = 2;
  m.bEnable = 1;
  m.nX = 31;
  m.nY = 63;
  m.nSpare = 1;
  EXPECT_EQ(m.Pack(), (std::array<uint8_t, 2>{0xFE, 0xFD}));

  UserMark k;
  k.nType = 1;
  k.bEnable = 1;
  k.nX = 5;
  k.nY = 9;
  EXPECT_EQ(k.Pack(), (std::array<uint8_t, 2>{(5 << 3) | 0x4 | 1, 9 << 2}));
}

TEST(UserMarkPacking, UnpackInvertsPackForEveryByte) {
  for (int b0 = 0; b0 < 256; ++b0) {
    for (int b1 = 0; b1 < 256; b1 += 7) {
      const std::array<uint8_t, 2> bytes{static_cast<uint8_t>(b0), static_cast<uint8_t>(b1)};
      ASSERT_EQ(UserMark::Unpack(bytes).Pack(), bytes);
    }
  }
  const UserMark m = UserMark::Unpack({0x4D, 0x26});  // x 9, enabled, type 1; y 9, spare 2
  EXPECT_EQ(m.nX, 9);
  EXPECT_EQ(m.bEnable, 1);
  EXPECT_EQ(m.nType, 1);
  EXPECT_EQ(m.nY, 9);
  EXPECT_EQ(m.nSpare, 2);
}

TEST(ValidatePanelConfig, TouchGeometry) {
  const AreaParams off = DefaultKeyArea();
  EXPECT_EQ(Validate(Touch(0, 0, 3, 3), off).nCode, 0);
  EXPECT_EQ(Validate(Touch(0, 0, 3, 3), off).strMessage, "没有发现任何错误");
  EXPECT_EQ(Validate(Touch(0, 0, 32, 52), off).nCode, 0);

  const struct {
    AreaParams t;
    const char* msg;
  } cases[] = {
      {Touch(10, 0, 5, 52), "屏体起始行值不能大于行宽度值"},  // 15 fits the matrix, still refused
      {Touch(0, 0, 2, 3), "屏体行值不能小于3"},
      {Touch(1, 0, 32, 52), "屏体起始行值与行宽度值不能大于硬件行宽度限制"},
      {Touch(0, 10, 32, 5), "屏体起始列值不能大于宽度列值"},
      {Touch(0, 0, 3, 2), "屏体列值不能小于3"},
      {Touch(0, 1, 32, 52), "屏体起始列值与宽度列值不能大于硬件列值限制"},
      {Touch(0, 0, 2, 2), "屏体行值不能小于3"},  // first failing check wins
      {Touch(0, 0, 0x7FFFFFFF, 52), "屏体起始行值与行宽度值不能大于硬件行宽度限制"},
  };
  for (const auto& c : cases) {
    const ValidationResult r = Validate(c.t, off);
    EXPECT_EQ(r.nCode, 1024) << c.msg;
    EXPECT_EQ(r.strMessage, c.msg);
  }
}

TEST(ValidatePanelConfig, Thresholds) {
  AreaParams t = Touch(0, 0, 32, 52);
  t.nThresUpper = 20000;
  t.nThresLower = 20000;
  EXPECT_EQ(Validate(t, DefaultKeyArea()).nCode, 1025);
  EXPECT_EQ(Validate(t, DefaultKeyArea()).strMessage, "触摸屏下限值不能大于上限值");
  t.nThresUpper = 65535;  // unsigned comparison
  EXPECT_EQ(Validate(t, DefaultKeyArea()).nCode, 0);

  AreaParams k = Key(0, 0, 2, 2);
  const AreaParams t2 = Touch(0, 10, 32, 40);
  k.nThresLower = 30000;
  EXPECT_EQ(Validate(t2, k).nCode, 1028);
  EXPECT_EQ(Validate(t2, k).strMessage, "按键下限值不能大于上限值");
}

TEST(ValidatePanelConfig, DisabledKeyAreaIsNotChecked) {
  AreaParams k = Key(-5, 100, 0, 0);
  k.bEnable = 0;
  k.nThresLower = k.nThresUpper;
  EXPECT_EQ(Validate(Touch(0, 0, 32, 52), k).nCode, 0);
}

TEST(ValidatePanelConfig, KeyCountAndSizes) {
  const AreaParams t = Touch(0, 10, 32, 42);
  EXPECT_EQ(Validate(t, Key(0, 0, 4, 8)).nCode, 0);  // 32 keys above the touch area's Y range
  EXPECT_EQ(Validate(t, Key(0, 0, 3, 11)).strMessage, "按键数量总数不能大于32");
  EXPECT_EQ(Validate(t, Key(0, 0, 0, 5)).strMessage, "按键行值不能为0");
  EXPECT_EQ(Validate(t, Key(0, 0, 5, 0)).strMessage, "按键列值不能为0");
  EXPECT_EQ(Validate(t, Key(0, 0, -1, 5)).strMessage, "按键行值不能为0");
  EXPECT_EQ(Validate(t, Key(0, 0, 0x10000, 0x10000)).strMessage, "按键数量总数不能大于32");  // no overflow
  EXPECT_EQ(Validate(t, Key(0, 0, 3, 11)).nCode, 1027);
}

TEST(ValidatePanelConfig, KeyCornersInsideTheTouchArea) {
  const AreaParams t = Touch(0, 0, 30, 52);
  // (kx0, ky0) and (kx1, ky0) inside; the far corners beyond the Y range.
  EXPECT_EQ(Validate(t, Key(10, 50, 4, 4)).strMessage, "按键范围不能设置在屏内 左上左下 角超限");
  EXPECT_EQ(Validate(t, Key(10, 50, 4, 4)).nCode, 1027);
  // Only the right-hand corners (ky1) inside.
  const AreaParams t2 = Touch(0, 10, 30, 42);
  EXPECT_EQ(Validate(t2, Key(2, 8, 2, 4)).strMessage, "按键范围不能设置在屏内 右上右下 角超限");
  // All four.
  EXPECT_EQ(Validate(t, Key(1, 1, 2, 2)).strMessage, "按键范围不能设置在屏内 左上左下右上右下 角超限");
  // Beside the touch area on the X axis (lines 30, 31): valid; ends are exclusive.
  EXPECT_EQ(Validate(t, Key(30, 0, 2, 8)).nCode, 0);
  EXPECT_EQ(Validate(t, Key(29, 0, 2, 8)).strMessage, "按键范围不能设置在屏内 左上右上 角超限");
}

TEST(ValidatePanelConfig, OldFirmwareRestrictsKeyPlacement) {
  const AreaParams t = Touch(4, 0, 28, 52);
  const AreaParams above = Key(0, 0, 2, 8);  // X lines below the touch origin, inside its Y range
  EXPECT_EQ(Validate(t, above, 0x10).strMessage, "此固件版本不支持按键行值在屏体上方");
  EXPECT_EQ(Validate(t, above, 0x11).nCode, 1027);
  EXPECT_EQ(Validate(t, above, 0x20).nCode, 0);
  EXPECT_EQ(Validate(t, above, 0x12).nCode, 0);

  // "Below" covers the touch area itself, so a key inside it is reported as below first.
  const AreaParams t2 = Touch(0, 0, 28, 52);
  EXPECT_EQ(Validate(t2, Key(29, 0, 2, 8), 0x10).strMessage, "此固件版本不支持按键行值在屏体下方");
  EXPECT_EQ(Validate(t2, Key(29, 0, 2, 8), 0x20).nCode, 0);
  EXPECT_EQ(Validate(t2, Key(1, 1, 2, 2), 0x11).strMessage, "此固件版本不支持按键行值在屏体下方");
}

TEST(ValidatePanelConfig, EnglishTextsGoWithTheSameCodes) {
  // Each case fails at a different check; the English text differs from every other one.
  const AreaParams off = DefaultKeyArea();
  AreaParams lowTouch = Touch(0, 0, 30, 52);
  lowTouch.nThresLower = lowTouch.nThresUpper;
  AreaParams lowKey = Key(30, 0, 2, 8);
  lowKey.nThresLower = lowKey.nThresUpper;
  const std::vector<std::tuple<AreaParams, AreaParams, uint8_t>> cases = {
      {Touch(0, 0, 30, 52), off, 0x20},
      {Touch(10, 0, 5, 52), off, 0x20},
      {Touch(0, 0, 2, 52), off, 0x20},
      {Touch(0, 0, 33, 52), off, 0x20},
      {Touch(0, 10, 30, 5), off, 0x20},
      {Touch(0, 0, 30, 2), off, 0x20},
      {Touch(0, 0, 30, 53), off, 0x20},
      {lowTouch, off, 0x20},
      {Touch(0, 0, 30, 52), Key(30, 0, 3, 11), 0x20},
      {Touch(0, 0, 30, 52), Key(30, 0, 0, 8), 0x20},
      {Touch(0, 0, 30, 52), Key(30, 0, 2, 0), 0x20},
      {Touch(4, 0, 28, 52), Key(0, 0, 2, 8), 0x10},
      {Touch(0, 0, 28, 52), Key(30, 0, 2, 8), 0x10},
      {Touch(0, 0, 30, 52), Key(29, 0, 2, 8), 0x20},
      {Touch(0, 0, 30, 52), lowKey, 0x20},
  };
  std::set<std::string> seen;
  for (const auto& [t, k, nVersion] : cases) {
    const ValidationResult zh = ValidatePanelConfig(t, k, kMX, kMY, nVersion);
    const ValidationResult en = ValidatePanelConfig(t, k, kMX, kMY, nVersion, TextLanguage::kEnglish);
    EXPECT_EQ(en.nCode, zh.nCode) << zh.strMessage;
    EXPECT_TRUE(std::all_of(en.strMessage.begin(), en.strMessage.end(), [](char ch) {
      return static_cast<unsigned char>(ch) < 0x80;
    })) << en.strMessage;
    EXPECT_TRUE(seen.insert(en.strMessage).second) << "repeated: " << en.strMessage;
  }
  EXPECT_EQ(seen.size(), cases.size());
  EXPECT_EQ(
      ValidatePanelConfig(Touch(0, 0, 30, 52), Key(27, 50, 2, 8), kMX, kMY, 0x20, TextLanguage::kEnglish).strMessage,
      "key area: corners inside the touch area: (X0, Y0), (X1, Y0)");
}

TEST(ComputeNodeExtents, FollowsTheEnabledAreas) {
  const AreaParams t = Touch(0, 0, 32, 52);
  AreaParams k = Key(32, 0, 2, 8);
  EXPECT_EQ(ComputeNodeExtents(t, k), (NodeExtents{34, 52}));
  k.bEnable = 0;
  EXPECT_EQ(ComputeNodeExtents(t, k), (NodeExtents{32, 52}));
  AreaParams tOff = t;
  tOff.bEnable = 0;
  EXPECT_EQ(ComputeNodeExtents(tOff, k), (NodeExtents{0, 0}));
  k.bEnable = 1;
  EXPECT_EQ(ComputeNodeExtents(tOff, k), (NodeExtents{34, 8}));
  EXPECT_EQ(ComputeNodeExtents(Touch(200, 0, 60, 3), DefaultKeyArea()), (NodeExtents{4, 3}));  // 8-bit sums
}

TEST(ResetPanelConfigRecord, RestoresDefaultsAndKeepsTheRest) {
  PanelConfig c;
  c.touchArea = Touch(2, 2, 10, 10);
  c.keyArea = Key(20, 0, 2, 2);
  c.nTestModeFlags = kTestModeThreshold | kTestModeSampleLimits | kTestModeAdjacent;
  c.nUiColorMode = 2;
  c.nLegacyTestMode = 1;
  c.marks[3] = UserMark::Unpack({0xFF, 0xFF});
  c.screen.RawdataMax = 12345;
  c.adjacentPercent = Int32Array2D(12, 22, 1500);
  c.sampleLimits.nPercentX100 = 1250;

  ResetPanelConfigRecord(c);
  EXPECT_EQ(c.touchArea, DefaultTouchArea());
  EXPECT_EQ(c.keyArea, DefaultKeyArea());
  EXPECT_EQ(c.nTestModeFlags, 1u);
  EXPECT_EQ(c.nUiColorMode, 0);
  EXPECT_EQ(c.marks[3].Pack(), (std::array<uint8_t, 2>{0x00, 0x03}));  // spare bits kept
  EXPECT_EQ(c.adjacentPercent, Int32Array2D(52, 32));
  EXPECT_EQ(c.nLegacyTestMode, 1);
  EXPECT_EQ(c.screen.RawdataMax, 12345);
  EXPECT_EQ(c.sampleLimits.nPercentX100, 1250);
}

TEST(Int32Arrays, ShapeIsKeptAndAssignChecksSize) {
  Int32Array2D a;
  EXPECT_TRUE(a.Assign(3, 0, {}));
  EXPECT_EQ(a.Rows(), 3);
  EXPECT_NE(a, Int32Array2D());
  EXPECT_FALSE(a.Assign(2, 2, {1, 2, 3}));
  EXPECT_EQ(a.Rows(), 3);
  ASSERT_TRUE(a.Assign(2, 3, {1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(a(1, 0), 4);
  EXPECT_EQ(a.Row(1)[2], 6);

  Int32Array3D f(2, 2, 3);
  f(1, 1, 2) = 7;
  EXPECT_EQ(f.Values().back(), 7);
  EXPECT_EQ(f.Row(1, 1)[2], 7);
}

}  // namespace
}  // namespace varnex2::config
