#pragma once
// SerialLink: the scanner's serial port as the station uses it (CSerialPort's
// operations). The back-end reads on a thread of its own and hands every chunk
// of at least two queued bytes to the read-ready handler there.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varnex2::scanner {

// Why an open failed.
enum class SerialOpenError {
  None,
  AlreadyOpen,   // a port is open: nothing happens
  NotFound,      // no such device ("ERROR_FILE_NOT_FOUND")
  AccessDenied,  // no permission, or the port is held by another program ("ERROR_ACCESS_DENIED")
  Other,         // any other failure, configuration refused included: nothing is shown
};

struct SerialOpenResult {
  SerialOpenError error = SerialOpenError::None;
  int code = 0;      // the system's error number (errno) behind it, 0 when unknown
  std::string path;  // the device path that was opened
};

struct SerialSettings {
  std::string port;  // the port's name as listed, e.g. "ttyUSB0", or a device path
  int baudRate = 9600;
  int dataBits = 8;
  enum class Parity { None, Odd, Even } parity = Parity::None;
  enum class StopBits { One, Two } stopBits = StopBits::One;
  bool hardwareFlowControl = false;
  std::int64_t readBufferSize = 512;
};

class SerialLink {
 public:
  // Runs on the reader's thread with the bytes read at once (at most 1023).
  using ReadReady = std::function<void(const std::string& chunk)>;
  virtual ~SerialLink() = default;

  // The system's serial ports, in a stable order (the settings keep an index into it).
  virtual std::vector<std::string> AvailablePorts() = 0;
  virtual void Init(const SerialSettings& settings) = 0;
  // Opens and configures the port and starts reading. Bounded.
  virtual SerialOpenResult Open() = 0;
  // Stops reading and closes; no handler call runs after it returns. Bounded.
  virtual void Close() = 0;
  virtual bool IsOpened() const = 0;
  // Set before Open; null: the bytes are read and dropped.
  virtual void SetReadReady(ReadReady handler) = 0;
};

}  // namespace varnex2::scanner
