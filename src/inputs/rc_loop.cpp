// The RC loop thread: idle while the camera link is down, one pass every
// 20 ms while it is up.
#include "inputs/rc_loop.h"

#include <pthread.h>

#include <cstdint>

#include "camera/camera_link.h"
#include "camera/hud_state.h"
#include "camera/motion.h"
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

// Motion the RC set stops when its driver goes: RC mapping no longer runs (RC
// disabled, or the reader's status is not 6) or the function's channel is no
// longer live. Each share goes back as if its stick were centred, only while it
// is still the one the RC set; a viewer's speed goes on alone.
void CentreLostRcMotion(RcLoopState& st, const HudState* hud, CameraLink* link, bool mapping_ran) {
  auto gone = [&](int f) { return !mapping_ran || hud->rc_function_active[f] == 0; };
  if ((link->rc_pan_speed != 0 || link->rc_tilt_speed != 0) && (gone(kRcPan) || gone(kRcTilt))) {
    link->rc_pan_speed = 0;
    link->rc_tilt_speed = 0;
    SetPanTiltSpeed(link->client_pan_speed, link->client_tilt_speed);
  }
  if (st.rc_dutch_speed != 0 && gone(kRcDutch)) {
    if (link->dutch_speed_wanted == st.rc_dutch_speed) SetDutchSpeed(0);
    st.rc_dutch_speed = 0;
  }
  if (st.rc_zoom_speed != 0 && gone(kRcDigitalZoom2)) {
    if (link->zoom_speed == st.rc_zoom_speed) link->zoom_speed = 0;
    st.rc_zoom_speed = 0;
  }
  if (st.last_zoom_step != 0 && gone(kRcZoom)) {
    if (link->optical_zoom_direction == st.last_zoom_step) SetOpticalZoom(0);
    st.last_zoom_step = 0;
  }
  if (!mapping_ran) st.rc_active = 0;
}

}  // namespace

RcLoopState& RcState() { return g_state; }

void ResetRcLoop() { g_state = kStartState; }

void RcLoopPass() {
  HudState* hud = GetHudState();
  SharedConfig* config = GetSharedConfig();
  CameraLink* link = GetCameraLink();
  const bool mapping_runs = config->rc_input_enabled != 0 && hud->rc_input_status == 6;
  if (mapping_runs) RcMappingPass(g_state, hud, config, link);
  CentreLostRcMotion(g_state, hud, link, mapping_runs);
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
