#pragma once
// A barcode scanner on a pseudo-terminal: the station opens SlavePath() as its serial port and
// receives every code sent here, as a serial scanner would deliver it.

#include <string>
#include <string_view>

namespace varnex2::sim {

class PtyScanner {
 public:
  PtyScanner() = default;
  ~PtyScanner();
  PtyScanner(const PtyScanner&) = delete;
  PtyScanner& operator=(const PtyScanner&) = delete;

  // Creates the pseudo-terminal (raw, 9600 8N1). 0 on success, a negative errno otherwise.
  int Open();
  bool IsOpen() const { return master_ >= 0; }
  // The device path the station opens, e.g. "/dev/pts/5"; empty when not open.
  const std::string& SlavePath() const { return slavePath_; }
  // Writes the code followed by the terminator. Never blocks: false when the port is closed or
  // its buffer is full (nobody reads).
  bool Send(std::string_view code, std::string_view terminator = "\r\n");
  void Close();

 private:
  int master_ = -1;
  int slave_ = -1;  // kept open so that the station's close does not hang the line up
  std::string slavePath_;
};

}  // namespace varnex2::sim
