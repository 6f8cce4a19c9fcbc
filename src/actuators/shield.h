// The lens shield: a hobby servo on PWM pin 25, opened for capture (command
// workers, the RC loop's worker, the joysticks) and closed again by the
// watchdog once the camera has been idle for the configured time.
#pragma once

#include <cstdint>

constexpr int kShieldPwmPin = 25;

void StartShield();
void OpenShield();
void CloseShield();
int ShieldIsOpen();
// One watchdog step: closes the shield once the camera was idle long enough.
void ShieldStep();

// Millisecond clock of the open, refreshed while the camera is busy; the
// auto-close counts from here (tests move it back instead of waiting).
uint32_t ShieldActivityMs();
void SetShieldActivityMs(uint32_t ms);
