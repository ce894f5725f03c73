// The scanner settings dialog: what opening loads, creates and shows, the option handlers'
// immediate changes of the shared record, the connection pair and the port list, what OK
// stores and refuses, what Cancel leaves, and the file-name edit's token menu.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>

#include "config/reg_edit_class.h"
#include "dialogs/dialog_test_support.h"
#include "dialogs/scanner_setting_dlg.h"
#include "dialogs/user_menu_edit.h"
#include "platform/memory_settings_store.h"

namespace varnex2::dialogs {
namespace {

using namespace scanner;
using testing::ClickCancel;
using testing::ClickOk;
using testing::Find;
using testing::U;

const std::vector<std::string> kTwoPorts = {"ttyACM0", "ttyUSB0"};

// One stored value: a number or a text.
struct StoredValue {
  std::string_view key;
  std::string_view name;
  std::optional<std::int32_t> number;
  std::optional<std::string> text;
  friend bool operator==(const StoredValue&, const StoredValue&) = default;
};

class ScannerSettingDlgTest : public testing::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    store = platform::CreateMemorySettingsStore();
  }

  std::unique_ptr<CScannerSettingDlg> Open(std::vector<std::string> ports = kTwoPorts) {
    auto d = std::make_unique<CScannerSettingDlg>(
        live, *store, screen, gain, [this, ports] {
          ++portListings;
          return ports;
        });
    d->show();
    return d;
  }

  std::optional<std::string> Text(std::string_view key, std::string_view name) {
    std::string value;
    if (store->GetString(key, name, value, 4096) != platform::SettingsStatus::Ok) return std::nullopt;
    return value;
  }

  // The 21 stored values in the record's order, read back from the store.
  std::vector<StoredValue> StoredValues() {
    const auto n = [this](std::string_view key, std::string_view name) {
      return StoredValue{key, name, testing::Stored(*store, key, name), std::nullopt};
    };
    const auto t = [this](std::string_view key, std::string_view name) {
      return StoredValue{key, name, std::nullopt, Text(key, name)};
    };
    return {n(kRegKeyConnect, "Type"),
            n(kRegKeyConnect, "HIDMode"),
            n(kRegKeyConnect, "COMNum"),
            n(kRegKeyTrigger, "Type"),
            n(kRegKeyTrigger, "Flag"),
            t(kRegKeyTrigger, "TriggerString"),
            n(kRegKeyFileRecoder, "Type"),
            t(kRegKeyFileRecoder, "FilenameFormatString"),
            n(kRegKeyCounter, "Enable"),
            n(kRegKeyCounter, "CounterNum"),
            n(kRegKeyProductModel, "Enable"),
            t(kRegKeyProductModel, "ProductModel"),
            n(kRegKeyAttribute, "ScannerResult"),
            n(kRegKeyAttribute, "TestResult"),
            n(kRegKeyAttribute, "TestResultOnlyPass"),
            n(kRegKeyAttribute, "TestResultOnlyFail"),
            n(kRegKeyAttribute, "TestResultSummer"),
            n(kRegKeyAttribute, "TestRawdata"),
            n(kRegKeyAttribute, "TestTime"),
            n(kRegKeyAdditionalInfo, "Enable"),
            t(kRegKeyAdditionalInfo, "AdditionalInfo")};
  }

