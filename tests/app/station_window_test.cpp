// The station window on the offscreen platform: menus and their rules, the
// status bar's panes, keys that must not close it and the statistics handlers.
// The core is a recording fake (station_window_fakes.h).
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QFile>
#include <QFontInfo>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "app/menu_ids.h"
#include "app/qt_translations.h"
#include "app/station_commands.h"
#include "app/qt_virtual_keys.h"
#include "app/station_window.h"
#include "dialogs/message_box.h"
#include "station/station.h"
#include "station_window_fakes.h"
#include "tools/about_dlg.h"
#include "tools/gain_t46_dlg.h"
#include "tools/gain_t56_dlg.h"
#include "tools/help_links.h"
#include "tools/own_version.h"

namespace varnex2::app {
namespace {

using testing_support::App;
using testing_support::FakeStation;

class StationWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    window = std::make_unique<CVarnex2Dlg>(model);
    window->resize(1280, 800);
  }

  QAction* Action(int id) {
    QAction* a = window->FindAction(id);
    EXPECT_NE(a, nullptr) << id;
    return a;
  }
  // Opens the menus the way the operator does: their aboutToShow updates them.
  void ShowMenus() {
    for (QAction* top : window->MainMenu()->actions()) emit top->menu()->aboutToShow();
    emit window->ContextMenu()->aboutToShow();
  }
  static QRgb Pixel(const QImage& image, QPoint p) { return image.pixel(p) & 0xFFFFFF; }

  judging::NodeMap model;
  std::unique_ptr<CVarnex2Dlg> window;
  FakeStation station;
};

TEST_F(StationWindowTest, MenusCarryTheirIdsAndTexts) {
  QStringList tops;
  for (QAction* top : window->MainMenu()->actions()) tops << top->text();
  EXPECT_EQ(tops, (QStringList{"文件(&F)", "编辑(&E）", "工具(&T)", "帮助(&H)"}));

  const std::vector<std::pair<int, QString>> items = {{32856, "打开文件(O&pen)"},
                                                      {32857, "保存文件(S&ave)"},
                                                      {32861, "最大最小值限定"},
                                                      {32797, "样本上下限比对设定(&A）"},
                                                      {32802, "使能样本上下限比对设定(&E)"},
                                                      {32851, "相邻点数据比较"},
                                                      {32853, "使能相邻点数据比较"},
                                                      {32806, "全局增益设定(&C)"},
                                                      {32837, "单层膜Sensor设定(&S)"},
                                                      {32822, "序号起始从1开始"},
                                                      {32906, "指示阈值设定"},
                                                      {32901, "使能"},
                                                      {32902, "反转"},
                                                      {32903, "使能"},
                                                      {32904, "反转"},
                                                      {32815, "扫描枪(&S)"},
                                                      {32794, "关于（&A）"},
                                                      {32804, "网址(&U)"},
                                                      {32808, "软件升级(P)"},
                                                      {32845, "基本操作视频教程"},
                                                      {32846, "连接方法视频教程"},
                                                      {32847, "样本比对功能视频教程"},
                                                      {32848, "相邻点比对功能视频教程"},
                                                      {32858, "固件恢复教程"},
                                                      {32780, "触摸屏区域设置(&T)"},
                                                      {32781, "按键区域设置(&K)"},
                                                      {32782, "定义标记区域(&M)"},
                                                      {32783, "恢复默认(&D)"},
                                                      {32790, "彩色"},
                                                      {32791, "单色"},
                                                      {32792, "文本"},
                                                      {32793, "背景"},
                                                      {32812, "抓取当前帧数据"},
                                                      {32863, "差值模式"},
                                                      {16, "关于 Varnex2(&A)..."}};
  for (const auto& [id, text] : items) {
    QAction* a = Action(id);
    if (a != nullptr) {
      EXPECT_EQ(a->text(), text) << id;
    }
  }
  // The buzzer items sit under "蜂鸣器", the lamp items under "指示灯".
  EXPECT_EQ(qobject_cast<QMenu*>(Action(32901)->parent())->title(), "蜂鸣器");
  EXPECT_EQ(qobject_cast<QMenu*>(Action(32904)->parent())->title(), "指示灯");
  EXPECT_EQ(qobject_cast<QMenu*>(Action(32792)->parent())->title(), "显示风格");
  // The context menu holds its own items only.
  for (QAction* a : window->ContextMenu()->actions()) {
    const int id = a->data().toInt();
    EXPECT_TRUE(a->isSeparator() || a->menu() != nullptr || (id >= 32780 && id <= 32863)) << id;
  }
}

TEST_F(StationWindowTest, CheckMarksAndEnablingFollowTheStationWhenMenusOpen) {
  window->AttachStation(&station);
  station.modes = 0x1;
  ShowMenus();
  EXPECT_FALSE(Action(32782)->isEnabled());  // region marking needs adjacent-point mode
  EXPECT_FALSE(Action(32802)->isChecked());
  EXPECT_FALSE(Action(32853)->isChecked());
  EXPECT_TRUE(Action(32790)->isChecked());
  EXPECT_FALSE(Action(32863)->isChecked());

  station.modes = 0x1 | 0x2 | 0x4;
  station.style = 3;
  station.diff = true;
  station.buzzer = 0x2;
  window->Grid()->Model().SetLineNumberBase(1);
  window->Grid()->Model().SetScreenThresholdEnable(true);
  ShowMenus();
  EXPECT_TRUE(Action(32782)->isEnabled());
  EXPECT_TRUE(Action(32802)->isChecked());
  EXPECT_TRUE(Action(32853)->isChecked());
  EXPECT_FALSE(Action(32790)->isChecked());
  EXPECT_TRUE(Action(32793)->isChecked());
  EXPECT_TRUE(Action(32863)->isChecked());
  EXPECT_FALSE(Action(32901)->isChecked());
  EXPECT_TRUE(Action(32902)->isChecked());
  EXPECT_TRUE(Action(32822)->isChecked());
  EXPECT_TRUE(Action(32861)->isChecked());
}

