// The RC control loop: RC receiver functions to camera operations, and the
// 20 ms keep-alive of every continuous motion whatever its source.
#pragma once

void* RunRcLoop(void*);

// One 20 ms pass while the link is up (the thread calls it; tests drive it).
void RcLoopPass();
