// Process start-up in its fixed order, then the main thread's status loop:
// the composition root, the one place that starts every thread.
#pragma once

constexpr int kVersionMajor = 0;
constexpr int kVersionMinor = 14;
constexpr int kVersionPatch = 10;
constexpr const char kProductTitle[] = "Vantagebridge Cable Basic";

// Runs start-up and never returns.
[[noreturn]] void RunDaemon();
