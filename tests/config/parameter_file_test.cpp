#include "config/parameter_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/archive/xml_iarchive.hpp>
#include <boost/archive/xml_oarchive.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/vector.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "config/config_samples.h"

namespace varnex2::config {
namespace {

using testing::Element;
using testing::ElementsOf;
using testing::FullConfig;
using ::testing::HasSubstr;
using testing::kController;
using testing::kVersion;
using ::testing::StartsWith;

constexpr const char* kFormatPrefix = "参数文件格式错误,载入失败！";

// ---- Boost's own archives, as another implementation would use them --------------------------

std::vector<std::vector<int32_t>> BoostRead(const std::string& text, std::size_t nElements) {
  std::istringstream is(text);
  boost::archive::xml_iarchive ar(is);
  std::vector<std::vector<int32_t>> out(nElements);
  for (auto& v : out) ar >> boost::serialization::make_nvp("anything", v);
  return out;
}

std::string BoostWrite(const std::vector<Element>& elements) {
  std::ostringstream os;
  {
    boost::archive::xml_oarchive ar(os);
    for (const auto& [name, values] : elements) {
      std::vector<int32_t> v = values;
      ar << boost::serialization::make_nvp(name.c_str(), v);
    }
  }
  return os.str();
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) {
    s.replace(p, from.size(), to);
  }
  return s;
}

// Boost's text turned into the station's dialect: archive version 14, class information on the
// first element, CR LF line ends.
std::string AsStationDialect(std::string boost, const std::string& firstName) {
  boost = std::regex_replace(boost, std::regex("signature=\"serialization::archive\" version=\"[0-9]+\""),
                             "signature=\"serialization::archive\" version=\"14\"");
  boost =
      Replace(boost, "<" + firstName + ">", "<" + firstName + " class_id=\"0\" tracking_level=\"0\" version=\"0\">");
  while (!boost.empty() && boost.back() == '\n') boost.pop_back();
  return Replace(boost + "\n", "\n", "\r\n");
}

struct Loaded {
  ParameterFileStatus status;
  PanelConfig config;
  std::string message;
};

// Loads into a sentinel so that an untouched `out` can be told from a default one.
PanelConfig Sentinel() {
  PanelConfig s;
  s.screen.RawdataMax = -424242;
  return s;
}

Loaded Load(std::string_view text, const PanelConfig& current = PanelConfig{}, ProgramVersion v = kVersion,
            ControllerFacts ctl = kController) {
  Loaded r{ParameterFileStatus::kOk, Sentinel(), {}};
  r.status = LoadParameterText(text, current, ctl, v, r.config, r.message);
  return r;
}

void ExpectRefused(const Loaded& r, const std::string& what) {
  EXPECT_EQ(r.status, ParameterFileStatus::kFormatError) << what;
  EXPECT_THAT(r.message, StartsWith(kFormatPrefix)) << what;
  EXPECT_EQ(r.config, Sentinel()) << what << ": out changed";
}

std::string ElementText(const std::string& name, const std::vector<int32_t>& values) {
  std::string s = "<" + name + ">\r\n\t<count>" + std::to_string(values.size()) +
                  "</count>\r\n\t<item_version>0</item_version>\r\n";
  for (int32_t v : values) s += "\t<item>" + std::to_string(v) + "</item>\r\n";
  return s + "</" + name + ">\r\n";
}

// ---- writing -----------------------------------------------------------------------------------

TEST(ParameterFileWrite, ByteForByteTheArchiveBoostWouldWriteInTheStationDialect) {
  for (const PanelConfig& c : {PanelConfig{}, FullConfig()}) {
    const auto elements = ElementsOf(c, kVersion);
    EXPECT_EQ(WriteParameterFile(c, kVersion), AsStationDialect(BoostWrite(elements), "VERSION"));
  }
}

TEST(ParameterFileWrite, FileAfterResetHasTheListedContents) {
  PanelConfig c;
  c.nTestModeFlags = 7;
  ResetPanelConfigRecord(c);
  const std::string text = WriteParameterFile(c, kVersion);

  const std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n"
      "<!DOCTYPE boost_serialization>\r\n"
      "<boost_serialization signature=\"serialization::archive\" version=\"14\">\r\n"
      "<VERSION class_id=\"0\" tracking_level=\"0\" version=\"0\">\r\n"
      "\t<count>4</count>\r\n\t<item_version>0</item_version>\r\n"
      "\t<item>1</item>\r\n\t<item>3</item>\r\n\t<item>0</item>\r\n\t<item>26</item>\r\n"
      "</VERSION>\r\n" +
      ElementText("PANEL", {0, 0, 32, 52, 96, 28000, 19000}) + ElementText("KEY", {0, 0, 0, 0, 96, 0, 28000, 19000}) +
      ElementText("CONFIG", {0, 0});
  std::vector<int32_t> marks;
  for (int i = 0; i < 12; ++i) marks.insert(marks.end(), {i, 0, 0, 0, 0});
  std::string expected = head + ElementText("MARK", marks) + ElementText("TESTMODE", {1, 0}) +
                         ElementText("PANELCTL", {3, 0, 30000, 1, 20000, 1, 5000, 1, 402, 1, 4000, 1}) +
                         ElementText("ADJACRNYARRYEXT", {52, 32});
  for (int r = 0; r < 52; ++r) expected += ElementText("ADJACRNYARRY", std::vector<int32_t>(32, 0));
  // Before any sampling: no sampled frames, no rows of any limit array, default parameters.
  expected += ElementText("OFFSETMODERAWDATAARRYDIMS", {0, 0, 0});
  for (const char* n : {"OFFSETMODERAWDATAAVGDIMS", "OFFSETMODERAWDATAUPPERDIMS", "OFFSETMODERAWDATALOWERDIMS",
                        "OFFSETMODESAMPLELISTDIMS", "OFFSETMODEPARALISTDIMS"}) {
    expected += ElementText(n, {0, 0});
  }
  expected += ElementText("OFFSETMODEOTHERPARA", {0, 1000, 2000, 2000}) + "</boost_serialization>\r\n";
  EXPECT_EQ(text, expected);
}

TEST(ParameterFileWrite, FieldsAreWrittenAtTheirWidthsAndEmptyArraysAsShapeOnly) {
  PanelConfig c;
  c.adjacentPercent = Int32Array2D(3, 0);
  c.sampleLimits.sampleFrames = Int32Array3D(2, 0, 5);
  c.marks[0] = UserMark::Unpack({0xFF, 0xFF});
  const std::string text = WriteParameterFile(c, ProgramVersion{2, 0x1FF, 7, 0x105});
  EXPECT_THAT(text, HasSubstr("\t<item>2</item>\r\n\t<item>255</item>\r\n\t<item>7</item>\r\n\t<item>5</item>\r\n"));
  EXPECT_THAT(text,
              HasSubstr(ElementText("ADJACRNYARRYEXT", {3, 0}) + ElementText("OFFSETMODERAWDATAARRYDIMS", {2, 0, 5}) +
                        ElementText("OFFSETMODERAWDATAAVGDIMS", {0, 0})));
  EXPECT_THAT(text,
              HasSubstr("<item_version>0</item_version>\r\n\t<item>0</item>\r\n\t<item>3</item>\r\n\t<item>1</item>"
                        "\r\n\t<item>31</item>\r\n\t<item>63</item>\r\n\t<item>1</item>"));
  EXPECT_EQ(text.find("class_id"), text.find("<VERSION ") + 9);  // once, on the first element
  EXPECT_EQ(text.find("class_id", text.find("class_id") + 1), std::string::npos);
}

TEST(ParameterFileWrite, BoostReadsEveryFileWeWrite) {
  for (const PanelConfig& c : {PanelConfig{}, FullConfig(), testing::ExamplePanelConfig()}) {
    const auto elements = ElementsOf(c, kVersion);
    const auto read = BoostRead(WriteParameterFile(c, kVersion), elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) EXPECT_EQ(read[i], elements[i].second) << elements[i].first;
  }
}

// ---- reading -----------------------------------------------------------------------------------

TEST(ParameterFileRead, RoundTripIsIdentityAndRewriteIsByteIdentical) {
  for (const PanelConfig& c : {PanelConfig{}, FullConfig()}) {
    const std::string text = WriteParameterFile(c, kVersion);
    const Loaded r = Load(text);
    ASSERT_EQ(r.status, ParameterFileStatus::kOk) << r.message;
    EXPECT_EQ(r.message, kMsgLoadSucceeded);
    EXPECT_EQ(r.config, c);
    EXPECT_EQ(WriteParameterFile(r.config, kVersion), text);
    // Written back by a newer program only VERSION changes.
    const std::string newer = WriteParameterFile(r.config, ProgramVersion{1, 4, 2, 3});
    EXPECT_EQ(newer.substr(newer.find("</VERSION>")), text.substr(text.find("</VERSION>")));
  }
  // Loading over the current configuration itself.
  PanelConfig config;
  std::string message;
  ASSERT_EQ(
      LoadParameterText(WriteParameterFile(FullConfig(), kVersion), config, kController, kVersion, config, message),
      ParameterFileStatus::kOk);
  EXPECT_EQ(config, FullConfig());
}

TEST(ParameterFileRead, ReadsFilesBoostWroteWithItsNewerHeader) {
  const PanelConfig c = FullConfig();
  const std::string boost = BoostWrite(ElementsOf(c, kVersion));
  ASSERT_THAT(boost, Not(HasSubstr("class_id")));
  ASSERT_THAT(boost, Not(HasSubstr("version=\"14\"")));
  const Loaded r = Load(boost);
  ASSERT_EQ(r.status, ParameterFileStatus::kOk) << r.message;
  EXPECT_EQ(r.config, c);
}

TEST(ParameterFileRead, AcceptsLfOnlyAndOlderArchiveVersions) {
  const PanelConfig c = FullConfig();
  const std::string text = Replace(WriteParameterFile(c, kVersion), "\r\n", "\n");
  EXPECT_EQ(Load(text).config, c);
  EXPECT_EQ(Load(Replace(text, "version=\"14\">", "version=\"10\">")).config, c);
}

TEST(ParameterFileRead, HeaderErrorsAreReported) {
  const std::string text = WriteParameterFile(PanelConfig{}, kVersion);
  for (const auto& [bad, what] : std::vector<std::pair<std::string, std::string>>{
           {Replace(text, "serialization::archive", "serialization::archiv"), "signature"},
           {Replace(text, "version=\"14\">", "version=\"99\">"), "archive version"},
           {"", "empty"},
           {"VERSION 1 3 0 26\n", "not XML"},
           {text.substr(0, 60), "cut in the header"},
       }) {
    const Loaded r = Load(bad);
    ExpectRefused(r, what);
    EXPECT_THAT(r.message, HasSubstr("文件头无效")) << what;
  }
}

TEST(ParameterFileRead, VersionCheck) {
  const PanelConfig c = FullConfig();
  const auto load = [&](ProgramVersion fileVersion, ProgramVersion program) {
    return Load(WriteParameterFile(c, fileVersion), PanelConfig{}, program);
  };
  const Loaded newer = load({1, 3, 0, 27}, {1, 3, 0, 26});
  EXPECT_EQ(newer.status, ParameterFileStatus::kVersionTooNew);
  EXPECT_EQ(newer.message, "文件版本不正确,载入失败！");
  EXPECT_EQ(newer.config, Sentinel());
  EXPECT_EQ(load({1, 2, 9, 99}, {1, 3, 0, 26}).status, ParameterFileStatus::kOk);
  EXPECT_EQ(load({1, 3, 0, 26}, {1, 3, 0, 26}).status, ParameterFileStatus::kOk);
  // The program's own minor and revision count modulo 256, as the save writes them.
  EXPECT_EQ(load({1, 3, 0, 26}, {1, 0x103, 0, 0x11A}).status, ParameterFileStatus::kOk);
  EXPECT_EQ(load({1, 3, 0, 27}, {1, 0x103, 0, 0x11A}).status, ParameterFileStatus::kVersionTooNew);
  EXPECT_EQ(PackProgramVersion({1, 3, 0, 26}), 0x0103001A);
  // Signed comparison: a file version packing negative is never newer.
  EXPECT_EQ(load({0x80, 0, 0, 0}, {1, 3, 0, 26}).status, ParameterFileStatus::kOk);

  // The version is checked before the rest of the file is looked at.
  std::string text = WriteParameterFile(c, {9, 0, 0, 0});
  text = text.substr(0, text.find("</PANEL>"));
  EXPECT_EQ(Load(text).status, ParameterFileStatus::kVersionTooNew);
}

TEST(ParameterFileRead, ValuesAreMaskedToTheirFieldWidths) {
  std::vector<Element> e = ElementsOf(FullConfig(), kVersion);
  e[1].second = {0, 0, 30, 52, 0x1F0, 0x10000 + 29000, 0x30000 + 18000};
  e[2].second[4] = -1;          // key gain
  e[3].second = {6, -3};        // CONFIG
  e[4].second[5 * 2 + 1] = 7;   // mark 2 type
  e[4].second[5 * 2 + 2] = 2;   // enable
  e[4].second[5 * 2 + 3] = 40;  // x
  e[4].second[5 * 2 + 4] = 70;  // y
  const Loaded r = Load(BoostWrite(e));
  ASSERT_EQ(r.status, ParameterFileStatus::kOk) << r.message;
  EXPECT_EQ(r.config.touchArea.nGain, 0xF0);
  EXPECT_EQ(r.config.touchArea.nThresUpper, 29000);
  EXPECT_EQ(r.config.touchArea.nThresLower, 18000);
  EXPECT_EQ(r.config.keyArea.nGain, 0xFF);
  EXPECT_EQ(r.config.nUiColorMode, 2);
  EXPECT_EQ(r.config.nLegacyTestMode, 1);
  const UserMark& m = r.config.marks[2];
  EXPECT_EQ(m.nType, 3);
  EXPECT_EQ(m.bEnable, 0);
  EXPECT_EQ(m.nX, 8);
  EXPECT_EQ(m.nY, 6);
}

TEST(ParameterFileRead, MarksWithTheWrongIndexKeepTheirContentAndSpareBitsStay) {
  PanelConfig current;
  for (int i = 0; i < 12; ++i) current.marks[static_cast<std::size_t>(i)] = UserMark::Unpack({0x0D, 0x2B});
  std::vector<Element> e = ElementsOf(FullConfig(), kVersion);
  e[4].second[5 * 1] = 7;   // slot 1 claims index 7
  e[4].second[5 * 11] = 0;  // slot 11 claims index 0
  const Loaded r = Load(BoostWrite(e), current);
  ASSERT_EQ(r.status, ParameterFileStatus::kOk) << r.message;
  EXPECT_EQ(r.config.marks[1], current.marks[1]);
  EXPECT_EQ(r.config.marks[11], current.marks[11]);
  const UserMark& m0 = r.config.marks[0];
  EXPECT_EQ(m0.nType, FullConfig().marks[0].nType);
  EXPECT_EQ(m0.nY, FullConfig().marks[0].nY);
  EXPECT_EQ(m0.nSpare, 3);  // from current, not from the file
  EXPECT_EQ(r.config.marks[5].Pack(), (std::array<uint8_t, 2>{0x00, 0x03}));
}

TEST(ParameterFileRead, TopLevelNamesAreNotComparedNestedNamesAre) {
  const PanelConfig c = FullConfig();
  const std::string text = WriteParameterFile(c, kVersion);
  const Loaded renamed = Load(Replace(text, "OFFSETMODESAMPLELISTDIMS>", "SOMETHINGELSE>"));
  ASSERT_EQ(renamed.status, ParameterFileStatus::kOk) << renamed.message;
  EXPECT_EQ(renamed.config, c);

  const std::size_t at = text.find("<item>", text.find("<KEY>"));
  std::string nested = text;
  nested.replace(at, 6, "<itme>");
  nested.replace(nested.find("</item>", at), 7, "</itme>");
  const Loaded r = Load(nested);
  ExpectRefused(r, "nested name");
  EXPECT_THAT(r.message, HasSubstr("第 3 个元素 KEY"));

  // End tags longer than the expected name, short and very long.
  for (const std::string& tag :
       {std::string("</items>"), "</item" + std::string(300, 'x') + ">", std::string("</\t>")}) {
    std::string bad = text;
    bad.replace(bad.find("</item>", text.find("<CONFIG>")), 7, tag);
    ExpectRefused(Load(bad), tag.substr(0, 12));
  }
}

TEST(ParameterFileRead, InvalidAreasAreRefusedWithTheValidationText) {
  PanelConfig c = FullConfig();
  c.keyArea = AreaParams{30, 0, 3, 11, 96, 1, 28000, 19000};
  const Loaded keys = Load(WriteParameterFile(c, kVersion));
  EXPECT_EQ(keys.status, ParameterFileStatus::kInvalidAreas);
  EXPECT_EQ(keys.message, "按键数量总数不能大于32");
  EXPECT_EQ(keys.config, Sentinel());  // marks and display fields included: nothing is taken

  c = FullConfig();
  c.touchArea.nXSize = 2;
  EXPECT_EQ(Load(WriteParameterFile(c, kVersion)).message, "屏体行值不能小于3");

  // The controller's facts take part: a 16-line matrix cannot hold a 30-line touch area.
  const Loaded small = Load(WriteParameterFile(FullConfig(), kVersion), PanelConfig{}, kVersion, {16, 52, 0x20});
  EXPECT_EQ(small.message, "屏体起始行值与行宽度值不能大于硬件行宽度限制");
}

TEST(ParameterFileRead, AreasBeyondTheControllersBytesGetTheValidationTextFirst) {
  struct Case {
    std::size_t nElement;  // 1 PANEL, 2 KEY
    std::vector<std::pair<std::size_t, int32_t>> changes;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {1, {{0, 300}}, "屏体起始行值不能大于行宽度值"},
           {1, {{2, 300}}, "屏体起始行值与行宽度值不能大于硬件行宽度限制"},
           {1, {{1, 256}}, "屏体起始列值不能大于宽度列值"},
           {1, {{3, 256}}, "屏体起始列值与宽度列值不能大于硬件列值限制"},
           {2, {{0, 300}, {2, 3}, {3, 11}, {5, 1}}, "按键数量总数不能大于32"},
           {2, {{0, 300}, {2, 0}, {3, 1}, {5, 1}}, "按键行值不能为0"},
       }) {
    std::vector<Element> e = ElementsOf(PanelConfig{}, kVersion);
    for (const auto& [i, v] : c.changes) e[c.nElement].second[i] = v;
    const Loaded r = Load(BoostWrite(e));
    EXPECT_EQ(r.status, ParameterFileStatus::kInvalidAreas) << c.message;
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.config, Sentinel()) << c.message;
  }
}