  // What the store holds after saving `s`.
  static std::vector<StoredValue> Expected(const ScannerSetting& s) {
    const auto n = [](std::string_view key, std::string_view name, std::int32_t v) {
      return StoredValue{key, name, v, std::nullopt};
    };
    const auto t = [](std::string_view key, std::string_view name, const std::string& v) {
      return StoredValue{key, name, std::nullopt, v};
    };
    return {n(kRegKeyConnect, "Type", s.nConnectType),
            n(kRegKeyConnect, "HIDMode", s.nHIDMode),
            n(kRegKeyConnect, "COMNum", s.nCOMNum),
            n(kRegKeyTrigger, "Type", s.nTriggerType),
            n(kRegKeyTrigger, "Flag", s.nTriggerFlag),
            t(kRegKeyTrigger, "TriggerString", s.strTriggerString),
            n(kRegKeyFileRecoder, "Type", s.nFileType),
            t(kRegKeyFileRecoder, "FilenameFormatString", s.strFilenameFormat),
            n(kRegKeyCounter, "Enable", s.bCounter),
            n(kRegKeyCounter, "CounterNum", s.nCounterNum),
            n(kRegKeyProductModel, "Enable", s.bProductModel),
            t(kRegKeyProductModel, "ProductModel", s.strProductModel),
            n(kRegKeyAttribute, "ScannerResult", s.bScannerResult),
            n(kRegKeyAttribute, "TestResult", s.bTestResult),
            n(kRegKeyAttribute, "TestResultOnlyPass", s.bTestResultOnlyPass),
            n(kRegKeyAttribute, "TestResultOnlyFail", s.bTestResultOnlyFail),
            n(kRegKeyAttribute, "TestResultSummer", s.bTestResultSummer),
            n(kRegKeyAttribute, "TestRawdata", s.bTestRawdata),
            n(kRegKeyAttribute, "TestTime", s.bTestTime),
            n(kRegKeyAdditionalInfo, "Enable", s.bAdditionalInfo),
            t(kRegKeyAdditionalInfo, "AdditionalInfo", s.strAdditionalInfo)};
  }

  std::unique_ptr<platform::SettingsStore> store;
  SharedScannerSetting live;
  config::ScreenLevelSettings screen;
  std::int32_t gain = -1;
  int portListings = 0;
};

TEST_F(ScannerSettingDlgTest, OpeningOnACleanStoreCreatesEveryValueAndShowsTheDefaults) {
  ScannerSetting stale;
  stale.nFileType = kFileDaily;
  stale.strProductModel = "unsaved";
  live.Set(stale);
  auto d = Open();
  const ScannerSetting defaults;
  EXPECT_EQ(StoredValues(), Expected(defaults));
  EXPECT_EQ(live.Get(), defaults);  // the unsaved live change is gone
  EXPECT_EQ(gain, testing::Stored(*store, config::kRegKeyDiffMode, "Gain"));
  EXPECT_EQ(screen.RawdataMax, testing::Stored(*store, config::kRegKeyScreenThreshold, "RawdataMax"));
  EXPECT_EQ(portListings, 1);

  EXPECT_EQ(d->windowTitle(), U("扫描枪设置"));
  QStringList groups;
  for (QGroupBox* g : d->findChildren<QGroupBox*>()) groups << g->title();
  EXPECT_EQ(groups, (QStringList{U("扫描枪接入方式"), U("测试触发方式"), U("文件记录方式"), U("文件记录格式")}));
  EXPECT_EQ(Find<QLabel>(*d, "notice")->text(),
            U("说明：此设置界面仅用于设置扫描枪启动自动存储测试结果的功能，如无必要请勿开启此功能。\n"
              "在键盘侦测模式下由于启用了全局键盘钩子技术，若杀毒软件报错，请关闭杀毒软件。"));
  EXPECT_EQ(testing::ButtonTexts(*d), (QStringList{"Cancel", "OK"}));

  // Every button: caption, checked, enabled.
  struct Button {
    const char* id;
    const char* text;
    bool checked;
    bool enabled;
  };
  for (const Button& b : {Button{"1087", "USB键盘(USB Keyboard)", true, true},
                          Button{"1088", "USB虚拟串口(USB COM)", false, true},
                          Button{"1071", "控制符方式", false, true},
                          Button{"1089", "回车换行 CRLF", true, false},
                          Button{"1090", "回车 CR", false, false},
                          Button{"1091", "制表符 TAB", false, false},
                          Button{"1092", "空格 SPACE", false, false},
                          Button{"1072", "文本格式比对方式(支持正则表达式)", true, true},
                          Button{"1073", "单一文件，追加测试结果存储至文件末尾。", false, true},
                          Button{"1074", "独立文件，文件名称按格式存储。", true, true},
                          Button{"1066", "测试计数", true, true},
                          Button{"1076", "测试产品型号", true, true},
                          Button{"1078", "扫描枪数据", true, true},
                          Button{"1080", "测试结果", true, true},
                          Button{"1081", "只保留PASS", true, true},
                          Button{"1082", "只保留FAIL", false, true},
                          Button{"1096", "测试简报", true, true},
                          Button{"1079", "测试原始采样数据", true, true},
                          Button{"1083", "测试时间（年月日-时分秒）", true, true},
                          Button{"1084", "其它自定义信息（操作员，工号等）", true, true}}) {
    auto* button = Find<QAbstractButton>(*d, b.id);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), U(b.text)) << b.id;
    EXPECT_EQ(button->isChecked(), b.checked) << b.id;
    EXPECT_EQ(button->isEnabled(), b.enabled) << b.id;
  }
  auto* hid = Find<QComboBox>(*d, "1086");
  EXPECT_EQ(hid->count(), 2);
  EXPECT_EQ(hid->itemText(0), U("键盘侦测"));
  EXPECT_EQ(hid->itemText(1), U("程序置顶有效"));
  EXPECT_EQ(hid->currentIndex(), 0);
  EXPECT_TRUE(hid->isEnabled());
  auto* port = Find<QComboBox>(*d, "1070");
  EXPECT_EQ(port->count(), 2);
  EXPECT_EQ(port->currentText(), "ttyACM0");
  EXPECT_FALSE(port->isEnabled());
  EXPECT_EQ(Find(*d, "1093")->text(), "\\d{7}");
  EXPECT_TRUE(Find(*d, "1093")->isEnabled());
  EXPECT_EQ(Find(*d, "1067")->text(), U("{测试计数}.{产品型号} 时间{测试时间} 结果{测试结果}"));
  EXPECT_TRUE(Find(*d, "1067")->isEnabled());
  EXPECT_EQ(Find(*d, "1094")->text(), "0");
  EXPECT_EQ(Find(*d, "1095")->text(), "TP-NEW888");
  auto* info = Find<QPlainTextEdit>(*d, "1085");
  EXPECT_EQ(info->toPlainText(), QString::fromUtf8(kDefaultAdditionalInfo).replace("\r\n", "\n"));
  EXPECT_EQ(info->blockCount(), 5);
  EXPECT_TRUE(messages.empty());
  testing::Snapshot(*d, "scanner_setting_dlg.png");
}