TEST_F(StationWindowTest, UnknownCommandsDoNothingAndNoItemIsEnabledWithoutAHandler) {
  window->AttachStation(&station);
  EXPECT_FALSE(window->RunCommand(12345));  // no such command
  EXPECT_TRUE(station.calls.empty());
  // The max/min item shows the setting.
  window->Grid()->Model().SetScreenThresholdEnable(true);
  ShowMenus();
  EXPECT_TRUE(Action(32861)->isChecked());

  // Every command of the menus is either built or shown as not built: none is
  // enabled without a handler.
  for (QAction* a : window->findChildren<QAction*>()) {
    const int id = a->data().toInt();
    if (a->menu() || a->isSeparator() || id == 0) continue;
    // 32782 waits for the adjacent mode, About (32794) for the box.
    EXPECT_EQ(a->isEnabled() || id == 32782 || id == 32794, window->CommandBuilt(id)) << id;
  }
}

// Runs `act` on the modal dialog of type D once it is open; bounded, so a failing test cannot hang.
template <class D>
void WhenModal(std::function<void(D&)> act) {
  auto* poll = new QTimer;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  QObject::connect(poll, &QTimer::timeout, [poll, act, deadline] {
    if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget()); dialog != nullptr && dialog->isVisible()) {
      poll->stop();
      poll->deleteLater();
      act(*dialog);
    } else if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "no modal dialog opened";
      poll->stop();
      poll->deleteLater();
    }
  });
  poll->start(10);
}

TEST_F(StationWindowTest, GainCommandsSitInTheEditMenuAndBracketTheirDialogs) {
  EXPECT_EQ(qobject_cast<QMenu*>(Action(menu::kGlobalGain)->parent())->title(), "编辑(&E）");
  EXPECT_EQ(qobject_cast<QMenu*>(Action(menu::kShieldlessGain)->parent())->title(), "编辑(&E）");
  window->AttachStation(&station);
  ShowMenus();
  EXPECT_TRUE(Action(menu::kGlobalGain)->isEnabled());

  // 32806 cancelled: stopped 500 ms before the dialog, threshold mode on, resumed.
  using Calls = std::vector<std::string>;
  station.modes = 0x4;
  QElapsedTimer elapsed;
  WhenModal<tools::CSptCTEConfigT46>([&](tools::CSptCTEConfigT46& dialog) {
    EXPECT_GE(elapsed.elapsed(), 500);
    EXPECT_EQ(dialog.windowTitle(), "高阶增益设置");
    dialog.reject();
  });
  elapsed.start();
  EXPECT_TRUE(window->RunCommand(menu::kGlobalGain));
  EXPECT_EQ(station.calls, (Calls{"stop", "read T46", "resume"}));
  EXPECT_EQ(station.modes, 0x5u);

  // 32806 confirmed: written, backed up, reset; the test is left to the reconnection.
  station.calls.clear();
  station.modes = 0x4;
  WhenModal<tools::CSptCTEConfigT46>([](tools::CSptCTEConfigT46& dialog) {
    dialog.SetRestartNotice([](const QString&, const QString&) {});
    dialog.accept();
  });
  EXPECT_TRUE(window->RunCommand(menu::kGlobalGain));
  EXPECT_EQ(station.calls, (Calls{"stop", "read T46", "write T46", "backup", "stop", "reset"}));
  EXPECT_EQ(station.modes, 0x4u);

  // 32837: no stop of its own; the dialog stops and resumes around its read.
  station.calls.clear();
  WhenModal<tools::CSptCTEConfigT56>([&](tools::CSptCTEConfigT56& dialog) {
    EXPECT_EQ(station.calls, (Calls{"stop", "read T56", "resume"}));
    dialog.reject();
  });
  EXPECT_TRUE(window->RunCommand(menu::kShieldlessGain));
  EXPECT_EQ(station.calls, (Calls{"stop", "read T56", "resume"}));
}

TEST_F(StationWindowTest, AboutOpensOnlyWhileTheBoxIsConnected) {
  window->AttachStation(&station);
  station.firmware = std::make_pair(std::uint8_t{0x20}, std::uint8_t{0xAA});
  station.Settings().SetString(tools::kVendorKey, tools::kVendorCodeName, "ZRVT");
  EXPECT_FALSE(window->RunCommand(menu::kAbout));  // disconnected: nothing opens
  EXPECT_EQ(window->AboutWindow(), nullptr);

  station.connected = true;
  ShowMenus();
  EXPECT_TRUE(Action(menu::kAbout)->isEnabled());
  EXPECT_TRUE(window->RunCommand(menu::kAbout));
  tools::CAboutDlg* about = window->AboutWindow();
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(about->isVisible());
  EXPECT_FALSE(about->isModal());
  EXPECT_EQ(about->windowTitle(), "关于");
  EXPECT_EQ(about->findChild<QLineEdit*>("1018")->text(), "2.0.AA");
  EXPECT_EQ(about->findChild<QLineEdit*>("1021")->text(), tools::VersionText(tools::OwnVersion()));
  EXPECT_EQ(about->LogoPath(), ":/varnex2/logos/logo_zrvt.svg");
  QApplication::processEvents();
  EXPECT_TRUE(about->grab().save(QStringLiteral(VARNEX2_OUTPUT_DIR "/about_window.png")));
  about->findChild<QPushButton*>("1")->click();  // "已阅"
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(window->AboutWindow(), nullptr);

  // The window's system menu shows the same window modally, its fields left empty.
  QStringList fields;
  QTimer::singleShot(0, [&] {
    if (auto* dialog = qobject_cast<tools::CAboutDlg*>(QApplication::activeModalWidget())) {
      fields << dialog->findChild<QLineEdit*>("1018")->text() << dialog->findChild<QLineEdit*>("1021")->text();
      dialog->accept();
    }
  });
  EXPECT_TRUE(window->RunCommand(menu::kAboutBox));
  EXPECT_EQ(fields, (QStringList{"", ""}));
}

