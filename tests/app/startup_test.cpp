// The varnex2 executable: its command line, the single-instance guard and an
// unattended run on the simulated box. The real binary runs under QProcess on
// the offscreen platform, with its lock, settings and data in a scratch folder.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>

#include "station_options.h"

namespace varnex2::station {
namespace {

TEST(StationOptions, ModesAndHiddenOptions) {
  EXPECT_EQ(ParseStationOptions({}).mode, RunMode::Station);
  EXPECT_EQ(ParseStationOptions({"test"}).mode, RunMode::SelfTest);
  EXPECT_EQ(ParseStationOptions({"recover"}).mode, RunMode::Recover);
  EXPECT_EQ(ParseStationOptions({"--help"}).mode, RunMode::Help);
  EXPECT_EQ(ParseStationOptions({"bogus", "-h"}).mode, RunMode::Help);  // help wins over everything
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"bogus"},
                                              {"Test"},
                                              {"test", "recover"},
                                              {"test", "test"},
                                              {"--simulate="},
                                              {"--quit-after=abc"},
                                              {"--quit-after=0"},
                                              {"--quit-after=-3"},
                                              {"--quit-after=5s"},
                                              {"--quit-after=nan"},
                                              {"--run"},
                                              {"recover", "--run"},
                                              {"test", "--switch=old"},
                                              {"recover", "--switch=both"},
                                              {"recover", "--switch=old", "--switch=new"},
                                              {"--fixture", "--simulate"},
                                              {"--screenshot="},
                                              {""}}) {
    EXPECT_EQ(ParseStationOptions(bad).mode, RunMode::Unknown) << bad.front();
  }

  StationOptions sim = ParseStationOptions({"--simulate"});
  EXPECT_EQ(sim.mode, RunMode::Station);
  EXPECT_TRUE(sim.simulate);
  EXPECT_EQ(sim.scenario, "");
  sim = ParseStationOptions({"--quit-after=2.5", "--simulate=faulty", "--screenshot=/tmp/w.png"});
  EXPECT_EQ(sim.mode, RunMode::Station);
  EXPECT_EQ(sim.scenario, "faulty");
  EXPECT_DOUBLE_EQ(sim.quitAfterSeconds, 2.5);
  EXPECT_EQ(sim.screenshot, "/tmp/w.png");

  StationOptions tool = ParseStationOptions({"--run", "test", "--fixture", "--quit-after=30", "--simulate=faulty"});
  EXPECT_EQ(tool.mode, RunMode::SelfTest);
  EXPECT_TRUE(tool.run && tool.fixture && tool.simulate && tool.Unattended());
  EXPECT_FALSE(ParseStationOptions({"test", "--fixture"}).Unattended());
  tool = ParseStationOptions({"recover", "--switch=new"});
  EXPECT_EQ(tool.switchTo, StationOptions::Switch::New);
  EXPECT_TRUE(tool.Unattended());
  EXPECT_FALSE(ParseStationOptions({"recover"}).Unattended());
}

QCoreApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_startup";
  static char* argv[] = {arg0, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  return *app;
}

class StationProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(dir.isValid());
    lockFile = dir.filePath("varnex2.lock");
  }

  // A station process with everything it writes kept in the scratch folder.
  std::unique_ptr<QProcess> Start(const QStringList& args,
                                  const QString& program = QStringLiteral(VARNEX2_STATION_BINARY)) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VARNEX2_LOCK_FILE", lockFile);
    env.insert("VARNEX2_CONFIG_DIR", dir.filePath("config"));
    env.insert("VARNEX2_MESSAGE_TIMEOUT_MS", "100");
    env.insert("HOME", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("xdg-config"));
    env.insert("XDG_DATA_HOME", dir.filePath("xdg-data"));
    env.insert("XDG_RUNTIME_DIR", dir.path());
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(dir.path());
    p->start(program, args);
    EXPECT_TRUE(p->waitForStarted(10000));
    return p;
  }

  struct Outcome {
    int exitCode = -1;
    QString out, err;
  };
  Outcome Run(const QStringList& args, int timeoutMs = 60000,
              const QString& program = QStringLiteral(VARNEX2_STATION_BINARY)) {
    auto p = Start(args, program);
    const bool finished = p->waitForFinished(timeoutMs);
    EXPECT_TRUE(finished) << args.join(' ').toStdString();
    if (!finished) p->kill(), p->waitForFinished();
    return {p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1, QString::fromUtf8(p->readAllStandardOutput()),
            QString::fromUtf8(p->readAllStandardError())};
  }

  // Waits (bounded) until the running instance holds the lock.
  bool WaitForLock() {
    for (int i = 0; i < 200; ++i) {
      if (QFile::exists(lockFile) && QFile(lockFile).size() > 0) return true;
      QThread::msleep(50);
    }
    return false;
  }

  QTemporaryDir dir;
  QString lockFile;
};

