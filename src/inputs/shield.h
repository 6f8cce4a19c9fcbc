// The lens shield servo on PWM pin 25.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int kShieldPwmPin = 25;

void StartShield();
void OpenShield();
void CloseShield();
int ShieldIsOpen();
void ShieldStep();

// Millisecond clock of the open, refreshed while the camera is busy; the
// auto-close counts from here (tests move it back instead of waiting).
extern std::atomic<uint32_t> g_shield_activity_ms;
