// The lens shield: a hobby servo on PWM pin 25 opened for capture and closed
// again once the camera has been idle for the configured time.
#include "inputs/shield.h"

#include <cstdio>

#include "camera/hud_state.h"
#include "config/shared_config.h"
#include "platform/gpio.h"
#include "platform/clock.h"

std::atomic<uint32_t> g_shield_activity_ms{0};

namespace {
std::atomic<SharedConfig*> g_config{nullptr};
std::atomic<HudState*> g_hud{nullptr};
std::atomic<int32_t> g_is_open{0};

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
}  // namespace

void StartShield() {
  fprintf(stderr, "Init PWM output\n");
  PreparePwmPin();
  g_config = GetSharedConfig();
  g_hud = GetHudState();
  CloseShield();
}

void OpenShield() {
  SharedConfig* config = g_config.load();
  if (config == nullptr || config->shield_enabled == 0) return;
  HudState* hud = g_hud.load();
  if (hud != nullptr) hud->shield_closed = 0;
  if (g_is_open.load() == 1) return;
  const int32_t open_us = config->shield_open;
  const int32_t timeout_ms = config->shield_timeout;
  fprintf(stderr, "shield open to position %d, timeout is %d\n", open_us, timeout_ms);
  pwmWrite(kShieldPwmPin, open_us);
  g_is_open = 1;
  g_shield_activity_ms = MillisecondClock();
}

void CloseShield() {
  SharedConfig* config = g_config.load();
  if (config == nullptr || config->shield_enabled == 0) return;
  HudState* hud = g_hud.load();
  if (hud != nullptr) hud->shield_closed = 1;
  if (g_is_open.load() == 0) return;
  const int32_t close_us = config->shield_close;
  fprintf(stderr, "shield closed to position %d\n", close_us);
  pwmWrite(kShieldPwmPin, close_us);
  g_is_open = 0;
}

int ShieldIsOpen() { return g_is_open.load(); }

void ShieldStep() {
  SharedConfig* config = g_config.load();
  HudState* hud = g_hud.load();
  if (config == nullptr || hud == nullptr || config->shield_enabled == 0) return;
  const uint8_t flags = hud->camera_status_flags;
  const bool busy = (flags & 0x08) != 0 || (flags & 0xC0) != 0;
  if (busy) {
    g_shield_activity_ms = MillisecondClock();
    return;
  }
  const int32_t idle_ms = static_cast<int32_t>(MillisecondClock() - g_shield_activity_ms.load());
  if (idle_ms > config->shield_timeout) CloseShield();
}
