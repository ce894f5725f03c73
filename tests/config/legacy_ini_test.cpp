// Old INI parameter sets: the private-profile reading rules, the code pages, and what the INI
// part of an import takes.
#include <gtest/gtest.h>

#include <string>

#include "config/legacy_import.h"

namespace varnex2::config {
namespace {

TEST(LegacyIni, ReadsByPrivateProfileRules) {
  const LegacyIniFile ini = LegacyIniFile::Parse(
      "[Panel]\r\n xorign = 3 \r\nGain=96abc\r\nEmpty=\r\nQuoted=\"a b\"\r\nXORIGN=9\r\n"
      "[KEY]\nENABLE=-12x\n[panel]\nYORIGN=7\n");
  EXPECT_EQ(ini.GetInt("PANEL", "XORIGN"), 3);  // case-insensitive, blanks trimmed, first one wins
  EXPECT_EQ(ini.GetString("panel", "gain"), "96abc");
  EXPECT_EQ(ini.GetInt("PANEL", "GAIN"), 96);  // digits up to the first other character
  EXPECT_EQ(ini.GetInt("KEY", "ENABLE"), -12);
  EXPECT_EQ(ini.GetInt("PANEL", "EMPTY"), 0);
  EXPECT_EQ(ini.GetString("PANEL", "QUOTED"), "a b");
  EXPECT_EQ(ini.GetString("PANEL", "YORIGN"), "");  // only the first section of a name is read
  EXPECT_EQ(ini.GetString("NONE", "X"), "");
  EXPECT_FALSE(ini.HasSection("CONFIG"));

  EXPECT_EQ(LenientDecimal("  +42;"), 42);
  EXPECT_EQ(LenientDecimal("abc"), 0);
  EXPECT_EQ(LenientDecimal("-"), 0);
  EXPECT_EQ(LenientDecimal("99999999999"), INT32_MAX);
  EXPECT_EQ(LenientDecimal("-99999999999"), INT32_MIN);

  // A 510-character buffer keeps 509 characters, whole characters only.
  std::string wide;
  for (int i = 0; i < 300; ++i) wide += "测";
  const LegacyIniFile longValue =
      LegacyIniFile::Parse("[A]\nK=" + std::string(600, 'x') + "\nC=" + std::string(300, 'x') + wide + "\n");
  EXPECT_EQ(longValue.GetString("A", "K"), std::string(509, 'x'));
  const std::string cut = longValue.GetString("A", "C");
  EXPECT_EQ(cut.size(), 300u + 209u * 3u);
}

TEST(LegacyIni, DecodesGb18030Utf8AndUtf16) {
  // "[EXTERNPARA]\r\nPERCENTVAL=测试 12\r\n" in GB18030 (测 B2E2, 试 CAD4).
  const std::string gb = "[EXTERNPARA]\r\nPERCENTVAL=\xB2\xE2\xCA\xD4 12\r\n[PANEL]\r\nXSIZE=30\r\n";
  const LegacyIniFile fromGb = LegacyIniFile::Parse(gb);
  EXPECT_EQ(fromGb.Encoding(), LegacyTextEncoding::kGb18030);
  EXPECT_EQ(fromGb.GetString("EXTERNPARA", "PERCENTVAL"), "测试 12");
  EXPECT_EQ(fromGb.GetInt("PANEL", "XSIZE"), 30);

  const LegacyIniFile fromUtf8 = LegacyIniFile::Parse("\xEF\xBB\xBF[PANEL]\nXSIZE=31\nNAME=测试\n");
  EXPECT_EQ(fromUtf8.Encoding(), LegacyTextEncoding::kUtf8);
  EXPECT_EQ(fromUtf8.GetInt("PANEL", "XSIZE"), 31);  // the mark does not hide the first section
  EXPECT_EQ(fromUtf8.GetString("PANEL", "NAME"), "测试");

  const std::string utf16(
      "\xFF\xFE[\0A\0]\0\n\0K\0=\0"
      "5\0",
      16);
  const LegacyIniFile fromUtf16 = LegacyIniFile::Parse(utf16);
  EXPECT_EQ(fromUtf16.Encoding(), LegacyTextEncoding::kUtf16Le);
  EXPECT_EQ(fromUtf16.GetInt("A", "K"), 5);

  // A byte GB18030 cannot decode becomes U+FFFD; the rest of the file still reads.
  const LegacyIniFile broken = LegacyIniFile::Parse("[A]\nK=\x80\xFF\nN=4\n");
  EXPECT_EQ(broken.GetInt("A", "N"), 4);
}

constexpr ControllerFacts kBox{32, 52, 0x20};

TEST(LegacyIniPart, AdjustsThresholdsAndMasksFields) {
  PanelConfig current;
  current.marks[3].nSpare = 2;
  const LegacyIniFile ini = LegacyIniFile::Parse(
      "[PANEL]\nXORIGN=0\nYORIGN=0\nXSIZE=30\nYSIZE=50\nGAIN=352\nTHRESUPPER=35000\nTHRESLOWER=8000\n"
      "[CONFIG]\nUICOLORMODE=6\nTESTMODE=3\n"
      "[MARK3]\nTYPE=2\nENABLE=1\nX=40\nY=70\n"
      "[EXTERNPARA]\nPERCENTMODE=0\nPERCENTVAL=12.5\nOFFSETMODE=1\nOFFSETUPPER=1500\nOFFSETLOWR=800\n");
  const LegacyIniPart part = ReadLegacyIniPart(ini, current, kBox);
  ASSERT_TRUE(part.Valid()) << part.validation.strMessage;
  EXPECT_EQ(part.touch.nThresUpper, 32000);
  EXPECT_EQ(part.touch.nThresLower, 10000);
  EXPECT_EQ(part.touch.nGain, 96);  // 352 in 8 bits
  EXPECT_EQ(part.touch.bEnable, 1);
  // No KEY section: a disabled key area with every value 0.
  EXPECT_EQ(part.key, (AreaParams{0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(part.nUiColorMode, 2);
  EXPECT_EQ(part.nLegacyTestMode, 3);
  const UserMark& m = part.marks[3];
  EXPECT_EQ(m.nType, 2);
  EXPECT_EQ(m.bEnable, 1);
  EXPECT_EQ(m.nX, 8);      // 40 in 5 bits
  EXPECT_EQ(m.nY, 6);      // 70 in 6 bits
  EXPECT_EQ(m.nSpare, 2);  // preserved
  EXPECT_EQ(part.marks[0], UserMark{});
  EXPECT_EQ(part.controls, (LegacyLimitControls{false, true, "12.5", "800", "1500"}));

  PanelConfig taken = current;
  TakeLegacyIniPart(part, taken);
  EXPECT_EQ(taken.touchArea, part.touch);
  EXPECT_EQ(taken.marks[3], m);
  EXPECT_EQ(taken.nUiColorMode, 2);
}

TEST(LegacyIniPart, InvalidAreasTakeNothing) {
  PanelConfig current;
  current.nUiColorMode = 1;
  const LegacyIniFile ini = LegacyIniFile::Parse(
      "[PANEL]\nXSIZE=2\nYSIZE=50\n[CONFIG]\nUICOLORMODE=3\n[MARK0]\nTYPE=1\nENABLE=1\n[EXTERNPARA]\nPERCENTVAL=5\n");
  const LegacyIniPart part = ReadLegacyIniPart(ini, current, kBox);
  EXPECT_EQ(part.validation.nCode, kInvalidTouchGeometry);
  EXPECT_EQ(part.validation.strMessage, "屏体行值不能小于3");
  PanelConfig after = current;
  TakeLegacyIniPart(part, after);
  EXPECT_EQ(after, current);

  // Valid by the validation rule, but an origin the controller cannot hold as a byte.
  const LegacyIniPart negative = ReadLegacyIniPart(
      LegacyIniFile::Parse("[PANEL]\nXORIGN=-5\nXSIZE=20\nYSIZE=50\nTHRESUPPER=28000\nTHRESLOWER=19000\n"), current,
      kBox);
  EXPECT_EQ(negative.validation.nCode, kInvalidTouchGeometry);
  EXPECT_NE(negative.validation.strMessage.find("XORIGN = -5"), std::string::npos);
}

TEST(LegacyIniPart, CompanionFolderAndCellNumbers) {
  EXPECT_EQ(LegacyCompanionFolder("/data/sets/a.ini"), std::filesystem::path("/data/sets/a_ExternPara"));
  EXPECT_EQ(LegacyCompanionFolder("rel/b.INI"), std::filesystem::path("rel/b_ExternPara"));
  EXPECT_EQ(ScaledDecimal("0.402", 3), 402);  // as written, not 401 from a binary product
  EXPECT_EQ(ScaledDecimal(" -1.2345", 3), -1234);
  EXPECT_EQ(ScaledDecimal("7", 3), 7000);
  EXPECT_EQ(ScaledDecimal("x", 3), 0);
  EXPECT_EQ(ScaledDecimal("1e3", 3), 1000000);
  EXPECT_EQ(ScaledDecimal("99999999", 3), INT32_MAX);
}

}  // namespace
}  // namespace varnex2::config