TEST_F(ScannerSettingDlgTest, ControlCharacterModeWarnsOnlyWithTheGlobalHook) {
  std::vector<MessageIcon> icons;
  SetMessageHook([&](const QString& text, MessageIcon icon) {
    messages.push_back(text);
    icons.push_back(icon);
  });
  auto d = Open();
  Find<QRadioButton>(*d, "1071")->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], U("警告:在键盘侦测模式下并启用控制符方式，会导致即使软件最小化，操作键盘会触发测试记录动作。\r\n"
                           "如无必要，建议设置为字符串匹配触发，或者程序置顶模式！"));
  EXPECT_EQ(icons[0], MessageIcon::Information);
  EXPECT_EQ(live.Get().nTriggerType, kTriggerControlChar);
  EXPECT_FALSE(Find<QRadioButton>(*d, "1072")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>(*d, "1090")->isEnabled());
  EXPECT_FALSE(Find(*d, "1093")->isEnabled());

  // The pattern mode never warns; the list's mode is taken by either radio.
  Find<QComboBox>(*d, "1086")->setCurrentIndex(1);
  Find<QRadioButton>(*d, "1072")->click();
  EXPECT_EQ(live.Get().nTriggerType, kTriggerPattern);
  EXPECT_EQ(live.Get().nHIDMode, kHidModeForeground);
  EXPECT_FALSE(Find<QCheckBox>(*d, "1089")->isEnabled());
  EXPECT_TRUE(Find(*d, "1093")->isEnabled());
  Find<QRadioButton>(*d, "1071")->click();
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(live.Get().nTriggerType, kTriggerControlChar);
  EXPECT_EQ(testing::Stored(*store, kRegKeyTrigger, "Type"), kTriggerPattern);  // saved only by OK
}

