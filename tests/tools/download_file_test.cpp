// DownloadFile against a local HTTP server: codes, bounds, and what a failed download leaves.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>

#include "local_http_server.h"
#include "tools/download_file.h"
#include "tools_test_support.h"

namespace varnex2::tools {
namespace {

using testing::Answer;
using testing::LocalHttpServer;

QByteArray Pattern(int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
  return bytes;
}

QByteArray Contents(const QString& file) {
  QFile in(file);
  return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

void Write(const QString& file, const QByteArray& bytes) {
  QFile out(file);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(bytes);
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    options.directory = dir.path();
  }
  QString InDir(const QString& name) const { return QDir(dir.path()).filePath(name); }
  QStringList Files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System); }

  // The application (its event dispatcher) exists before the server's socket is made.
  QApplication& app = testing::App();
  QTemporaryDir dir;
  DownloadOptions options;
  LocalHttpServer server;
};

TEST_F(DownloadTest, TheBodyLandsInTheNamedFileReplacingAnOldOne) {
  const QByteArray body = Pattern(200000);
  server.Set("/software/new.bin", {200, body});
  Write(InDir("new.bin"), "old");
  EXPECT_EQ(DownloadFile(server.Base() + "/software/new.bin", "new.bin", options), kDownloadOk);
  EXPECT_EQ(Contents(InDir("new.bin")), body);
  EXPECT_EQ(Files(), QStringList{"new.bin"});
}

TEST_F(DownloadTest, ArgumentCodesAndTheirTexts) {
  EXPECT_EQ(DownloadFile("", "x", options), kDownloadNoAddress);
  EXPECT_EQ(DownloadFile(server.Base() + "/x", "", options), kDownloadNoFileName);
  EXPECT_EQ(DownloadFile("no address at all", "x", options), kDownloadBadAddress);
  EXPECT_EQ(DownloadFile("ftp://127.0.0.1/x", "x", options), kDownloadBadAddress);
  EXPECT_TRUE(server.Requests().isEmpty());
  const QStringList texts = {
      "下载成功！",         "不正确！",         "建立网络连接失败！", "向服务器发起GET请求失败！",
      "服务器不接受请求！", "参数一不能为空！", "参数二不能为空！",   "保存文件时创建或写入文件失败！"};
  for (int code = 0; code >= -7; --code) EXPECT_EQ(DownloadText(code), texts[-code]) << code;
  EXPECT_EQ(DownloadText(-8), "未知错误！");
  EXPECT_EQ(DownloadText(1), "未知错误！");
}

TEST_F(DownloadTest, AStatusOtherThan200IsRefusedAndWritesNothing) {
  Write(InDir("kept.bin"), "old");
  EXPECT_EQ(DownloadFile(server.Base() + "/missing", "kept.bin", options), kDownloadRefused);  // 404
  server.Set("/busy", {503, "busy"});
  EXPECT_EQ(DownloadFile(server.Base() + "/busy", "other.bin", options), kDownloadRefused);
  EXPECT_EQ(Contents(InDir("kept.bin")), "old");
  EXPECT_EQ(Files(), QStringList{"kept.bin"});
}

TEST_F(DownloadTest, NoServerListeningFailsWithoutWaitingOutTheConnectTimeout) {
  quint16 port = 0;
  {
    QTcpServer reserve;
    ASSERT_TRUE(reserve.listen(QHostAddress::LocalHost, 0));
    port = reserve.serverPort();
  }  // closed: connections are refused
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(DownloadFile(QStringLiteral("http://127.0.0.1:%1/x").arg(port), "x", options), kDownloadConnectFailed);
  EXPECT_LT(clock.elapsed(), 5000);  // one refused try, the 1 s back-off, the second try
  EXPECT_TRUE(Files().isEmpty());
}

TEST_F(DownloadTest, ASilentServerIsGivenUpAfterTheReceiveTimeout) {
  QTcpServer silent;  // accepts (the kernel's backlog) and never answers
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
  options.receiveTimeout = std::chrono::milliseconds(300);
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(DownloadFile(QStringLiteral("http://127.0.0.1:%1/x").arg(silent.serverPort()), "x", options),
            kDownloadConnectFailed);
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_TRUE(Files().isEmpty());
}

