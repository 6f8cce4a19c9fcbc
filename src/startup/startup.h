// Process start-up in its fixed order, the status loop and the watchdog.
#pragma once

#include <cstdint>

constexpr int kVersionMajor = 0;
constexpr int kVersionMinor = 14;
constexpr int kVersionPatch = 10;
constexpr const char kProductTitle[] = "Vantagebridge Cable Basic";

// Runs start-up and never returns.
[[noreturn]] void RunDaemon();

// The status flags byte of the status message, from the current records.
uint8_t BuildStatusFlags();

// One cycle of the status loop: the flags read once, then three status
// messages 100 ms apart, then the 500 ms pause.
void SendStatusCycle();

// Sets ap_running from "pidof hostapd" when an access point interface is
// configured, else clears it.
void CheckAccessPoint();

void* RunWatchdog(void*);
// Passes the watchdog thread has completed; proves it still runs.
uint32_t WatchdogPassCount();
void WatchdogPass();
