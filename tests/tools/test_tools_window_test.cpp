// The self-test window on the in-process simulated box: its title and map from the box, a whole
// run into the coloured report, the abort, and the box leaving and coming back while it is open.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <chrono>
#include <memory>
#include <thread>

#include "judging/widget/color_grid.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"
#include "tools/test_tools.h"
#include "tools_test_support.h"

namespace varnex2::tools {
namespace {

using namespace std::chrono_literals;

// Processes events until `done` holds or `ms` have passed.
template <typename F>
bool WaitFor(F done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(10);
  }
  return true;
}

class TestToolsWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    box = std::make_shared<sim::SimBox>();
    sim::PanelState s;
    s.placed = true;
    s.level = 16500;
    s.noise = 40;
    s.sweepInterval = 15ms;
    s.sweepStart = std::chrono::steady_clock::now();
    box->SetPanel(s);
    port = sim::CreateSimUsbPort(box);
    monitor = sim::CreateSimDeviceMonitor(box);
    connection = std::make_unique<service::ToolConnection>(*port);
  }
  void TearDown() override {
    window.reset();
    connection.reset();
  }

  void Open() {
    window = std::make_unique<CTestTools>(*connection, monitor.get());
    window->SetSequenceSleep([](std::chrono::milliseconds d) { std::this_thread::sleep_for(std::min(d, 5ms)); });
    window->show();
  }

  QString Report() const { return window->Report()->toPlainText(); }

  void Save(const char* name) {
    window->grab().save(QDir(QStringLiteral(VARNEX2_OUTPUT_DIR)).filePath(QString::fromLatin1(name)));
  }

  std::shared_ptr<sim::SimBox> box;
  std::unique_ptr<platform::UsbPort> port;
  std::unique_ptr<platform::DeviceMonitor> monitor;
  std::unique_ptr<service::ToolConnection> connection;
  std::unique_ptr<CTestTools> window;
};

TEST_F(TestToolsWindow, WholeRunFillsTheColouredReport) {
  Open();
  EXPECT_EQ(window->windowTitle().toStdString(), "Varnex2 Tester(FW=2.0[F=0xA2 V=0x00 B=0xAB]) - 设备已经连接");
  EXPECT_EQ(window->Model().Columns(), 52);
  EXPECT_EQ(window->Model().Rows(), 32);
  EXPECT_TRUE(window->StartButton()->isEnabled());
  EXPECT_FALSE(window->AbortButton()->isEnabled());

  window->StartButton()->click();
  ASSERT_TRUE(WaitFor([&] { return Report().contains(QStringLiteral("此块板子是好的，可以出货！")); }, 30000))
      << Report().toStdString();
  ASSERT_TRUE(WaitFor([&] { return window->StartButton()->isEnabled(); }, 2000));
  EXPECT_FALSE(window->AbortButton()->isEnabled());
  EXPECT_TRUE(Report().contains(QStringLiteral("6.rawdata读取测试:通过\n\n7.信号变化读取")));

  // Each piece in its own face, size and colour.
  QTextDocument* doc = window->Report()->document();
  auto formatAt = [&](const QString& text) {
    QTextCursor c = doc->find(text);
    EXPECT_FALSE(c.isNull()) << text.toStdString();
    return c.charFormat();
  };
  const QTextCharFormat release = formatAt(QStringLiteral("此块板子是好的"));
  EXPECT_EQ(release.fontWeight(), QFont::Bold);
  EXPECT_DOUBLE_EQ(release.fontPointSize(), 20.0);
  EXPECT_EQ(release.foreground().color(), QColor(100, 155, 100));
  const QTextCharFormat title = formatAt(QStringLiteral("1.USB测试（"));
  EXPECT_EQ(title.foreground().color(), QColor(100, 100, 200));
  EXPECT_DOUBLE_EQ(title.fontPointSize(), 10.0);
  EXPECT_TRUE(title.fontFamilies().toStringList().contains(QStringLiteral("Arial")));
  EXPECT_EQ(formatAt(QStringLiteral("[此次样品测试时间是")).foreground().color(), QColor(0, 0, 155));
  EXPECT_EQ(formatAt(QStringLiteral("1.USB测试:通过")).foreground().color(), QColor(100, 200, 100));
  Save("test_tools_passed.png");
}

TEST_F(TestToolsWindow, AbortInTheFingerStepAndTheBoxLeavingAndComingBack) {
  sim::PanelState s;
  s.placed = true;
  s.level = 16500;
  box->SetPanel(s);  // no finger: step 7 waits
  Open();
  window->FixtureBox()->setChecked(true);
  window->StartButton()->click();
  ASSERT_TRUE(WaitFor([&] { return Report().contains(QStringLiteral("7.信号变化读取（")); }, 30000));
  EXPECT_FALSE(window->StartButton()->isEnabled());
  EXPECT_TRUE(Report().contains(QStringLiteral("允许范围14000~19000")));
  window->AbortButton()->click();
  EXPECT_TRUE(Report().endsWith(QStringLiteral("\n\n强制取消测试！\n\n"))) << Report().toStdString();
  EXPECT_TRUE(window->StartButton()->isEnabled());
  EXPECT_FALSE(window->AbortButton()->isEnabled());
  EXPECT_FALSE(window->Worker().Running());
  Save("test_tools_aborted.png");

  box->Unplug(sim::BoxFunction::Controller);
  ASSERT_TRUE(WaitFor([&] { return window->windowTitle() == QStringLiteral("Varnex2 Tester - 未找到设备"); }, 5000));
  EXPECT_EQ(window->Model().Columns(), 0);
  EXPECT_TRUE(Report().isEmpty());
  EXPECT_TRUE(window->StartButton()->isEnabled());
  Save("test_tools_not_found.png");

  box->Plug(sim::BoxFunction::Controller);
  ASSERT_TRUE(WaitFor([&] { return window->windowTitle().endsWith(QStringLiteral("设备已经连接")); }, 10000))
      << window->windowTitle().toStdString();
  EXPECT_EQ(window->Model().Columns(), 52);
}

TEST_F(TestToolsWindow, WithoutABoxTheUsbStepFailsWithItsHints) {
  box->Unplug(sim::BoxFunction::Controller);
  Open();
  EXPECT_EQ(window->windowTitle().toStdString(), "Varnex2 Tester - 未找到设备");
  window->StartButton()->click();
  ASSERT_TRUE(WaitFor([&] { return Report().contains(QStringLiteral("->8：")); }, 10000)) << Report().toStdString();
  ASSERT_TRUE(WaitFor([&] { return window->StartButton()->isEnabled(); }, 2000));
  EXPECT_TRUE(Report().contains(QStringLiteral("1.USB测试:失败\n\n维修建议按检查优先顺序排列如下：\n->1：")));
  EXPECT_FALSE(Report().contains(QStringLiteral("2.IC")));
}

}  // namespace
}  // namespace varnex2::tools
