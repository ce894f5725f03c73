// The station program on the simulated production line for a minute, as the README's main
// command runs it: every scanned panel that passes leaves its record under
// Simulated/TestLog, by the keyboard scanner (default settings) and by the serial scanner.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/settings_file_store.h"
#include "scanner/scanner_setting.h"

namespace varnex2 {
namespace {

constexpr int kRunSeconds = 60;

QCoreApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_records_production";
  static char* argv[] = {arg0, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  return *app;
}

// One station run in its own scratch folder.
struct StationRun {
  QTemporaryDir dir;
  QProcess process;

  void Start() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VARNEX2_LOCK_FILE", dir.filePath("varnex2.lock"));
    env.insert("VARNEX2_CONFIG_DIR", dir.filePath("config"));
    env.insert("VARNEX2_MESSAGE_TIMEOUT_MS", "100");
    env.insert("HOME", dir.path());
    env.insert("XDG_RUNTIME_DIR", dir.path());
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(VARNEX2_STATION_BINARY),
                  {QStringLiteral("--simulate"), QStringLiteral("--quit-after=%1").arg(kRunSeconds)});
  }

  // The records, by file name.
  std::map<QString, std::string> Records() const {
    std::map<QString, std::string> out;
    const QDir logs(dir.filePath("Simulated/TestLog"));
    for (const QString& name : logs.entryList(QDir::Files, QDir::Name)) {
      QFile f(logs.filePath(name));
      if (f.open(QIODevice::ReadOnly)) out[name] = f.readAll().toStdString();
    }
    return out;
  }
};

std::string Section(const std::string& record, const std::string& header) {
  const std::size_t at = record.find(header + "\r\n");
  if (at == std::string::npos) return "<missing>";
  const std::size_t start = at + header.size() + 2;
  return record.substr(start, record.find("\r\n", start) - start);
}

// The production scenario scans 2600101 to 2600104 every 26 s; the first and the third panel
// pass. By default only passing panels are recorded: each scan of them leaves one record with
// its code, and each passing panel one record of the cycle's own (no code) when its verdict
// settles.
void ExpectProductionRecords(const StationRun& run, const char* path) {
  SCOPED_TRACE(path);
  const std::map<QString, std::string> records = run.Records();
  std::map<std::string, int> scanned;
  std::set<int> counters;
  int cycleRecords = 0;
  const QRegularExpression name(QString::fromUtf8(R"(^(\d+)\.TP-NEW888 时间\d{8}-\d{6} 结果PASS\.txt$)"));
  for (const auto& [file, record] : records) {
    const QRegularExpressionMatch m = name.match(file);
    ASSERT_TRUE(m.hasMatch()) << file.toStdString();
    const int counter = m.captured(1).toInt();
    EXPECT_TRUE(counters.insert(counter).second) << "counter " << counter << " twice";
    EXPECT_EQ(Section(record, "[测试计数序列]"), std::to_string(counter));
    EXPECT_EQ(Section(record, "[测试结果]"), "PASS");
    const std::string code = Section(record, "[扫描枪数据]");
    if (code.empty()) {
      ++cycleRecords;
    } else {
      ++scanned[code];
    }
    // The raw lines: one per X line, every node of the placed panel counted.
    const std::size_t raw = record.find("[测试原始采样数据]\r\n");
    ASSERT_NE(raw, std::string::npos);
    const std::string firstLine = record.substr(raw + 28, record.find("\r\n", raw + 28) - raw - 28);
    EXPECT_TRUE(QRegularExpression(R"(^(\d{5},)+\d{5} $)").match(QString::fromStdString(firstLine)).hasMatch())
        << firstLine;
    EXPECT_EQ(record.substr(record.size() - 90), std::string(88, '-') + "\r\n");
  }
  // Scans at 4, 30 and 56 s of the passing first panel, at 16 and 42 s of the third.
  EXPECT_EQ(scanned["2600101"], 3);
  EXPECT_EQ(scanned["2600103"], 2);
  EXPECT_EQ(scanned.size(), 2u) << "failing panels are not recorded by default";
  EXPECT_GE(cycleRecords, 4);
  EXPECT_LE(cycleRecords, 5);
  // The counters run from 0 without a gap.
  ASSERT_FALSE(counters.empty());
  EXPECT_EQ(*counters.begin(), 0);
  EXPECT_EQ(*counters.rbegin(), static_cast<int>(counters.size()) - 1);
}

TEST(ProductionLine, EveryScannedPassingPanelLeavesItsRecordByEitherScanner) {
  App();
  StationRun keyboard;
  StationRun serial;
  ASSERT_TRUE(keyboard.dir.isValid() && serial.dir.isValid());
  {
    // The serial scanner: its port index beyond the list takes the simulated scanner's port.
    QDir().mkpath(serial.dir.filePath("config"));
    auto store = platform::CreateFileSettingsStore(serial.dir.filePath("config/settings.reg").toStdString(), {});
    scanner::ScannerSetting s;
    s.nConnectType = scanner::kConnectUsbSerial;
    s.nCOMNum = 99;
    scanner::SaveScannerSetting(*store, s);
  }
  keyboard.Start();
  serial.Start();
  for (StationRun* run : {&keyboard, &serial}) {
    ASSERT_TRUE(run->process.waitForFinished((kRunSeconds + 60) * 1000));
    EXPECT_EQ(run->process.exitCode(), 0) << run->process.readAllStandardError().toStdString();
  }
  ExpectProductionRecords(keyboard, "keyboard scanner");
  ExpectProductionRecords(serial, "serial scanner");
}

}  // namespace
}  // namespace varnex2