TEST(ParameterFileRead, UsedAreasThatPassValidationMustStillFitTheControllersBytes) {
  // A negative origin and an enabled key area far beside the touch area pass validation, but
  // the controller cannot hold them.
  std::vector<Element> e = ElementsOf(PanelConfig{}, kVersion);
  e[1].second[1] = -4;
  Loaded r = Load(BoostWrite(e));
  EXPECT_EQ(r.status, ParameterFileStatus::kInvalidAreas);
  EXPECT_THAT(r.message, HasSubstr("PANEL"));
  EXPECT_THAT(r.message, HasSubstr("-4"));
  EXPECT_EQ(r.config, Sentinel());

  e = ElementsOf(PanelConfig{}, kVersion);
  e[2].second = {300, 0, 1, 8, 96, 1, 28000, 19000};
  ASSERT_EQ(ValidatePanelConfig(DefaultTouchArea(), AreaParams{300, 0, 1, 8, 96, 1, 28000, 19000}, 32, 52, 0x20).nCode,
            kValidOk);
  r = Load(BoostWrite(e));
  EXPECT_EQ(r.status, ParameterFileStatus::kInvalidAreas);
  EXPECT_THAT(r.message, HasSubstr("KEY"));
  EXPECT_THAT(r.message, HasSubstr("300"));
  EXPECT_EQ(r.config, Sentinel());
}

