// Test records through the station window on the simulated box: a barcode scanned by the
// keyboard scanner (key source), by the serial scanner (pseudo-terminal) and typed into the
// window in front each leaves its record with what the map showed; a record that cannot be
// written is told to the operator and not counted.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_virtual_keys.h"
#include "app/station_commands.h"
#include "app/station_window.h"
#include "dialogs/message_box.h"
#include "platform/settings_file_store.h"
#include "scanner/scanner_setting.h"
#include "scanner/serial/c_serial_port.h"
#include "sim/pty_scanner.h"
#include "sim/sim_box.h"
#include "sim/sim_key_source.h"
#include "sim/sim_ports.h"
#include "station/station.h"

namespace varnex2::app {
namespace {

using namespace std::chrono_literals;

QApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_records_e2e";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

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

// What the map showed when a record was written (the notice comes right after the write,
// on the same window-thread turn).
struct Snapshot {
  std::string notice;
  bool error = false;
  std::string verdict;
  std::string rawLines;  // as the record lays them out
};

class RecordingWindow final : public CVarnex2Dlg {
 public:
  using CVarnex2Dlg::CVarnex2Dlg;
  void ShowRecordNotice(const std::string& text, bool error) override {
    CVarnex2Dlg::ShowRecordNotice(text, error);
    Snapshot s;
    s.notice = text;
    s.error = error;
    judging::NodeMap& map = Grid()->Model();
    std::lock_guard lock(map.Mutex());
    s.verdict = map.GetVerdictText();
    for (int x = 0; x < map.Rows(); ++x) {
      for (int y = 0; y < map.Columns(); ++y) {
        const judging::GridCell& cell = map.Cell(y, x);
        if ((cell.nFlags & (judging::NodeFlag::TOUCH | judging::NodeFlag::KEY)) != 0 && cell.nRaw != 0)
          s.rawLines += std::to_string(cell.nRaw);
        s.rawLines += y + 1 < map.Columns() ? "," : " ";
      }
      s.rawLines += "\r\n";
    }
    snapshots.push_back(s);
  }
  std::vector<Snapshot> snapshots;
};

// The text of a record section: the line after its header.
std::string Section(const std::string& record, const std::string& header) {
  const std::size_t at = record.find(header + "\r\n");
  if (at == std::string::npos) return "<missing " + header + ">";
  const std::size_t start = at + header.size() + 2;
  return record.substr(start, record.find("\r\n", start) - start);
}

// The raw-data section's lines (up to the empty line that ends it).
std::string RawSection(const std::string& record) {
  const std::string header = "[测试原始采样数据]\r\n";
  const std::size_t at = record.find(header);
  if (at == std::string::npos) return {};
  const std::size_t start = at + header.size();
  return record.substr(start, record.find("\r\n\r\n", start) + 2 - start);
}

class RecordsThroughTheWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(dir.isValid());
    dialogs::SetMessageHook([this](const QString& text, station::MessageIcon) { messages.push_back(text); });
    sim::SimBoxOptions o;
    o.resetDowntime = 50ms;
    box = std::make_shared<sim::SimBox>(o);
    Place(false);
    ASSERT_EQ(pty.Open(), 0);
  }
  void TearDown() override {
    if (station) station->Shutdown();
    if (window) window->AttachStation(nullptr);
    window.reset();
    commands.reset();
    station.reset();
    box.reset();
    dialogs::SetMessageHook({});
  }

  void Place(bool shortLine) {
    sim::PanelState s;
    s.placed = true;
    box->SetPanel(s);
    box->ClearFaults();
    if (shortLine) box->AddShort(sim::LineShort{true, 4, 2});
  }

  // Settings stored before the station starts (the connection loads them).
  void Store(const std::function<void(scanner::ScannerSetting&)>& change) {
    auto store = Settings();
    scanner::ScannerSetting s;
    config::ScreenLevelSettings screen;
    std::int32_t gain = 0;
    scanner::LoadScannerSetting(*store, s, screen, gain);
    change(s);
    scanner::SaveScannerSetting(*store, s);
  }
  std::unique_ptr<platform::SettingsStore> Settings() {
    return platform::CreateFileSettingsStore(dir.filePath("settings.reg").toStdString(), {});
  }

