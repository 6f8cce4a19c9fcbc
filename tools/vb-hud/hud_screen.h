// The live terminal view of a HudState snapshot (ncurses).
#pragma once

#include "records/health_record.h"
#include "records/hud_state.h"
#include "records/stream_status.h"

// Starts and ends curses mode on the terminal.
void OpenHudScreen();
void CloseHudScreen();

// Redraws the whole view from one snapshot, the health record (nullptr when
// there is none) and the live video's state.
void DrawHudScreen(const HudState& s, const HealthRecord* health, const StreamStatus& stream, const char* record_name,
                   unsigned refresh_ms);

// Waits up to timeout_ms for a key; true when the user asked to quit (q, Q, Esc).
bool HudScreenQuitKey(int timeout_ms);
