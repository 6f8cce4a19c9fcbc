// Simulated wiringPi backend: pins live in memory so tests can read them.
#include <atomic>

#include "platform/gpio.h"

namespace {
constexpr int kPins = 64;
std::atomic<int> g_mode[kPins];
std::atomic<int> g_level[kPins];
std::atomic<int> g_pwm[kPins];
std::atomic<int> g_pwm_writes[kPins];

bool ValidPin(int pin) { return pin >= 0 && pin < kPins; }
}  // namespace

int wiringPiSetup() { return 0; }

void pinMode(int pin, int mode) {
  if (ValidPin(pin)) g_mode[pin] = mode;
}

void digitalWrite(int pin, int value) {
  if (ValidPin(pin)) g_level[pin] = value ? HIGH : LOW;
}

void pwmWrite(int pin, int value) {
  if (!ValidPin(pin)) return;
  g_pwm[pin] = value;
  ++g_pwm_writes[pin];
}

int GpioSimMode(int pin) { return ValidPin(pin) ? g_mode[pin].load() : -1; }
int GpioSimLevel(int pin) { return ValidPin(pin) ? g_level[pin].load() : -1; }
int GpioSimPwm(int pin) { return ValidPin(pin) ? g_pwm[pin].load() : -1; }
int GpioSimPwmWrites(int pin) { return ValidPin(pin) ? g_pwm_writes[pin].load() : -1; }

void GpioSimReset() {
  for (int i = 0; i < kPins; ++i) {
    g_mode[i] = 0;
    g_level[i] = 0;
    g_pwm[i] = 0;
    g_pwm_writes[i] = 0;
  }
}
