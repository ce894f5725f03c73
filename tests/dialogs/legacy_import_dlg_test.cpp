// Command 32800 of the sample-limit editor on the offscreen platform: an old set chosen,
// the notice, the INI part handed to the station, the companion data in the tables and the
// controls, and the closing text.
#include "dialogs/legacy_import_dlg.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableWidget>

#include <unistd.h>

#include "config/legacy_samples.h"
#include "dialogs/advanced_dlg.h"
#include "dialogs/dialog_test_support.h"
#include "judging/panel_layout.h"

namespace varnex2::dialogs {
namespace {

namespace fs = std::filesystem;
using testing::Find;
using testing::U;

class LegacyImportDlgTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    dir_ = fs::temp_directory_path() / ("varnex2-legacy-dlg-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    ini_ = legacy_samples::WriteFullSet(dir_, "a");
    judging::ApplyConfigToNodeMap(map_, config::PanelConfig{});
  }
  void TearDown() override {
    SetLegacyFileChooser({});
    fs::remove_all(dir_);
    DialogTest::TearDown();
  }

  // The station's part as the station decides it, with the map laid out for the new areas.
  LegacyIniApplier Station() {
    return [this](const config::LegacyIniFile& ini) {
      ++stationCalls_;
      config::LegacyIniPart part = config::ReadLegacyIniPart(ini, config::PanelConfig{}, {32, 52, 0x20});
      config::PanelConfig panel;
      config::TakeLegacyIniPart(part, panel);
      judging::ApplyConfigToNodeMap(map_, panel);
      return part;
    };
  }

  fs::path dir_;
  fs::path ini_;
  judging::NodeMap map_;
  int stationCalls_ = 0;
};

TEST_F(LegacyImportDlgTest, MenuImportFillsTablesAndControls) {
  CAdvancedDlg dlg(map_, config::SampleLimitSet{}, {});
  dlg.SetLegacyImport([this](CAdvancedDlg& d) { ImportLegacyParameters(d, Station()); });
  SetLegacyFileChooser([this](QWidget*) { return QString::fromStdString((dir_ / "a").string()); });  // ".ini" added
  dlg.show();
  Find<QAction>(dlg, "legacyImport")->trigger();

  EXPECT_EQ(stationCalls_, 1);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], U(config::kLegacyNotice));
  EXPECT_EQ(messages[1], U("参数导入成功！"));

  auto* samples = Find<QTableWidget>(dlg, "sampleTable");
  ASSERT_EQ(samples->rowCount(), legacy_samples::kSampled);
  EXPECT_EQ(samples->item(0, 0)->checkState(), Qt::Checked);
  EXPECT_EQ(samples->item(1, 0)->checkState(), Qt::Unchecked);  // row 2's flag is 0
  EXPECT_EQ(samples->item(1, 1)->text(), QStringLiteral("201"));
  EXPECT_EQ(samples->item(1, 4)->text(), QStringLiteral("0.402"));
  auto* limits = Find<QTableWidget>(dlg, "limitTable");
  EXPECT_EQ(limits->item(0, 1)->text(), QStringLiteral("1001"));
  EXPECT_TRUE(Find<QRadioButton>(dlg, "offsetMode")->isChecked());
  EXPECT_EQ(Find<QLineEdit>(dlg, "percentEdit")->text(), QStringLiteral("12.5"));
  EXPECT_EQ(Find<QLineEdit>(dlg, "upperEdit")->text(), QStringLiteral("1500"));
  EXPECT_EQ(Find<QLineEdit>(dlg, "lowerEdit")->text(), QStringLiteral("800"));
  EXPECT_EQ(dlg.Result().nOffsetLower, 800);
  EXPECT_EQ(dlg.Result().sampleFrames.Pages(), legacy_samples::kSampled);
  EXPECT_TRUE(Find<QWidget>(dlg, "computeButton")->isEnabled());
  EXPECT_TRUE(dlg.grab().toImage().save(QString::fromUtf8(VARNEX2_OUTPUT_DIR) + "/legacy_import_dlg.png"));
}

TEST_F(LegacyImportDlgTest, CancelDoesNothingAndAMissingFileIsNamed) {
  CAdvancedDlg dlg(map_, config::SampleLimitSet{}, {});
  SetLegacyFileChooser([](QWidget*) { return QString(); });
  ImportLegacyParameters(dlg, Station());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(stationCalls_, 0);

  fs::remove(config::LegacyCompanionFolder(ini_) / "RawDataAvg.xml");
  SetLegacyFileChooser([this](QWidget*) { return QString::fromStdString(ini_.string()); });
  ImportLegacyParameters(dlg, Station());
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_TRUE(messages[1].contains(QStringLiteral("RawDataAvg.xml"))) << messages[1].toStdString();
  EXPECT_EQ(messages[2], U("参数导入成功！"));
  EXPECT_TRUE(dlg.Result().rawAvg.Empty());
}

}  // namespace
}  // namespace varnex2::dialogs