TEST_F(StationWindowTest, HelpEntriesVendorSiteAndUpdateCheck) {
  window->AttachStation(&station);
  std::vector<QUrl> opened;
  tools::SetUrlOpener([&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  QStringList messages;
  dialogs::SetMessageHook([&](const QString& text, MessageIcon) { messages << text; });

  for (int id : {menu::kVideoBasics, menu::kVideoConnect, menu::kVideoSample, menu::kVideoAdjacent,
                 menu::kFirmwareTutorial}) {
    EXPECT_TRUE(window->RunCommand(id)) << id;
  }
  ASSERT_EQ(opened.size(), 5u);
  for (const QUrl& url : opened) EXPECT_TRUE(QFile::exists(url.toLocalFile())) << url.toString().toStdString();
  EXPECT_EQ(opened[0].fragment(), "basics");
  EXPECT_EQ(opened[4].fragment(), "firmware");

  EXPECT_TRUE(window->RunCommand(menu::kWebSite));  // no vendor code
  EXPECT_EQ(messages, QStringList{"未设置有效的供应商或者该供应商没有有效的网站链接！"});
  station.Settings().SetString(tools::kVendorKey, tools::kVendorCodeName, "VNX2");
  EXPECT_TRUE(window->RunCommand(menu::kWebSite));
  ASSERT_EQ(opened.size(), 6u);
  EXPECT_EQ(opened[5].scheme(), "https");

  // No update server configured: said at once, the test cycle left alone.
  station.connected = true;
  messages.clear();
  EXPECT_TRUE(window->RunCommand(menu::kUpdate));
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages[0].contains("BaseUrl"));
  EXPECT_TRUE(station.calls.empty());

  tools::SetUrlOpener({});
  dialogs::SetMessageHook({});
}

TEST_F(StationWindowTest, LampItemsDoNothingAndShowNoCheckMark) {
  window->AttachStation(&station);
  for (int id : {32903, 32904}) {
    QAction* a = Action(id);
    EXPECT_TRUE(a->isEnabled()) << id;
    EXPECT_FALSE(a->isCheckable()) << id;
    a->trigger();
    a->trigger();
    EXPECT_FALSE(a->isChecked()) << id;
  }
  EXPECT_TRUE(station.calls.empty());
  EXPECT_EQ(station.buzzer, 0);
}

TEST_F(StationWindowTest, CommandsReachTheStationAndChecksShowItsState) {
  window->AttachStation(&station);
  Action(32901)->trigger();
  EXPECT_EQ(station.buzzer, 0x1);
  EXPECT_TRUE(Action(32901)->isChecked());
  Action(32902)->trigger();
  Action(32901)->trigger();
  EXPECT_EQ(station.buzzer, 0x2);
  EXPECT_FALSE(Action(32901)->isChecked());
  EXPECT_TRUE(Action(32902)->isChecked());

  Action(32853)->trigger();
  EXPECT_EQ(station.modes, 0x5u);
  Action(32802)->trigger();
  EXPECT_EQ(station.modes, 0x7u);
  Action(32863)->trigger();
  EXPECT_TRUE(station.diff);
  EXPECT_TRUE(Action(32863)->isChecked());

  // Display styles are radio items; the chosen one stays the only one checked.
  Action(32792)->trigger();
  EXPECT_EQ(station.style, 2);
  EXPECT_TRUE(Action(32792)->isChecked());
  EXPECT_FALSE(Action(32790)->isChecked());

  Action(32783)->trigger();
  Action(32822)->trigger();
  EXPECT_EQ(station.calls, (std::vector<std::string>{"style 2", "reset", "base"}));

  // Region marking: only in adjacent-point mode.
  station.modes = 0x1;
  window->RunCommand(32782);
  EXPECT_FALSE(window->Grid()->RegionSelect());
  station.modes = 0x5;
  window->RunCommand(32782);
  EXPECT_TRUE(window->Grid()->RegionSelect());
}

TEST_F(StationWindowTest, FileCommandsStopTheCycleBeforeTheDialogAndResumeOnCancel) {
  window->AttachStation(&station);
  std::vector<CVarnex2Dlg::FileRequest> asked;
  QString answer = "/tmp/p.xml";
  window->SetFileChooser([&](const CVarnex2Dlg::FileRequest& request) {
    asked.push_back(request);
    station.calls.push_back("dialog");
    return answer;
  });
  Action(32856)->trigger();
  Action(32857)->trigger();
  EXPECT_EQ(station.calls,
            (std::vector<std::string>{"stop", "dialog", "load /tmp/p.xml", "stop", "dialog", "save /tmp/p.xml"}));
  station.calls.clear();
  answer.clear();
  Action(32856)->trigger();
  Action(32857)->trigger();
  EXPECT_EQ(station.calls, (std::vector<std::string>{"stop", "dialog", "resume", "stop", "dialog", "resume"}));

  ASSERT_EQ(asked.size(), 4u);
  EXPECT_EQ(asked[0].id, 32856);
  EXPECT_FALSE(asked[0].save);
  EXPECT_EQ(asked[1].id, 32857);
  EXPECT_TRUE(asked[1].save);
  for (const auto& request : asked) {
    EXPECT_EQ(request.filter, "配置文件(*.xml)");
    EXPECT_EQ(request.defaultSuffix, "xml");
  }
}

TEST_F(StationWindowTest, CaptureCopiesTheFrameBeforeItsDialog) {
  window->AttachStation(&station);
  CVarnex2Dlg::FileRequest asked;
  QString answer = "/tmp/frames.csv";
  window->SetFileChooser([&](const CVarnex2Dlg::FileRequest& request) {
    asked = request;
    station.calls.push_back("dialog");
    station.frame = "9,9,9\n";  // the cycle goes on while the dialog is open
    return answer;
  });
  Action(32812)->trigger();
  // The cycle is not stopped, and the file gets the frame of the moment of the click.
  EXPECT_EQ(station.calls, (std::vector<std::string>{"snapshot", "dialog", "write /tmp/frames.csv: 1,2,3\n"}));
  EXPECT_TRUE(asked.save);
  EXPECT_EQ(asked.filter, "数据文件(*.csv)");
  EXPECT_EQ(asked.defaultSuffix, "csv");

  station.calls.clear();
  answer.clear();
  Action(32812)->trigger();
  EXPECT_EQ(station.calls, (std::vector<std::string>{"snapshot", "dialog"}));  // cancelled: nothing written
}

TEST_F(StationWindowTest, ANameWithoutExtensionGetsTheDefaultOne) {
  window->AttachStation(&station);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QString answer;
  window->SetFileChooser([&](const CVarnex2Dlg::FileRequest&) { return answer; });
  const auto last = [&] { return station.calls.back(); };
  const std::string d = dir.path().toStdString();

  answer = dir.filePath("frames");
  window->RunCommand(32812);
  EXPECT_EQ(last(), "write " + d + "/frames.csv: 1,2,3\n");
  answer = dir.filePath("panel");
  window->RunCommand(32857);
  EXPECT_EQ(last(), "save " + d + "/panel.xml");
  answer = dir.filePath("panel.");
  window->RunCommand(32857);
  EXPECT_EQ(last(), "save " + d + "/panel.xml");
  // A name with an extension keeps it.
  answer = dir.filePath("panel.bak");
  window->RunCommand(32857);
  EXPECT_EQ(last(), "save " + d + "/panel.bak");
  answer = dir.filePath("frames.txt");
  window->RunCommand(32812);
  EXPECT_EQ(last(), "write " + d + "/frames.txt: 1,2,3\n");
  // Opening: the default extension, unless the name exists as typed.
  answer = dir.filePath("panel");
  window->RunCommand(32856);
  EXPECT_EQ(last(), "load " + d + "/panel.xml");
  QFile plain(dir.filePath("plain"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  answer = dir.filePath("plain");
  window->RunCommand(32856);
  EXPECT_EQ(last(), "load " + d + "/plain");
}

// The real station core under the window: the capture file holds the counts of
// the moment the command was chosen, not those of a frame judged while its
// dialog was open.
TEST_F(StationWindowTest, CaptureOfTheStationWritesTheFrameOfTheClick) {
  station::Station core(station::StationBackends{});
  CVarnex2Dlg view(core.Model());
  core.AttachView(view);
  StationCommandsFor<station::Station> commands(core);
  view.AttachStation(&commands);
  judging::NodeMap& map = core.Model();
  map.SetGridSize(3, 2);
  map.SetAllNodeFlags(judging::NodeFlag::TOUCH, judging::FlagOp::Set);
  map.FillValues(100);

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("capture.csv");
  qputenv("VARNEX2_MESSAGE_TIMEOUT_MS", "1");  // "保存成功！" closes by itself
  view.SetFileChooser([&](const CVarnex2Dlg::FileRequest&) {
    map.FillValues(7);  // a later frame arrives while the operator picks the file
    return file;
  });
  EXPECT_TRUE(view.RunCommand(32812));
  qunsetenv("VARNEX2_MESSAGE_TIMEOUT_MS");
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.readAll().toStdString(), "100,100,100\r\n100,100,100\r\n");
  view.AttachStation(nullptr);
}

TEST_F(StationWindowTest, CommandsWithoutAStationDoNothing) {
  int asked = 0;
  window->SetFileChooser([&](const CVarnex2Dlg::FileRequest&) {
    ++asked;
    return QString("/tmp/x");
  });
  for (QAction* a : window->findChildren<QAction*>()) {
    if (!a->menu() && !a->isSeparator()) a->trigger();
  }
  EXPECT_EQ(asked, 0);
}

TEST_F(StationWindowTest, DisconnectedLookClearsTheVerdictPane) {
  window->AttachStation(&station);
  judging::NodeMap& model = window->Grid()->Model();
  model.SetResultFlags(judging::ResultFlag::EVALUATION_SHOWN);
  model.FixVerdict();
  ASSERT_EQ(model.GetVerdictText(), "PASS");
  window->ShowStatusStats(1);
  CStatusBarEx* bar = window->StatusBar();
  ASSERT_EQ(bar->PaneAt(1).backColour, QColor(0, 128, 0));

  window->SetStatusPane(0, "设备未连接", kColourWhite, kColourGrey);
  window->EnableTopMenus(false);
  EXPECT_EQ(bar->PaneAt(1).text, "");
  EXPECT_EQ(bar->PaneAt(1).backColour, QColor(0x80, 0x80, 0x80));
}

TEST_F(StationWindowTest, WindowHasItsIcon) {
  const QIcon icon = window->windowIcon();
  ASSERT_FALSE(icon.isNull());
  for (int size : {16, 32, 64}) {
    const QImage image = icon.pixmap(size, size).toImage();
    ASSERT_FALSE(image.isNull()) << size;
    // The green check mark's disc near the lower right corner.
    const QColor c = image.pixelColor(size * 40 / 64, size * 50 / 64);
    EXPECT_GT(c.green(), 120) << size;
    EXPECT_LT(c.red(), 100) << size;
  }
}

TEST_F(StationWindowTest, DisconnectedLookGreysTheFirstThreeMenus) {
  window->EnableTopMenus(false);
  const QList<QAction*> tops = window->MainMenu()->actions();
  ASSERT_EQ(tops.size(), 4);
  EXPECT_FALSE(tops[0]->isEnabled());
  EXPECT_FALSE(tops[1]->isEnabled());
  EXPECT_FALSE(tops[2]->isEnabled());
  EXPECT_TRUE(tops[3]->isEnabled());
  window->EnableTopMenus(true);
  for (QAction* top : tops) EXPECT_TRUE(top->isEnabled());
}

TEST_F(StationWindowTest, StatusBarPanesAndLayout) {
  window->show();
  QCoreApplication::processEvents();
  CStatusBarEx* bar = window->StatusBar();
  EXPECT_EQ(bar->geometry(), QRect(0, window->height() - 30, window->width(), 30));
  const QRect grid = window->Grid()->geometry();
  EXPECT_EQ(grid.right(), window->width() - 3);  // width - 2
  EXPECT_EQ(grid.bottom(), window->height() - 31);
  EXPECT_EQ(grid.top(), window->MainMenu()->geometry().bottom() + 1);

  ASSERT_EQ(bar->PaneCount(), 3);
  EXPECT_EQ(bar->PaneAt(0).text, "设备未连接");
  EXPECT_EQ(bar->PaneRect(0), QRect(0, 0, 160, 30));
  EXPECT_EQ(bar->PaneRect(1), QRect(160, 0, 400, 30));
  EXPECT_EQ(bar->PaneRect(2), QRect(560, 0, window->width() - 560, 30));
  EXPECT_EQ(bar->PaneAt(2).text, "通用触摸屏测试系统");
  EXPECT_EQ(bar->PaneAt(2).align, Qt::AlignRight);
  // The stretching pane keeps its minimum width on a narrow window.
  bar->resize(600, 30);
  EXPECT_EQ(bar->PaneRect(2).width(), 100);

  window->SetStatusPane(0, "设备已连接", kColourWhite, kColourGreen);
  window->SetStatusPaneWidth(0, 200);
  EXPECT_EQ(bar->PaneRect(1).left(), 200);
  EXPECT_EQ(bar->PaneAt(0).backColour, QColor(0, 128, 0));
  window->SetStatusPane(7, "ignored", kColourWhite, kColourRed);  // no such pane

  bar->resize(900, 30);
  const QImage image = bar->grab().toImage();
  image.save(QDir(QStringLiteral(VARNEX2_OUTPUT_DIR)).filePath("status_bar.png"));
  EXPECT_EQ(Pixel(image, {2, 2}), 0x008000u);    // pane 0 green now
  EXPECT_EQ(Pixel(image, {203, 2}), 0x808080u);  // pane 1 grey
  EXPECT_EQ(Pixel(image, {895, 2}), 0x808080u);  // last pane grey
  // Some white text in every pane that has text; the text of the last pane
  // sits at its right edge.
  const auto whiteIn = [&](int x0, int x1) {
    int n = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = x0; x < x1; ++x) n += Pixel(image, {x, y}) == 0xFFFFFFu;
    return n;
  };
  EXPECT_GT(whiteIn(0, 200), 20);
  EXPECT_EQ(whiteIn(200, 600), 0);
  EXPECT_GT(whiteIn(750, 900), 20);
  EXPECT_EQ(whiteIn(600, 640), 0);
  // Latin text is drawn in the narrow face that stands in for "Arial Narrow".
  EXPECT_TRUE(QFontInfo(CStatusBarEx::PaneFont()).family().contains("Narrow"))
      << QFontInfo(CStatusBarEx::PaneFont()).family().toStdString();
}

TEST_F(StationWindowTest, BuzzerIndicatorSitsBetweenTheFixedPanesAndTheLast) {
  CStatusBarEx* bar = window->StatusBar();
  bar->resize(1000, 30);
  EXPECT_TRUE(bar->IndicatorRect().isNull());  // none until a box is simulated
  window->ShowBuzzerOutput(false);
  EXPECT_EQ(bar->IndicatorText(), "蜂鸣器 静");
  const QRect box = bar->IndicatorRect();
  EXPECT_EQ(box.left(), 560);
  EXPECT_EQ(bar->PaneRect(2).left(), box.right() + 1);
  EXPECT_EQ(bar->PaneRect(2).right(), 999);
  const QRgb quiet = Pixel(bar->grab().toImage(), box.topLeft() + QPoint(6, 6));
  window->ShowBuzzerOutput(true);
  EXPECT_EQ(bar->IndicatorText(), "蜂鸣器 响");
  const QRgb sounding = Pixel(bar->grab().toImage(), box.topLeft() + QPoint(6, 6));
  EXPECT_NE(quiet, sounding);
  EXPECT_EQ(sounding, 0xC00000u);
}

// Columns of pane `box` holding text pixels (white) in a rendered bar.
std::pair<int, int> TextExtent(const QImage& image, const QRect& box) {
  int first = -1, last = -1;
  for (int x = std::max(0, box.left()); x <= std::min(image.width() - 1, box.right()); ++x) {
    for (int y = 0; y < image.height(); ++y) {
      if ((image.pixel(x, y) & 0xFFFFFF) == 0xFFFFFFu) {
        if (first < 0) first = x;
        last = x;
        break;
      }
    }
  }
  return {first, last};
}

TEST_F(StationWindowTest, PanesGrowToTheirWholeTextAndNeverOverlap) {
  // The window's panes on a bar of their own, at the widths of the window.
  CStatusBarEx own;
  CStatusBarEx* bar = &own;
  bar->SetPanes(
      {{"设备已连接", 160, Qt::AlignCenter}, {"", 400, Qt::AlignCenter}, {"通用触摸屏测试系统", 100, Qt::AlignRight}});
  const auto quiet = [bar] { bar->SetIndicator("蜂鸣器 静", QColor(0xE0, 0xE0, 0xE0), QColor(0x50, 0x50, 0x50)); };
  // The statistics of a faulty panel, the widest the verdict pane shows.
  const QString faulty = "最大值=65057(NG) 最小值=0(NG) 最大-最小值=65057(NG) 均方差=24 ";
  const QString longer = "最大值=65535(NG) 最小值=-32768(NG) 最大-最小值=98303(NG) 均方差=12345(NG) ";
  int shot = 0;
  for (int barWidth : {1024, 1280, 1920}) {
    for (int verdictWidth : {400, 600}) {
      for (const QString& text : {faulty, longer}) {
        for (bool buzzer : {false, true}) {
          const std::string at = std::to_string(barWidth) + "/" + std::to_string(verdictWidth) + "/" +
                                 text.toStdString() + (buzzer ? "/buzzer" : "");
          bar->SetIndicator(QString(), Qt::white, Qt::black);
          if (buzzer) quiet();
          bar->SetPaneColours(0, Qt::white, QColor(0, 128, 0));
          bar->SetPaneWidth(1, verdictWidth);
          bar->SetPaneText(1, text);
          bar->SetPaneColours(1, Qt::white, QColor(128, 0, 0));
          bar->resize(barWidth, 30);

          // Side by side from the left edge, each at least its own width.
          const QRect p0 = bar->PaneRect(0), p1 = bar->PaneRect(1), p2 = bar->PaneRect(2);
          EXPECT_EQ(p0.left(), 0) << at;
          EXPECT_EQ(p1.left(), p0.right() + 1) << at;
          EXPECT_GE(p0.width(), 160) << at;
          EXPECT_GE(p1.width(), verdictWidth) << at;
          EXPECT_GE(p2.width(), 100) << at;
          EXPECT_GE(p1.width(), bar->TextWidth(text)) << at;
          const QRect ind = bar->IndicatorRect();
          if (buzzer) {
            EXPECT_EQ(ind.left(), p1.right() + 1) << at;
            EXPECT_EQ(p2.left(), ind.right() + 1) << at;
          } else {
            EXPECT_EQ(p2.left(), p1.right() + 1) << at;
          }
          EXPECT_GE(p2.right(), barWidth - 1) << at;

          // The verdict text is whole: its pixels keep clear of both edges of its pane.
          const QImage image = bar->grab().toImage();
          const auto [first, last] = TextExtent(image, p1);
          EXPECT_GT(first, p1.left()) << at;
          EXPECT_LT(last, p1.right() - 1) << at;
          // The last pane's text stays in its pane, and the indicator keeps its colour.
          if (p2.left() < barWidth) {
            const auto [first2, last2] = TextExtent(image, QRect(p1.right() + 1, 0, barWidth, 30));
            if (first2 >= 0) {
              EXPECT_GT(first2, p2.left()) << at;
              EXPECT_LT(last2, barWidth - 1) << at;
            }
          }
          if (buzzer) {
            EXPECT_EQ(Pixel(image, ind.topLeft() + QPoint(4, 5)), 0x505050u) << at;
          }
          if (barWidth == 1024 && buzzer) {
            image.save(
                QDir(QStringLiteral(VARNEX2_OUTPUT_DIR)).filePath(QString("status_bar_1024_%1.png").arg(shot++)));
          }
        }
      }
    }
  }
  // Where everything fits, the last pane shows its whole text too.
  bar->SetPaneWidth(1, 400);
  bar->SetPaneText(1, "");
  quiet();
  bar->resize(1024, 30);
  EXPECT_GE(bar->PaneRect(2).width(), bar->TextWidth("通用触摸屏测试系统"));
  EXPECT_GE(bar->sizeHint().width(), 160 + 400 + bar->IndicatorRect().width() + bar->TextWidth("通用触摸屏测试系统"));
}

TEST_F(StationWindowTest, QtOwnTextsAreChinese) {
  ASSERT_TRUE(InstallQtChineseTranslations(App())) << "Qt's translations (qt6-translations-l10n) are missing";
  QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), "取消");
  EXPECT_NE(QCoreApplication::translate("QFileDialog", "File &name:"), "File &name:");  // the file dialogs too
}

