// The local command mailbox in HudState and the RC channel report to viewers.
#pragma once

#include <cstdint>

// The flag byte (the text's first) while the box takes a command: no writer
// may start, and a writer's withdrawal finds the command taken.
constexpr char kMailboxTaking = 1;

// The box's side of the mailbox handshake over a kCommandMailboxSize area:
// loads the flag (the first byte) with acquire, claims the command by
// exchanging the flag for kMailboxTaking, copies the text into text (room for
// kCommandMailboxSize bytes, NUL-terminated), clears the rest of the area and
// only then stores 0 in the flag with release. Returns the text's length, 0
// when the area held no command or its writer withdrew it first.
int TakeMailboxCommand(char* mailbox, char* text);

// Thread body: one pass every 100 ms, for ever.
void* RunMailboxAndRcRelay(void*);

// One pass at clock value now (the thread body calls it; tests drive it).
void MailboxAndRcRelayPass(uint32_t now);
// Forgets the time of the last RC channel report (as at process start).
void ResetMailboxAndRcRelay();