TEST(ParameterFileRead, DisabledKeyAreaValuesAreNotChecked) {
  PanelConfig c = FullConfig();
  c.keyArea = AreaParams{300, -2, 1000, 0, 96, 0, 19000, 28000};
  const NodeExtents ext = ComputeNodeExtents(c.touchArea, c.keyArea);
  c.adjacentPercent = Int32Array2D(ext.nY, ext.nX, 1500);
  const std::string text = WriteParameterFile(c, kVersion);
  const Loaded r = Load(text);
  ASSERT_EQ(r.status, ParameterFileStatus::kOk) << r.message;
  EXPECT_EQ(r.config.keyArea, c.keyArea);
  EXPECT_EQ(r.config, c);
  EXPECT_EQ(WriteParameterFile(r.config, kVersion), text);
}

// A configuration with a valid key area far from the touch area, its node arrays at the extents
// the areas give, every array filled.
PanelConfig WithKeyArea(const AreaParams& key) {
  PanelConfig c;
  c.keyArea = key;
  const NodeExtents ext = ComputeNodeExtents(c.touchArea, c.keyArea);
  const auto filled = [&](int32_t nBase) {
    Int32Array2D a(ext.nY, ext.nX);
    for (int32_t y = 0; y < ext.nY; ++y)
      for (int32_t x = 0; x < ext.nX; ++x) a(y, x) = nBase + 7 * y - x;
    return a;
  };
  c.adjacentPercent = filled(1000);
  SampleLimitSet& l = c.sampleLimits;
  l.sampleFrames = Int32Array3D(2, ext.nY, ext.nX, 24000);
  l.sampleFrames(1, ext.nY - 1, ext.nX - 1) = 25000;
  l.rawAvg = filled(24000);
  l.rawUpper = filled(27000);
  l.rawLower = filled(21000);
  l.sampleList = Int32Array2D(3, 9, 5);
  l.paraList = Int32Array2D(3, 8, -1);
  return c;
}

