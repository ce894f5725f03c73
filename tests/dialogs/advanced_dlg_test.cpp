// The sample-limit editor's window on the offscreen platform, driven by clicks.
#include "dialogs/advanced_dlg.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>

#include <memory>
#include <vector>

#include "dialogs/message_box.h"

namespace varnex2::dialogs {
namespace {

using config::Int32Array2D;
using config::Int32Array3D;
using config::SampleLimitSet;

QApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_dialogs";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);  // lives for the whole run
  return *app;
}

constexpr int kYs = 52;
constexpr int kXs = 32;

class AdvancedDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    map_.SetGridSize(kYs, kXs);
    map_.AddArea(0, 0, kXs, kYs, 0);
    map_.SetTestModeFlags(judging::TestMode::THRESHOLD);
    SetMessageHook([this](const QString& text, MessageIcon) { messages_.push_back(text); });
  }
  void TearDown() override { SetMessageHook({}); }

  void Open(const SampleLimitSet& data = {}) {
    dlg_ = std::make_unique<CAdvancedDlg>(map_, data, [this] {
      ++freshFrames_;
      map_.Evaluate(nextFrame_);
    });
    dlg_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg_.get()));
  }

  template <class T>
  T* Child(const char* name) {
    T* w = dlg_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QTableWidget* Samples() { return Child<QTableWidget>("sampleTable"); }
  QTableWidget* Limits() { return Child<QTableWidget>("limitTable"); }
  void Click(const char* button) { QTest::mouseClick(Child<QAbstractButton>(button), Qt::LeftButton); }
  void ClickCell(QTableWidget* table, int row, int column) {
    const QRect rect = table->visualRect(table->model()->index(row, column));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rect.center());
  }
  // Takes a sample of a frame with `value` everywhere.
  void TakeSample(std::int32_t value) {
    nextFrame_ = judging::NodeFrame(kYs, kXs, value);
    Click("sampleButton");
  }
  static QString Text(QTableWidget* t, int row, int column) {
    const QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
  }

  judging::NodeMap map_;
  judging::NodeFrame nextFrame_{kYs, kXs, 0};
  int freshFrames_ = 0;
  std::vector<QString> messages_;
  std::unique_ptr<CAdvancedDlg> dlg_;
};

// A loaded set: two samples (the second unselected), limits computed, offset mode.
SampleLimitSet LoadedSet() {
  SampleLimitSet d;
  d.sampleFrames = Int32Array3D(2, kYs, kXs, 20000);
  d.sampleList = Int32Array2D(3, 9, -1);
  const std::vector<std::int32_t> first{1, 21000, 0, 20500, 402, -1, -1, -1, -1};
  const std::vector<std::int32_t> second{0, 22000, 19000, 20600, 1500, 9000, 8000, 8500, 12};
  std::copy(first.begin(), first.end(), d.sampleList.Row(1).begin());
  std::copy(second.begin(), second.end(), d.sampleList.Row(2).begin());
  d.paraList = Int32Array2D(3, 8, -1);
  const std::vector<std::int32_t> upper{23000, 22000, 22500, 250, -1, -1, -1, -1};
  std::copy(upper.begin(), upper.end(), d.paraList.Row(0).begin());
  d.paraList(1, 0) = 21000;
  d.paraList(2, 3) = 0;
  d.nLimitMode = 1;
  d.nPercentX100 = 1250;
  d.nOffsetLower = 1500;
  d.nOffsetUpper = -20;
  return d;
}

