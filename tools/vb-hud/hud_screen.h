// The live terminal view of a HudState snapshot (ncurses).
#pragma once

#include "records/health_record.h"
#include "records/hud_state.h"

// Starts and ends curses mode on the terminal.
void OpenHudScreen();
void CloseHudScreen();

// Redraws the whole view from one snapshot and the health record (nullptr
// when there is none).
void DrawHudScreen(const HudState& s, const HealthRecord* health, const char* record_name, unsigned refresh_ms);

// Waits up to timeout_ms for a key; true when the user asked to quit (q, Q, Esc).
bool HudScreenQuitKey(int timeout_ms);