TEST(ParameterFileRead, WhatTheStationSavesItLoadsAtEveryExtentTheAreasGive) {
  // X extent 101 (key beyond line 64), then the largest extents 8-bit sums give, 255 x 255.
  for (const AreaParams& key :
       {AreaParams{100, 0, 1, 8, 80, 1, 27000, 21000}, AreaParams{254, 247, 1, 8, 80, 1, 27000, 21000}}) {
    const PanelConfig c = WithKeyArea(key);
    ASSERT_EQ(ValidatePanelConfig(c.touchArea, c.keyArea, 32, 52, 0x20).nCode, kValidOk);
    const std::string text = WriteParameterFile(c, kVersion);
    const Loaded r = Load(text);
    ASSERT_EQ(r.status, ParameterFileStatus::kOk) << key.nXOrigin << ": " << r.message.substr(0, 300);
    EXPECT_EQ(r.config, c) << key.nXOrigin;
    EXPECT_EQ(WriteParameterFile(r.config, kVersion), text) << key.nXOrigin;
  }
  EXPECT_EQ(WithKeyArea(AreaParams{254, 247, 1, 8, 80, 1, 27000, 21000}).adjacentPercent.Cols(), 255);
}

TEST(ParameterFileRead, WrongCountsNonNumbersAndMissingElements) {
  const std::vector<Element> good = ElementsOf(FullConfig(), kVersion);
  const auto with = [&](std::size_t i, std::vector<int32_t> values) {
    std::vector<Element> e = good;
    e[i].second = std::move(values);
    return BoostWrite(e);
  };
  {
    const Loaded r = Load(with(1, {0, 0, 30, 52, 96, 28000}));
    ExpectRefused(r, "PANEL short");
    EXPECT_THAT(r.message, HasSubstr("第 2 个元素 PANEL（第 12 行）：数值个数为 6，应为 7"));
  }
  {
    const Loaded r = Load(with(7, {52, 32, 1}));
    ExpectRefused(r, "shape of three");
    EXPECT_THAT(r.message, HasSubstr("ADJACRNYARRYEXT"));
  }
  {
    std::vector<int32_t> row = good[9].second;
    row.pop_back();
    const Loaded r = Load(with(9, row));
    ExpectRefused(r, "short row");
    EXPECT_THAT(r.message, HasSubstr("ADJACRNYARRY[1]"));
  }
  const std::string text = WriteParameterFile(FullConfig(), kVersion);
  {
    // The count promises more items than follow.
    const Loaded r = Load(Replace(text, "<count>7</count>", "<count>8</count>"));
    ExpectRefused(r, "count above the items");
    EXPECT_THAT(r.message, HasSubstr("PANEL"));
  }
  {
    std::string bad = text;
    bad.replace(bad.find("<item>21000</item>"), 18, "<item>21k</item>");
    const Loaded r = Load(bad);
    ExpectRefused(r, "non-number");
    EXPECT_THAT(r.message, HasSubstr("KEY"));
  }
  {
    std::string bad = text;
    bad.replace(bad.find("<item>30</item>"), 15, "<item>99999999999</item>");
    ExpectRefused(Load(bad), "out of int32 range");
  }
  {
    const std::string cut = text.substr(0, text.find("<ADJACRNYARRYEXT>")) + "</boost_serialization>\r\n";
    const Loaded r = Load(cut);
    ExpectRefused(r, "missing elements");
    EXPECT_THAT(r.message, HasSubstr("缺少第 8 个元素 ADJACRNYARRYEXT"));
  }
}

