// Readiness and liveness messages to a supervising service manager (systemd,
// Type=notify). Without NOTIFY_SOCKET in the environment every call is a no-op.
#pragma once

#include <cstdint>

// Start-up is done: the sockets are bound and the shared records are mapped.
void NotifyServiceReady();

// Before READY=1: the start may take milliseconds more from now, beyond the
// manager's own start time-out (a slow step of start-up, such as a shell
// command that runs to its deadline).
void ExtendServiceStartTimeout(uint32_t milliseconds);

// Called once per status-loop cycle with the watchdog thread's pass count.
// The keep-alive goes out only when that count moved since the last one sent,
// so a hung watchdog thread stops the pings as surely as a hung main loop.
void NotifyServiceAlive(uint32_t watchdog_passes);
