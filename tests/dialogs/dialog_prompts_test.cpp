// The window's answers to the set-up questions: each opens its dialog modally and fills the
// prompt only on OK.
#include <QTest>

#include "dialogs/dialog_prompts.h"
#include "dialogs/dialog_test_support.h"

namespace varnex2::dialogs {
namespace {

using testing::Find;
using testing::U;
using testing::WhenModal;

class DialogPromptsTest : public testing::DialogTest {
 protected:
  DialogPrompts prompts{nullptr};
};

TEST_F(DialogPromptsTest, AreaParamsAreFilledOnOkOnly) {
  station::AreaPrompt p{1, "最大值=1,最小值=0,平均值=0", 28000, 19000, 40};
  QString title;
  WhenModal([&title](QDialog& d) {
    title = d.windowTitle();
    Find(d, "gain")->setText("254");
    testing::ClickOk(d);
  });
  EXPECT_TRUE(prompts.AskAreaParams(p));
  EXPECT_EQ(title, U("按键参数设置"));
  EXPECT_EQ(p.gain, 254);
  EXPECT_EQ(p.upper, 28000);

  WhenModal([](QDialog& d) {
    Find(d, "gain")->setText("100");
    testing::ClickCancel(d);
  });
  EXPECT_FALSE(prompts.AskAreaParams(p));
  EXPECT_EQ(p.gain, 254);
}

TEST_F(DialogPromptsTest, AdjacentPercentIsFilledOnOkOnly) {
  station::AdjacentPrompt p;
  p.scope = 0;
  p.percent = 15;
  WhenModal([](QDialog& d) {
    Find(d, "percent")->setText("abc");
    testing::ClickOk(d);  // refused, stays open
    Find(d, "percent")->setText("20");
    testing::ClickOk(d);
  });
  EXPECT_TRUE(prompts.AskAdjacentPercent(p));
  EXPECT_EQ(p.percent, 20);
  EXPECT_EQ(messages.size(), 1u);

  WhenModal([](QDialog& d) {
    Find(d, "percent")->setText("30");
    testing::ClickCancel(d);
  });
  EXPECT_FALSE(prompts.AskAdjacentPercent(p));
  EXPECT_EQ(p.percent, 20);
}

TEST_F(DialogPromptsTest, CellLimitsAreFilledOnOkAndKeptOnEscape) {
  station::CellLimitsPrompt p{0, 0, 26000, 24000, 22000};
  WhenModal([](QDialog& d) {
    Find(d, "upper")->setText("27000");
    QTest::keyClick(&d, Qt::Key_Escape);
  });
  EXPECT_FALSE(prompts.AskCellLimits(p));
  EXPECT_EQ(p.upper, 26000);

  WhenModal([](QDialog& d) {
    Find(d, "upper")->setText("27000");
    Find(d, "lower")->setText("21000");
    testing::ClickOk(d);
  });
  EXPECT_TRUE(prompts.AskCellLimits(p));
  EXPECT_EQ(p.upper, 27000);
  EXPECT_EQ(p.lower, 21000);
  EXPECT_EQ(p.average, 24000);
}

}  // namespace
}  // namespace varnex2::dialogs
