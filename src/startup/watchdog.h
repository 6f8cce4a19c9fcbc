// The watchdog thread: one pass a second supervising the camera link, the
// shield, the video link, the viewers and the access point.
#pragma once

#include <cstdint>

void* RunWatchdog(void*);
// Passes the watchdog thread has completed; proves it still runs.
uint32_t WatchdogPassCount();
void WatchdogPass();