TEST_F(DownloadTest, ABrokenTransferLeavesNoTruncatedFileAndKeepsTheOldOne) {
  server.Set("/prog", {200, Pattern(40000), 1000});  // 40000 bytes announced, 1000 sent
  Write(InDir("prog"), "old program");
  EXPECT_EQ(DownloadFile(server.Base() + "/prog", "prog", options), kDownloadConnectFailed);
  EXPECT_EQ(Contents(InDir("prog")), "old program");
  EXPECT_EQ(Files(), QStringList{"prog"});  // no temporary file left either
  EXPECT_EQ(DownloadFile(server.Base() + "/prog", "fresh", options), kDownloadConnectFailed);
  EXPECT_EQ(Files(), QStringList{"prog"});
}

TEST_F(DownloadTest, HostileFileNamesAreRefusedBeforeAnythingIsFetched) {
  server.Set("/x", {200, "payload"});
  for (const char* name : {"../x", "a/b", "a\\b", "..", ".", "/tmp/x"}) {
    EXPECT_EQ(DownloadFile(server.Base() + "/x", QString::fromUtf8(name), options), kDownloadFileFailed) << name;
    EXPECT_FALSE(IsSafeDownloadName(QString::fromUtf8(name), dir.path()));
  }
  EXPECT_EQ(DownloadFile(server.Base() + "/x", "", options), kDownloadNoFileName);
  EXPECT_FALSE(QFileInfo::exists(QDir(dir.path()).filePath("../x")));

  // The running program (this test) is never replaced, also through a symbolic link to it.
  const QString program = QCoreApplication::applicationFilePath();
  const QByteArray before = Contents(program);
  DownloadOptions beside;
  beside.directory = QFileInfo(program).absolutePath();
  EXPECT_EQ(DownloadFile(server.Base() + "/x", QFileInfo(program).fileName(), beside), kDownloadFileFailed);
  ASSERT_TRUE(QFile::link(program, InDir("link")));
  EXPECT_EQ(DownloadFile(server.Base() + "/x", "link", options), kDownloadFileFailed);
  EXPECT_EQ(Contents(program), before);
  EXPECT_TRUE(server.Requests().isEmpty());

  EXPECT_TRUE(IsSafeDownloadName("varnex2", dir.path()));
  EXPECT_EQ(DownloadFile(server.Base() + "/x", "x", options), kDownloadOk);
}

TEST_F(DownloadTest, HttpsWithATrustedCertificateAndNotWithAnUntrustedOne) {
  ASSERT_TRUE(QSslSocket::supportsSsl()) << "no TLS back-end: every https address would give -3";
  const auto pem = [](const char* name) {
    QFile file(QStringLiteral(VARNEX2_SOURCE_DIR "/tests/tools/tls/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
  };
  const QList<QSslCertificate> certificate = QSslCertificate::fromData(pem("localhost_cert.pem"));
  ASSERT_EQ(certificate.size(), 1);
  testing::LocalHttpsServer tls;
  QSslConfiguration serverSide = QSslConfiguration::defaultConfiguration();
  serverSide.setLocalCertificate(certificate.front());
  serverSide.setPrivateKey(QSslKey(pem("localhost_key.pem"), QSsl::Rsa));
  tls.setSslConfiguration(serverSide);
  tls.Set("/secure.bin", {200, Pattern(5000)});

  // Not trusted by the system: refused like a failed connection, nothing written.
  EXPECT_EQ(DownloadFile(tls.Base() + "/secure.bin", "secure.bin", options), kDownloadConnectFailed);
  EXPECT_TRUE(Files().isEmpty());

  const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
  QSslConfiguration trusting = saved;
  trusting.addCaCertificates(certificate);
  QSslConfiguration::setDefaultConfiguration(trusting);
  EXPECT_EQ(DownloadFile(tls.Base() + "/secure.bin", "secure.bin", options), kDownloadOk);
  QSslConfiguration::setDefaultConfiguration(saved);
  EXPECT_EQ(Contents(InDir("secure.bin")), Pattern(5000));
  EXPECT_EQ(tls.Requests(), QStringList{"/secure.bin"});
}

}  // namespace
}  // namespace varnex2::tools
