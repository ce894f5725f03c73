// The screen-level limits dialog: controls and texts, click-time changes of the caller's
// group, what OK writes to the settings store and in which form, and what Cancel leaves.
#include <QCheckBox>
#include <QGroupBox>

#include "config/reg_edit_class.h"
#include "dialogs/dialog_test_support.h"
#include "dialogs/max_min_dlg.h"
#include "platform/memory_settings_store.h"

namespace varnex2::dialogs {
namespace {

using config::kRegKeyScreenThreshold;
using config::ScreenLevelSettings;
using testing::ClickCancel;
using testing::ClickOk;
using testing::Find;
using testing::U;

class MaxMinDlgTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    store = platform::CreateMemorySettingsStore();
    config::LoadScreenThreshold(*store, group);  // creates the defaults, as the window does
  }

  // The store's twelve values, as a group.
  ScreenLevelSettings StoredGroup() {
    ScreenLevelSettings s;
    std::array<int32_t, ScreenLevelSettings::kCount> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i] = testing::Stored(*store, kRegKeyScreenThreshold, config::kScreenLevelValueNames[i]).value_or(-999);
    }
    return ScreenLevelSettings::FromArray(values);
  }

  std::unique_ptr<platform::SettingsStore> store;
  ScreenLevelSettings group;
};

TEST_F(MaxMinDlgTest, ShowsTheGroupWithEveryControl) {
  group.RawdataMinEnable = 0;
  group.RawdataVariance = 350;
  group.ViewMode = 4;
  CMaxMinDlg d(group, *store);
  EXPECT_EQ(d.windowTitle(), U("最大最小值限定"));
  QStringList boxes;
  for (QGroupBox* g : d.findChildren<QGroupBox*>()) boxes << g->title();
  EXPECT_EQ(boxes, (QStringList{U("阈值"), U("显示")}));

  struct Row {
    const char* name;
    const char* text;
    const char* value;
    bool on;
  };
  for (const Row& r : {Row{"RawdataMax", "屏幕数据不大于(最大值)", "30000", true},
                       Row{"RawdataMin", "屏幕数据不小于(最小值)", "20000", false},
                       Row{"RawdataRange", "幅度不大于（最大值减去最小值）", "5000", true},
                       Row{"RawdataRangeDiscardVariance", "幅度小于数值，忽略方差", "4000", true},
                       Row{"RawdataVariance", "方差（平整度）", "350", true}}) {
    auto* box = Find<QCheckBox>(d, (std::string(r.name) + "Enable").c_str());
    EXPECT_EQ(box->text(), U(r.text));
    EXPECT_EQ(box->isChecked(), r.on) << r.name;
    EXPECT_EQ(Find(d, r.name)->text(), r.value);
    EXPECT_EQ(Find(d, r.name)->isEnabled(), r.on) << r.name;
  }
  EXPECT_EQ(Find<QCheckBox>(d, "viewArea")->text(), U("显示区域"));
  EXPECT_EQ(Find<QCheckBox>(d, "viewTitleBar")->text(), U("程序标题栏"));
  EXPECT_EQ(Find<QCheckBox>(d, "viewStatusBar")->text(), U("状态栏"));
  EXPECT_FALSE(Find<QCheckBox>(d, "viewArea")->isChecked());
  EXPECT_FALSE(Find<QCheckBox>(d, "viewTitleBar")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(d, "viewStatusBar")->isChecked());
  EXPECT_EQ(testing::ButtonTexts(d), (QStringList{"Cancel", "OK"}));
  testing::Snapshot(d, "max_min_dlg.png");
}

TEST_F(MaxMinDlgTest, OkRewritesElevenValuesButNotTheMasterSwitch) {
  store->DeleteValue(kRegKeyScreenThreshold, "ScreenThresholdEnable");
  group.ViewMode = 3 | 16;  // unknown bits are dropped by OK
  CMaxMinDlg d(group, *store);
  d.show();
  Find(d, "RawdataMin")->setText("-5");
  ClickOk(d);
  EXPECT_FALSE(d.isVisible());
  EXPECT_TRUE(messages.empty());

  ScreenLevelSettings expected;
  expected.RawdataMin = -5;
  expected.ViewMode = 3;
  EXPECT_EQ(group, expected);
  EXPECT_EQ(testing::Stored(*store, kRegKeyScreenThreshold, "RawdataMin"), -5);
  EXPECT_FALSE(testing::Stored(*store, kRegKeyScreenThreshold, "ScreenThresholdEnable").has_value());
  expected.ScreenThresholdEnable = -999;
  EXPECT_EQ(StoredGroup(), expected);
}

