// The update check against a local update server: the version comparison, the messages, the
// test cycle's stop and resume, and what stays in the working directory.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "local_http_server.h"
#include "platform/memory_settings_store.h"
#include "tools/update_check.h"
#include "tools_test_support.h"

namespace varnex2::tools {
namespace {

using station::MessageIcon;
using testing::Answer;
using testing::LocalHttpServer;

constexpr const char* kInfoPath = "/software/varnex2_version_info.ini";
const QString kUpToDate = QString::fromUtf8("当前为最新版本，无需升级！");
const QString kBadVersion = QString::fromUtf8("错误的版本号!");

QByteArray Info(const char* ver, const QString& programUrl) {
  return QByteArray("[VERSION]\r\nver=") + ver +
         "\r\n[INFO]\r\ninfo=修正了扫描枪记录\r\n[URL]\r\nurl=" + programUrl.toUtf8() + "\r\n";
}

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    request.baseUrl = server.Base() + "/";
    request.own = {1, 3, 0, 26};
    request.download.directory = dir.path();
    hooks.deviceConnected = [this] { return connected; };
    hooks.stopTest = [this] { calls.push_back("stop"); };
    hooks.resumeTest = [this] { calls.push_back("resume"); };
    hooks.show = [this](const QString& text, MessageIcon icon) {
      shown << text;
      icons.push_back(icon);
    };
  }
  bool InfoFileLeft() const { return QFile::exists(QDir(dir.path()).filePath(kVersionInfoFile)); }
  void Serve(const char* ver) { server.Set(kInfoPath, {200, Info(ver, server.Base() + "/dl/varnex2-1.3.1")}); }

  // The application (its event dispatcher) exists before the server's socket is made.
  QApplication& app = testing::App();
  QTemporaryDir dir;
  LocalHttpServer server;
  UpdateRequest request;
  UpdateHooks hooks;
  bool connected = true;
  std::vector<std::string> calls;
  QStringList shown;
  std::vector<MessageIcon> icons;
};

TEST(UpdateVersion, FourPartsOfEightBitsPackedFirstPartOnTop) {
  EXPECT_EQ(ParseVersion("1.3.0.26"), 0x0103001Au);
  EXPECT_EQ(ParseVersion("1.3.1"), 0x01030100u);       // a missing part counts as 0
  EXPECT_EQ(ParseVersion("1.300.0.0"), 0x012C0000u);   // 300 keeps its low 8 bits: 44
  EXPECT_EQ(ParseVersion("1.2.3.4.99"), 0x01020304u);  // parts beyond four are ignored
  EXPECT_EQ(ParseVersion(" 2 . 0 "), 0x02000000u);
  for (const char* bad : {"", "1.x.0", "v1.3", "1..3", "1.3.", "-1.0", "1,3"}) {
    EXPECT_EQ(ParseVersion(QString::fromUtf8(bad)), std::nullopt) << bad;
  }
  EXPECT_EQ(PackVersion(ProgramVersion{1, 3, 0, 26}), 0x0103001Au);
  EXPECT_EQ(PackVersion(ProgramVersion{1, 300, 0, 0}), 0x012C0000u);
  EXPECT_EQ(ProgramFileName("https://h/dl/varnex2-1.3.1?x=1/2"), "varnex2-1.3.1");
  EXPECT_EQ(ProgramFileName("https://h/dl/a%20b"), "a b");
  EXPECT_EQ(ProgramFileName("https://h/dl/"), "");
}

TEST(UpdateVersion, TheOwnVersionIsTheProjectVersion) {
  const ProgramVersion own = OwnVersion();
  EXPECT_EQ(VersionText(own), QStringLiteral(VARNEX2_PROJECT_VERSION_TEXT));
}

TEST_F(UpdateCheckTest, AnEqualVersionIsTheLatestAndNothingIsFetched) {
  Serve("1.3.0.26");
  EXPECT_EQ(CheckForUpdate(request, hooks), UpdateOutcome::UpToDate);
  EXPECT_EQ(shown, QStringList{kUpToDate});
  EXPECT_EQ(icons, std::vector<MessageIcon>{MessageIcon::Information});
  EXPECT_EQ(server.Requests(), QStringList{kInfoPath});
  EXPECT_EQ(calls, (std::vector<std::string>{"stop", "resume"}));
  EXPECT_FALSE(InfoFileLeft());
}

TEST_F(UpdateCheckTest, ANewerVersionWithoutItsFourthPartFetchesTheProgramBesideTheRunningOne) {
  connected = false;  // no test cycle to stop or resume
  Serve("1.3.1");
  server.Set("/dl/varnex2-1.3.1", {200, "new program"});
  EXPECT_EQ(CheckForUpdate(request, hooks), UpdateOutcome::ProgramFetched);
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[0], QString::fromUtf8("发现新版本，将会自动下载到本程序同路径！\r\n修正了扫描枪记录"));
  EXPECT_EQ(shown[1], QString::fromUtf8("下载成功！"));
  QFile program(QDir(dir.path()).filePath("varnex2-1.3.1"));
  ASSERT_TRUE(program.open(QIODevice::ReadOnly));
  EXPECT_EQ(program.readAll(), "new program");
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(InfoFileLeft());
}

