// The I2C bus through Linux i2c-dev, or a scripted device installed by tests.
#include "platform/i2c.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {
std::atomic<const I2cScript*> g_script{nullptr};
std::atomic<int> g_scripted_address{0};
constexpr int kScriptedFd = 1 << 20;  // never a real descriptor
}  // namespace

void I2cInstallScript(const I2cScript* script) { g_script = script; }

int I2cOpen(const char* path) {
  if (g_script.load() != nullptr) return kScriptedFd;
  return open(path, O_RDWR | O_CLOEXEC);
}

int I2cSelectSlave(int fd, int address) {
  if (const I2cScript* script = g_script.load()) {
    g_scripted_address = address;
    return script->select_slave != nullptr ? script->select_slave(address) : 0;
  }
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  return ioctl(fd, I2C_SLAVE, static_cast<long>(address)) < 0 ? -1 : 0;
}

int I2cRead(int fd, uint8_t* buffer, int size) {
  if (size <= 0) return 0;
  if (const I2cScript* script = g_script.load()) {
    if (script->read == nullptr) return -1;
    const int n = script->read(g_scripted_address.load(), buffer, size);
    return n > size ? size : n;  // a script cannot claim more than fits
  }
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  const ssize_t n = read(fd, buffer, static_cast<size_t>(size));
  return n < 0 ? -1 : static_cast<int>(n);
}