TEST_F(StationProcessTest, UnknownArgumentIsRefused) {
  for (const QString& arg : {QStringLiteral("bogus"), QStringLiteral("--simulate=")}) {
    const Outcome o = Run({arg});
    EXPECT_EQ(o.exitCode, 2) << arg.toStdString();
    EXPECT_TRUE(o.err.contains("错误：未知参数命令！")) << o.err.toStdString();
    EXPECT_TRUE(o.out.isEmpty());
  }
}

// The two tools' windows on the simulated box, closed by --quit-after.
TEST_F(StationProcessTest, ToolWindowsOpenOnTheSimulatedBox) {
  for (const char* mode : {"test", "recover"}) {
    const QString picture = dir.filePath(QString::fromLatin1(mode) + ".png");
    const Outcome o = Run({mode, "--simulate", "--quit-after=2", "--screenshot=" + picture}, 60000);
    EXPECT_EQ(o.exitCode, 0) << mode << o.err.toStdString();
    EXPECT_TRUE(o.out.contains("title=Varnex2 Tester(FW=2.0[F=0xA2 V=0x00 B=0xAB]) - 设备已经连接\n")) << o.out.toStdString();
    EXPECT_FALSE(QImage(picture).isNull()) << mode;
    EXPECT_FALSE(o.err.contains("varnex2.cycle")) << o.err.toStdString();
  }
}

// The self-test without a window on the simulated box: the report on stdout, the exit status
// telling the outcome, and the station's window and cycle never started.
TEST_F(StationProcessTest, UnattendedSelfTestReportsOnStdoutAndExitsWithItsOutcome) {
  Outcome o = Run({"test", "--run", "--simulate", "--quit-after=60"}, 90000);
  EXPECT_EQ(o.exitCode, 0) << o.out.toStdString() << o.err.toStdString();
  EXPECT_TRUE(o.out.startsWith("[此次样品测试时间是: ")) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("7.信号变化读取:通过\n\n\n\n此块板子是好的，可以出货！\n\n")) << o.out.toStdString();
  EXPECT_FALSE(o.out.contains('\r'));
  EXPECT_FALSE(o.err.contains("varnex2.cycle")) << o.err.toStdString();

  // No finger on the idle box: step 7 waits until --quit-after ends the run.
  o = Run({"test", "--run", "--simulate=idle", "--quit-after=4"}, 60000);
  EXPECT_EQ(o.exitCode, 3) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("6.rawdata读取测试:通过\n\n7.信号变化读取")) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("强制取消测试！")) << o.out.toStdString();

  o = Run({"test", "--run", "--simulate=faulty", "--quit-after=60"}, 90000);
  EXPECT_EQ(o.exitCode, 1) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("5.短路测试:失败\n\n维修建议按检查优先顺序排列如下：\n->1：请检查 Y=12 提示的短路点")) << o.out.toStdString();
}

TEST_F(StationProcessTest, HelpPrintsTheUsage) {
  for (const QStringList& args : {QStringList{"--help"}, QStringList{"-h"}, QStringList{"--simulate", "--help"}}) {
    const Outcome o = Run(args, 20000);
    EXPECT_EQ(o.exitCode, 0) << args.join(' ').toStdString();
    EXPECT_TRUE(o.out.startsWith("用法: varnex2")) << o.out.toStdString();
    for (const char* word : {"--simulate", "test", "recover", "--help"}) {
      EXPECT_TRUE(o.out.contains(QLatin1String(word))) << word;
    }
    EXPECT_FALSE(o.err.contains("错误")) << o.err.toStdString();
  }
}

// Without any display (no X, no Wayland, no platform chosen) the modes that open
// no station window still answer on the terminal instead of failing in Qt.
TEST_F(StationProcessTest, WithoutADisplayTheAnswersComeOnTheTerminal) {
  const auto bare = [this](const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(name);
    env.insert("VARNEX2_LOCK_FILE", lockFile);
    env.insert("HOME", dir.path());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VARNEX2_STATION_BINARY), args);
    EXPECT_TRUE(p.waitForFinished(20000));
    return Outcome{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                   QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
  };
  Outcome o = bare({"--help"});
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_TRUE(o.out.startsWith("用法: varnex2")) << o.out.toStdString();
  o = bare({"test"});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_TRUE(o.err.contains("varnex2 test --run")) << o.err.toStdString();
  o = bare({"bogus"});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_TRUE(o.err.contains("错误：未知参数命令！")) << o.err.toStdString();
}

