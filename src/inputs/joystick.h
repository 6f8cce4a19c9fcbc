// I2C joystick boards at 0x40 and 0x41 on bus 1.
#pragma once

#include <cstdint>

constexpr int kJoystickReportSize = 10;

void StartI2cInput();

// Acts on the report last read for board 0 or 1.
void HandleJoystickReport(int board);

// Whether the n bytes a read returned form a report (n < 0: the read failed):
// n >= 2 when the XOR of the first n - 1 bytes is the last byte, n = 1 when
// that byte is 0.
int JoystickReportAccepted(const uint8_t* bytes, int n);

// One poll cycle of the thread: select, read, check and act, board 0 then 1.
void PollJoysticksOnce();

// Board state, report buffer and encoder focus back to their start values.
void ResetJoysticks();
