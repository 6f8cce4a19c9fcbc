// The keep-alive half of each RC loop pass: repeats what keeps a motion going
// (gimbal speed, digital zoom speed, optical zoom) whichever input set it, and
// sends the delayed focus point updates.
#include <cfloat>

#include "camera/camera_link.h"
#include "camera/hud_state.h"
#include "camera/motion.h"
#include "commands/exposure_focus.h"
#include "config/shared_config.h"
#include "inputs/rc_loop_state.h"
#include "platform/clock.h"

namespace {

constexpr int32_t kSettleMs = 200;
constexpr int32_t kCarrierAttitudeEveryPasses = 100;

bool OlderThanSettle(uint32_t now, uint32_t then) {
  return static_cast<int32_t>(now - then) > kSettleMs;
}

// HudState is shared memory that other processes write: a double beyond the
// float range must not reach an undefined narrowing.
float ToFloat(double v) {
  if (v > FLT_MAX) return FLT_MAX;
  if (v < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(v);
}

}  // namespace

void RcKeepAlivePass(RcLoopState& st, HudState* hud, SharedConfig* config, CameraLink* link) {
  if (link->cooperative == 0 && st.pass_counter % kCarrierAttitudeEveryPasses == 0 && link->source_mode == 1 &&
      g_rc_attitude_enabled.load() != 0) {
    SendCarrierAttitude(0, 0);
  }

  // The only place that sends a moving speed.
  const int32_t pan = link->pan_speed_wanted;
  const int32_t tilt = link->tilt_speed_wanted;
  const int32_t dutch = link->dutch_speed_wanted;
  if ((pan != 0 || tilt != 0 || dutch != 0) && link->gimbal_stopped == 0) SendGimbalSpeed(pan, tilt, dutch);

  const int32_t zoom_speed = link->zoom_speed;
  if (zoom_speed != 0) SetDigitalZoom(SaturatedAdd(zoom_speed, link->zoom_level));

  const int32_t direction = link->optical_zoom_direction;
  if (direction != 0) SetOpticalZoom(direction);

  const uint32_t now = MillisecondClock();
  if (st.focus_point_changed_ms != 0 && OlderThanSettle(now, st.focus_point_changed_ms)) {
    // The camera counts y from the other edge.
    if (hud->focus_mode == 1) {
      SetFocusPoint(ToFloat(hud->focus_point_x), ToFloat(1 - hud->focus_point_y));
    }
    st.focus_point_changed_ms = 0;
  }

  const uint32_t moved_ms = link->last_gimbal_speed_ms;
  if (config->focus_assistant_enabled != 0 && hud->focus_mode == 1 && moved_ms != 0 &&
      OlderThanSettle(now, moved_ms)) {
    SetFocusPoint(ToFloat(hud->focus_x), ToFloat(hud->focus_y));
    link->last_gimbal_speed_ms = 0;
  }
}