TEST_F(StationWindowTest, TitleStatisticsShowAndClear) {
  window->AttachStation(&station);
  window->SetTitle("Varnex2 - 设备已连接");
  window->ShowTitleStats(1);
  EXPECT_EQ(window->windowTitle(), "Varnex2 - 设备已连接        MAX:9000 MIN:100");
  window->ShowTitleStats(0);
  EXPECT_EQ(window->windowTitle(), "Varnex2 - 设备已连接");

  CVarnex2Dlg simulated(model, CVarnex2Dlg::Options{QStringLiteral("【模拟】")});
  simulated.AttachStation(&station);
  simulated.SetTitle("Varnex2 - 设备未连接");
  EXPECT_EQ(simulated.windowTitle(), "【模拟】Varnex2 - 设备未连接");
  simulated.ShowTitleStats(1);
  EXPECT_EQ(simulated.windowTitle(), "【模拟】Varnex2 - 设备未连接        MAX:9000 MIN:100");
  EXPECT_EQ(simulated.BaseTitle(), "Varnex2 - 设备未连接");
}

TEST_F(StationWindowTest, StatusStatisticsColourByVerdict) {
  window->AttachStation(&station);
  judging::NodeMap& model = window->Grid()->Model();
  CStatusBarEx* bar = window->StatusBar();
  const QColor grey(0x80, 0x80, 0x80);

  model.SetResultFlags(judging::ResultFlag::EVALUATION_SHOWN);
  model.FixVerdict();
  ASSERT_EQ(model.GetVerdictText(), "PASS");
  window->ShowStatusStats(0);  // nothing
  EXPECT_EQ(bar->PaneAt(1).text, "");
  EXPECT_EQ(bar->PaneAt(1).backColour, grey);

  window->ShowStatusStats(1);
  EXPECT_EQ(bar->PaneAt(1).text, "MAX:9000 MIN:100");
  EXPECT_EQ(bar->PaneAt(1).backColour, QColor(0, 128, 0));
  EXPECT_EQ(bar->PaneAt(1).textColour, QColor(255, 255, 255));

  model.SetResultFlags(judging::ResultFlag::EVALUATION_SHOWN | judging::ResultFlag::TOUCH_NG);
  model.FixVerdict();
  station.statistics = "FAIL stats";
  window->ShowStatusStats(1);
  EXPECT_EQ(bar->PaneAt(1).backColour, QColor(128, 0, 0));
  station.statistics = "changed";
  window->ShowStatusStats(0);
  EXPECT_EQ(bar->PaneAt(1).text, "FAIL stats");

  // A verdict that is neither: the text changes, the colours stay.
  model.SetResultFlags(judging::ResultFlag::EVALUATION_SHOWN | judging::ResultFlag::SHORT_LINE_NOT_FOUND);
  model.FixVerdict();
  ASSERT_EQ(model.GetVerdictText(), "");
  station.statistics = "no verdict";
  window->ShowStatusStats(1);
  EXPECT_EQ(bar->PaneAt(1).text, "no verdict");
  EXPECT_EQ(bar->PaneAt(1).backColour, QColor(128, 0, 0));

  const QImage image = bar->grab().toImage();
  EXPECT_EQ(Pixel(image, {162, 2}), 0x800000u);
}

