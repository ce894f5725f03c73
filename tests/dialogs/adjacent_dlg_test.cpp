// The adjacent-point percentage dialog: titles and scope texts of its three scopes, the
// line-number base, and the checks of the entered percentage.
#include <QGroupBox>
#include <QPlainTextEdit>

#include "dialogs/adjacent_dlg.h"
#include "dialogs/dialog_test_support.h"

namespace varnex2::dialogs {
namespace {

using testing::ClickOk;
using testing::Find;
using testing::U;

station::AdjacentPrompt Rect(int scope, int base) {
  station::AdjacentPrompt p;
  p.scope = scope;
  p.y0 = 2;
  p.x0 = 1;
  p.y1 = 40;
  p.x1 = 30;
  p.lineBase = base;
  return p;
}

class AdjacentDlgTest : public testing::DialogTest {
 protected:
  bool Submit(CAdjacentDlg& d, const QString& text) {
    d.show();
    Find(d, "percent")->setText(text);
    ClickOk(d);
    return !d.isVisible();
  }
};

TEST_F(AdjacentDlgTest, ShowsTheControlsAndTexts) {
  station::AdjacentPrompt p = Rect(1, 0);
  p.percent = 15;
  CAdjacentDlg d(p);
  EXPECT_EQ(d.windowTitle(), U("相邻点数据比较(所有触摸区域设置)"));
  auto* group = d.findChild<QGroupBox*>();
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), U("参数设置"));
  EXPECT_EQ(Find<QLabel>(d, "explanation")->text(),
            U("所选区内所有的点与这个点相邻周围点的数据偏差监控，若相邻点超出当前点的百分比上下限，即监控偏差超出设置"
              "范围，不能出PASS。对于水滴屏圆角位置，可以单独设置点的百分比。"));
  EXPECT_TRUE(testing::LabelTexts(d).contains(U("百分比")));
  EXPECT_EQ(Find(d, "percent")->text(), "15");
  auto* scope = Find<QPlainTextEdit>(d, "scope");
  EXPECT_TRUE(scope->isReadOnly());
  EXPECT_EQ(scope->toPlainText(), U("当前选择范围(tx=2,rx=1)-(tx=40,rx=30)"));
  EXPECT_EQ(testing::ButtonTexts(d), (QStringList{"Cancel", "OK"}));
  testing::Snapshot(d, "adjacent_dlg.png");
}

TEST_F(AdjacentDlgTest, ScopeTextsFollowTheLineNumberBase) {
  station::AdjacentPrompt node;
  node.scope = 0;
  node.y0 = node.y1 = 0;
  node.x0 = node.x1 = 3;
  node.lineBase = 1;
  EXPECT_EQ(CAdjacentDlg::ScopeText(node), U("当前选择点(tx=1,rx=4)"));
  node.lineBase = 0;
  EXPECT_EQ(CAdjacentDlg::ScopeText(node), U("当前选择点(tx=0,rx=3)"));
  EXPECT_EQ(CAdjacentDlg::ScopeText(Rect(2, 1)), U("当前选择范围(tx=3,rx=2)-(tx=41,rx=31)"));

  EXPECT_EQ(CAdjacentDlg::TitleForScope(0), U("相邻点数据比较(单点设置)"));
  EXPECT_EQ(CAdjacentDlg::TitleForScope(2), U("相邻点数据比较(所选区域设置)"));
  CAdjacentDlg single(node);
  EXPECT_EQ(single.windowTitle(), U("相邻点数据比较(单点设置)"));
  EXPECT_EQ(Find<QPlainTextEdit>(single, "scope")->toPlainText(), U("当前选择点(tx=0,rx=3)"));
}

TEST_F(AdjacentDlgTest, OkTakesAnIntegerAndRefusesOtherText) {
  for (const char* bad : {"", "abc", "15%", "1.5", " 15"}) {
    CAdjacentDlg d(Rect(2, 0));
    EXPECT_FALSE(Submit(d, U(bad))) << bad;
    ASSERT_EQ(messages.size(), 1u) << bad;
    EXPECT_TRUE(messages.back().contains(U("“百分比”")));
    EXPECT_EQ(d.Percent(), 0);
    messages.clear();
  }
  CAdjacentDlg d(Rect(2, 0));
  EXPECT_TRUE(Submit(d, "15"));
  station::AdjacentPrompt out = Rect(2, 0);
  d.ReadInto(out);
  EXPECT_EQ(out.percent, 15);
}

// The caller stores the percentage times 100 in 32 bits: larger entries would overflow it.
TEST_F(AdjacentDlgTest, RefusesPercentagesWhoseHundredfoldOverflows) {
  for (const char* bad : {"21474837", "-21474837", "2147483647"}) {
    CAdjacentDlg d(Rect(1, 0));
    EXPECT_FALSE(Submit(d, U(bad))) << bad;
    ASSERT_EQ(messages.size(), 1u) << bad;
    EXPECT_EQ(messages.back(), U("请在“百分比”中输入 -21474836 到 21474836 之间的整数"));
    messages.clear();
  }
  for (const std::int32_t good : {21474836, -21474836, 0}) {
    CAdjacentDlg d(Rect(1, 0));
    EXPECT_TRUE(Submit(d, QString::number(good)));
    EXPECT_EQ(d.Percent(), good);
  }
}

TEST_F(AdjacentDlgTest, CancelKeepsTheInitialPercentage) {
  station::AdjacentPrompt p = Rect(0, 0);
  p.percent = 15;
  CAdjacentDlg d(p);
  d.show();
  Find(d, "percent")->setText("30");
  testing::ClickCancel(d);
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_EQ(d.Percent(), 15);
}

}  // namespace
}  // namespace varnex2::dialogs
