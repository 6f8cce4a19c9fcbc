#include "records/motion_intent.h"

#include <arpa/inet.h>

#include <memory>

#include "platform/clock.h"

namespace {

MotionIntent g_motion_intent;

// The lock counter wraps at a multiple of ten so that the every-tenth-call
// rhythm survives years of attitude messages without signed overflow.
constexpr int32_t kLockCountWrap = 2000000000;

// The driver of a motion that goes on: whoever set it when it moves, nobody
// when it stops. The time goes first, so a repeat never looks stale.
void NoteDriver(MotionDriverSlot& slot, bool moving, MotionDriver driver) {
  slot.set_ms.store(MillisecondClock(), std::memory_order_relaxed);
  slot.id.store(moving ? driver : 0, std::memory_order_relaxed);
}

}  // namespace

const MotionIntent* GetMotionIntent() { return &g_motion_intent; }

MotionDriver ViewerMotionDriver(const char* address, uint32_t port) {
  in_addr parsed{};
  if (address == nullptr || inet_pton(AF_INET, address, &parsed) != 1) return 0;
  return (static_cast<MotionDriver>(ntohl(parsed.s_addr)) << 16 | (port & 0xFFFFu)) + 1;
}

void StoreGimbalStopped(uint8_t stopped) { g_motion_intent.gimbal_stopped = stopped; }

bool StoreWantedPanTilt(int32_t pan, int32_t tilt, MotionDriver driver) {
  MotionIntent& m = g_motion_intent;
  NoteDriver(m.pan_tilt_driver, pan != 0 || tilt != 0, driver);
  if (pan == m.pan_speed_wanted && tilt == m.tilt_speed_wanted) return false;
  m.pan_speed_wanted = pan;
  m.tilt_speed_wanted = tilt;
  return true;
}

bool StoreWantedDutch(int32_t dutch) {
  if (dutch == g_motion_intent.dutch_speed_wanted) return false;
  g_motion_intent.dutch_speed_wanted = dutch;
  return true;
}

void StoreClientSpeed(int32_t pan, int32_t tilt, MotionDriver driver) {
  g_motion_intent.client_pan_speed = pan;
  g_motion_intent.client_tilt_speed = tilt;
  NoteDriver(g_motion_intent.client_speed_driver, pan != 0 || tilt != 0, driver);
}

void StoreRcSpeed(int32_t pan, int32_t tilt) {
  g_motion_intent.rc_pan_speed = pan;
  g_motion_intent.rc_tilt_speed = tilt;
}

void StopRcMotion() {
  g_motion_intent.pan_speed_wanted = 0;
  g_motion_intent.tilt_speed_wanted = 0;
  StoreRcSpeed(0, 0);
}

void StoreZoomSpeed(int32_t speed, MotionDriver driver) {
  g_motion_intent.zoom_speed = speed;
  NoteDriver(g_motion_intent.zoom_speed_driver, speed != 0, driver);
}

void StoreOpticalZoom(int32_t direction, MotionDriver driver) {
  g_motion_intent.optical_zoom_direction = direction;
  NoteDriver(g_motion_intent.optical_zoom_driver, direction != 0, driver);
}

bool StoreDigitalZoomAsked(int32_t level) { return g_motion_intent.digital_zoom_asked.exchange(level) != level; }

void StoreZoomLevel(int32_t level) { g_motion_intent.zoom_level = level; }

void StoreOrientationLockWanted(uint8_t wanted) { g_motion_intent.orientation_lock_wanted = wanted; }

int32_t CountOrientationLockCall() {
  const int32_t count = g_motion_intent.lock_call_count;
  g_motion_intent.lock_call_count = count >= kLockCountWrap - 1 ? 0 : count + 1;
  return count;
}

void StampGimbalSpeed(uint32_t ms) { g_motion_intent.last_gimbal_speed_ms = ms; }

void EndRcAttitude() { g_motion_intent.rc_attitude_enabled = 0; }

bool TakeMotionDriver(MotionDriverSlot MotionIntent::*slot, MotionDriver driver) {
  return (g_motion_intent.*slot).id.compare_exchange_strong(driver, 0);
}

void ResetMotionIntent() {
  std::destroy_at(&g_motion_intent);
  std::construct_at(&g_motion_intent);
}
