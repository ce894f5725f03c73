// The gain dialogs on the offscreen platform: over the station core on the simulated box (what
// reaches the controller) and over a fake station access (failures of the controller).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/message_box.h"
#include "service/gain_access.h"
#include "station/station_rig.h"
#include "tools/gain_t46_dlg.h"
#include "tools/gain_t56_dlg.h"
#include "tools/tools_test_support.h"

namespace varnex2::tools {
namespace {

using service::T46Image;
using service::T56Image;

template <class W>
W* Control(QWidget& dialog, const char* id) {
  W* widget = dialog.findChild<W*>(QString::fromLatin1(id));
  EXPECT_NE(widget, nullptr) << id;
  return widget;
}

void Render(QWidget& dialog, const char* file) {
  dialog.show();
  QApplication::processEvents();
  const QString path = QStringLiteral(VARNEX2_OUTPUT_DIR "/") + QString::fromLatin1(file);
  EXPECT_TRUE(dialog.grab().save(path)) << path.toStdString();
}

// Every message the dialogs show, instead of a box.
class Messages {
 public:
  Messages() {
    dialogs::SetMessageHook([this](const QString& text, dialogs::MessageIcon) { texts << text; });
  }
  ~Messages() { dialogs::SetMessageHook({}); }
  QStringList texts;
};

// ---- On the simulated box ----------------------------------------------------------------------

class GainOnTheBox : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    rig = std::make_unique<station::StationRig>();
    rig->Initialise();
    ASSERT_TRUE(rig->WaitTesting());
    access = std::make_unique<service::GainAccessFor<station::Station>>(*rig->station);
  }
  void TearDown() override {
    access.reset();
    rig.reset();
  }
  std::vector<std::uint8_t> Box(std::uint8_t type, std::size_t n) { return station::ObjectBytes(*rig->box, type, n); }

  std::unique_ptr<station::StationRig> rig;
  std::unique_ptr<service::GainAccess> access;
  Messages messages;
};

TEST_F(GainOnTheBox, GlobalGainIsWrittenBackedUpAndReadBackAfterTheReset) {
  const auto resets = rig->box->ResetCount();
  const auto backups = rig->box->BackupCount();
  rig->station->StopTestThread();  // as the command does before opening it
  CSptCTEConfigT46 dialog(*access, QIcon());
  ASSERT_TRUE(dialog.ReadSucceeded());
  EXPECT_FALSE(Control<QLabel>(dialog, "readError")->isVisibleTo(&dialog));
  // The box's T46: enabled, X voltage 0, ADC gain 15.
  EXPECT_TRUE(Control<QCheckBox>(dialog, "1061")->isChecked());
  EXPECT_EQ(Control<QSlider>(dialog, "1060")->value(), 0);
  EXPECT_EQ(Control<QSlider>(dialog, "1059")->value(), 15);
  EXPECT_EQ(Control<QSlider>(dialog, "1059")->maximum(), 16);

  Control<QSlider>(dialog, "1059")->setValue(12);
  Control<QSlider>(dialog, "1060")->setValue(5);
  QStringList notice;
  dialog.SetRestartNotice([&](const QString& caption, const QString& text) {
    notice << caption << text;
    EXPECT_EQ(rig->box->BackupCount(), backups + 1) << "backed up before the notice";
    EXPECT_EQ(rig->box->ResetCount(), resets) << "reset after the notice";
  });
  Render(dialog, "gain_t46.png");
  QElapsedTimer elapsed;
  elapsed.start();
  Control<QPushButton>(dialog, "1")->click();
  EXPECT_GE(elapsed.elapsed(), 2000) << "500 ms before the reset, 1500 ms after it";
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();
  EXPECT_EQ(notice, (QStringList{"请注意设备将自动重启！",
                                 "增益调整后需要重新插拔USB才能生效！软件将自动重新插拔设备，请不要关掉软件！\n"
                                 "如发生错误请先关闭软件，等待15秒后再插拔一次USB，然后再开启测试软件！"}));
  const std::vector<std::uint8_t> expected{0x04, 0x00, 0x0A, 0x10, 0x00, 0x00, 0x01, 0x00, 0x00, 0x05, 0x0C};
  EXPECT_EQ(Box(46, 11), expected);
  EXPECT_EQ(rig->box->ResetCount(), resets + 1);

  // The station takes the controller's return like a replug and tests again; a new dialog
  // reads what was written.
  ASSERT_TRUE(station::WaitUntil([&] { return rig->station->DeviceConnected() && rig->station->TestRunning(); }));
  rig->station->StopTestThread();
  CSptCTEConfigT46 again(*access, QIcon());
  rig->station->ResumeTest();
  ASSERT_TRUE(again.ReadSucceeded());
  EXPECT_EQ(again.Image(), (T46Image{0x04, 0x00, 0x0A, 0x10, 0x00, 0x00, 0x01, 0x00, 0x00, 0x05, 0x0C}));
  EXPECT_EQ(Control<QSlider>(again, "1059")->value(), 12);
  EXPECT_EQ(Control<QSlider>(again, "1060")->value(), 5);
}

