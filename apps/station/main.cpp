// varnex2: the station. One instance per user session; the command line chooses
// the station window or one of the service tools. --simulate runs the station on
// the in-process simulated box instead of the USB devices.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/message_box.h"
#include "app/qt_translations.h"
#include "app/qt_virtual_keys.h"
#include "app/window_texts.h"
#include "station/station.h"
#include "app/station_commands.h"
#include "app/station_window.h"
#include "platform/device_monitor.h"
#include "platform/hid_port.h"
#include "platform/settings_store.h"
#include "platform/usb_port.h"
#include "platform/key_source.h"
#include "scanner/scanner_setting.h"
#include "scanner/serial/c_serial_port.h"
#include "sim/pty_scanner.h"
#include "sim/sim_key_source.h"
#include "sim/scenario.h"
#include "sim/sim_box.h"
#include "sim/sim_ports.h"
#include "service/self_test.h"
#include "service/tool_connection.h"
#include "service/firmware_switch.h"
#include "tools/recover_tools.h"
#include "tools/test_tools.h"
#include "station_options.h"

namespace {

using namespace varnex2;

constexpr int kExitUnknownArgument = 2;
constexpr int kExitAlreadyRunning = 3;
// The unattended tools give 0..3 themselves; another instance running is 4 for them.
constexpr int kExitToolAlreadyRunning = 4;

// $VARNEX2_LOCK_FILE, else "varnex2.lock" in the user's runtime directory.
QString LockFilePath() {
  if (const char* path = std::getenv("VARNEX2_LOCK_FILE"); path != nullptr && *path != '\0') {
    return QString::fromLocal8Bit(path);
  }
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  return QDir(dir).filePath(QStringLiteral("varnex2.lock"));
}

// Resident and peak resident memory of this process, for unattended runs.
void PrintMemory() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr) {
    unsigned long kb = 0;
    if (std::sscanf(line, "VmRSS: %lu kB", &kb) == 1) std::printf("rss_kb=%lu\n", kb);
    if (std::sscanf(line, "VmHWM: %lu kB", &kb) == 1) std::printf("peak_rss_kb=%lu\n", kb);
  }
  std::fclose(status);
}

// The scenario --simulate names (`defaultName` when it names none). On failure `problem` says
// why, with the file's line when the text is at fault.
bool LoadSimulation(const station::StationOptions& options, const char* defaultName, sim::Scenario& scenario,
                    std::string& problem) {
  const std::string name = options.scenario.empty() ? std::string(defaultName) : options.scenario;
  sim::ScenarioError error;
  if (sim::LoadScenario(name, scenario, error)) return true;
  problem = "scenario " + name + ": ";
  if (error.line > 0) problem += "line " + std::to_string(error.line) + ": ";
  problem += error.message;
  return false;
}