TEST(ParameterFileRead, HugeCountsAndShapesAreRefusedBeforeAllocating) {
  const std::string text = WriteParameterFile(FullConfig(), kVersion);
  for (const char* count : {"2147483648", "4294967295", "-1", "256", "1000000"}) {
    const Loaded r = Load(Replace(text, "<count>60</count>", std::string("<count>") + count + "</count>"));
    ExpectRefused(r, count);
    EXPECT_THAT(r.message, HasSubstr("MARK")) << count;
  }
  const std::string shape = ElementText("ADJACRNYARRYEXT", {52, 32});
  for (const auto& dims : std::vector<std::vector<int32_t>>{{256, 32}, {52, 256}, {-1, 32}, {2147483647, 2}}) {
    const Loaded r = Load(Replace(text, shape, ElementText("ADJACRNYARRYEXT", dims)));
    ExpectRefused(r, "adjacent shape");
    EXPECT_THAT(r.message, HasSubstr("数组形状"));
  }
  const std::string frames = ElementText("OFFSETMODERAWDATAARRYDIMS", {3, 52, 32});
  ASSERT_NE(text.find(frames), std::string::npos);
  ExpectRefused(Load(Replace(text, frames, ElementText("OFFSETMODERAWDATAARRYDIMS", {kMaxFileSamples + 1, 52, 32}))),
                "too many samples");
  // Many samples within the bounds are fine (the rows are simply missing here).
  const Loaded many = Load(
      Replace(text, frames, ElementText("OFFSETMODERAWDATAARRYDIMS", {kMaxFileSamples, kMaxFileLines, kMaxFileLines})));
  ExpectRefused(many, "rows missing");
  EXPECT_THAT(many.message, HasSubstr("OFFSETMODERAWDATAARRY[0][0]"));
}

