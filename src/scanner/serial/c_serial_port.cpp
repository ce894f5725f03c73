#include "scanner/serial/c_serial_port.h"

#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <future>
#include <unistd.h>

namespace varnex2::scanner {

namespace {

constexpr auto kReaderWait = std::chrono::seconds(3);

// Taken by the caller while it queues a call and by the reader before it runs one. Qt's own
// queue already orders the two; this lock makes the order visible to the thread checker,
// which cannot see inside Qt.
std::mutex& Handoff() {
  static std::mutex handoff;
  return handoff;
}

// The device path of a listed name: names without a slash live in /dev.
QString DevicePath(const std::string& port) {
  const QString name = QString::fromStdString(port);
  return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

// The errno behind a failed open, learnt by trying the same open once more.
int OpenErrno(const QString& path) {
  const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return EBUSY;  // it opens: another program holds the port's lock
  }
  return errno;
}

}  // namespace

std::vector<std::string> CSerialPortInfo::availablePorts() {
  QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
  std::sort(ports.begin(), ports.end(), [](const QSerialPortInfo& a, const QSerialPortInfo& b) {
    return a.systemLocation() < b.systemLocation();
  });
  std::vector<std::string> names;
  for (const QSerialPortInfo& info : ports) names.push_back(info.portName().toStdString());
  return names;
}

CSerialPort::CSerialPort(std::vector<std::string> extraPorts)
    : extraPorts_(std::move(extraPorts)), thread_(std::make_unique<QThread>()) {
  thread_->setObjectName(QStringLiteral("scanner serial"));
  // The calls onto the reader thread are queued on this object, which lives there.
  anchor_ = new QObject;
  anchor_->moveToThread(thread_.get());
  QObject::connect(thread_.get(), &QThread::finished, anchor_, &QObject::deleteLater);
  // The reader's event loop exists before `started`; callers wait for it so that their
  // wake-ups of that loop follow its creation.
  auto ready = std::make_shared<std::pair<std::condition_variable, bool>>();
  QObject::connect(
      thread_.get(), &QThread::started, anchor_,
      [ready] {
        std::lock_guard lock(Handoff());
        ready->second = true;
        ready->first.notify_all();
      },
      Qt::DirectConnection);
  thread_->start();
  std::unique_lock lock(Handoff());
  ready->first.wait_for(lock, kReaderWait, [&] { return ready->second; });
}

CSerialPort::~CSerialPort() {
  Close();
  thread_->quit();
  if (!thread_->wait(QDeadlineTimer(std::chrono::duration_cast<std::chrono::milliseconds>(kReaderWait).count()))) {
    // The reader is stuck in the system: leave it rather than hang the station.
    (void)thread_.release();
  }
}

template <class F>
bool CSerialPort::RunOnReader(F&& work) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  bool queued = false;
  {
    std::lock_guard lock(Handoff());
    queued = QMetaObject::invokeMethod(
        anchor_,
        [done, w = std::forward<F>(work)]() mutable {
          {
            std::lock_guard lock(Handoff());
          }
          w();
          done->set_value();
        },
        Qt::QueuedConnection);
  }
  return queued && finished.wait_for(kReaderWait) == std::future_status::ready;
}

std::vector<std::string> CSerialPort::AvailablePorts() {
  std::vector<std::string> ports = CSerialPortInfo::availablePorts();
  ports.insert(ports.end(), extraPorts_.begin(), extraPorts_.end());
  return ports;
}

void CSerialPort::Init(const SerialSettings& settings) {
  std::lock_guard lock(mutex_);
  settings_ = settings;
}

void CSerialPort::SetReadReady(ReadReady handler) {
  std::lock_guard lock(handlerMutex_);
  handler_ = std::move(handler);
}

SerialOpenResult CSerialPort::Open() {
  std::lock_guard lock(mutex_);
  SerialOpenResult result;
  result.path = DevicePath(settings_.port).toStdString();
  if (opened_.load()) {
    result.error = SerialOpenError::AlreadyOpen;
    return result;
  }
  const SerialSettings settings = settings_;
  // Shared with the reader: a call that outlives its wait still writes somewhere valid.
  auto shared = std::make_shared<SerialOpenResult>(result);
  const bool ran = RunOnReader([this, shared, settings] {
    SerialOpenResult& result = *shared;
    auto* port = new QSerialPort();
    const QString path = QString::fromStdString(result.path);
    port->setPortName(path);
    port->setReadBufferSize(settings.readBufferSize);
    if (!port->open(QIODevice::ReadWrite)) {
      switch (port->error()) {
        case QSerialPort::DeviceNotFoundError:
          result.error = SerialOpenError::NotFound;
          result.code = ENOENT;
          break;
        case QSerialPort::PermissionError:
          result.error = SerialOpenError::AccessDenied;
          result.code = OpenErrno(path);
          break;
        default:
          result.error = SerialOpenError::Other;
          break;
      }
      delete port;
      return;
    }
    const QSerialPort::Parity parity = settings.parity == SerialSettings::Parity::Odd    ? QSerialPort::OddParity
                                       : settings.parity == SerialSettings::Parity::Even ? QSerialPort::EvenParity
                                                                                         : QSerialPort::NoParity;
    const bool configured =
        port->setBaudRate(settings.baudRate) &&
        port->setDataBits(static_cast<QSerialPort::DataBits>(std::clamp(settings.dataBits, 5, 8))) &&
        port->setParity(parity) &&
        port->setStopBits(settings.stopBits == SerialSettings::StopBits::Two ? QSerialPort::TwoStop
                                                                             : QSerialPort::OneStop) &&
        port->setFlowControl(settings.hardwareFlowControl ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
    if (!configured) {
      result.error = SerialOpenError::Other;
      port->close();
      delete port;
      return;
    }
    port->clear(QSerialPort::AllDirections);
    QObject::connect(port, &QSerialPort::readyRead, port, [this] { OnReadyRead(); });
    port_ = port;
    opened_.store(true);
  });
  if (!ran) {
    result.error = SerialOpenError::Other;
    return result;
  }
  return *shared;
}

void CSerialPort::OnReadyRead() {
  // Reader thread. Each chunk of at least two queued bytes goes to the handler.
  while (port_ != nullptr && port_->bytesAvailable() >= kMinBytesReadNotify) {
    const QByteArray bytes = port_->read(kMaxChunk);
    if (bytes.isEmpty()) break;
    ReadReady handler;
    {
      std::lock_guard lock(handlerMutex_);
      handler = handler_;
    }
    if (handler) handler(bytes.toStdString());
  }
}

void CSerialPort::Close() {
  std::lock_guard lock(mutex_);
  if (!opened_.load()) return;
  RunOnReader([this] {
    if (port_ != nullptr) {
      port_->close();
      delete port_;
      port_ = nullptr;
    }
  });
  opened_.store(false);
}

}  // namespace varnex2::scanner
