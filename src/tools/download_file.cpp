#include "tools/download_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <memory>

#include "tools/tool_texts.h"

namespace varnex2::tools {

namespace {

QString Directory(const DownloadOptions& options) {
  return options.directory.isEmpty() ? QDir::currentPath() : options.directory;
}

QString Canonical(const QString& file) {
  const QFileInfo info(file);
  const QString canonical = info.canonicalFilePath();  // empty when it does not exist
  return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

// Errors of the connection itself, before the request went out: worth one more try.
bool IsConnectError(QNetworkReply::NetworkError error) {
  switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
      return true;
    default:
      return false;
  }
}

// One download: the reply of the current attempt, the file being written and the phase timers.
class Transfer {
 public:
  Transfer(const QUrl& url, const QString& target, const DownloadOptions& options)
      : url_(url), target_(target), options_(options) {
    phase_.setSingleShot(true);
    total_.setSingleShot(true);
    QObject::connect(&phase_, &QTimer::timeout, &loop_, [this] { Abort(kDownloadConnectFailed); });
    QObject::connect(&total_, &QTimer::timeout, &loop_, [this] { Abort(kDownloadConnectFailed); });
  }

  int Run() {
    total_.start(options_.totalLimit);
    connectDeadline_ = std::chrono::steady_clock::now() + options_.connectTimeout;
    retriesLeft_ = options_.connectRetries;
    Start();
    loop_.exec(QEventLoop::ExcludeUserInputEvents);
    phase_.stop();
    total_.stop();
    if (reply_) {
      reply_->disconnect();
      reply_->abort();
      reply_.reset();
    }
    if (file_ && result_ != kDownloadOk) file_->cancelWriting();
    return result_;
  }

 private:
  std::chrono::milliseconds ConnectTimeLeft() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(connectDeadline_ - std::chrono::steady_clock::now());
    return left.count() > 0 ? left : std::chrono::milliseconds(0);
  }