TEST(ParameterFileRead, EveryTruncationIsRefusedAndChangesNothing) {
  const std::string text = WriteParameterFile(FullConfig(), kVersion);
  const std::size_t lastElementEnd = text.rfind("</OFFSETMODEOTHERPARA>");
  // Every cut through the header and the first groups, then a sample of the rest.
  for (std::size_t n = 0; n < text.size(); n += (n < 1500 ? 1 : 1009)) {
    const Loaded r = Load(text.substr(0, n));
    if (n > lastElementEnd + std::strlen("</OFFSETMODEOTHERPARA>")) {
      // Only the root's end tag is missing: all data is there, and the archive library
      // accepts it too.
      EXPECT_EQ(r.status, ParameterFileStatus::kOk) << n;
    } else {
      ExpectRefused(r, "cut at " + std::to_string(n));
    }
  }
}

TEST(ParameterFileRead, EnglishMessagesAreOneAsciiLine) {
  const std::string text = WriteParameterFile(FullConfig(), kVersion);
  const auto english = [&](std::string_view file) {
    Loaded r{ParameterFileStatus::kOk, Sentinel(), {}};
    r.status =
        LoadParameterText(file, PanelConfig{}, kController, kVersion, r.config, r.message, TextLanguage::kEnglish);
    EXPECT_TRUE(std::all_of(r.message.begin(), r.message.end(), [](char ch) {
      return static_cast<unsigned char>(ch) < 0x80 && ch != '\n';
    })) << r.message;
    return r;
  };
  Loaded r = english(Replace(text, "<count>7</count>", "<count>6</count>"));
  EXPECT_EQ(r.status, ParameterFileStatus::kFormatError);
  EXPECT_THAT(r.message,
              StartsWith("not a parameter file of the expected layout: element 2 PANEL (line 21): malformed XML"));
  EXPECT_EQ(english(text.substr(0, text.find("<ADJACRNYARRYEXT>"))).message,
            "not a parameter file of the expected layout: element 8 ADJACRNYARRYEXT is missing (the file ends early)");
  EXPECT_THAT(english(Replace(text, "serialization::archive", "x")).message, HasSubstr("invalid header"));
  EXPECT_EQ(english(WriteParameterFile(FullConfig(), {9, 0, 0, 0})).status, ParameterFileStatus::kVersionTooNew);
  PanelConfig narrow = FullConfig();
  narrow.touchArea.nXSize = 2;
  EXPECT_EQ(english(WriteParameterFile(narrow, kVersion)).message, "touch area: fewer than 3 X lines");
  std::vector<Element> e = ElementsOf(PanelConfig{}, kVersion);
  e[1].second[1] = -4;
  EXPECT_THAT(english(BoostWrite(e)).message, HasSubstr("element PANEL"));
  r = english(text);
  EXPECT_EQ(r.status, ParameterFileStatus::kOk);
  EXPECT_EQ(r.message, "parameter file loaded");
}

