// Setting a panel up through the station window on the simulated box: areas drawn with the
// mouse and confirmed in their dialog, marks, limits learnt from good panels, a set-up from the
// defaults, and what of it the box keeps over a restart of the station and of the box.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

#include "app/station_commands.h"
#include "app/station_window.h"
#include "device/controller_ops.h"
#include "device/panel_areas.h"
#include "dialogs/advanced_dlg.h"
#include "dialogs/group_setting.h"
#include "dialogs/message_box.h"
#include "platform/settings_file_store.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"
#include "station/station.h"

namespace varnex2::app {
namespace {

using namespace std::chrono_literals;
using judging::NodeFlag::HIGH;
using judging::NodeFlag::MASK;

QApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_setup_e2e";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Serves the window's events until `done` holds (false after `limit`).
bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
  return true;
}

QPushButton* Button(QWidget& dialog, const QString& text) {
  for (QPushButton* b : dialog.findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

// Answers the next modal dialog of type D with `act` when it shows.
template <class D>
void AnswerNext(std::function<void(D&)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    timer->stop();
    timer->deleteLater();
    act(*dialog);
  });
  timer->start();
}

// GroupSetting answered with these values and "确认".
void ConfirmArea(int upper, int lower, int gain, int* asked = nullptr) {
  AnswerNext<dialogs::GroupSetting>([=](dialogs::GroupSetting& d) {
    if (asked != nullptr) ++*asked;
    d.findChild<QLineEdit*>("upper")->setText(QString::number(upper));
    d.findChild<QLineEdit*>("lower")->setText(QString::number(lower));
    d.findChild<QLineEdit*>("gain")->setText(QString::number(gain));
    Button(d, QString::fromUtf8("确认"))->click();
  });
}

sim::PanelState GoodPanel() {
  sim::PanelState s;
  s.placed = true;
  return s;
}

class SetupThroughTheWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(dir.isValid());
    dialogs::SetMessageHook([this](const QString& text, station::MessageIcon) { messages.push_back(text); });
    StartBox();
    StartStation();
  }
  void TearDown() override {
    StopStation();
    box.reset();
    dialogs::SetMessageHook({});
  }

  // The box: its non-volatile store lives in the scratch folder, so a new box is the same box
  // switched off and on again.
  void StartBox() {
    sim::SimBoxOptions o;
    o.storePath = dir.filePath("box.nv").toStdString();
    o.resetDowntime = 50ms;
    box = std::make_shared<sim::SimBox>(o);
    box->SetPanel(GoodPanel());
  }

  void StartStation() {
    station::StationBackends b;
    b.usb = sim::CreateSimUsbPort(box);
    b.hid = sim::CreateSimHidPort(box);
    b.monitor = sim::CreateSimDeviceMonitor(box);
    b.settings = platform::CreateFileSettingsStore(dir.filePath("settings.ini").toStdString(), {});
    b.clock = station::CreateRealClock();
    station = std::make_unique<station::Station>(std::move(b));
    window = std::make_unique<CVarnex2Dlg>(station->Model());
    station->AttachView(*window);
    commands = std::make_unique<StationCommandsFor<station::Station>>(*station);
    window->AttachStation(commands.get());
    window->resize(1024, 768);
    window->show();
    station->Initialise();
    ASSERT_TRUE(WaitFrames(3)) << "the station tests";
  }

  void StopStation() {
    if (!station) return;
    station->Shutdown();
    window->AttachStation(nullptr);
    window.reset();
    commands.reset();
    station.reset();
  }

  void Restart(bool box_too) {
    StopStation();
    if (box_too) StartBox();
    StartStation();
  }

  bool WaitFrames(std::uint64_t n) {
    const std::uint64_t target = window->JudgedFrames() + n;
    return ServeUntil([&] { return window->JudgedFrames() >= target && station->TestRunning(); });
  }

  judging::NodeMap& Map() { return station->Model(); }
  judging::CColorGrid* Grid() { return window->Grid(); }

  QPoint Centre(int col, int row) {
    Grid()->repaint();
    std::lock_guard lock(Map().Mutex());
    const judging::Rect r = Map().Cell(col, row).rcNode;
    return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  }

  // Presses on one node, moves to another and releases there, as the operator drags.
  void Drag(int col1, int row1, int col2, int row2) {
    QTest::mousePress(Grid(), Qt::LeftButton, Qt::NoModifier, Centre(col1, row1));
    QTest::mouseMove(Grid(), Centre(col2, row2));
    QTest::mouseRelease(Grid(), Qt::LeftButton, Qt::NoModifier, Centre(col2, row2));
  }

  void CtrlDoubleClick(int col, int row) {
    const QPoint at = Centre(col, row);
    QTest::mouseDClick(Grid(), Qt::LeftButton, Qt::ControlModifier, at);
  }

  // Both areas as the box's controller holds them.
  void ControllerAreas(device::AreaSettings& touch, device::AreaSettings& key) {
    station->StopTestThread();
    {
      auto turn = station->LockController();
      EXPECT_EQ(device::ReadPanelAreas(*station->Controller(), touch, key), 0);
    }
    station->ResumeTest();
  }

  std::string Verdict() {
    std::string text;
    ServeUntil([&] {
      text = Map().GetVerdictText();
      return !text.empty();
    });
    return text;
  }

  QTemporaryDir dir;
  std::shared_ptr<sim::SimBox> box;
  std::unique_ptr<station::Station> station;
  std::unique_ptr<CVarnex2Dlg> window;
  std::unique_ptr<StationCommandsFor<station::Station>> commands;
  std::vector<QString> messages;
};