TEST_F(ScannerSettingDlgTest, ConnectionBoxesAreAPairAndRefillThePortList) {
  auto d = Open();
  auto* keyboard = Find<QCheckBox>(*d, "1087");
  auto* serial = Find<QCheckBox>(*d, "1088");
  auto* hid = Find<QComboBox>(*d, "1086");
  auto* port = Find<QComboBox>(*d, "1070");

  serial->click();
  EXPECT_FALSE(keyboard->isChecked());
  EXPECT_TRUE(serial->isChecked());
  EXPECT_EQ(live.Get().nConnectType, kConnectUsbSerial);
  EXPECT_FALSE(hid->isEnabled());
  EXPECT_TRUE(port->isEnabled());
  EXPECT_EQ(port->count(), 2);
  EXPECT_EQ(portListings, 2);

  serial->click();
  EXPECT_FALSE(keyboard->isChecked());
  EXPECT_FALSE(serial->isChecked());
  EXPECT_EQ(live.Get().nConnectType, kConnectNone);
  EXPECT_FALSE(hid->isEnabled());
  EXPECT_FALSE(port->isEnabled());

  keyboard->click();
  EXPECT_EQ(live.Get().nConnectType, kConnectUsbKeyboard);
  EXPECT_TRUE(hid->isEnabled());
  EXPECT_FALSE(port->isEnabled());

  // Neither box checked on OK keeps the type the clicks gave.
  keyboard->click();
  ClickOk(*d);
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(testing::Stored(*store, kRegKeyConnect, "Type"), kConnectNone);
}

TEST_F(ScannerSettingDlgTest, NoPortsLeaveTheListEmptyAndDisabled) {
  store->SetDword(kRegKeyConnect, "Type", kConnectUsbSerial);
  store->SetDword(kRegKeyConnect, "COMNum", 3);
  auto d = Open({});
  auto* port = Find<QComboBox>(*d, "1070");
  EXPECT_EQ(port->count(), 0);
  EXPECT_TRUE(port->currentText().isEmpty());
  EXPECT_FALSE(port->isEnabled());
  EXPECT_FALSE(Find<QComboBox>(*d, "1086")->isEnabled());
  Find<QCheckBox>(*d, "1088")->click();
  Find<QCheckBox>(*d, "1088")->click();
  EXPECT_FALSE(port->isEnabled());
  ClickOk(*d);
  EXPECT_EQ(testing::Stored(*store, kRegKeyConnect, "COMNum"), 3);  // kept without ports
}

TEST_F(ScannerSettingDlgTest, StoredPortIndexBeyondTheListSelectsTheLastPort) {
  store->SetDword(kRegKeyConnect, "Type", kConnectUsbSerial);
  store->SetDword(kRegKeyConnect, "COMNum", 4);
  auto d = Open();
  auto* port = Find<QComboBox>(*d, "1070");
  EXPECT_EQ(port->currentIndex(), 1);
  EXPECT_EQ(port->currentText(), "ttyUSB0");
  EXPECT_TRUE(port->isEnabled());
  EXPECT_EQ(live.Get().nCOMNum, 1);
  EXPECT_EQ(testing::Stored(*store, kRegKeyConnect, "COMNum"), 4);
  ClickOk(*d);
  EXPECT_EQ(testing::Stored(*store, kRegKeyConnect, "COMNum"), 1);
}

TEST_F(ScannerSettingDlgTest, CancelKeepsTheImmediateChangesUntilTheNextOpening) {
  {
    auto d = Open();
    Find<QRadioButton>(*d, "1073")->click();
    EXPECT_FALSE(Find(*d, "1067")->isEnabled());
    Find<QCheckBox>(*d, "1066")->click();
    EXPECT_FALSE(Find(*d, "1094")->isEnabled());
    Find<QCheckBox>(*d, "1082")->click();
    Find<QCheckBox>(*d, "1096")->click();  // taken only by OK
    Find<QCheckBox>(*d, "1084")->click();
    EXPECT_FALSE(Find<QPlainTextEdit>(*d, "1085")->isEnabled());
    Find(*d, "1095")->setText("X");  // taken only by OK
    ClickCancel(*d);
    EXPECT_EQ(d->result(), QDialog::Rejected);
  }
  ScannerSetting expected;
  expected.nFileType = kFileDaily;
  expected.bCounter = 0;
  expected.bTestResultOnlyFail = 1;
  expected.bAdditionalInfo = 0;
  EXPECT_EQ(live.Get(), expected);
  EXPECT_EQ(StoredValues(), Expected(ScannerSetting{}));

  auto again = Open();
  EXPECT_EQ(live.Get(), ScannerSetting{});
  EXPECT_TRUE(Find<QRadioButton>(*again, "1074")->isChecked());
}