// ---- files on disk -----------------------------------------------------------------------------

class ParameterFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("varnex2_config_test_" + std::to_string(::getpid()) + "_" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_;
};

TEST_F(ParameterFileOnDisk, SaveReplacesAtomicallyAndLoadReadsItBack) {
  const auto path = dir_ / "panel.xml";
  std::ofstream(path) << "old content";
  std::string message;
  ASSERT_EQ(SaveParameterFile(path, FullConfig(), kVersion, message), ParameterFileStatus::kOk);
  EXPECT_EQ(message, "文件参数保存成功！");
  EXPECT_EQ(Slurp(path), WriteParameterFile(FullConfig(), kVersion));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);  // no temporary left

  PanelConfig out;
  ASSERT_EQ(LoadParameterFile(path, PanelConfig{}, kController, kVersion, out, message), ParameterFileStatus::kOk)
      << message;
  EXPECT_EQ(out, FullConfig());
}

TEST_F(ParameterFileOnDisk, WhatCannotLoadBackIsNotSaved) {
  const auto path = dir_ / "panel.xml";
  std::ofstream(path) << "old content";
  PanelConfig many;
  many.sampleLimits.sampleFrames = Int32Array3D(kMaxFileSamples + 1, 1, 1);
  PanelConfig wide;
  wide.adjacentPercent = Int32Array2D(2, kMaxFileLines + 1);
  for (const auto& [c, name] : {std::pair{many, "OFFSETMODERAWDATAARRY"}, std::pair{wide, "ADJACRNYARRY"}}) {
    std::string message;
    EXPECT_EQ(SaveParameterFile(path, c, kVersion, message), ParameterFileStatus::kTooLarge) << name;
    EXPECT_THAT(message, HasSubstr("参数文件保存失败"));
    EXPECT_THAT(message, HasSubstr(name));
    EXPECT_EQ(Slurp(path), "old content");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 1);
  }

  std::string message;
  EXPECT_EQ(SaveParameterFile(path, many, kVersion, message, TextLanguage::kEnglish), ParameterFileStatus::kTooLarge);
  EXPECT_EQ(message, "not saved (OFFSETMODERAWDATAARRY has the shape 1025 × 1 × 1, beyond 0 to 1024 × 255 × 255)");

  // At the bounds the file is written and loads back.
  many.sampleLimits.sampleFrames = Int32Array3D(kMaxFileSamples, 1, 1, 7);
  ASSERT_EQ(SaveParameterFile(path, many, kVersion, message), ParameterFileStatus::kOk) << message;
  PanelConfig out;
  ASSERT_EQ(LoadParameterFile(path, PanelConfig{}, kController, kVersion, out, message), ParameterFileStatus::kOk)
      << message;
  EXPECT_EQ(out, many);
}