TEST_F(AdvancedDlgTest, OpeningShowsTheLoadedSetAsSpecified) {
  Open(LoadedSet());
  EXPECT_EQ(dlg_->windowTitle(), QString::fromUtf8("样本上下限比对设置窗口"));
  QTableWidget* s = Samples();
  ASSERT_EQ(s->rowCount(), 2);
  ASSERT_EQ(s->columnCount(), 9);
  EXPECT_EQ(s->horizontalHeaderItem(0)->text(), QString::fromUtf8("项目"));
  EXPECT_EQ(s->horizontalHeaderItem(4)->text(), QString::fromUtf8("触摸均方差"));
  EXPECT_EQ(s->horizontalHeaderItem(8)->text(), QString::fromUtf8("按键均方差"));
  EXPECT_EQ(Text(s, 0, 0), "1");
  EXPECT_EQ(s->item(0, 0)->checkState(), Qt::Checked);
  EXPECT_EQ(s->item(1, 0)->checkState(), Qt::Unchecked);
  EXPECT_EQ(Text(s, 0, 1), "21000");
  EXPECT_EQ(Text(s, 0, 2), "");  // 0 is empty when opening
  EXPECT_EQ(Text(s, 0, 4), "0.402");
  EXPECT_EQ(Text(s, 0, 5), "");
  EXPECT_EQ(Text(s, 1, 4), "1.500");
  EXPECT_EQ(Text(s, 1, 8), "0.012");
  EXPECT_EQ(Text(s, 1, 6), "8000");

  QTableWidget* l = Limits();
  ASSERT_EQ(l->rowCount(), 3);
  EXPECT_EQ(Text(l, 0, 0), QString::fromUtf8("上限"));
  EXPECT_EQ(Text(l, 1, 0), QString::fromUtf8("基准"));
  EXPECT_EQ(Text(l, 2, 0), QString::fromUtf8("下限"));
  EXPECT_EQ(Text(l, 0, 1), "23000");
  EXPECT_EQ(Text(l, 0, 4), "0.250");
  EXPECT_EQ(Text(l, 0, 5), "");
  EXPECT_EQ(Text(l, 1, 1), "21000");
  EXPECT_EQ(Text(l, 2, 4), "");

  // Sizes and colour.
  for (QTableWidget* t : {s, l}) {
    EXPECT_EQ(t->rowHeight(0), 25);
    EXPECT_EQ(t->columnWidth(0), 50);
    for (int c = 1; c < 9; ++c) EXPECT_EQ(t->columnWidth(c), 100);
    EXPECT_EQ(t->palette().color(QPalette::Base), QColor(255, 255, 224));
  }

  // Controls from the set's parameters.
  EXPECT_FALSE(Child<QRadioButton>("percentMode")->isChecked());
  EXPECT_TRUE(Child<QRadioButton>("offsetMode")->isChecked());
  EXPECT_EQ(Child<QLineEdit>("percentEdit")->text(), "12.5");
  EXPECT_EQ(Child<QLineEdit>("lowerEdit")->text(), "1500");
  EXPECT_EQ(Child<QLineEdit>("upperEdit")->text(), "-20");
  EXPECT_EQ(Child<QPushButton>("clearButton")->text(), QString::fromUtf8("清空&&默认值"));
}

TEST_F(AdvancedDlgTest, ALimitListOfAnotherShapeLeavesTheLimitTableEmpty) {
  SampleLimitSet d = LoadedSet();
  d.paraList = Int32Array2D(3, 7, 5);
  Open(d);
  EXPECT_EQ(Text(Limits(), 0, 0), QString::fromUtf8("上限"));
  for (int r = 0; r < 3; ++r)
    for (int c = 1; c < 9; ++c) EXPECT_EQ(Text(Limits(), r, c), "");
}

TEST_F(AdvancedDlgTest, SamplingAppendsACheckedRowFromAFreshFrame) {
  Open();
  EXPECT_EQ(Samples()->rowCount(), 0);
  judging::NodeFrame frame(kYs, kXs, 25000);
  frame(3, 4) = 0;
  nextFrame_ = frame;
  Click("sampleButton");
  EXPECT_EQ(freshFrames_, 1);
  ASSERT_EQ(Samples()->rowCount(), 1);
  EXPECT_EQ(Text(Samples(), 0, 0), "1");
  EXPECT_EQ(Samples()->item(0, 0)->checkState(), Qt::Checked);
  EXPECT_EQ(Text(Samples(), 0, 1), "25000");
  EXPECT_EQ(Text(Samples(), 0, 2), "0");  // a new row shows 0, only negative values are empty
  EXPECT_EQ(Text(Samples(), 0, 5), "");
  EXPECT_EQ(dlg_->Result().sampleFrames.Pages(), 1);
  EXPECT_EQ(dlg_->Result().sampleFrames(0, 3, 4), 0);
  EXPECT_EQ(dlg_->Result().sampleFrames(0, 0, 0), 25000);
  TakeSample(21000);
  ASSERT_EQ(Samples()->rowCount(), 2);
  EXPECT_EQ(Text(Samples(), 1, 0), "2");
}