  void StartStation() {
    station::StationBackends b;
    b.usb = sim::CreateSimUsbPort(box);
    b.hid = sim::CreateSimHidPort(box);
    b.monitor = sim::CreateSimDeviceMonitor(box);
    b.settings = Settings();
    b.clock = station::CreateRealClock();
    auto keySource = std::make_unique<sim::SimKeySource>();
    keys = keySource.get();
    b.keys = std::move(keySource);
    b.serial = std::make_unique<scanner::CSerialPort>(std::vector<std::string>{pty.SlavePath()});
    b.recordsDirectory = dir.filePath("Simulated").toStdString();
    station = std::make_unique<station::Station>(std::move(b));
    window = std::make_unique<RecordingWindow>(station->Model());
    station->AttachView(*window);
    commands = std::make_unique<StationCommandsFor<station::Station>>(*station);
    window->AttachStation(commands.get());
    window->resize(1024, 768);
    window->show();
    window->activateWindow();
    station->Initialise();
    ASSERT_TRUE(WaitFrames(3));
  }

  bool WaitFrames(std::uint64_t n) {
    const std::uint64_t target = window->JudgedFrames() + n;
    return ServeUntil([&] { return window->JudgedFrames() >= target && station->TestRunning(); });
  }
  // Until the verdict has been the same for enough frames to be stable (and its own record,
  // if any, is written).
  bool WaitStable(const std::string& verdict) {
    return ServeUntil([&] { return station->Model().GetVerdictText() == verdict; }) && WaitFrames(8);
  }
  bool WaitRecords(std::size_t n) {
    return ServeUntil([&] { return window->snapshots.size() >= n; }, 10s);
  }

  std::int32_t Counter() { return station->ScannerSettings().Get().nCounterNum; }