TEST_F(MaxMinDlgTest, ClicksChangeTheGroupAtOnceAndCancelKeepsThemOutOfTheStore) {
  CMaxMinDlg d(group, *store);
  d.show();
  Find<QCheckBox>(d, "RawdataMaxEnable")->click();
  EXPECT_EQ(group.RawdataMaxEnable, 0);
  EXPECT_FALSE(Find(d, "RawdataMax")->isEnabled());
  Find<QCheckBox>(d, "viewTitleBar")->click();   // bit 1 off at once
  Find<QCheckBox>(d, "viewStatusBar")->click();  // bit 2 only on OK
  EXPECT_EQ(group.ViewMode, 1);
  Find<QCheckBox>(d, "viewTitleBar")->click();
  EXPECT_EQ(group.ViewMode, 3);
  Find(d, "RawdataRange")->setText("4500");  // typed values wait for OK
  ClickCancel(d);

  EXPECT_EQ(group.RawdataMaxEnable, 0);
  EXPECT_EQ(group.ViewMode, 3);
  EXPECT_EQ(group.RawdataRange, 5000);
  EXPECT_EQ(StoredGroup(), ScreenLevelSettings{});
}

TEST_F(MaxMinDlgTest, TickingALimitEnablesItsEditAndOkStoresIt) {
  group.RawdataVarianceEnable = 0;
  CMaxMinDlg d(group, *store);
  d.show();
  EXPECT_FALSE(Find(d, "RawdataVariance")->isEnabled());
  Find<QCheckBox>(d, "RawdataVarianceEnable")->click();
  EXPECT_EQ(group.RawdataVarianceEnable, 1);
  EXPECT_TRUE(Find(d, "RawdataVariance")->isEnabled());
  Find(d, "RawdataVariance")->setText("+380");
  Find<QCheckBox>(d, "viewStatusBar")->click();
  ClickOk(d);
  EXPECT_EQ(testing::Stored(*store, kRegKeyScreenThreshold, "RawdataVariance"), 380);
  EXPECT_EQ(testing::Stored(*store, kRegKeyScreenThreshold, "RawdataVarianceEnable"), 1);
  EXPECT_EQ(testing::Stored(*store, kRegKeyScreenThreshold, "ViewMode"), 7);
  EXPECT_EQ(group.ViewMode, 7);
}

// A text that is not an integer refuses the whole OK: the earlier fields of the OK order are
// neither stored nor taken into the group.
TEST_F(MaxMinDlgTest, InvalidTextStoresNothingOfThatOk) {
  for (const char* bad : {"", "4o2", "99999999999", " 402"}) {
    const ScreenLevelSettings before = group;
    CMaxMinDlg d(group, *store);
    d.show();
    Find(d, "RawdataMax")->setText("31000");
    Find(d, "RawdataVariance")->setText(U(bad));
    ClickOk(d);
    EXPECT_TRUE(d.isVisible()) << bad;
    ASSERT_EQ(messages.size(), 1u) << bad;
    EXPECT_TRUE(messages.back().contains(U("“方差（平整度）”"))) << messages.back().toStdString();
    EXPECT_EQ(group, before) << bad;
    EXPECT_EQ(StoredGroup(), ScreenLevelSettings{}) << bad;
    messages.clear();

    Find(d, "RawdataVariance")->setText("402");  // corrected: the same dialog now takes everything
    ClickOk(d);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(testing::Stored(*store, kRegKeyScreenThreshold, "RawdataMax"), 31000);
    config::SaveScreenThreshold(*store, ScreenLevelSettings{});
    group = ScreenLevelSettings{};
  }
}

}  // namespace
}  // namespace varnex2::dialogs