TEST_F(ScannerSettingDlgTest, OkStoresEveryControl) {
  store->SetDword(kRegKeyCounter, "CounterNum", -1);
  auto d = Open({"ttyS0", "ttyS1", "ttyS2"});
  EXPECT_EQ(Find(*d, "1094")->text(), "4294967295");  // the counter reads as unsigned

  Find<QCheckBox>(*d, "1088")->click();
  Find<QComboBox>(*d, "1070")->setCurrentIndex(2);
  Find<QComboBox>(*d, "1086")->setCurrentIndex(1);
  Find<QRadioButton>(*d, "1071")->click();
  Find<QCheckBox>(*d, "1089")->click();
  Find<QCheckBox>(*d, "1090")->click();
  Find<QCheckBox>(*d, "1092")->click();
  Find(*d, "1093")->setText(U("^SN[0-9]{6}$"));
  Find(*d, "1067")->setText(U("{测试时间}_{扫描枪数据}"));
  Find<QCheckBox>(*d, "1076")->click();
  Find(*d, "1095")->setText(U("型号-A1"));
  for (const char* id : {"1078", "1080", "1081", "1082", "1096", "1079", "1083"}) Find<QCheckBox>(*d, id)->click();
  Find<QPlainTextEdit>(*d, "1085")->setPlainText(U("操作员：张三\n\n工号：1\n"));
  ClickOk(*d);
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(d->result(), QDialog::Accepted);
  EXPECT_TRUE(messages.empty());

  ScannerSetting expected;
  expected.nConnectType = kConnectUsbSerial;
  expected.nHIDMode = kHidModeForeground;
  expected.nCOMNum = 2;
  expected.nTriggerType = kTriggerControlChar;
  expected.nTriggerFlag = kTriggerFlagCr | kTriggerFlagSpace;
  expected.strTriggerString = "^SN[0-9]{6}$";
  expected.strFilenameFormat = "{测试时间}_{扫描枪数据}";
  expected.nCounterNum = -1;
  expected.bProductModel = 0;
  expected.strProductModel = "型号-A1";
  expected.bScannerResult = 0;
  expected.bTestResult = 0;
  expected.bTestResultOnlyPass = 0;
  expected.bTestResultOnlyFail = 1;
  expected.bTestResultSummer = 0;
  expected.bTestRawdata = 0;
  expected.bTestTime = 0;
  expected.strAdditionalInfo = "操作员：张三\r\n\r\n工号：1\r\n";
  EXPECT_EQ(StoredValues(), Expected(expected));
  EXPECT_EQ(live.Get(), expected);

  // A new counter text, and the custom text back in lines.
  auto again = Open({"ttyS0", "ttyS1", "ttyS2"});
  EXPECT_EQ(Find<QPlainTextEdit>(*again, "1085")->toPlainText(), U("操作员：张三\n\n工号：1\n"));
  EXPECT_EQ(Find<QComboBox>(*again, "1070")->currentIndex(), 2);
  Find(*again, "1094")->setText(" 2147483648 ");
  ClickOk(*again);
  EXPECT_EQ(testing::Stored(*store, kRegKeyCounter, "CounterNum"), INT32_MIN);
}

TEST_F(ScannerSettingDlgTest, OkRefusesABadCounterOrAnOverlongTextAndStaysOpen) {
  auto d = Open();
  Find(*d, "1095")->setText("changed");
  for (const char* counter : {"12a", "", "-1", "+1", "4294967296", "0x10", "99999999999999"}) {
    Find(*d, "1094")->setText(counter);
    ClickOk(*d);
    EXPECT_TRUE(d->isVisible()) << counter;
    ASSERT_EQ(messages.size(), 1u) << counter;
    EXPECT_EQ(messages[0], U("测试计数必须是0到4294967295之间的十进制数"));
    messages.clear();
  }
  EXPECT_EQ(StoredValues(), Expected(ScannerSetting{}));
  EXPECT_EQ(live.Get(), ScannerSetting{});

  // 254 bytes fit a one-line text; 1023 bytes, counting CR LF as two, the custom text.
  Find(*d, "1094")->setText("7");
  const QString model254 = QString(84, QChar(0x578B)) + "AB";  // 84 three-byte characters and two
  Find(*d, "1095")->setText(model254 + "C");
  ClickOk(*d);
  EXPECT_TRUE(d->isVisible());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].contains(U("测试产品型号"))) << messages[0].toStdString();
  EXPECT_TRUE(messages[0].contains("255")) << messages[0].toStdString();
  messages.clear();
  Find(*d, "1095")->setText(model254);
  Find<QPlainTextEdit>(*d, "1085")->setPlainText(QString(1021, u'a') + "\nb");
  ClickOk(*d);
  EXPECT_TRUE(d->isVisible());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].contains(U("其它自定义信息"))) << messages[0].toStdString();
  messages.clear();
  EXPECT_EQ(StoredValues(), Expected(ScannerSetting{}));

  Find<QPlainTextEdit>(*d, "1085")->setPlainText(QString(1020, u'a') + "\nb");
  ClickOk(*d);
  EXPECT_FALSE(d->isVisible());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(Text(kRegKeyProductModel, "ProductModel"), model254.toStdString());
  EXPECT_EQ(Text(kRegKeyAdditionalInfo, "AdditionalInfo"), std::string(1020, 'a') + "\r\nb");
  EXPECT_EQ(testing::Stored(*store, kRegKeyCounter, "CounterNum"), 7);
}

