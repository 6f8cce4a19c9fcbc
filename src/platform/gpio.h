// wiringPi's GPIO and PWM calls. On the box they are the real library; elsewhere
// a simulated backend keeps every pin's mode, level and PWM value in memory.
#pragma once

#ifdef VB_WITH_WIRINGPI
#include <wiringPi.h>
#else
constexpr int INPUT = 0;
constexpr int OUTPUT = 1;
constexpr int PWM_OUTPUT = 2;
constexpr int LOW = 0;
constexpr int HIGH = 1;

int wiringPiSetup();
void pinMode(int pin, int mode);
void digitalWrite(int pin, int value);
void pwmWrite(int pin, int value);

// Simulated backend: what the program last did to each pin.
int GpioSimMode(int pin);
int GpioSimLevel(int pin);
int GpioSimPwm(int pin);
int GpioSimPwmWrites(int pin);  // how many pwmWrite calls the pin has seen
void GpioSimReset();
#endif