int RunStation(QApplication& app, const station::StationOptions& options,
               std::chrono::steady_clock::time_point started) {
  sim::Scenario scenario;
  std::string problem;
  if (options.simulate && !LoadSimulation(options, "production", scenario, problem)) {
    app::ShowStationMessage(nullptr, QString::fromStdString(problem), station::MessageIcon::Error);
    return kExitUnknownArgument;
  }

  app::CVarnex2Dlg::Options windowOptions;
  if (options.simulate) {
    windowOptions.titlePrefix = QString::fromUtf8(app::texts::kSimulatedPrefix);
    // Records of simulated panels never go among those of real ones.
    windowOptions.recordsDirectory = QDir::current().filePath(QStringLiteral("Simulated"));
  }
  station::StationBackends backends;
  std::shared_ptr<sim::SimBox> box;
  sim::PtyScanner scanner;
  sim::SimKeySource* simKeys = nullptr;
  if (options.simulate) {
    sim::SimBoxOptions boxOptions;
    boxOptions.paced = true;  // a full-speed endpoint's pace, as a real box gives
    box = std::make_shared<sim::SimBox>(boxOptions);
    // The simulated scanner: a serial one on a pseudo-terminal (found under the same
    // variable as with varnex2-simbox, and listed as the last serial port) and a
    // keyboard-wedge one as the key source.
    std::vector<std::string> extraPorts;
    if (scanner.Open() == 0) {
      qputenv("VARNEX2_SIM_SCANNER_PORT", QByteArray::fromStdString(scanner.SlavePath()));
      extraPorts.push_back(scanner.SlavePath());
    }
    backends.serial = std::make_unique<scanner::CSerialPort>(extraPorts);
    auto keys = std::make_unique<sim::SimKeySource>();
    simKeys = keys.get();
    backends.keys = std::move(keys);
    backends.usb = sim::CreateSimUsbPort(box);
    backends.hid = sim::CreateSimHidPort(box);
    backends.monitor = sim::CreateSimDeviceMonitor(box);
  } else {
    backends.usb = platform::CreateLibusbPort();
    backends.hid = platform::CreateHidapiPort();
    backends.monitor = platform::CreateUdevMonitor();
    backends.serial = std::make_unique<scanner::CSerialPort>();
    backends.keys = platform::CreateEvdevKeySource();
  }
  backends.recordsDirectory = windowOptions.recordsDirectory.toStdString();
  backends.settings = platform::CreateFileSettingsStore(platform::DefaultSettingsFile());
  backends.clock = station::CreateRealClock();

  // The station owns the node map the window paints: it is built first and goes last.
  station::Station station(std::move(backends));
  app::CVarnex2Dlg window(station.Model(), windowOptions);
  station.AttachView(window);
  app::StationCommandsFor<station::Station> commands(station);
  window.AttachStation(&commands);
  if (box) {
    // A scenario's scanned code reaches the station by the path its settings choose.
    box->SetScanObserver([&station, &window, &scanner, simKeys](const std::string& code) {
      const scanner::ScannerSetting s = station.ScannerSettings().Get();
      if (s.nConnectType == scanner::kConnectUsbSerial) {
        scanner.Send(code, "");
      } else if (s.nConnectType == scanner::kConnectUsbKeyboard && s.nHIDMode == scanner::kHidModeGlobalHook) {
        if (simKeys != nullptr) simKeys->Type(code);
      } else if (s.nConnectType == scanner::kConnectUsbKeyboard) {
        app::TypeIntoWindow(window, QString::fromStdString(code));  // the station's window is in front
      }
    });
  }

  // The scenario runs on the box's own timeline thread from now on.
  if (box) box->RunScenario(scenario);

  QTimer buzzerTimer;
  if (box) {
    // The box's output as the fixture would sound it, polled from the model.
    window.ShowBuzzerOutput(box->Bridge().buzzerSounding);
    QObject::connect(&buzzerTimer, &QTimer::timeout, &window,
                     [&window, &box] { window.ShowBuzzerOutput(box->Bridge().buzzerSounding); });
    buzzerTimer.start(100);
  }

  station.Initialise();
  window.showMaximized();

  if (options.quitAfterSeconds > 0) {
    QTimer::singleShot(static_cast<int>(options.quitAfterSeconds * 1000), &window, [&window, &options] {
      if (!options.screenshot.empty()) window.grab().save(QString::fromStdString(options.screenshot));
      window.close();
    });
  }
  const int status = app.exec();
  buzzerTimer.stop();
  station.Shutdown();
  if (box) {
    box->StopScenario();
    box->SetScanObserver(nullptr);
  }

  if (options.quitAfterSeconds > 0) {
    std::printf("judged_frames=%llu\nlast_verdict=%s\ntitle=%s\nrecords_dir=%s\n",
                static_cast<unsigned long long>(window.JudgedFrames()), window.Grid()->Model().GetVerdictText().c_str(),
                window.windowTitle().toUtf8().constData(), window.RecordsDirectory().toUtf8().constData());
    if (window.JudgedFrames() > 0) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(window.FirstJudgedAt() - started);
      std::printf("first_frame_ms=%lld\n", static_cast<long long>(ms.count()));
      const auto last = std::chrono::duration_cast<std::chrono::milliseconds>(window.LastJudgedAt() - started);
      std::printf("last_frame_ms=%lld\n", static_cast<long long>(last.count()));
    }
    PrintMemory();
    std::fflush(stdout);
  }
  return status;
}

