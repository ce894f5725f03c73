// The area dialog (thresholds and gain) and the single-node limits dialog: controls, texts,
// the checks of OK and what the caller gets back.
#include <QPlainTextEdit>
#include <QTest>

#include "dialogs/cell_para_setting_dlg.h"
#include "dialogs/dialog_test_support.h"
#include "dialogs/dialog_texts.h"
#include "dialogs/group_setting.h"

namespace varnex2::dialogs {
namespace {

using testing::ButtonTexts;
using testing::ClickOk;
using testing::Find;
using testing::LabelTexts;
using testing::U;

station::AreaPrompt TouchPrompt() {
  station::AreaPrompt p;
  p.scope = 0;
  p.info = "最大值=29000,最小值=21000,平均值=25000,均方差=402.17";
  p.upper = 28000;
  p.lower = 19000;
  p.gain = 40;
  return p;
}

class GroupSettingTest : public testing::DialogTest {
 protected:
  // Types the three texts, presses OK and tells whether the dialog closed.
  bool Submit(GroupSetting& d, const QString& upper, const QString& lower, const QString& gain) {
    d.show();
    Find(d, "upper")->setText(upper);
    Find(d, "lower")->setText(lower);
    Find(d, "gain")->setText(gain);
    ClickOk(d);
    return !d.isVisible();
  }
};

TEST_F(GroupSettingTest, ShowsTheAreaWithTitleByScope) {
  GroupSetting d(TouchPrompt());
  EXPECT_EQ(d.windowTitle(), U("触摸屏参数设置"));
  EXPECT_EQ(Find(d, "upper")->text(), "28000");
  EXPECT_EQ(Find(d, "lower")->text(), "19000");
  EXPECT_EQ(Find(d, "gain")->text(), "40");
  auto* info = Find<QPlainTextEdit>(d, "info");
  EXPECT_TRUE(info->isReadOnly());
  EXPECT_EQ(info->toPlainText(), U("最大值=29000,最小值=21000,平均值=25000,均方差=402.17"));
  const QStringList labels = LabelTexts(d);
  for (const char* label : {"阈值上限", "阈值下限", "增益"}) EXPECT_TRUE(labels.contains(U(label))) << label;
  EXPECT_EQ(ButtonTexts(d), (QStringList{U("放弃"), U("确认")}));

  EXPECT_EQ(GroupSetting::TitleForScope(-1), U("触摸屏参数设置(默认)"));
  EXPECT_EQ(GroupSetting::TitleForScope(1), U("按键参数设置"));
  EXPECT_EQ(GroupSetting::TitleForScope(2), U("无法识别"));
  EXPECT_EQ(GroupSetting::TitleForScope(-2), U("无法识别"));
  testing::Snapshot(d, "group_setting.png");
}

TEST_F(GroupSettingTest, GainMustLieStrictlyBetweenZeroAnd255) {
  for (const char* gain : {"255", "0", "-1", "1000"}) {
    GroupSetting d(TouchPrompt());
    EXPECT_FALSE(Submit(d, "28000", "19000", gain)) << gain;
    ASSERT_EQ(messages.size(), 1u) << gain;
    EXPECT_EQ(messages.back(), U("增益不能大于255或者为负数"));
    messages.clear();
  }
  for (const std::int32_t gain : {1, 254}) {
    GroupSetting d(TouchPrompt());
    EXPECT_TRUE(Submit(d, "28000", "19000", QString::number(gain)));
    station::AreaPrompt out = TouchPrompt();
    d.ReadInto(out);
    EXPECT_EQ(out.gain, gain);
    EXPECT_EQ(out.upper, 28000);
    EXPECT_EQ(out.lower, 19000);
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(GroupSettingTest, LowerMustStayBelowUpper) {
  GroupSetting d(TouchPrompt());
  EXPECT_FALSE(Submit(d, "20000", "20000", "40"));
  EXPECT_FALSE(Submit(d, "20000", "20001", "40"));
  EXPECT_EQ(messages, (std::vector<QString>{U("阈值下限不能大于阈值上限"), U("阈值下限不能大于阈值上限")}));
  EXPECT_EQ(d.Lower(), 19000);  // nothing taken from a refused OK
  EXPECT_TRUE(Submit(d, "+20000", "-5", "40"));
  EXPECT_EQ(d.Upper(), 20000);
  EXPECT_EQ(d.Lower(), -5);
}

TEST_F(GroupSettingTest, TextThatIsNoIntegerIsNamedAndKeepsTheDialogOpen) {
  struct Case {
    const char* upper;
    const char* lower;
    const char* gain;
    const char* field;
  };
  for (const Case& c : {Case{"abc", "19000", "40", "阈值上限"}, Case{"28000", " 19000", "40", "阈值下限"},
                        Case{"28000", "19000", "", "增益"}, Case{"2147483648", "19000", "40", "阈值上限"},
                        Case{"28000", "19000", "4.5", "增益"}}) {
    GroupSetting d(TouchPrompt());
    EXPECT_FALSE(Submit(d, U(c.upper), U(c.lower), U(c.gain))) << c.field;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages.back().contains(U("“") + U(c.field) + U("”"))) << messages.back().toStdString();
    messages.clear();
  }
}

TEST_F(GroupSettingTest, CancelKeepsTheInitialValues) {
  GroupSetting d(TouchPrompt());
  d.show();
  Find(d, "gain")->setText("99");
  testing::ClickCancel(d);
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_EQ(d.Gain(), 40);
}

class CellLimitsTest : public testing::DialogTest {
 protected:
  static station::CellLimitsPrompt Prompt() { return {3, 7, 26000, 24000, 22000}; }
};

TEST_F(CellLimitsTest, ShowsTheNodeLimitsWithOnlyAnOkButton) {
  CCellParaSettingDlg d(Prompt());
  EXPECT_EQ(d.windowTitle(), U("手动单独修改上下限"));
  EXPECT_EQ(Find(d, "upper")->text(), "26000");
  EXPECT_EQ(Find(d, "average")->text(), "24000");
  EXPECT_TRUE(Find(d, "average")->isReadOnly());
  EXPECT_EQ(Find(d, "lower")->text(), "22000");
  const QStringList labels = LabelTexts(d);
  for (const char* label : {"阈值上限", "采样值", "阈值下限"}) EXPECT_TRUE(labels.contains(U(label))) << label;
  EXPECT_EQ(ButtonTexts(d), QStringList{"OK"});
  testing::Snapshot(d, "cell_para_setting_dlg.png");
}

TEST_F(CellLimitsTest, OkTakesTheLeadingNumbersWithoutChecks) {
  CCellParaSettingDlg d(Prompt());
  d.show();
  Find(d, "upper")->setText("  -12abc");
  Find(d, "lower")->setText("abc");
  ClickOk(d);
  EXPECT_FALSE(d.isVisible());
  station::CellLimitsPrompt out = Prompt();
  d.ReadInto(out);
  EXPECT_EQ(out.upper, -12);
  EXPECT_EQ(out.lower, 0);  // lower above upper is not refused either
  EXPECT_EQ(out.average, 24000);
  EXPECT_TRUE(messages.empty());
}

TEST_F(CellLimitsTest, EscapeClosesWithoutChanges) {
  CCellParaSettingDlg d(Prompt());
  d.show();
  Find(d, "upper")->setText("1");
  QTest::keyClick(&d, Qt::Key_Escape);
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_EQ(d.Upper(), 26000);
  EXPECT_EQ(d.Lower(), 22000);
}

}  // namespace
}  // namespace varnex2::dialogs