TEST_F(GainOnTheBox, ShieldlessSettingsConfirmedUnchangedComeBackNormalised) {
  T56Image seed{};
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i * 37 + 11);
  seed[0] = 0xA6;  // bit 0 clear
  seed[36] = 7;    // neither mode
  rig->station->StopTestThread();
  ASSERT_EQ(access->WriteObject(service::kT56Object, seed), 0);
  rig->station->ResumeTest();

  CSptCTEConfigT56 dialog(*access);
  ASSERT_TRUE(dialog.ReadSucceeded());
  EXPECT_TRUE(station::WaitUntil([&] { return rig->station->TestRunning(); })) << "resumed after the read";
  EXPECT_EQ(dialog.Image(), seed);
  EXPECT_FALSE(Control<QCheckBox>(dialog, "1062")->isChecked());
  EXPECT_FALSE(Control<QCheckBox>(dialog, "1063")->isEnabled());
  EXPECT_FALSE(Control<QRadioButton>(dialog, "1068")->isChecked());
  EXPECT_FALSE(Control<QRadioButton>(dialog, "1069")->isChecked());
  EXPECT_EQ(Control<QLineEdit>(dialog, "1072")->text(), QString::number(seed[39]));
  EXPECT_EQ(Control<QLineEdit>(dialog, "1076")->text(), QString::number(seed[43])) << "left of \"*\": high byte";
  EXPECT_EQ(Control<QLineEdit>(dialog, "1075")->text(), QString::number(seed[42]));
  EXPECT_EQ(Control<QPlainTextEdit>(dialog, "1066")->toPlainText().count(QLatin1Char(',')), 31);

  Control<QPushButton>(dialog, "1")->click();  // "应用并关闭窗体"
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  std::vector<std::uint8_t> expected(seed.begin(), seed.end());
  expected[1] = expected[2] = expected[38] = 1;  // the check boxes' bytes become 0 or 1
  EXPECT_EQ(Box(56, 50), expected) << "byte 35 keeps the 32nd delay";
  EXPECT_TRUE(station::WaitUntil([&] { return rig->station->TestRunning(); }));
  EXPECT_TRUE(messages.texts.isEmpty()) << messages.texts.join('|').toStdString();
}

TEST_F(GainOnTheBox, ShieldlessEditsApplyAndRefusalsWriteNothing) {
  CSptCTEConfigT56 dialog(*access);
  ASSERT_TRUE(dialog.ReadSucceeded());
  dialog.show();
  Control<QLineEdit>(dialog, "1072")->setText("300");  // "触摸偏压"
  Control<QLineEdit>(dialog, "1076")->setText("1");    // "Low Y 乘数" 1 * 0
  Control<QLineEdit>(dialog, "1075")->setText("0");
  Control<QRadioButton>(dialog, "1069")->setChecked(true);  // "与"
  auto* delays = Control<QPlainTextEdit>(dialog, "1066");
  delays->setPlainText(delays->toPlainText().replace(QStringLiteral("000"), QStringLiteral("  9")));
  Control<QPushButton>(dialog, "3")->click();  // "应用": stays open
  EXPECT_TRUE(dialog.isVisible());
  std::vector<std::uint8_t> bytes = Box(56, 50);
  EXPECT_EQ(bytes[39], 44);
  EXPECT_EQ(bytes[42], 0);
  EXPECT_EQ(bytes[43], 1);
  EXPECT_EQ(bytes[36], 3);
  EXPECT_TRUE(std::all_of(bytes.begin() + 4, bytes.begin() + 36, [](std::uint8_t b) { return b == 9; }));
  Render(dialog, "gain_t56.png");

  // A field that is not a number, a delay text short of 32 values: named, nothing written,
  // the dialog stays open.
  const auto backups = rig->box->BackupCount();
  Control<QLineEdit>(dialog, "1072")->setText("3OO");
  Control<QPushButton>(dialog, "1")->click();
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(messages.texts.size(), 1);
  EXPECT_EQ(messages.texts.back(), "“触摸偏压”不是有效的数字。");
  Control<QLineEdit>(dialog, "1072")->setText("300");
  QString text = delays->toPlainText();
  delays->setPlainText(text.left(text.lastIndexOf(QLatin1Char(','))));
  Control<QLineEdit>(dialog, "1075")->setText("7");
  Control<QPushButton>(dialog, "3")->click();
  ASSERT_EQ(messages.texts.size(), 2);
  EXPECT_EQ(messages.texts.back(), "“X 延时序列(每个数字对应一个X行数)”需要32个以逗号分隔的数字（第32个无效或缺少）。");
  EXPECT_EQ(Box(56, 50), bytes);
  EXPECT_EQ(rig->box->BackupCount(), backups);
  EXPECT_TRUE(dialog.isVisible());
  Control<QPushButton>(dialog, "2")->click();  // "取消"
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(Box(56, 50), bytes);
}