TEST_F(UpdateCheckTest, APartOf300ComparesAsItsLow8Bits) {
  request.own = {1, 44, 0, 0};
  Serve("1.300.0.0");  // 1.44.0.0
  EXPECT_EQ(CheckForUpdate(request, hooks), UpdateOutcome::UpToDate);
  request.own = {1, 43, 9, 9};
  Serve("1.300.0.0");
  shown.clear();
  EXPECT_EQ(CheckForUpdate(request, hooks), UpdateOutcome::ProgramFetched);
  ASSERT_EQ(shown.size(), 2);
  EXPECT_EQ(shown[1], QString::fromUtf8("服务器不接受请求！"));  // the program itself is not on the server
}

TEST_F(UpdateCheckTest, ServerAnswering404) {
  EXPECT_EQ(CheckForUpdate(request, hooks), UpdateOutcome::InfoFailed);
  EXPECT_EQ(shown, QStringList{QString::fromUtf8("服务器不接受请求！")});
  EXPECT_EQ(calls, (std::vector<std::string>{"stop", "resume"}));
  EXPECT_FALSE(InfoFileLeft());
}

TEST_F(UpdateCheckTest, NoServerListeningTellsAtOnceAndResumes) {
  {
    QTcpServer reserve;
    ASSERT_TRUE(reserve.listen(QHostAddress::LocalHost, 0));
    request.baseUrl = QStringLiteral("http://127.0.0.1:%1").arg(reserve.serverPort());
  }
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(CheckForUpdate(request, hooks), UpdateOutcome::InfoFailed);
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_EQ(shown, QStringList{QString::fromUtf8("建立网络连接失败！")});
  EXPECT_EQ(calls, (std::vector<std::string>{"stop", "resume"}));
}

TEST_F(UpdateCheckTest, AMalformedVersionIsReportedAndTheFileKeptForInspection) {
  for (const char* ver : {"1.x.0", ""}) {
    Serve(ver);
    shown.clear();
    calls.clear();
    EXPECT_EQ(CheckForUpdate(request, hooks), UpdateOutcome::BadVersion) << ver;
    EXPECT_EQ(shown, QStringList{kBadVersion});
    EXPECT_EQ(calls, (std::vector<std::string>{"stop", "resume"}));
    EXPECT_TRUE(InfoFileLeft());
  }
  EXPECT_EQ(server.Requests().size(), 2);  // no program fetched
}

TEST_F(UpdateCheckTest, AProgramNameThatWouldLeaveTheFolderOrReplaceTheRunningProgramIsRefused) {
  // The running program: its own folder and file name.
  const QString program = QCoreApplication::applicationFilePath();
  request.download.directory = QFileInfo(program).absolutePath();
  const QString programName = QFileInfo(program).fileName();
  server.Set(kInfoPath, {200, Info("9.0.0.0", server.Base() + "/dl/" + programName)});
  server.Set("/dl/" + programName, {200, "not a program"});
  EXPECT_EQ(CheckForUpdate(request, hooks), UpdateOutcome::ProgramFetched);
  ASSERT_EQ(shown.size(), 2);
  EXPECT_TRUE(shown[1].startsWith(QString::fromUtf8("保存文件时创建或写入文件失败！\r\n"))) << shown[1].toStdString();
  EXPECT_TRUE(shown[1].contains(programName));
  EXPECT_EQ(server.Requests(), QStringList{kInfoPath});

  // An address ending in "/" names no file.
  request.download.directory = dir.path();
  server.Set(kInfoPath, {200, Info("9.0.0.0", server.Base() + "/dl/")});
  shown.clear();
  CheckForUpdate(request, hooks);
  EXPECT_EQ(shown.value(1), QString::fromUtf8("参数二不能为空！"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{});
}

TEST_F(UpdateCheckTest, NoServerConfiguredSaysSoWithoutStoppingTheTest) {
  request.baseUrl.clear();
  EXPECT_EQ(CheckForUpdate(request, hooks), UpdateOutcome::NoServer);
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].contains("BaseUrl"));
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(server.Requests().isEmpty());

  auto settings = platform::CreateMemorySettingsStore();
  EXPECT_EQ(UpdateBaseUrl(*settings), "");
  std::string stored = "unset";
  EXPECT_EQ(settings->GetString(kUpdateKey, kUpdateBaseUrlName, stored, 100), platform::SettingsStatus::Ok);
  EXPECT_EQ(stored, "");  // created empty, for the technician to fill in
  settings->SetString(kUpdateKey, kUpdateBaseUrlName, " https://updates.example.com ");
  EXPECT_EQ(UpdateBaseUrl(*settings), "https://updates.example.com");
}

}  // namespace
}  // namespace varnex2::tools