TEST_F(SetupThroughTheWindow, AreasDrawnWithTheMouseReachTheControllerAndComeBack) {
  // The touch area: 40 Y lines by all 32 X lines, dragged from bottom-right to top-left.
  int asked = 0;
  ASSERT_TRUE(window->RunCommand(32780));
  EXPECT_FALSE(station->TestRunning()) << "stopped while the area is drawn";
  ConfirmArea(32000, 25000, 90, &asked);
  Drag(39, 31, 0, 0);
  ASSERT_TRUE(ServeUntil([&] { return asked == 1 && station->TestRunning(); }));
  device::AreaSettings touch, key;
  ControllerAreas(touch, key);
  EXPECT_EQ(touch.nXOrigin, 0);
  EXPECT_EQ(touch.nYOrigin, 0);
  EXPECT_EQ(touch.nXSize, 32);
  EXPECT_EQ(touch.nYSize, 40);
  EXPECT_EQ(touch.nGain, 90);
  EXPECT_EQ(touch.nThresUpper, 32000);
  EXPECT_EQ(touch.nThresLower, 25000);
  EXPECT_TRUE(messages.empty());

  // A 6 x 6 key area is refused and left disabled; testing goes on.
  ASSERT_TRUE(window->RunCommand(32781));
  ConfirmArea(28000, 19000, 96, &asked);
  Drag(42, 0, 47, 5);
  ASSERT_TRUE(ServeUntil([&] { return asked == 2 && station->TestRunning(); }));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].toStdString(), "按键数量总数不能大于32");
  ASSERT_EQ(Map().AreaCount(), 2);
  EXPECT_FALSE(Map().Areas()[1].bEnabled);
  ControllerAreas(touch, key);
  EXPECT_EQ(key.bEnable, 0);

  // A drag released outside the map opens nothing and testing resumes.
  ASSERT_TRUE(window->RunCommand(32781));
  QTest::mousePress(Grid(), Qt::LeftButton, Qt::NoModifier, Centre(42, 0));
  QTest::mouseRelease(Grid(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));  // the header corner
  EXPECT_TRUE(ServeUntil([&] { return station->TestRunning(); }));
  EXPECT_EQ(asked, 2);

  // The station and the box restart: the area and thresholds come back from the controller.
  Restart(true);
  const config::AreaParams back = station->PanelConfigCopy().touchArea;
  EXPECT_EQ(back.nXSize, 32);
  EXPECT_EQ(back.nYSize, 40);
  EXPECT_EQ(back.nThresUpper, 32000);
  EXPECT_EQ(back.nThresLower, 25000);
  EXPECT_EQ(Map().Columns(), 40);
  EXPECT_EQ(Map().TouchHigh(), 32000);
}