TEST_F(StationWindowTest, EnterEscapeAndSpaceDoNotCloseTheWindow) {
  window->show();
  window->activateWindow();
  QCoreApplication::processEvents();
  for (QWidget* target : {static_cast<QWidget*>(window.get()), static_cast<QWidget*>(window->Grid())}) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space}) {
      QTest::keyClick(target, key);
      QCoreApplication::processEvents();
      EXPECT_TRUE(window->isVisible()) << key;
    }
  }
  EXPECT_TRUE(station.calls.empty());
  window->close();
  EXPECT_FALSE(window->isVisible());
}

TEST_F(StationWindowTest, WindowKeysAreSwallowedAfterTheKeyHookSawThem) {
  auto* edit = new QLineEdit(window.get());  // any child with keyboard input
  window->show();
  edit->setFocus();
  std::vector<int> seen;
  window->SetKeyHook([&](const QKeyEvent& key) { seen.push_back(key.key()); });
  QTest::keyClicks(edit, "a b");
  QTest::keyClick(edit, Qt::Key_Return);
  QTest::keyClick(edit, Qt::Key_Tab);
  EXPECT_EQ(edit->text(), "ab");  // the space never reached the child
  EXPECT_EQ(seen, (std::vector<int>{Qt::Key_A, Qt::Key_Space, Qt::Key_B, Qt::Key_Return, Qt::Key_Tab}));

  // Another top-level window (a dialog) keeps its keys.
  QLineEdit other;
  other.show();
  QTest::keyClicks(&other, "a b");
  EXPECT_EQ(other.text(), "a b");
}

