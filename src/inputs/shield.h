// The lens shield servo on PWM pin 25.
#pragma once

constexpr int kShieldPwmPin = 25;

void StartShield();
void OpenShield();
void CloseShield();
int ShieldIsOpen();
void ShieldStep();
