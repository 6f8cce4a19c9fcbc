// The status message the main thread sends the viewers three times a cycle.
#pragma once

#include <cstdint>

// The status flags byte of the status message, from the current records.
uint8_t BuildStatusFlags();

// One cycle of the status loop: the flags read once, then three status
// messages 100 ms apart, then the 500 ms pause.
void SendStatusCycle();
