// The RC control loop: RC receiver functions to camera operations, and the
// 20 ms keep-alive of every continuous motion whatever its source.
#pragma once

#include "inputs/rc_loop_state.h"

void* RunRcLoop(void*);

// One 20 ms pass while the link is up (the thread calls it; tests drive it):
// the RC mapping when RC input is enabled and its status is 6 (otherwise the
// motion RC set stops), then the keep-alive duties; then the pass counter
// advances.
void RcLoopPass();

// The loop's latches, steppers, filters and last-sent values back to their
// start values.
void ResetRcLoop();
// The loop's state (tests read and set it between passes).
RcLoopState& RcState();