TEST_F(StationWindowTest, ClosingShutsTheStationDown) {
  window->AttachStation(&station);
  window->show();
  window->close();
  EXPECT_EQ(station.calls, (std::vector<std::string>{"shutdown"}));
}

TEST_F(StationWindowTest, RendersTheWholeWindow) {
  window->AttachStation(&station);
  window->Grid()->Model().SetGridSize(52, 32);
  window->Grid()->Model().FillValues(20000);
  window->Grid()->Model().SetResultFlags(judging::ResultFlag::EVALUATION_SHOWN);
  window->show();
  QCoreApplication::processEvents();
  window->ShowStatusStats(1);
  window->SetStatusPane(0, "设备已连接", kColourWhite, kColourGrey);
  const QImage image = window->grab().toImage();
  EXPECT_TRUE(image.save(QDir(QStringLiteral(VARNEX2_OUTPUT_DIR)).filePath("station_window.png")));
  EXPECT_EQ(image.size(), window->size() * image.devicePixelRatio());

  // The menus as the operator sees them (items not built yet greyed).
  const QDir out(QStringLiteral(VARNEX2_OUTPUT_DIR));
  int n = 0;
  for (QAction* top : window->MainMenu()->actions()) {
    QMenu* menu = top->menu();
    emit menu->aboutToShow();
    menu->adjustSize();
    EXPECT_TRUE(menu->grab().save(out.filePath(QString("menu_%1.png").arg(n++))));
  }
  emit window->ContextMenu()->aboutToShow();
  window->ContextMenu()->adjustSize();
  EXPECT_TRUE(window->ContextMenu()->grab().save(out.filePath("context_menu.png")));
}

}  // namespace
}  // namespace varnex2::app

