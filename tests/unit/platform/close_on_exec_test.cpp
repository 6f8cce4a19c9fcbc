// Descriptors the platform layer opens are close-on-exec, so programs the
// daemon runs (and children they leave behind) never hold its ports or devices.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/i2c.h"
#include "platform/udp_socket.h"

namespace {

TEST(CloseOnExec, EveryOpenerSetsTheFlag) {
  struct Case {
    const char* name;
    int (*open)();
  } cases[] = {
      {"UDP socket", [] { return OpenBlockingUdpSocket(0); }},
      {"UDP socket with buffers", [] { return OpenBlockingUdpSocket(100000); }},
      {"I2C device", [] { return I2cOpen("/dev/null"); }},  // any device node opens the same way
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int fd = c.open();
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    close(fd);
  }
}

}  // namespace
