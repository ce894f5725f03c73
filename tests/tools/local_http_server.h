#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the download tests (LocalHttpServer), and the same
// over TLS (LocalHttpsServer, Qt's QSslServer). It runs on the test's thread: the download waits
// in a local event loop, which serves it. Each path answers as scripted; other paths get 404.
// Every request's path is recorded.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslServer>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <type_traits>

namespace varnex2::tools::testing {

struct Answer {
  int status = 200;
  QByteArray body;
  // Announce the whole body but send only this many bytes, then close (a broken transfer).
  qsizetype cutAfter = -1;
};

template <class Server>
class BasicHttpServer : public Server {
 public:
  BasicHttpServer() {
    const auto take = [this] {
      while (QTcpSocket* socket = this->nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Serve(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->bytesAvailable() > 0) Serve(socket);
      }
    };
    QObject::connect(this, &QTcpServer::newConnection, this, take);
    QObject::connect(this, &QTcpServer::pendingConnectionAvailable, this, take);
    this->listen(QHostAddress::LocalHost, 0);
  }

  QString Base() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(std::is_same_v<Server, QSslServer> ? "https" : "http")
        .arg(this->serverPort());
  }
  void Set(const QString& path, Answer answer) { answers_[path] = std::move(answer); }
  const QStringList& Requests() const { return requests_; }

 private:
  void Serve(QTcpSocket* socket) {
    QByteArray& pending = buffers_[socket];
    pending += socket->readAll();
    const qsizetype end = pending.indexOf("\r\n\r\n");
    if (end < 0) return;
    const QList<QByteArray> line = pending.left(pending.indexOf("\r\n")).split(' ');
    buffers_.remove(socket);
    const QString path = line.size() > 1 ? QString::fromLatin1(line[1]) : QString();
    requests_ << path;
    const Answer answer = answers_.value(path, Answer{404, "not found"});
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(answer.status) + (answer.status == 200 ? " OK" : " Error") +
                       "\r\nContent-Length: " + QByteArray::number(answer.body.size()) +
                       "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
    reply += answer.cutAfter >= 0 ? answer.body.left(answer.cutAfter) : answer.body;
    socket->write(reply);
    socket->flush();
    socket->disconnectFromHost();
  }

  QHash<QString, Answer> answers_;
  QHash<QTcpSocket*, QByteArray> buffers_;
  QStringList requests_;
};

using LocalHttpServer = BasicHttpServer<QTcpServer>;
using LocalHttpsServer = BasicHttpServer<QSslServer>;  // give it its certificate and key first

}  // namespace varnex2::tools::testing
