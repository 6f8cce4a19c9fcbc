// Link supervision and time sync: one step a second on the watchdog thread.
#pragma once

#include <cstdint>

// One step: the link drops after a second of silence; the link state goes to
// the HUD and the viewers; the camera clock follows the box's (while the link
// state's date sync is pending) or the time source in HudState; the one-time
// state command goes out once the camera asks for it.
void SuperviseCameraLink();

// t (seconds since the epoch) through localtime_r and strftime with format,
// read back as a decimal number; -1 when strftime produced nothing.
int FormatTimeField(int64_t t, const char* format);
