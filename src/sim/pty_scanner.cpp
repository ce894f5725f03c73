#include "sim/pty_scanner.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace varnex2::sim {

PtyScanner::~PtyScanner() { Close(); }

int PtyScanner::Open() {
  Close();
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) return -errno;
  char name[128] = {};
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
    const int e = errno;
    ::close(master);
    return -e;
  }
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    const int e = errno;
    ::close(master);
    return -e;
  }
  termios t{};
  if (::tcgetattr(slave, &t) == 0) {
    ::cfmakeraw(&t);  // no echo back into the master, bytes pass unchanged
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    t.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(slave, TCSANOW, &t);
  }
  master_ = master;
  slave_ = slave;
  slavePath_ = name;
  return 0;
}

bool PtyScanner::Send(std::string_view code, std::string_view terminator) {
  if (master_ < 0) return false;
  // Discard whatever the station wrote to the port: a scanner ignores it.
  char sink[256];
  while (::read(master_, sink, sizeof sink) > 0) {
  }
  std::string bytes(code);
  bytes.append(terminator);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void PtyScanner::Close() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
  slavePath_.clear();
}

}  // namespace varnex2::sim