TEST_F(ParameterFileOnDisk, FailuresAreReportedAndLeaveThingsAlone) {
  std::string message;
  const auto missingDir = dir_ / "no_such_dir" / "panel.xml";
  EXPECT_EQ(SaveParameterFile(missingDir, PanelConfig{}, kVersion, message), ParameterFileStatus::kIoError);
  EXPECT_THAT(message, HasSubstr("参数文件保存失败"));

  PanelConfig out = Sentinel();
  EXPECT_EQ(LoadParameterFile(dir_ / "absent.xml", PanelConfig{}, kController, kVersion, out, message),
            ParameterFileStatus::kIoError);
  EXPECT_THAT(message, HasSubstr("absent.xml"));
  EXPECT_EQ(out, Sentinel());

  EXPECT_NE(LoadParameterFile(dir_, PanelConfig{}, kController, kVersion, out, message), ParameterFileStatus::kOk);
  EXPECT_EQ(out, Sentinel());
}

}  // namespace
}  // namespace varnex2::config

namespace varnex2::config {
namespace {

// The fuzz seeds, including inputs that once broke the reader, load without harm.
TEST(ParameterFileRead, FuzzSeedsLoadWithoutHarm) {
  const std::filesystem::path dir = VARNEX2_SOURCE_DIR "/fuzz/corpus/fuzz_parameter_file";
  int nSeeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    PanelConfig out;
    std::string message;
    const ParameterFileStatus status =
        LoadParameterFile(entry.path(), PanelConfig{}, testing::kController, testing::kVersion, out, message);
    const std::string name = entry.path().filename().string();
    if (name.rfind("regression_", 0) != 0) {
      EXPECT_EQ(status, ParameterFileStatus::kOk) << name << ": " << message;
    }
    EXPECT_FALSE(message.empty()) << name;
    ++nSeeds;
  }
  EXPECT_GE(nSeeds, 2);
}

}  // namespace
}  // namespace varnex2::config
