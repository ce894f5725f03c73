// The scanner's serial port on Qt SerialPort, against a pseudo-terminal scanner: chunks of at
// least two bytes reach the handler on the reader thread, a lone byte waits for the next, and
// the open failures carry their reason.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "scanner/serial/c_serial_port.h"
#include "sim/pty_scanner.h"

namespace varnex2::scanner {
namespace {

using namespace std::chrono_literals;

QCoreApplication& App() {
  static int argc = 1;
  static char arg0[] = "test_serial_port";
  static char* argv[] = {arg0, nullptr};
  static QCoreApplication* app = new QCoreApplication(argc, argv);
  return *app;
}

struct Received {
  std::mutex mutex;
  std::condition_variable changed;
  std::string bytes;
  int chunks = 0;
  bool WaitFor(std::size_t size, std::chrono::milliseconds limit = 3s) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return bytes.size() >= size; });
  }
};

SerialSettings Settings(const std::string& port) {
  SerialSettings s;
  s.port = port;
  return s;
}

TEST(SerialPort, ChunksOfTwoOrMoreBytesReachTheHandler) {
  App();
  sim::PtyScanner pty;
  ASSERT_EQ(pty.Open(), 0);
  CSerialPort port({pty.SlavePath()});
  EXPECT_EQ(port.AvailablePorts().back(), pty.SlavePath());  // the extra port comes last
  Received got;
  port.SetReadReady([&](const std::string& chunk) {
    std::lock_guard lock(got.mutex);
    got.bytes += chunk;
    ++got.chunks;
    got.changed.notify_all();
  });
  port.Init(Settings(pty.SlavePath()));
  const SerialOpenResult opened = port.Open();
  ASSERT_EQ(opened.error, SerialOpenError::None);
  EXPECT_TRUE(port.IsOpened());
  EXPECT_EQ(port.Open().error, SerialOpenError::AlreadyOpen);

  ASSERT_TRUE(pty.Send("2600101"));
  ASSERT_TRUE(got.WaitFor(9));
  EXPECT_EQ(got.bytes, "2600101\r\n");

  // A lone byte waits until a second one is queued.
  ASSERT_TRUE(pty.Send("A", ""));
  EXPECT_FALSE(got.WaitFor(10, 300ms));
  ASSERT_TRUE(pty.Send("B", ""));
  ASSERT_TRUE(got.WaitFor(11));
  EXPECT_EQ(got.bytes.substr(9), "AB");

  port.Close();
  EXPECT_FALSE(port.IsOpened());
  port.Close();  // twice is harmless
}

TEST(SerialPort, OpenFailuresCarryTheirReason) {
  App();
  CSerialPort port;
  port.Init(Settings("/dev/ttyVARNEX2-none"));
  const SerialOpenResult missing = port.Open();
  EXPECT_EQ(missing.error, SerialOpenError::NotFound);
  EXPECT_EQ(missing.code, 2);
  EXPECT_EQ(missing.path, "/dev/ttyVARNEX2-none");
  EXPECT_FALSE(port.IsOpened());

  // A name without a path lives in /dev.
  port.Init(Settings("ttyVARNEX2-none"));
  EXPECT_EQ(port.Open().path, "/dev/ttyVARNEX2-none");

  // A file that is not a terminal opens but refuses the line settings: a failure, nothing shown.
  port.Init(Settings("/dev/null"));
  const SerialOpenResult notSerial = port.Open();
  EXPECT_NE(notSerial.error, SerialOpenError::None);
  EXPECT_FALSE(port.IsOpened());
}

}  // namespace
}  // namespace varnex2::scanner