namespace varnex2::app {
namespace {

// Closes the next modal dialog with its reject button, once it shows.
void CancelNextDialog() {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    timer->stop();
    timer->deleteLater();
    dialog->reject();
  });
  timer->start();
}

// The set-up commands and the node map's notifications, against the recording core.
class StationWindowSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    window = std::make_unique<CVarnex2Dlg>(model);
    window->AttachStation(&station);
    dialogs::SetMessageHook([this](const QString& text, MessageIcon) { messages.push_back(text.toStdString()); });
  }
  void TearDown() override {
    dialogs::SetMessageHook({});
    window->AttachStation(nullptr);
  }
  std::vector<std::string> Calls() { return station.calls; }
  void Serve() {
    for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  }

  judging::NodeMap model;
  testing_support::FakeStation station;
  std::unique_ptr<CVarnex2Dlg> window;
  std::vector<std::string> messages;
};

TEST_F(StationWindowSetupTest, AreaCommandsStopTestingUntilTheDragEnds) {
  // No touch area yet: the key area is refused and testing resumes at once.
  EXPECT_TRUE(window->RunCommand(32781));
  EXPECT_EQ(messages, std::vector<std::string>{"请您先设置触摸屏区域！"});
  EXPECT_EQ(Calls(), (std::vector<std::string>{"stop", "resume"}));

  // A drag released outside the map: no dialog, and testing resumes.
  station.calls.clear();
  EXPECT_TRUE(window->RunCommand(32780));
  EXPECT_TRUE(window->Grid()->EditState().bNewArea);
  emit window->Grid()->gridAreaDone(0, -1);
  Serve();
  EXPECT_EQ(Calls(), (std::vector<std::string>{"stop", "resume"}));

  // A drawn area goes to the core's procedure, which resumes by itself; a later stray
  // release resumes nothing.
  station.calls.clear();
  EXPECT_TRUE(window->RunCommand(32780));
  emit window->Grid()->gridAreaDone(1, 1);
  emit window->Grid()->gridAreaDone(0, -1);
  Serve();
  EXPECT_EQ(Calls(), (std::vector<std::string>{"stop", "area 1"}));

  // In adjacent mode the drag's end opens no area dialog and still resumes.
  station.calls.clear();
  station.modes = 0x5;
  EXPECT_TRUE(window->RunCommand(32780));
  emit window->Grid()->gridAreaDone(1, 1);
  Serve();
  EXPECT_EQ(Calls(), (std::vector<std::string>{"stop", "resume"}));
}

