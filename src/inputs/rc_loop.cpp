// The RC loop thread: idle while the camera link is down, one pass every
// 20 ms while it is up.
#include "inputs/rc_loop.h"

#include <pthread.h>

#include <cstdint>

#include "common/shared_field.h"
#include "inputs/keep_alive.h"
#include "inputs/rc_mapping.h"
#include "operations/motion.h"
#include "platform/clock.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/shared_config.h"

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
void CentreLostRcMotion(RcLoopState& st, const HudState* hud, bool mapping_ran) {
  const MotionIntent* motion = GetMotionIntent();
  auto gone = [&](int f) { return !mapping_ran || hud->rc_function_active[f] == 0; };
  if ((motion->rc_pan_speed != 0 || motion->rc_tilt_speed != 0) && (gone(kRcPan) || gone(kRcTilt))) {
    StoreRcSpeed(0, 0);
    SetPanTiltSpeed(motion->client_pan_speed, motion->client_tilt_speed);
  }
  if (st.rc_dutch_speed != 0 && gone(kRcDutch)) {
    if (motion->dutch_speed_wanted == st.rc_dutch_speed) SetDutchSpeed(0);
    st.rc_dutch_speed = 0;
  }
  if (st.rc_zoom_speed != 0 && gone(kRcDigitalZoom2)) {
    if (motion->zoom_speed == st.rc_zoom_speed) SetDigitalZoomSpeed(0);
    st.rc_zoom_speed = 0;
  }
  if (st.last_zoom_step != 0 && gone(kRcZoom)) {
    if (motion->optical_zoom_direction == st.last_zoom_step) SetOpticalZoom(0);
    st.last_zoom_step = 0;
  }
  if (!mapping_ran) st.rc_active = 0;
}

}  // namespace

RcLoopState& RcState() { return g_state; }

void ResetRcLoop() { g_state = kStartState; }

void RcLoopPass() {
  const HudState* hud = GetHudState();
  const SharedConfig* config = GetSharedConfig();
  const bool mapping_runs = LoadShared(&config->rc_input_enabled) != 0 && LoadShared(&hud->rc_input_status) == 6;
  if (mapping_runs) RcMappingPass(g_state, hud, config);
  CentreLostRcMotion(g_state, hud, mapping_runs);
  RcKeepAlivePass(g_state, hud, config);
  // Wraps like the int32 counter of the box, without overflowing.
  g_state.pass_counter = static_cast<int32_t>(static_cast<uint32_t>(g_state.pass_counter) + 1u);
}

void* RunRcLoop(void*) {
  pthread_setname_np(pthread_self(), "rc-loop");
  const LinkState* link = GetLinkState();
  for (;;) {
    while (link->link_up == 0) SleepMilliseconds(100);
    RcLoopPass();
    SleepMilliseconds(20);
  }
  return nullptr;
}