  QStringList RecordFiles() {
    return QDir(dir.filePath("Simulated/TestLog")).entryList(QDir::Files, QDir::Name);
  }
  std::string ReadRecord(const QString& name) {
    QFile f(dir.filePath("Simulated/TestLog/" + name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
  }
  // The record file whose counter section holds `counter`.
  std::string RecordNumbered(int counter) {
    for (const QString& name : RecordFiles())
      if (name.startsWith(QString::number(counter) + ".")) return ReadRecord(name);
    return {};
  }

  // The scan's record matches what the map showed when it was written.
  void ExpectScanRecord(int counter, const std::string& code, const Snapshot& shown) {
    const std::string record = RecordNumbered(counter);
    ASSERT_FALSE(record.empty()) << "no record " << counter;
    EXPECT_EQ(Section(record, "[测试计数序列]"), std::to_string(counter));
    EXPECT_EQ(Section(record, "[扫描枪数据]"), code);
    EXPECT_EQ(Section(record, "[测试结果]"), shown.verdict);
    EXPECT_EQ(RawSection(record), shown.rawLines);
    EXPECT_FALSE(shown.error);
  }

  QTemporaryDir dir;
  std::shared_ptr<sim::SimBox> box;
  sim::PtyScanner pty;
  sim::SimKeySource* keys = nullptr;
  std::unique_ptr<station::Station> station;
  std::unique_ptr<RecordingWindow> window;
  std::unique_ptr<StationCommandsFor<station::Station>> commands;
  QStringList messages;
};

TEST_F(RecordsThroughTheWindow, KeyboardScannerLeavesOneRecordPerPassingPanelWithItsCode) {
  StartStation();  // default settings: keyboard scanner, pattern \d{7}, PASS only, a file per record
  ASSERT_TRUE(WaitStable("PASS"));
  // The cycle's own record for the panel, once, when its verdict became stable.
  ASSERT_TRUE(WaitRecords(1));
  ASSERT_TRUE(WaitFrames(10));
  EXPECT_EQ(window->snapshots.size(), 1u) << "the cycle asks for one record per verdict, not per frame";
  EXPECT_EQ(Counter(), 1);

  keys->Type("2600101\r\n");
  ASSERT_TRUE(WaitRecords(2));
  ExpectScanRecord(1, "2600101", window->snapshots[1]);
  EXPECT_EQ(Counter(), 2);
  EXPECT_EQ(window->RecordBeeps(station::StationView::Sound::RecordWritten), 2);
  EXPECT_EQ(RecordFiles().size(), 2);
  EXPECT_TRUE(RecordFiles().at(1).endsWith(QString::fromUtf8(" 结果PASS.txt"))) << RecordFiles().at(1).toStdString();

  // A failing panel is not recorded by default: no file, no beep, the counter stands.
  Place(true);
  ASSERT_TRUE(WaitStable("FAIL"));
  keys->Type("2600102\r\n");
  ASSERT_TRUE(ServeUntil([&] { return keys->WaitIdle(0); }));
  ASSERT_TRUE(WaitFrames(3));
  EXPECT_EQ(window->snapshots.size(), 2u);
  EXPECT_EQ(Counter(), 2);
}

TEST_F(RecordsThroughTheWindow, SerialScannerRecordsTheChunkWithItsCode) {
  // The serial scanner, its index beyond the list: the last port (the pseudo-terminal) opens.
  Store([](scanner::ScannerSetting& s) {
    s.nConnectType = scanner::kConnectUsbSerial;
    s.nCOMNum = 99;
  });
  StartStation();
  ASSERT_TRUE(WaitStable("PASS"));
  ASSERT_TRUE(WaitRecords(1));
  ASSERT_TRUE(ServeUntil([&] { return station->ScannerSettings().Get().nCOMNum < 99; }));
  ASSERT_TRUE(pty.Send("2600103"));  // CR LF follows
  ASSERT_TRUE(WaitRecords(2));
  ExpectScanRecord(1, "2600103", window->snapshots[1]);
  EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(RecordsThroughTheWindow, ForegroundScannerRecordsKeysTypedIntoTheWindow) {
  Store([](scanner::ScannerSetting& s) { s.nHIDMode = scanner::kHidModeForeground; });
  StartStation();
  ASSERT_TRUE(WaitStable("PASS"));
  ASSERT_TRUE(WaitRecords(1));
  // The key source's keys are not the foreground path's: they collect nothing now.
  keys->Type("1111111\r\n");
  ASSERT_TRUE(ServeUntil([&] { return keys->WaitIdle(0); }));
  TypeIntoWindow(*window, QStringLiteral("2600104\r\n"));
  ASSERT_TRUE(WaitRecords(2));
  ExpectScanRecord(1, "2600104", window->snapshots[1]);
  EXPECT_TRUE(window->isVisible()) << "Enter never closes the window";
}

TEST_F(RecordsThroughTheWindow, RecordThatCannotBeWrittenIsToldAndNotCounted) {
  // A file where the records' folder should be: nothing can be written below it (root
  // ignores permissions, so a read-only folder would not stop this test's process).
  QDir().mkpath(dir.filePath("Simulated"));
  QFile blocker(dir.filePath("Simulated/TestLog"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  StartStation();
  ASSERT_TRUE(WaitStable("PASS"));
  ASSERT_TRUE(WaitRecords(1));
  keys->Type("2600105\r\n");
  ASSERT_TRUE(WaitRecords(2));
  for (const Snapshot& s : window->snapshots) {
    EXPECT_TRUE(s.error);
    EXPECT_NE(s.notice.find("TestLog"), std::string::npos) << s.notice;
  }
  EXPECT_TRUE(window->RecordNoticeIsError());
  EXPECT_EQ(window->RecordBeeps(station::StationView::Sound::RecordFailed), 2);
  EXPECT_EQ(window->RecordBeeps(station::StationView::Sound::RecordWritten), 0);
  EXPECT_EQ(Counter(), 0);
  // Once the folder can be written again, the next record is written and counted.
  ASSERT_TRUE(QFile::remove(dir.filePath("Simulated/TestLog")));
  keys->Type("2600106\r\n");
  ASSERT_TRUE(WaitRecords(3));
  ExpectScanRecord(0, "2600106", window->snapshots[2]);
  EXPECT_FALSE(window->RecordNoticeIsError());
  EXPECT_EQ(Counter(), 1);
}

}  // namespace
}  // namespace varnex2::app
