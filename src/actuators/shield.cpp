#include "actuators/shield.h"

#include <atomic>
#include <cstdio>

#include "common/shared_field.h"
#include "platform/clock.h"
#include "platform/gpio.h"
#include "records/hud_state.h"
#include "records/shared_config.h"

namespace {
std::atomic<bool> g_started{false};  // nothing moves before start-up prepared the pin
std::atomic<int32_t> g_is_open{0};
std::atomic<uint32_t> g_activity_ms{0};

// The value written is the pulse width in microseconds. On the box the start-up
// scripts normally prepare the pin; with the real library we prepare it here too:
// mark-space mode, 19.2 MHz / 19 (about 1 us per tick) and a 20000-tick frame
// (about 50 Hz), which a hobby servo accepts.
void PreparePwmPin() {
#ifdef VB_WITH_WIRINGPI
  pinMode(kShieldPwmPin, PWM_OUTPUT);
  pwmSetMode(PWM_MODE_MS);
  pwmSetClock(19);
  pwmSetRange(20000);
#endif
}

// A restored settings file may change the shield's settings while it runs.
const SharedConfig* ShieldConfig() {
  const SharedConfig* config = GetSharedConfig();
  return g_started.load() && LoadShared(&config->shield_enabled) != 0 ? config : nullptr;
}

}  // namespace

void StartShield() {
  fprintf(stderr, "Init PWM output\n");
  PreparePwmPin();
  g_started = true;
  CloseShield();
}

void OpenShield() {
  const SharedConfig* config = ShieldConfig();
  if (config == nullptr) return;
  StoreHudShieldClosed(0);
  if (g_is_open.load() == 1) return;
  const int32_t open_us = LoadShared(&config->shield_open);
  const int32_t timeout_ms = LoadShared(&config->shield_timeout);
  fprintf(stderr, "shield open to position %d, timeout is %d\n", open_us, timeout_ms);
  pwmWrite(kShieldPwmPin, open_us);
  g_is_open = 1;
  g_activity_ms = MillisecondClock();
}

void CloseShield() {
  const SharedConfig* config = ShieldConfig();
  if (config == nullptr) return;
  StoreHudShieldClosed(1);
  if (g_is_open.load() == 0) return;
  const int32_t close_us = LoadShared(&config->shield_close);
  fprintf(stderr, "shield closed to position %d\n", close_us);
  pwmWrite(kShieldPwmPin, close_us);
  g_is_open = 0;
}

int ShieldIsOpen() { return g_is_open.load(); }

void ShieldStep() {
  const SharedConfig* config = ShieldConfig();
  if (config == nullptr) return;
  const uint8_t flags = LoadShared(&GetHudState()->camera_status_flags);
  const bool busy = (flags & 0x08) != 0 || (flags & 0xC0) != 0;
  if (busy) {
    g_activity_ms = MillisecondClock();
    return;
  }
  const int32_t idle_ms = static_cast<int32_t>(MillisecondClock() - g_activity_ms.load());
  if (idle_ms > LoadShared(&config->shield_timeout)) CloseShield();
}

uint32_t ShieldActivityMs() { return g_activity_ms.load(); }

void SetShieldActivityMs(uint32_t ms) { g_activity_ms = ms; }
