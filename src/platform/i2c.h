// The I2C bus device: "/dev/i2c-1" with the I2C_SLAVE request on the box; tests
// install a scripted device instead.
#pragma once

#include <cstdint>

int I2cOpen(const char* path);                    // descriptor, or -1 with errno set
int I2cSelectSlave(int fd, int address);          // 0 on success
int I2cRead(int fd, uint8_t* buffer, int size);   // bytes read, or -1

// Test seam: a scripted device answers every call while installed.
struct I2cScript {
  int (*select_slave)(int address);
  int (*read)(int address, uint8_t* buffer, int size);
};
void I2cInstallScript(const I2cScript* script);  // nullptr restores the real device
