// The firmware-switch window on the offscreen platform over the simulated box: title, version
// text and enabling by firmware version, a switch and its message, the controller unplugged and
// plugged back while the window is open, and a monitor that does not start.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <vector>

#include "dialogs/message_box.h"
#include "recover_test_support.h"
#include "tools/recover_tools.h"
#include "tools_test_support.h"

namespace varnex2::tools {
namespace {

using testing::SimController;

struct Message {
  QString text;
  station::MessageIcon icon;
};

class RecoverWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::App();
    dialogs::SetMessageHook([this](const QString& text, station::MessageIcon icon) {
      messages.push_back({text, icon});
    });
  }
  void TearDown() override { dialogs::SetMessageHook({}); }

  static QLineEdit* Version(CRecoverTools& w) { return w.findChild<QLineEdit*>("1054"); }
  static QToolButton* OldButton(CRecoverTools& w) { return w.findChild<QToolButton*>("1055"); }
  static QToolButton* NewButton(CRecoverTools& w) { return w.findChild<QToolButton*>("1056"); }

  std::vector<Message> messages;
};

TEST_F(RecoverWindow, FirmwareBelow12SwitchesAndFollowsUnplugAndReplug) {
  SimController sim;
  ASSERT_EQ(sim.opened, 0);
  sim.connection.Close();  // the window opens it
  auto monitor = sim::CreateSimDeviceMonitor(sim.box);
  CRecoverTools window(sim.connection, monitor.get());
  window.SetSleep([](std::chrono::milliseconds) {});
  window.show();
  ASSERT_NE(Version(window), nullptr);
  ASSERT_NE(OldButton(window), nullptr);
  ASSERT_NE(NewButton(window), nullptr);
  const QString connectedTitle = "Varnex2 Tester(FW=1.1[F=0xA2 V=0x00 B=0xAA]) - 设备已经连接";
  const QString versionText = "固件版本1.1,Family=0xA2 Variant=0x00 Build=0xAA";
  EXPECT_EQ(window.windowTitle(), connectedTitle);
  EXPECT_EQ(Version(window)->text(), versionText);
  EXPECT_TRUE(Version(window)->isReadOnly());
  EXPECT_EQ(OldButton(window)->text(), "切换为老版本");
  EXPECT_EQ(NewButton(window)->text(), "切换为新版本");
  EXPECT_TRUE(OldButton(window)->isEnabled());
  EXPECT_TRUE(NewButton(window)->isEnabled());
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(window.grab().save(QStringLiteral(VARNEX2_OUTPUT_DIR "/recover_tools.png")));

  const std::uint64_t backups = sim.box->BackupCount();
  QTest::mouseClick(OldButton(window), Qt::LeftButton);
  ASSERT_EQ(messages.size(), 1U);
  EXPECT_EQ(messages[0].text, "初始化成功！");
  EXPECT_EQ(messages[0].icon, station::MessageIcon::Information);
  EXPECT_EQ(sim.box->BackupCount(), backups + 1);
  EXPECT_EQ(sim.Object(device::kT9Touchscreen, 9), (std::vector<std::uint8_t>{0x81, 0, 0, 32, 52, 0, 96, 255, 0}));

  sim.box->Unplug(sim::BoxFunction::Controller);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !NewButton(window)->isEnabled(); }, 5000));
  EXPECT_EQ(window.windowTitle(), "Varnex2 Tester - 未找到设备");
  EXPECT_EQ(Version(window)->text(), "");
  EXPECT_FALSE(OldButton(window)->isEnabled());
  EXPECT_TRUE(window.grab().save(QStringLiteral(VARNEX2_OUTPUT_DIR "/recover_tools_not_found.png")));

  sim.box->Plug(sim::BoxFunction::Controller);
  EXPECT_TRUE(QTest::qWaitFor([&] { return NewButton(window)->isEnabled(); }, 5000));
  EXPECT_EQ(window.windowTitle(), connectedTitle);
  EXPECT_EQ(Version(window)->text(), versionText);
  EXPECT_TRUE(OldButton(window)->isEnabled());
  // The window closes with the monitor still delivering: it stops it first.
  sim.box->Unplug(sim::BoxFunction::Controller);
}

class FailingMonitor : public platform::DeviceMonitor {
 public:
  int Start(platform::DeviceEventCallback) override { return -1; }
  void Stop() override { ++stops; }
  int stops = 0;
};

TEST_F(RecoverWindow, Firmware20OnlyNewAndAFailedSwitchIsReported) {
  SimController sim(sim::ControllerVariant{});  // firmware 2.0
  ASSERT_EQ(sim.opened, 0);
  FailingMonitor monitor;
  {
    CRecoverTools window(sim.connection, &monitor);
    window.SetSleep([](std::chrono::milliseconds) {});
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].text, "RegisterDeviceNotification   failed");
    EXPECT_EQ(messages[0].icon, station::MessageIcon::Warning);
    EXPECT_EQ(window.windowTitle(), "Varnex2 Tester(FW=2.0[F=0xA2 V=0x00 B=0xAB]) - 设备已经连接");
    EXPECT_FALSE(OldButton(window)->isEnabled());
    EXPECT_TRUE(NewButton(window)->isEnabled());

    // Without device notifications the window does not see the controller go; the switch does.
    sim.box->Unplug(sim::BoxFunction::Controller);
    QTest::mouseClick(NewButton(window), Qt::LeftButton);
    ASSERT_EQ(messages.size(), 2U);
    EXPECT_TRUE(messages[1].text.startsWith("切换失败：")) << messages[1].text.toStdString();
    EXPECT_EQ(messages[1].icon, station::MessageIcon::Error);
  }
  EXPECT_EQ(monitor.stops, 0);  // never started, never stopped
}

}  // namespace
}  // namespace varnex2::tools
