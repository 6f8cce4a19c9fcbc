// I2C joystick boards at 0x40 and 0x41 on bus 1.
#pragma once

#include <cstdint>

void StartI2cInput();

// Acts on the report last read for board 0 or 1.
void HandleJoystickReport(int board);
