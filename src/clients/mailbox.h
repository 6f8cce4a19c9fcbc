// The local command mailbox in HudState and the RC channel report to viewers.
#pragma once

#include <cstdint>

// Thread body: one pass every 100 ms, for ever.
void* RunMailboxAndRcRelay(void*);

// One pass at clock value now (the thread body calls it; tests drive it).
void MailboxAndRcRelayPass(uint32_t now);
// Forgets the time of the last RC channel report (as at process start).
void ResetMailboxAndRcRelay();