// Enter in the custom text makes a new line instead of confirming the dialog; every kind of
// line break is stored as CR LF.
TEST_F(ScannerSettingDlgTest, EnterInTheCustomTextMakesNewLines) {
  auto d = Open();
  auto* info = Find<QPlainTextEdit>(*d, "1085");
  info->setPlainText("a");
  info->setFocus();
  info->moveCursor(QTextCursor::End);
  QTest::keyClick(info, Qt::Key_Return);
  QTest::keyClicks(info, "b");
  QTest::keyClick(info, Qt::Key_Return, Qt::ShiftModifier);
  QTest::keyClicks(info, "c");
  EXPECT_TRUE(d->isVisible());
  info->insertPlainText(U("\r\nd\re"));  // as a paste of foreign line ends may bring them
  ClickOk(*d);
  EXPECT_FALSE(d->isVisible());
  EXPECT_EQ(Text(kRegKeyAdditionalInfo, "AdditionalInfo"), "a\r\nb\r\nc\r\nd\r\ne");
}

TEST_F(ScannerSettingDlgTest, TokenMenuInsertsAtTheCaretAndEdits) {
  auto d = Open();
  auto* edit = Find<CUserMenuEdit>(*d, "1067");
  const auto choose = [edit](const char* command) {
    std::unique_ptr<QMenu> menu(edit->CreateTokenMenu(nullptr));
    auto* action = menu->findChild<QAction*>(QString::fromLatin1(command));
    ASSERT_NE(action, nullptr) << command;
    ASSERT_TRUE(action->isEnabled()) << command;
    action->trigger();
  };
  {
    std::unique_ptr<QMenu> menu(edit->CreateTokenMenu(nullptr));
    QStringList items;
    for (QAction* a : menu->actions()) items << (a->isSeparator() ? QStringLiteral("-") : a->text() + "=" + a->objectName());
    EXPECT_EQ(items, (QStringList{U("{测试计数}=32830"), U("{产品型号}=32831"), U("{扫描枪数据}=32832"),
                                  U("{测试结果}=32833"), U("{测试时间}=32834"), "-", U("剪贴=32819"),
                                  U("复制=32820"), U("粘贴=32821"), U("清空=32822")}));
  }

  edit->setText("ab-cd");
  edit->setSelection(2, 1);  // "-"
  choose("32834");
  EXPECT_EQ(edit->text(), U("ab{测试时间}cd"));
  edit->setCursorPosition(0);
  choose("32830");
  EXPECT_EQ(edit->text(), U("{测试计数}ab{测试时间}cd"));
  // A caret inside a token puts the new token after it instead of splitting it.
  edit->setCursorPosition(3);
  choose("32831");
  EXPECT_EQ(edit->text(), U("{测试计数}{产品型号}ab{测试时间}cd"));

  edit->setSelection(0, 6);
  choose("32820");  // copy
  EXPECT_EQ(QApplication::clipboard()->text(), U("{测试计数}"));
  choose("32819");  // cut
  EXPECT_EQ(edit->text(), U("{产品型号}ab{测试时间}cd"));
  edit->end(false);
  choose("32821");  // paste
  EXPECT_EQ(edit->text(), U("{产品型号}ab{测试时间}cd{测试计数}"));
  choose("32822");  // clear
  EXPECT_TRUE(edit->text().isEmpty());
  ClickOk(*d);
  EXPECT_EQ(Text(kRegKeyFileRecoder, "FilenameFormatString"), std::string());
}

}  // namespace
}  // namespace varnex2::dialogs