TEST_F(SetupThroughTheWindow, TwelveMarksAndNoMoreSurviveARestart) {
  for (int k = 0; k < 12; ++k) {
    CtrlDoubleClick(2 + k, 3);
    ASSERT_TRUE(ServeUntil([&] { return (Map().GetNodeFlags(2 + k, 3) & 0xF) == MASK && station->TestRunning(); }))
        << k;
  }
  EXPECT_TRUE(messages.empty());
  CtrlDoubleClick(20, 4);
  ASSERT_TRUE(ServeUntil([&] { return !messages.empty(); }));
  EXPECT_EQ(messages[0].toStdString(), "用户自定义Mark数量已经用完，最多只能标记12个Mark!");
  EXPECT_TRUE(ServeUntil([&] { return (Map().GetNodeFlags(20, 4) & 0xF) == judging::NodeFlag::TOUCH; }));

  Restart(true);
  int used = 0;
  for (const config::UserMark& m : station->PanelConfigCopy().marks) used += m.bEnable;
  EXPECT_EQ(used, 12);
  for (int k = 0; k < 12; ++k) EXPECT_EQ(Map().GetNodeFlags(2 + k, 3) & 0xF, MASK) << k;
  EXPECT_EQ(Map().GetNodeFlags(20, 4) & 0xF, judging::NodeFlag::TOUCH);
}

TEST_F(SetupThroughTheWindow, FromTheDefaultsToLearntLimitsThroughTheDialogsAlone) {
  // "恢复默认": the default thresholds fail every simulated panel.
  ASSERT_TRUE(window->RunCommand(32783));
  ASSERT_TRUE(WaitFrames(3));
  EXPECT_EQ(Verdict(), "FAIL");

  // Thresholds of the whole panel by a double click on a node (no area yet).
  int asked = 0;
  ConfirmArea(40000, 20000, 96, &asked);
  QTest::mouseDClick(Grid(), Qt::LeftButton, Qt::NoModifier, Centre(10, 10));
  ASSERT_TRUE(ServeUntil([&] { return asked == 1 && station->TestRunning(); }));
  ASSERT_TRUE(WaitFrames(3));
  EXPECT_EQ(Verdict(), "PASS");

  // Limits learnt from three good panels, 10 % around their average.
  int samples = 0;
  AnswerNext<dialogs::CAdvancedDlg>([&](dialogs::CAdvancedDlg& d) {
    for (int k = 0; k < 3; ++k) {
      d.findChild<QAbstractButton*>("sampleButton")->click();
      ++samples;
    }
    d.findChild<QLineEdit*>("percentEdit")->setText("10");
    d.findChild<QAbstractButton*>("computeButton")->click();
    d.findChild<QAbstractButton*>("okButton")->click();
  });
  ASSERT_TRUE(window->RunCommand(32797));
  EXPECT_EQ(samples, 3);
  EXPECT_EQ(station->TestModeFlags() & 0x3, 0x3u) << "sample-limit mode on";
  const config::SampleLimitSet learnt = station->PanelConfigCopy().sampleLimits;
  EXPECT_EQ(learnt.sampleFrames.Pages(), 3);
  EXPECT_EQ(learnt.nPercentX100, 1000);
  ASSERT_TRUE(WaitFrames(3));
  EXPECT_EQ(Verdict(), "PASS");

  // One node 4000 counts high: inside the thresholds, beyond its learnt limit.
  sim::PanelState high = GoodPanel();
  high.nodeFaults.push_back({5, 7, sim::NodeFaultType::High, learnt.rawAvg(7, 5) + 4000});
  box->SetPanel(high);
  ASSERT_TRUE(WaitFrames(4));
  EXPECT_EQ(Verdict(), "FAIL");
  EXPECT_NE(Map().GetNodeFlags(7, 5) & HIGH, 0) << "failed at that node";
  EXPECT_EQ(Map().GetNodeFlags(8, 5) & HIGH, 0);
}

}  // namespace
}  // namespace varnex2::app
