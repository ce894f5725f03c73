// An old parameter set's companion data into the node map and the sample-limit editor, as the
// station's command and the offline judge take it: a whole set, and damaged sets of which only
// the whole pieces are taken.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "config/legacy_samples.h"
#include "judging/legacy_limits.h"
#include "judging/panel_layout.h"

namespace varnex2::judging {
namespace {

namespace fs = std::filesystem;
namespace ls = legacy_samples;
using config::Int32Array2D;

class LegacyLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("varnex2-legacy-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    ini_ = ls::WriteFullSet(dir_, "a");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The import as the station and the judge run it, on top of `panel_`.
  config::LegacyCompanion Import() {
    std::string error;
    const auto ini = config::LegacyIniFile::Load(ini_, error);
    EXPECT_TRUE(ini.has_value()) << error;
    const config::LegacyIniPart part = config::ReadLegacyIniPart(*ini, panel_, {32, 52, 0x20});
    EXPECT_TRUE(part.Valid()) << part.validation.strMessage;
    config::TakeLegacyIniPart(part, panel_);
    ApplyConfigToNodeMap(map_, panel_);
    config::LegacyCompanion companion = config::ReadLegacyCompanion(config::LegacyCompanionFolder(ini_));
    SampleLimitEditor editor(map_, panel_.sampleLimits);
    ImportLegacyCompanion(map_, editor, companion, part.controls);
    result_ = editor.Data();
    return companion;
  }

  static Int32Array2D Array(int32_t (*value)(int, int), int32_t add = 0) {
    Int32Array2D a(ls::kY, ls::kX);
    for (int y = 0; y < ls::kY; ++y)
      for (int x = 0; x < ls::kX; ++x) a(y, x) = value(y, x) + add;
    return a;
  }

  fs::path dir_;
  fs::path ini_;
  config::PanelConfig panel_;
  NodeMap map_;
  config::SampleLimitSet result_;
};

TEST_F(LegacyLimits, WholeSetReachesTheEditorAndTheMap) {
  const config::LegacyCompanion companion = Import();
  EXPECT_TRUE(companion.problems.empty()) << config::LegacyProblemsText("", companion.problems);

  // 7 of the 100 stored frames are non-zero, at the front: 7 samples. (The editor's values reach
  // the saved file; the offline judge's test checks them there one by one.)
  EXPECT_EQ(companion.nCountedFrames, ls::kSampled);
  EXPECT_EQ(result_.sampleFrames.Pages(), ls::kSampled);
  EXPECT_EQ(result_.rawAvg, Array(ls::AvgValue));
  EXPECT_EQ(result_.nLimitMode, 1);

  // The map: limits, the legacy colour range (upper value 5, lower value 4), the base on display.
  EXPECT_EQ(ToArray2D(map_.UpperLimits()), result_.rawUpper);
  EXPECT_EQ(ToArray2D(map_.LowerLimits()), result_.rawLower);
  EXPECT_EQ(map_.LegacySampleHigh(), 26000);
  EXPECT_EQ(map_.LegacySampleLow(), 17000);
  EXPECT_NE(map_.TestModeFlags() & TestMode::LIMITS, 0);
  EXPECT_EQ(NodeValuesArray(map_), result_.rawAvg);
}

TEST_F(LegacyLimits, DamagedFilesAreNamedAndLeaveTheirPartUnchanged) {
  const fs::path folder = config::LegacyCompanionFolder(ini_);
  fs::remove(folder / "RawDataUpper.xml");
  // Cut in the middle of the sample table.
  std::string table;
  {
    std::ifstream in(folder / "sample_list_Ctl1.xml", std::ios::binary);
    table.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::ofstream(folder / "sample_list_Ctl1.xml", std::ios::binary) << table.substr(0, table.size() / 2);
  // Rows one value short of the declared shape.
  ls::WriteInts(folder / "RawDataAvg.xml", {ls::kY, ls::kX}, std::vector<std::vector<int32_t>>(ls::kY, {1, 2, 3, 4}));
  // Row flags for a table of another length.
  ls::WriteInts(folder / "sample_list_Ctl3.xml", {1, 1, 1});
  // Eight display values expected.
  ls::WriteReals(folder / "TestLowerExternPara.xml", {1, 2, 3});

  // What the editor held before the import.
  config::SampleLimitSet& before = panel_.sampleLimits;
  before.rawAvg = Int32Array2D(2, 2, 5);
  before.rawUpper = Int32Array2D(2, 2, 6);
  before.sampleList = Int32Array2D(2, 9, 7);
  map_.SetLegacySampleRange(11, 12);

  const config::LegacyCompanion companion = Import();
  std::vector<std::string> named;
  for (const auto& p : companion.problems) named.push_back(p.strFile);
  EXPECT_EQ(named, (std::vector<std::string>{"RawDataAvg.xml", "RawDataUpper.xml", "sample_list_Ctl1.xml",
                                             "TestLowerExternPara.xml", "sample_list_Ctl3.xml"}));
  const std::string text = config::LegacyProblemsText(folder, companion.problems);
  EXPECT_NE(text.find("RawDataUpper.xml：文件不存在"), std::string::npos) << text;
  EXPECT_NE(text.find(folder.string()), std::string::npos);

  EXPECT_EQ(result_.rawAvg, Int32Array2D(2, 2, 5));
  EXPECT_EQ(result_.rawUpper, Int32Array2D(2, 2, 6));
  EXPECT_EQ(result_.sampleList, Int32Array2D(2, 9, 7));               // neither the table nor its row flags
  EXPECT_EQ(result_.rawLower, Array(ls::AvgValue, -ls::kLimitBand));  // whole pieces still taken
  EXPECT_EQ(result_.sampleFrames.Pages(), ls::kSampled);
  EXPECT_EQ(result_.paraList.Rows(), 3);
  EXPECT_EQ(map_.LegacySampleLow(), 11);
  EXPECT_EQ(map_.LegacySampleHigh(), 26000);
}

TEST_F(LegacyLimits, MissingFolderTakesOnlyTheControls) {
  fs::remove_all(config::LegacyCompanionFolder(ini_));
  panel_.sampleLimits.rawAvg = Int32Array2D(2, 2, 5);
  const config::LegacyCompanion companion = Import();
  ASSERT_EQ(companion.problems.size(), 1u);
  EXPECT_EQ(companion.problems[0].strFile, "");
  EXPECT_NE(config::LegacyProblemsText(config::LegacyCompanionFolder(ini_), companion.problems).find("a_ExternPara"),
            std::string::npos);
  EXPECT_EQ(result_.rawAvg, Int32Array2D(2, 2, 5));
  EXPECT_EQ(result_.nOffsetUpper, 1500);
}

}  // namespace
}  // namespace varnex2::judging