// The box a service tool works on: the USB devices, or the in-process simulated box running
// a scenario (the tool's default scenario unless one is named).
struct ToolBox {
  std::shared_ptr<sim::SimBox> box;
  std::unique_ptr<platform::UsbPort> usb;
  std::unique_ptr<platform::DeviceMonitor> monitor;

  ~ToolBox() {
    if (box) box->StopScenario();
  }
};

bool MakeToolBox(const station::StationOptions& options, const char* defaultScenario, ToolBox& out) {
  if (!options.simulate) {
    out.usb = platform::CreateLibusbPort();
    out.monitor = platform::CreateUdevMonitor();
    return true;
  }
  sim::Scenario scenario;
  std::string problem;
  if (!LoadSimulation(options, defaultScenario, scenario, problem)) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return false;
  }
  sim::SimBoxOptions boxOptions;
  boxOptions.paced = true;
  out.box = std::make_shared<sim::SimBox>(boxOptions);
  out.usb = sim::CreateSimUsbPort(out.box);
  out.monitor = sim::CreateSimDeviceMonitor(out.box);
  out.box->RunScenario(scenario);
  return true;
}

// `varnex2 test --run`: the report on stdout, no window.
int RunSelfTestUnattended(const station::StationOptions& options) {
  ToolBox tool;
  if (!MakeToolBox(options, "selftest", tool)) return kExitUnknownArgument;
  service::ToolConnection connection(*tool.usb);
  service::SelfTestOptions run;
  run.fixture = options.fixture;
  const auto limit = std::chrono::milliseconds(static_cast<long long>(options.quitAfterSeconds * 1000));
  return service::RunSelfTestUnattended(connection, run, limit, stdout);
}

// Closes `window` after --quit-after seconds (saving --screenshot first) and prints its title.
void QuitAfter(QWidget& window, const station::StationOptions& options) {
  if (options.quitAfterSeconds <= 0) return;
  QTimer::singleShot(static_cast<int>(options.quitAfterSeconds * 1000), &window, [&window, &options] {
    if (!options.screenshot.empty()) window.grab().save(QString::fromStdString(options.screenshot));
    std::printf("title=%s\n", window.windowTitle().toUtf8().constData());
    std::fflush(stdout);
    window.close();
  });
}

// `varnex2 test`: the self-test window.
int RunSelfTestWindow(QApplication& app, const station::StationOptions& options) {
  ToolBox tool;
  if (!MakeToolBox(options, "selftest", tool)) return kExitUnknownArgument;
  service::ToolConnection connection(*tool.usb);
  tools::CTestTools window(connection, tool.monitor.get());
  window.FixtureBox()->setChecked(options.fixture);
  window.show();
  QuitAfter(window, options);
  return app.exec();
}

// `varnex2 recover --switch=old|new`: one switch, its message on stdout.
int RunRecoverUnattended(const station::StationOptions& options) {
  ToolBox tool;
  if (!MakeToolBox(options, "idle", tool)) return kExitUnknownArgument;
  const service::Generation generation =
      options.switchTo == station::StationOptions::Switch::Old ? service::Generation::Old : service::Generation::New;
  return service::RunRecoverUnattended(*tool.usb, generation, stdout, stderr);
}

// `varnex2 recover`: the firmware-generation switch window.
int RunRecoverWindow(QApplication& app, const station::StationOptions& options) {
  ToolBox tool;
  if (!MakeToolBox(options, "idle", tool)) return kExitUnknownArgument;
  service::ToolConnection connection(*tool.usb);
  tools::CRecoverTools window(connection, tool.monitor.get());
  window.show();
  QuitAfter(window, options);
  return app.exec();
}

