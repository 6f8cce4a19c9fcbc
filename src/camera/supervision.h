// Link supervision and time sync: one step a second on the watchdog thread.
#pragma once

#include <atomic>
#include <cstdint>

// 1 at start; the "time" command clears it. While set, supervision keeps the
// camera clock set from the box's clock.
extern std::atomic<uint8_t> g_date_sync_pending;

void SuperviseCameraLink();

// t (seconds since the epoch) through localtime_r and strftime with format,
// read back as a decimal number; -1 when strftime produced nothing.
int FormatTimeField(int32_t t, const char* format);