TEST_F(StationWindowSetupTest, DoubleClicksGoToTheProcedureOfTheMode) {
  const qintptr node = (7 << 8) | 5;  // row 7, column 5
  // The mode is the one at the time the (posted) notification is handled.
  for (const auto& [modes, area] : std::vector<std::pair<std::uint32_t, int>>{{0x1, 0}, {0x3, 0}, {0x7, -1}, {0x10, 0}}) {
    station.modes = modes;  // 0x10: the difference display only, nothing
    emit window->Grid()->gridNodeEdit(area, node);
    Serve();
  }
  // Ctrl+double click: the old flag byte and the area (0xFF: none) come in wParam.
  emit window->Grid()->gridNodeMark((0x1 << 8) | 0xFF, node);
  emit window->Grid()->gridNodeMark((0x4 << 8) | 0x01, node);
  Serve();
  EXPECT_EQ(Calls(), (std::vector<std::string>{"edit area 0", "edit limits 5,7", "edit percent -1 5,7",
                                               "mark 1 -1 5,7", "mark 4 1 5,7"}));
}

TEST_F(StationWindowSetupTest, RegionSelectionAndWholeMapPercentages) {
  station.modes = 0x5;
  ASSERT_TRUE(window->RunCommand(32782));
  EXPECT_TRUE(window->Grid()->RegionSelect());
  emit window->Grid()->gridAreaDone(0, -1);
  Serve();
  const judging::NodePos start = window->Grid()->SelectionStart();
  const judging::NodePos end = window->Grid()->SelectionEnd();
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(Calls()[0], "adjacent region " + std::to_string(start.col) + "," + std::to_string(start.row) + "-" +
                            std::to_string(end.col) + "," + std::to_string(end.row));
  EXPECT_FALSE(window->Grid()->SelectionShown());
  // Only one dialog per request.
  emit window->Grid()->gridAreaDone(0, -1);
  Serve();
  EXPECT_EQ(Calls().size(), 1u);
  ASSERT_TRUE(window->RunCommand(32851));
  EXPECT_EQ(Calls().back(), "adjacent all");
}

TEST_F(StationWindowSetupTest, LimitDialogsReportHowTheyClosed) {
  CancelNextDialog();
  ASSERT_TRUE(window->RunCommand(32861));
  EXPECT_EQ(Calls().back(), "screen cancel");

  // The placement dialog loads the stored values (created here) into the core when it opens.
  station.calls.clear();
  CancelNextDialog();
  ASSERT_TRUE(window->RunCommand(32906));
  EXPECT_EQ(Calls(), (std::vector<std::string>{"trigger 28000", "stable 3"}));

  station.calls.clear();
  CancelNextDialog();
  ASSERT_TRUE(window->RunCommand(32797));
  EXPECT_EQ(Calls(), (std::vector<std::string>{"stop", "samples cancel"}));
}

TEST_F(StationWindowSetupTest, ScannerDialogIsBracketedByStopAndResume) {
  // Cancelled or confirmed, the cycle resumes; the dialog lists the core's ports and
  // loads the live record (its counter from the store: 0).
  station.scannerSetting.Update([](scanner::ScannerSetting& s) { s.nCounterNum = 41; });
  CancelNextDialog();
  ASSERT_TRUE(window->RunCommand(32815));
  EXPECT_EQ(Calls(), (std::vector<std::string>{"stop", "resume"}));
  EXPECT_EQ(station.scannerSetting.Get().nCounterNum, 0);
}

TEST_F(StationWindowSetupTest, ForegroundKeysGoToTheCoreAsVirtualKeys) {
  window->show();
  station.calls.clear();
  QTest::keyClick(window.get(), Qt::Key_A, Qt::ShiftModifier);
  QTest::keyClick(window.get(), Qt::Key_1, Qt::KeypadModifier);
  QTest::keyClick(window.get(), Qt::Key_Exclam, Qt::ShiftModifier);
  QTest::keyClick(window.get(), Qt::Key_Return);
  // Shift is a key-down of its own (0x10), as on the desktop.
  EXPECT_EQ(Calls(), (std::vector<std::string>{"key 16", "key 65", "key 97", "key 16", "key 49", "key 13", "char 13"}));
  // A key the core consumes does not reach the window.
  station.consumeKeys = true;
  station.calls.clear();
  TypeIntoWindow(*window, QStringLiteral("7\r"));
  QTest::qWait(50);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"key 55", "key 13", "char 13"}));
  EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace varnex2::app
