// The pseudo-terminal scanner: codes arrive on the slave side byte for byte.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "sim/pty_scanner.h"
#include "sim/sim_box.h"

namespace varnex2::sim {
namespace {

std::string ReadAvailable(int fd, std::size_t want) {
  std::string got;
  for (int i = 0; i < 50 && got.size() < want; ++i) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

TEST(SimPtyScanner, DeliversScannedCodesToTheSerialSide) {
  PtyScanner scanner;
  ASSERT_EQ(scanner.Open(), 0);
  ASSERT_FALSE(scanner.SlavePath().empty());
  const int fd = ::open(scanner.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(scanner.Send("VX2-000101"));
  EXPECT_EQ(ReadAvailable(fd, 12), "VX2-000101\r\n");
  // The station writing to the port does not disturb the next code.
  ASSERT_EQ(::write(fd, "?", 1), 1);
  ASSERT_TRUE(scanner.Send("B", ""));
  EXPECT_EQ(ReadAvailable(fd, 1), "B");
  ::close(fd);
  // With the station's end closed the scanner still accepts codes.
  EXPECT_TRUE(scanner.Send("C"));
  scanner.Close();
  EXPECT_FALSE(scanner.Send("D"));
}

TEST(SimPtyScanner, ScenarioScanStepsReachThePort) {
  PtyScanner scanner;
  ASSERT_EQ(scanner.Open(), 0);
  const int fd = ::open(scanner.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  SimBox box;
  box.SetScanObserver([&](const std::string& code) { scanner.Send(code); });
  ScenarioAction scan;
  scan.op = ScenarioOp::Scan;
  scan.text = "PANEL-7";
  box.Apply(scan);
  EXPECT_EQ(ReadAvailable(fd, 9), "PANEL-7\r\n");
  ::close(fd);
}

}  // namespace
}  // namespace varnex2::sim