TEST_F(AdvancedDlgTest, TheLastTickStaysWithAMessage) {
  Open();
  TakeSample(20000);
  TakeSample(21000);
  ClickCell(Samples(), 0, 0);
  EXPECT_EQ(Samples()->item(0, 0)->checkState(), Qt::Unchecked);
  EXPECT_EQ(dlg_->Result().sampleList(1, 0), 0);
  EXPECT_TRUE(messages_.empty());
  ClickCell(Samples(), 1, 0);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], QString::fromUtf8("至少选择一行数据！"));
  EXPECT_EQ(Samples()->item(1, 0)->checkState(), Qt::Checked);
  EXPECT_EQ(dlg_->Result().sampleList(2, 0), 1);
  ClickCell(Samples(), 0, 0);
  EXPECT_EQ(Samples()->item(0, 0)->checkState(), Qt::Checked);
}

TEST_F(AdvancedDlgTest, ComputingReadsTheEditsFillsTheLimitTableAndOkKeepsIt) {
  Open();
  TakeSample(25000);
  Child<QLineEdit>("percentEdit")->setText("10.239");
  Click("computeButton");
  const SampleLimitSet& r = dlg_->Result();
  EXPECT_EQ(r.nPercentX100, 1023);
  EXPECT_EQ(r.rawUpper(0, 0), 27557);  // trunc(25000 * 1.1023)
  EXPECT_EQ(r.rawLower(0, 0), 22442);
  EXPECT_EQ(Text(Limits(), 0, 1), "27557");
  EXPECT_EQ(Text(Limits(), 1, 3), "25000");
  EXPECT_EQ(Text(Limits(), 2, 2), "22442");
  EXPECT_EQ(Text(Limits(), 0, 4), "");  // spread 0
  EXPECT_EQ(map_.UpperLimits()(0, 0), 27557);
  EXPECT_NE(map_.TestModeFlags() & judging::TestMode::LIMITS, 0);

  // The offset mode changes at once; its edits are read by the next computing only.
  Click("offsetMode");
  EXPECT_EQ(dlg_->Result().nLimitMode, 1);
  Child<QLineEdit>("lowerEdit")->setText("1500");
  EXPECT_EQ(dlg_->Result().nOffsetLower, 2000);  // the set's default, as the edit showed it
  Click("computeButton");
  EXPECT_EQ(dlg_->Result().nOffsetLower, 1500);
  EXPECT_EQ(dlg_->Result().rawLower(0, 0), 23500);
  EXPECT_EQ(dlg_->Result().rawUpper(0, 0), 27000);

  Click("okButton");
  EXPECT_EQ(dlg_->result(), QDialog::Accepted);
  EXPECT_EQ(dlg_->Result().rawUpper(0, 0), 27000);
}

TEST_F(AdvancedDlgTest, CancelRejects) {
  Open(LoadedSet());
  Click("cancelButton");
  EXPECT_EQ(dlg_->result(), QDialog::Rejected);
}

TEST_F(AdvancedDlgTest, ComputingWithoutASelectedSampleSaysSoAndChangesNothing) {
  SampleLimitSet d = LoadedSet();
  d.sampleList(1, 0) = 0;
  Open(d);
  Click("computeButton");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], QString::fromUtf8(judging::kMsgNoSampleSelected));
  EXPECT_EQ(dlg_->Result(), d);
  EXPECT_EQ(Text(Limits(), 0, 1), "23000");
}

