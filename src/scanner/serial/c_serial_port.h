#pragma once
// CSerialPort: the scanner's serial port on Qt SerialPort. The port lives on a
// reader thread with its own event loop; every call from outside waits for that
// thread a bounded time.

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scanner/serial_link.h"

class QObject;
class QSerialPort;
class QThread;

namespace varnex2::scanner {

class CSerialPortInfo {
 public:
  // The system's serial ports by name ("ttyUSB0", ...), sorted by device path.
  static std::vector<std::string> availablePorts();
};

class CSerialPort final : public SerialLink {
 public:
  // `extraPorts`: device paths listed after the system's ports (a simulated
  // scanner's pseudo-terminal).
  explicit CSerialPort(std::vector<std::string> extraPorts = {});
  ~CSerialPort() override;
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  std::vector<std::string> AvailablePorts() override;
  void Init(const SerialSettings& settings) override;
  SerialOpenResult Open() override;
  void Close() override;
  bool IsOpened() const override { return opened_.load(); }
  void SetReadReady(ReadReady handler) override;

  // Fewer queued bytes than this raise no read-ready call (a lone byte waits for the next).
  static constexpr qint64 kMinBytesReadNotify = 2;
  static constexpr qint64 kMaxChunk = 1023;

 private:
  struct Reader;
  // Runs `work` on the reader thread and waits for it (at most 3 s); false on time-out.
  template <class F>
  bool RunOnReader(F&& work);
  void OnReadyRead();

  std::vector<std::string> extraPorts_;
  std::mutex mutex_;  // open, close, init and the settings
  SerialSettings settings_;
  std::unique_ptr<QThread> thread_;
  QObject* anchor_ = nullptr;  // lives on thread_, deleted when it finishes
  QSerialPort* port_ = nullptr;  // lives on thread_
  std::mutex handlerMutex_;
  ReadReady handler_;
  std::atomic<bool> opened_{false};
};

}  // namespace varnex2::scanner