// A display to show a message box on: an X or Wayland server, or a platform
// chosen explicitly other than the invisible ones (a box there would wait unseen).
bool DisplayAvailable() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform.startsWith("offscreen") || platform.startsWith("minimal")) return false;
  return !platform.isEmpty() || !qEnvironmentVariableIsEmpty("DISPLAY") ||
         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// An unknown argument: said in a box (and on stderr), or on stderr alone without a display.
int RefuseMode(station::RunMode, bool box) {
  const char* text = app::texts::kUnknownArgument;
  const int status = kExitUnknownArgument;
  const station::MessageIcon icon = station::MessageIcon::Error;
  if (box) {
    app::ShowStationMessage(nullptr, QString::fromUtf8(text), icon);  // also on stderr
  } else {
    std::fprintf(stderr, "%s\n", text);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const auto started = std::chrono::steady_clock::now();
  // The usage text, and the modes that open no window, need no display.
  {
    const std::vector<std::string> raw(argv + 1, argv + argc);
    const station::StationOptions early = station::ParseStationOptions(raw);
    if (early.mode == station::RunMode::Help) {
      std::fputs(station::kUsageText, stdout);
      return 0;
    }
    // Qt's own options (one dash: -platform, -style, ...) are Qt's to take first.
    const bool qtOptions = std::any_of(raw.begin(), raw.end(), [](const std::string& arg) {
      return arg.size() > 1 && arg[0] == '-' && arg[1] != '-';
    });
    if (early.mode == station::RunMode::Unknown && !qtOptions && !DisplayAvailable()) {
      return RefuseMode(early.mode, false);
    }
    const bool toolWindow = (early.mode == station::RunMode::SelfTest || early.mode == station::RunMode::Recover) &&
                            !early.Unattended();
    // A tool's window with --quit-after is an automated run; the offscreen platform serves it.
    if (toolWindow && !qtOptions && !DisplayAvailable() && early.quitAfterSeconds <= 0) {
      std::fprintf(stderr, "%s\n", app::texts::kToolNeedsDisplay);
      return kExitUnknownArgument;
    }
    // The unattended tools print their results and need no display.
    if (early.Unattended()) {
      QLockFile lock(LockFilePath());
      lock.setStaleLockTime(0);
      if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) {
        std::fprintf(stderr, "%s\n", app::texts::kAlreadyRunning);
        return kExitToolAlreadyRunning;
      }
      if (early.mode == station::RunMode::SelfTest) return RunSelfTestUnattended(early);
      return RunRecoverUnattended(early);
    }
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("varnex2"));
  QApplication::setWindowIcon(app::StationIcon());
  // Qt's own dialogs and buttons in Chinese, like the station's texts.
  if (!app::InstallQtChineseTranslations(app)) {
    std::fprintf(stderr, "varnex2: Qt's Chinese translations are not installed (qt6-translations-l10n)\n");
  }
  // The start-up warnings about old operating-system versions concern Windows
  // releases only; there is nothing to check on Linux.

  // One instance per user. A lock left by a crashed instance names a process that
  // no longer runs and is taken over.
  QLockFile lock(LockFilePath());
  lock.setStaleLockTime(0);
  if (!lock.tryLock(0)) {
    if (lock.error() == QLockFile::LockFailedError) {
      app::ShowStationMessage(nullptr, QString::fromUtf8(app::texts::kAlreadyRunning),
                              station::MessageIcon::Information);
      return kExitAlreadyRunning;
    }
    // No place for the lock (read-only runtime directory): run without the guard.
    std::fprintf(stderr, "varnex2: cannot create the instance lock %s\n", LockFilePath().toLocal8Bit().constData());
  }

  // Qt has taken its own options (-platform, ...) out of the arguments by now.
  std::vector<std::string> args;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());
  const station::StationOptions options = station::ParseStationOptions(args);
  // The tools never create the station window nor start its device threads.
  if (options.mode == station::RunMode::Station) return RunStation(app, options, started);
  if (options.mode == station::RunMode::SelfTest) return RunSelfTestWindow(app, options);
  if (options.mode == station::RunMode::Recover) return RunRecoverWindow(app, options);
  return RefuseMode(options.mode, true);
}
