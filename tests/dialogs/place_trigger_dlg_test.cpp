// The placement-trigger dialog: loading (and creating) its two settings, what OK stores,
// what a refused OK and Cancel leave.
#include <QPlainTextEdit>

#include "config/reg_edit_class.h"
#include "dialogs/dialog_test_support.h"
#include "dialogs/place_trigger_dlg.h"
#include "platform/memory_settings_store.h"

namespace varnex2::dialogs {
namespace {

using config::kRegKeyOutPutSetting;
using testing::ClickOk;
using testing::Find;
using testing::Stored;
using testing::U;

const QString kStatistics = U("最大值=29000,最小值=21000,平均值=25000");

class PlaceTriggerDlgTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    store = platform::CreateMemorySettingsStore();
  }
  std::unique_ptr<platform::SettingsStore> store;
};

TEST_F(PlaceTriggerDlgTest, OpeningOnAnEmptyStoreCreatesAndShowsTheDefaults) {
  CPlaceTriggerDlg d(kStatistics, *store);
  EXPECT_EQ(Stored(*store, kRegKeyOutPutSetting, "Trigger"), 28000);
  EXPECT_EQ(Stored(*store, kRegKeyOutPutSetting, "StableFrameCnt"), 3);
  EXPECT_EQ(d.TriggerLevel(), 28000);
  EXPECT_EQ(d.StableFrameCount(), 3);

  EXPECT_EQ(d.windowTitle(), U("设定产品放置阈值对话框"));
  EXPECT_EQ(Find(d, "trigger")->text(), "28000");
  EXPECT_EQ(Find(d, "stableFrames")->text(), "3");
  auto* statistics = Find<QPlainTextEdit>(d, "statistics");
  EXPECT_TRUE(statistics->isReadOnly());
  EXPECT_EQ(statistics->toPlainText(), kStatistics);
  const QStringList labels = testing::LabelTexts(d);
  for (const char* label : {"当前采样值:", "设定有产品放置阈值:", "稳定帧数:"}) {
    EXPECT_TRUE(labels.contains(U(label))) << label;
  }
  EXPECT_EQ(testing::ButtonTexts(d), (QStringList{U("取消"), U("确定")}));
  testing::Snapshot(d, "place_trigger_dlg.png");
}

TEST_F(PlaceTriggerDlgTest, StoredValuesAreShownAndOkStoresTheEntries) {
  store->SetDword(kRegKeyOutPutSetting, "Trigger", 30000);
  store->SetString(kRegKeyOutPutSetting, "StableFrameCnt", "5");  // not a number: the default replaces it
  CPlaceTriggerDlg d(kStatistics, *store);
  EXPECT_EQ(Find(d, "trigger")->text(), "30000");
  EXPECT_EQ(Find(d, "stableFrames")->text(), "3");
  d.show();
  Find(d, "trigger")->setText("-1");
  Find(d, "stableFrames")->setText("0");
  ClickOk(d);
  EXPECT_FALSE(d.isVisible());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(d.TriggerLevel(), -1);
  EXPECT_EQ(d.StableFrameCount(), 0);
  EXPECT_EQ(Stored(*store, kRegKeyOutPutSetting, "Trigger"), -1);
  EXPECT_EQ(Stored(*store, kRegKeyOutPutSetting, "StableFrameCnt"), 0);
}

// Both texts are checked first: an invalid frame count must not leave a new trigger stored.
TEST_F(PlaceTriggerDlgTest, InvalidTextIsNamedAndStoresNothing) {
  struct Case {
    const char* trigger;
    const char* frames;
    const char* field;
  };
  for (const Case& c : {Case{"25000", "x", "稳定帧数"}, Case{"25000", "", "稳定帧数"},
                        Case{"2.5e4", "4", "设定有产品放置阈值"}, Case{"25000", "4294967296", "稳定帧数"}}) {
    CPlaceTriggerDlg d(kStatistics, *store);
    d.show();
    Find(d, "trigger")->setText(c.trigger);
    Find(d, "stableFrames")->setText(U(c.frames));
    ClickOk(d);
    EXPECT_TRUE(d.isVisible()) << c.field;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages.back().contains(U("“") + U(c.field) + U("”"))) << messages.back().toStdString();
    EXPECT_EQ(Stored(*store, kRegKeyOutPutSetting, "Trigger"), 28000) << c.field;
    EXPECT_EQ(Stored(*store, kRegKeyOutPutSetting, "StableFrameCnt"), 3) << c.field;
    EXPECT_EQ(d.TriggerLevel(), 28000);
    EXPECT_EQ(d.StableFrameCount(), 3);
    messages.clear();
  }
}

TEST_F(PlaceTriggerDlgTest, CancelStoresNothing) {
  CPlaceTriggerDlg d(kStatistics, *store);
  d.show();
  Find(d, "trigger")->setText("1");
  Find(d, "stableFrames")->setText("1");
  testing::ClickCancel(d);
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_EQ(Stored(*store, kRegKeyOutPutSetting, "Trigger"), 28000);
  EXPECT_EQ(Stored(*store, kRegKeyOutPutSetting, "StableFrameCnt"), 3);
  EXPECT_EQ(d.TriggerLevel(), 28000);
}

}  // namespace
}  // namespace varnex2::dialogs