// ---- Over a fake station access: the controller's failures -------------------------------------

class FakeGain final : public service::GainAccess {
 public:
  int readResult = 0;
  int writeResult = 0;
  bool backup = true;
  std::vector<std::string> calls;

  int StopTestThread() override {
    calls.push_back("stop");
    return 0;
  }
  void ResumeTest() override { calls.push_back("resume"); }
  int ReadObject(std::uint8_t type, std::span<std::uint8_t> dest) override {
    calls.push_back("read " + std::to_string(type));
    if (readResult == 0) std::fill(dest.begin(), dest.end(), std::uint8_t{3});
    return readResult;
  }
  int WriteObject(std::uint8_t type, std::span<const std::uint8_t>) override {
    calls.push_back("write " + std::to_string(type));
    return writeResult;
  }
  bool BackupSettings() override {
    calls.push_back("backup");
    return backup;
  }
  int ResetController() override {
    calls.push_back("reset");
    return 0;
  }
};

using Calls = std::vector<std::string>;

TEST(GainDialogs, AFailedReadIsSaidAndNothingCanBeWritten) {
  testing::App();
  FakeGain gain;
  gain.readResult = 9;

  CSptCTEConfigT46 t46(gain, QIcon());
  EXPECT_FALSE(t46.ReadSucceeded());
  EXPECT_TRUE(Control<QLabel>(t46, "readError")->isVisibleTo(&t46));
  EXPECT_EQ(Control<QLabel>(t46, "readError")->text(), "读取T46失败（代码9），不能写入。");
  EXPECT_FALSE(Control<QPushButton>(t46, "1")->isEnabled());
  EXPECT_EQ(Control<QSlider>(t46, "1059")->value(), 0);
  Render(t46, "gain_t46_read_failed.png");
  t46.accept();  // as Enter would
  EXPECT_TRUE(t46.isVisible());
  Control<QPushButton>(t46, "2")->click();
  EXPECT_EQ(t46.result(), QDialog::Rejected);
  EXPECT_EQ(gain.calls, (Calls{"read 46"}));

  gain.calls.clear();
  CSptCTEConfigT56 t56(gain);
  EXPECT_FALSE(t56.ReadSucceeded());
  EXPECT_EQ(Control<QLabel>(t56, "readError")->text(), "读取T56失败（代码9），不能写入。");
  EXPECT_FALSE(Control<QPushButton>(t56, "1")->isEnabled());
  EXPECT_FALSE(Control<QPushButton>(t56, "3")->isEnabled());
  EXPECT_TRUE(Control<QPushButton>(t56, "2")->isEnabled());
  EXPECT_FALSE(t56.Apply());
  EXPECT_EQ(gain.calls, (Calls{"stop", "read 56", "resume"}));
}

TEST(GainDialogs, AFailedWriteOrBackupIsReportedAndNothingIsReset) {
  testing::App();
  Messages messages;
  FakeGain gain;
  int notices = 0;
  const auto okT46 = [&] {
    CSptCTEConfigT46 dialog(gain, QIcon());
    dialog.SetRestartNotice([&](const QString&, const QString&) { ++notices; });
    dialog.show();
    Control<QPushButton>(dialog, "1")->click();
    return dialog.result();
  };
  gain.writeResult = -1;
  EXPECT_EQ(okT46(), QDialog::Rejected) << "the command then resumes the test";
  EXPECT_EQ(gain.calls, (Calls{"read 46", "write 46"}));
  gain.calls.clear();
  gain.writeResult = 0;
  gain.backup = false;
  EXPECT_EQ(okT46(), QDialog::Rejected);
  EXPECT_EQ(gain.calls, (Calls{"read 46", "write 46", "backup"}));
  EXPECT_EQ(notices, 0);
  EXPECT_EQ(messages.texts, (QStringList{"写入T46失败（代码-1），设置未生效。",
                                         "T46已写入，但保存到控制器失败，断电后设置将丢失。"}));

  // T56: the message, the test resumed, the dialog open for another try.
  messages.texts.clear();
  gain.calls.clear();
  gain.backup = true;
  gain.writeResult = 2;
  CSptCTEConfigT56 dialog(gain);
  dialog.show();
  Control<QPushButton>(dialog, "1")->click();
  EXPECT_TRUE(dialog.isVisible());
  gain.writeResult = 0;
  gain.backup = false;
  EXPECT_FALSE(dialog.Apply());
  EXPECT_EQ(gain.calls, (Calls{"stop", "read 56", "resume", "stop", "write 56", "resume", "stop", "write 56", "backup",
                               "resume"}));
  EXPECT_EQ(messages.texts, (QStringList{"写入T56失败（代码2），设置未生效。",
                                         "T56已写入，但保存到控制器失败，断电后设置将丢失。"}));
}

}  // namespace
}  // namespace varnex2::tools