  void Start() {
    QNetworkRequest request(url_);
    // Qt's own bound on a silent transfer, as a backstop: Qt may count it from before the
    // connection is made, so it is no tighter than the connect deadline. The phase timer is
    // the bound that acts: the connect deadline until the request is out, then the receive
    // time-out, restarted by every part of the answer.
    request.setTransferTimeout(static_cast<int>(std::max(options_.receiveTimeout, options_.connectTimeout).count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    sent_ = false;
    reply_.reset(manager_.get(request));
    QNetworkReply* reply = reply_.get();
    phase_.start(ConnectTimeLeft());
    QObject::connect(reply, &QNetworkReply::requestSent, &loop_, [this] {
      sent_ = true;
      phase_.start(options_.receiveTimeout);
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop_, [this] { OnData(); });
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop_, [this] {
      if (sent_) phase_.start(options_.receiveTimeout);
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop_, [this] { OnFinished(); });
  }

  int Status() const {
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() ? status.toInt() : 0;
  }

  void Abort(int code) {
    if (done_) return;
    Finish(code);
  }

  void Finish(int code) {
    done_ = true;
    result_ = code;
    loop_.quit();
  }

  bool OpenFile() {
    if (file_) return true;
    file_ = std::make_unique<QSaveFile>(target_);
    // Written to a temporary file beside the target; only commit() replaces the target.
    if (!file_->open(QIODevice::WriteOnly)) {
      Finish(kDownloadFileFailed);
      return false;
    }
    return true;
  }

  void OnData() {
    if (done_) return;
    if (sent_) phase_.start(options_.receiveTimeout);
    const int status = Status();
    if (status != 0 && status != 200) return;  // the body of an error page is not kept
    if (!OpenFile()) return;
    const QByteArray data = reply_->readAll();
    written_ += data.size();
    if (file_->write(data) != data.size()) Finish(kDownloadFileFailed);
  }

  void OnFinished() {
    if (done_) return;
    const int status = Status();
    const QNetworkReply::NetworkError error = reply_->error();
    if (status != 0 && status != 200) return Finish(kDownloadRefused);
    if (error != QNetworkReply::NoError) {
      if (!sent_ && !file_ && IsConnectError(error) && retriesLeft_ > 0 &&
          ConnectTimeLeft() > options_.connectBackoff) {
        --retriesLeft_;
        reply_->disconnect();
        reply_.release()->deleteLater();
        phase_.stop();
        QTimer::singleShot(options_.connectBackoff, &loop_, [this] {
          if (!done_) Start();
        });
        return;
      }
      return Finish(kDownloadConnectFailed);
    }
    if (status != 200) return Finish(kDownloadRefused);
    OnData();
    if (done_) return;
    if (!OpenFile()) return;
    // A body shorter than the length the server announced is a broken transfer.
    bool known = false;
    const qint64 announced = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && announced != written_) return Finish(kDownloadConnectFailed);
    Finish(file_->commit() ? kDownloadOk : kDownloadFileFailed);
  }

  QUrl url_;
  QString target_;
  const DownloadOptions& options_;
  QEventLoop loop_;
  QNetworkAccessManager manager_;
  std::unique_ptr<QNetworkReply> reply_;
  std::unique_ptr<QSaveFile> file_;
  QTimer phase_;
  QTimer total_;
  std::chrono::steady_clock::time_point connectDeadline_;
  int retriesLeft_ = 0;
  qint64 written_ = 0;
  bool sent_ = false;
  bool done_ = false;
  int result_ = kDownloadConnectFailed;
};

}  // namespace

bool IsSafeDownloadName(const QString& fileName, const QString& directory, const QString& programFile) {
  if (fileName.isEmpty() || fileName == QLatin1String(".") || fileName == QLatin1String("..")) return false;
  if (fileName.contains(QLatin1Char('/')) || fileName.contains(QLatin1Char('\\')) || fileName.contains(QChar(0))) {
    return false;
  }
  const QString dir = directory.isEmpty() ? QDir::currentPath() : directory;
  const QString program = programFile.isEmpty() ? QCoreApplication::applicationFilePath() : programFile;
  const QString target = Canonical(QDir(dir).absoluteFilePath(fileName));
  return program.isEmpty() || target != Canonical(program);
}

int DownloadFile(const QString& address, const QString& fileName, const DownloadOptions& options) {
  if (address.isEmpty()) return kDownloadNoAddress;
  if (fileName.isEmpty()) return kDownloadNoFileName;
  const QUrl url(address, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
    return kDownloadBadAddress;
  }
  if (scheme == QLatin1String("https") && !QSslSocket::supportsSsl()) return kDownloadRequestFailed;
  const QString directory = Directory(options);
  if (!IsSafeDownloadName(fileName, directory, options.programFile)) return kDownloadFileFailed;
  Transfer transfer(url, QDir(directory).absoluteFilePath(fileName), options);
  return transfer.Run();
}

QString DownloadText(int code) {
  const char* text = texts::kDownloadUnknown;
  switch (code) {
    case kDownloadOk:
      text = texts::kDownloadOk;
      break;
    case kDownloadBadAddress:
      text = texts::kDownloadBadAddress;
      break;
    case kDownloadConnectFailed:
      text = texts::kDownloadConnectFailed;
      break;
    case kDownloadRequestFailed:
      text = texts::kDownloadRequestFailed;
      break;
    case kDownloadRefused:
      text = texts::kDownloadRefused;
      break;
    case kDownloadNoAddress:
      text = texts::kDownloadNoAddress;
      break;
    case kDownloadNoFileName:
      text = texts::kDownloadNoFileName;
      break;
    case kDownloadFileFailed:
      text = texts::kDownloadFileFailed;
      break;
    default:
      break;
  }
  return QString::fromUtf8(text);
}

}  // namespace varnex2::tools
