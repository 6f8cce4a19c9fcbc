#include "inputs/keep_alive.h"

#include <cfloat>

#include "common/saturating.h"
#include "common/shared_field.h"
#include "operations/exposure_focus.h"
#include "operations/motion.h"
#include "platform/clock.h"
#include "records/link_state.h"
#include "records/motion_intent.h"

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

void RcKeepAlivePass(RcLoopState& st, const HudState* hud, const SharedConfig* config) {
  const LinkState* link = GetLinkState();
  const MotionIntent* motion = GetMotionIntent();
  if (link->cooperative == 0 && st.pass_counter % kCarrierAttitudeEveryPasses == 0 && link->source_mode == 1 &&
      motion->rc_attitude_enabled != 0) {
    SendCarrierAttitude(0, 0);
  }

  const uint32_t now = MillisecondClock();
  EndLapsedMotions(now);

  // The only place that sends a moving speed.
  const int32_t pan = motion->pan_speed_wanted;
  const int32_t tilt = motion->tilt_speed_wanted;
  const int32_t dutch = motion->dutch_speed_wanted;
  if ((pan != 0 || tilt != 0 || dutch != 0) && motion->gimbal_stopped == 0) SendGimbalSpeed(pan, tilt, dutch);

  const int32_t zoom_speed = motion->zoom_speed;
  if (zoom_speed != 0) SetDigitalZoom(SaturatedAdd(zoom_speed, motion->zoom_level));

  const int32_t direction = motion->optical_zoom_direction;
  if (direction != 0) SendOpticalZoom(direction);

  const uint8_t focus_mode = LoadShared(&hud->focus_mode);
  if (st.focus_point_changed_ms != 0 && OlderThanSettle(now, st.focus_point_changed_ms)) {
    // The camera counts y from the other edge.
    if (focus_mode == 1) {
      SetFocusPoint(ToFloat(LoadShared(&hud->focus_point_x)), ToFloat(1 - LoadShared(&hud->focus_point_y)));
    }
    st.focus_point_changed_ms = 0;
  }

  const uint32_t moved_ms = motion->last_gimbal_speed_ms;
  if (LoadShared(&config->focus_assistant_enabled) != 0 && focus_mode == 1 && moved_ms != 0 &&
      OlderThanSettle(now, moved_ms)) {
    SetFocusPoint(ToFloat(LoadShared(&hud->focus_x)), ToFloat(LoadShared(&hud->focus_y)));
    StampGimbalSpeed(0);
  }
}