TEST_F(StationProcessTest, SecondInstanceIsRefusedAndACrashedOneReleasesTheLock) {
  auto first = Start({"--simulate=idle", "--quit-after=60"});
  ASSERT_TRUE(WaitForLock());

  const Outcome second = Run({"--simulate=idle", "--quit-after=30"});
  EXPECT_EQ(second.exitCode, 3);
  EXPECT_TRUE(second.err.contains("已经运行了一个程序，禁止同时开启两个相同的程序!")) << second.err.toStdString();
  EXPECT_EQ(first->state(), QProcess::Running);  // the first is unaffected

  first->kill();  // SIGKILL: the lock file stays behind
  ASSERT_TRUE(first->waitForFinished(10000));
  EXPECT_TRUE(QFile::exists(lockFile));

  const Outcome third = Run({"--simulate=idle", "--quit-after=1"});
  EXPECT_EQ(third.exitCode, 0) << third.err.toStdString();
  EXPECT_TRUE(third.out.contains("judged_frames=")) << third.out.toStdString();
}

TEST_F(StationProcessTest, SimulatedRunJudgesFrames) {
  const QString picture = dir.filePath("window.png");
  const Outcome o = Run({"--simulate", "--quit-after=6", "--screenshot=" + picture});
  ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
  const QRegularExpressionMatch frames = QRegularExpression("judged_frames=(\\d+)\\n").match(o.out);
  ASSERT_TRUE(frames.hasMatch()) << o.out.toStdString();
  EXPECT_GT(frames.captured(1).toInt(), 3);
  const QRegularExpressionMatch verdict = QRegularExpression("last_verdict=(PASS|FAIL|)\\n").match(o.out);
  EXPECT_TRUE(verdict.hasMatch()) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("title=【模拟】Varnex2 - ")) << o.out.toStdString();  // simulation always shows
  // Records of simulated panels have a folder of their own.
  EXPECT_TRUE(o.out.contains("records_dir=" + QDir(dir.path()).absoluteFilePath("Simulated") + "\n"))
      << o.out.toStdString();

  const QImage image(picture);
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 200);
  // Keep a copy beside the test binary to look at.
  QFile::remove(QStringLiteral(VARNEX2_OUTPUT_DIR "/station_simulated.png"));
  QFile::copy(picture, QStringLiteral(VARNEX2_OUTPUT_DIR "/station_simulated.png"));
}

#ifdef VARNEX2_SIMBOX_BINARY
// The same binary with its real back-ends (libusb, hidapi, udev) against the box
// emulated by umockdev.
TEST_F(StationProcessTest, RealBackEndsJudgeFramesOfTheEmulatedBox) {
  const Outcome o =
      Run({"--scenario", "production", "--paced", "--", QStringLiteral(VARNEX2_STATION_BINARY), "--quit-after=8"},
          90000, QStringLiteral(VARNEX2_SIMBOX_BINARY));
  if (o.exitCode == 1 && o.err.contains("cannot build the umockdev testbed")) {
    GTEST_SKIP() << "umockdev cannot run here: " << o.err.toStdString();
  }
  ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
  const QRegularExpressionMatch frames = QRegularExpression("judged_frames=(\\d+)\\n").match(o.out);
  ASSERT_TRUE(frames.hasMatch()) << o.out.toStdString();
  EXPECT_GT(frames.captured(1).toInt(), 3);
  EXPECT_TRUE(o.out.contains("title=Varnex2 - 设备已连接")) << o.out.toStdString();
  // A real box's records go in the working directory.
  EXPECT_TRUE(o.out.contains("records_dir=" + QDir(dir.path()).absolutePath() + "\n")) << o.out.toStdString();
}

// The built-in "unplug" scenario takes the box off the bus at 5 s and plugs it in at 8 s:
// the station sees the removal and the arrival through udev and tests again afterwards.
TEST_F(StationProcessTest, RealBackEndsSurviveAnUnplugAndReplug) {
  const Outcome o =
      Run({"--scenario", "unplug", "--paced", "--", QStringLiteral(VARNEX2_STATION_BINARY), "--quit-after=16"}, 120000,
          QStringLiteral(VARNEX2_SIMBOX_BINARY));
  if (o.exitCode == 1 && o.err.contains("cannot build the umockdev testbed")) {
    GTEST_SKIP() << "umockdev cannot run here: " << o.err.toStdString();
  }
  ASSERT_EQ(o.exitCode, 0) << o.err.toStdString();
  const QRegularExpressionMatch last = QRegularExpression("last_frame_ms=(\\d+)\\n").match(o.out);
  ASSERT_TRUE(last.hasMatch()) << o.out.toStdString();
  // Frames were judged again after the box came back at 8 s.
  EXPECT_GT(last.captured(1).toInt(), 9000) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("title=Varnex2 - 设备已连接")) << o.out.toStdString();
}

