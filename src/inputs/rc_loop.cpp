// The RC loop thread: idle while the camera link is down, one pass every
// 20 ms while it is up.
#include "inputs/rc_loop.h"

#include <pthread.h>

#include <cstdint>

#include "camera/camera_link.h"
#include "camera/hud_state.h"
#include "config/shared_config.h"
#include "inputs/rc_loop_state.h"
#include "startup/clock.h"

namespace {

constexpr RcLoopState kStartState = [] {
  RcLoopState s{};
  s.last_ev_index = 255;
  s.last_iso_index = -1;
  s.last_image_mode_index = -1;
  return s;
}();

RcLoopState g_state = kStartState;

}  // namespace

RcLoopState& RcState() { return g_state; }

void ResetRcLoop() { g_state = kStartState; }

void RcLoopPass() {
  HudState* hud = GetHudState();
  SharedConfig* config = GetSharedConfig();
  CameraLink* link = GetCameraLink();
  if (config->rc_input_enabled != 0 && hud->rc_input_status == 6) RcMappingPass(g_state, hud, config, link);
  RcKeepAlivePass(g_state, hud, config, link);
  // Wraps like the int32 counter of the box, without overflowing.
  g_state.pass_counter = static_cast<int32_t>(static_cast<uint32_t>(g_state.pass_counter) + 1u);
}

void* RunRcLoop(void*) {
  pthread_setname_np(pthread_self(), "rc-loop");
  CameraLink* link = GetCameraLink();
  for (;;) {
    while (link->link_up == 0) SleepMilliseconds(100);
    RcLoopPass();
    SleepMilliseconds(20);
  }
  return nullptr;
}