TEST_F(AdvancedDlgTest, ClearingEmptiesTablesRestoresDefaultsAndOkGivesEmptyArrays) {
  Open(LoadedSet());
  Click("computeButton");  // the loaded samples are the map's extents: computable
  ASSERT_TRUE(messages_.empty());
  const judging::NodeFrame limits = map_.UpperLimits();
  Click("clearButton");
  EXPECT_EQ(Samples()->rowCount(), 0);
  ASSERT_EQ(Limits()->rowCount(), 3);
  EXPECT_EQ(Text(Limits(), 1, 0), QString::fromUtf8("基准"));
  EXPECT_EQ(Text(Limits(), 1, 1), "");
  EXPECT_TRUE(Child<QRadioButton>("percentMode")->isChecked());
  EXPECT_EQ(Child<QLineEdit>("percentEdit")->text(), "10");
  EXPECT_EQ(Child<QLineEdit>("lowerEdit")->text(), "1000");
  EXPECT_EQ(Child<QLineEdit>("upperEdit")->text(), "1000");
  Click("okButton");
  EXPECT_EQ(dlg_->result(), QDialog::Accepted);
  const SampleLimitSet& r = dlg_->Result();
  EXPECT_EQ(r.sampleFrames.Pages(), 0);
  EXPECT_TRUE(r.sampleList.Empty());
  EXPECT_TRUE(r.rawUpper.Empty());
  EXPECT_EQ(r.nLimitMode, 1);  // parameters stay until the next computing
  EXPECT_EQ(r.nOffsetLower, 1500);
  EXPECT_EQ(map_.UpperLimits(), limits);
  EXPECT_EQ(judging::TestModeAfterConfirm(config::kTestModeThreshold) & config::kTestModeSampleLimits,
            config::kTestModeSampleLimits);
}

TEST_F(AdvancedDlgTest, ClickingARowShowsItsSampleOrLimitArrayOnTheMap) {
  Open();
  int repaints = 0;
  dlg_->SetRepaint([&] { ++repaints; });
  TakeSample(20000);
  TakeSample(22000);
  Click("offsetMode");
  Click("computeButton");  // base 21000, offsets 2000: limits 23000 / 19000
  ClickCell(Samples(), 0, 3);
  EXPECT_EQ(map_.Cell(5, 5).nValue, 20000);
  ClickCell(Limits(), 0, 2);
  EXPECT_EQ(map_.Cell(5, 5).nValue, 23000);
  ClickCell(Limits(), 2, 0);
  EXPECT_EQ(map_.Cell(5, 5).nValue, 19000);
  ClickCell(Limits(), 1, 7);
  EXPECT_EQ(map_.Cell(5, 5).nValue, 21000);
  EXPECT_EQ(repaints, 5);
}

TEST_F(AdvancedDlgTest, TheMenuHoldsTheTwoLegacyItems) {
  Open();
  auto* bar = dlg_->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->actions().size(), 1);
  EXPECT_EQ(bar->actions()[0]->text(), QString::fromUtf8("文件(&F)"));
  QAction* import = Child<QAction>("legacyImport");
  QAction* save = Child<QAction>("legacySave");
  EXPECT_EQ(import->text(), QString::fromUtf8("老版本参数文件导入(&O)"));
  EXPECT_EQ(import->data().toInt(), 32800);
  EXPECT_EQ(save->text(), QString::fromUtf8("老版本参数统一保存在主界面新版参数文件中(&S)"));
  EXPECT_EQ(save->data().toInt(), 32801);
  save->trigger();
  EXPECT_TRUE(messages_.empty());
  import->trigger();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], QString::fromUtf8("此功能尚未提供"));
  // An import, once supplied, replaces the data and the window shows it.
  dlg_->SetLegacyImport([](CAdvancedDlg& d) {
    d.Editor().Reset(LoadedSet());
    d.Reload();
  });
  import->trigger();
  EXPECT_EQ(Samples()->rowCount(), 2);
  EXPECT_EQ(messages_.size(), 1u);
}

// The window with samples and computed limits, for a look.
TEST_F(AdvancedDlgTest, RendersToAPicture) {
  Open();
  judging::NodeFrame frame(kYs, kXs);
  for (int i = 0; i < 6; ++i) {
    for (int y = 0; y < kYs; ++y)
      for (int x = 0; x < kXs; ++x) frame(y, x) = 24000 + 37 * ((y * 7 + x * 3 + i * 11) % 41);
    nextFrame_ = frame;
    Click("sampleButton");
  }
  ClickCell(Samples(), 2, 0);
  Click("computeButton");
  const QImage image = dlg_->grab().toImage();
  EXPECT_FALSE(image.isNull());
  EXPECT_TRUE(image.save(QString::fromUtf8(VARNEX2_OUTPUT_DIR) + "/advanced_dlg.png"));
}

}  // namespace
}  // namespace varnex2::dialogs