// The self-test through libusb and libudev against the emulated box: a good box on its fixture
// passes all seven steps, a power fault fails step 4 and a shorted line step 5 with its hint.
TEST_F(StationProcessTest, RealBackEndsRunTheSelfTestOfTheEmulatedBox) {
  const auto selfTest = [this](const QString& scenario) {
    return Run({"--scenario", scenario, "--paced", "--", QStringLiteral(VARNEX2_STATION_BINARY), "test", "--run",
                "--quit-after=90"},
               150000, QStringLiteral(VARNEX2_SIMBOX_BINARY));
  };
  Outcome o = selfTest(QStringLiteral("selftest"));
  if (o.exitCode == 1 && o.err.contains("cannot build the umockdev testbed")) {
    GTEST_SKIP() << "umockdev cannot run here: " << o.err.toStdString();
  }
  EXPECT_EQ(o.exitCode, 0) << o.out.toStdString() << o.err.toStdString();
  EXPECT_TRUE(o.out.contains("7.信号变化读取:通过")) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("此块板子是好的，可以出货！")) << o.out.toStdString();

  const auto scenarioFile = [this](const char* name, const char* text) {
    QFile f(dir.filePath(QString::fromLatin1(name)));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return f.fileName();
  };
  o = selfTest(scenarioFile("power.txt", "0s place level=16500\n0s power-fault on\n"));
  EXPECT_EQ(o.exitCode, 1) << o.out.toStdString() << o.err.toStdString();
  EXPECT_TRUE(o.out.contains("4.电源测试:失败\n\n维修建议按检查优先顺序排列如下：\n->1：请检查底板的三路电源供电"))
      << o.out.toStdString();

  o = selfTest(scenarioFile("short.txt", "0s place level=16500\n0s short x 4 2\n"));
  EXPECT_EQ(o.exitCode, 1) << o.out.toStdString() << o.err.toStdString();
  EXPECT_TRUE(o.out.contains("5.短路测试:失败\n\n维修建议按检查优先顺序排列如下：\n"
                             "->1：请检查 X=4 提示的短路点，请顺着H1或者H2查找【对地短路】\n"))
      << o.out.toStdString();
}

// The firmware-generation switch through the real back-ends: the bytes it leaves in the emulated
// controller (after the self-test's standard configuration had changed T9), its backups, and the
// old switch refused for firmware 2.0.
TEST_F(StationProcessTest, RealBackEndsSwitchTheEmulatedBoxsFirmwareGeneration) {
  const QString station = QStringLiteral(VARNEX2_STATION_BINARY);
  Outcome o = Run({"--firmware=1.1", "--report-objects=7,9", "--", "sh", "-c",
                   "\"$0\" test --run --quit-after=3 >/dev/null; \"$0\" recover --switch=old", station},
                  120000, QStringLiteral(VARNEX2_SIMBOX_BINARY));
  if (o.exitCode == 1 && o.err.contains("cannot build the umockdev testbed")) {
    GTEST_SKIP() << "umockdev cannot run here: " << o.err.toStdString();
  }
  EXPECT_EQ(o.exitCode, 0) << o.out.toStdString() << o.err.toStdString();
  EXPECT_TRUE(o.out.startsWith("初始化成功！\n")) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("\nT7=FF FF FF 03\n")) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("\nT9=81 00 00 20 34 00 60 FF 00 00 00 00 00 00 00 00 00 00")) << o.out.toStdString();
  EXPECT_TRUE(o.out.contains("\nbackups=1\n")) << o.out.toStdString();

  o = Run({"--report-objects=46", "--", "sh", "-c", "\"$0\" recover --switch=old; echo old=$?; \"$0\" recover --switch=new",
           station},
          120000, QStringLiteral(VARNEX2_SIMBOX_BINARY));
  EXPECT_EQ(o.exitCode, 0) << o.out.toStdString() << o.err.toStdString();
  EXPECT_TRUE(o.out.startsWith("old=2\n新版本高速版本初始化成功！\nT46=04 00 0A 10 00 00 01 00 00 00 0F\nbackups=2\n"))
      << o.out.toStdString();
  EXPECT_TRUE(o.err.contains("固件版本2.0不能切换为老版本")) << o.err.toStdString();
}
#endif

}  // namespace
}  // namespace varnex2::station
