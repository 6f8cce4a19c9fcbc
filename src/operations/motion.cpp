#include "operations/motion.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/saturating.h"
#include "common/shared_field.h"
#include "common/wire.h"
#include "platform/clock.h"
#include "platform/ordered_work.h"
#include "records/link_state.h"
#include "records/shared_config.h"
#include "senders/camera_frames.h"
#include "senders/camera_sender.h"

namespace {

constexpr int32_t kInspireSpeedLimit = 1700;

// One axis as it goes on the wire: inverted on request (in 64 bits, so that
// the most negative int inverts cleanly), clamped in Inspire work mode, and
// saturated at the signed 16-bit field in either mode.
uint16_t SpeedOnWire(int32_t value, int32_t inverse, bool inspire) {
  int64_t v = value;
  if (inverse != 0) v = -v;
  if (inspire) {
    if (v > kInspireSpeedLimit) v = kInspireSpeedLimit;
    if (v < -kInspireSpeedLimit) v = -kInspireSpeedLimit;
  }
  return static_cast<uint16_t>(SaturateToInt16(v));
}

uint16_t AngleOnWire(int32_t value) { return static_cast<uint16_t>(SaturateToInt16(value)); }

void SendGroupOfThree(const FrameTemplate<23>& stored) {
  for (int i = 0; i < 3; ++i) {
    if (!SendTemplateIfLinkUp(stored)) break;
  }
}

// Stops the gimbal before an absolute move or a key sequence, unless it is
// known to stand still already.
void StopGimbalIfMoving() {
  if (GetMotionIntent()->gimbal_stopped == 0) SendGimbalSpeed(0, 0, 0);
}

// Each continuous motion with its driver and what stops it.
struct DrivenMotion {
  MotionDriverSlot MotionIntent::*slot;
  void (*stop)();
};
constexpr DrivenMotion kDrivenMotions[] = {
    {&MotionIntent::client_speed_driver, [] { HandleGimbalControl(1, 0, 0); }},
    {&MotionIntent::pan_tilt_driver, [] { SetPanTiltSpeed(0, 0); }},
    {&MotionIntent::zoom_speed_driver, [] { SetDigitalZoomSpeed(0); }},
    {&MotionIntent::optical_zoom_driver, [] { SetOpticalZoom(0); }},
};

std::atomic<int32_t> g_lock_keys_wanted{0};

void SendOrientationLockKeys() {
  const int32_t wanted = g_lock_keys_wanted.load(std::memory_order_relaxed);
  StopGimbalIfMoving();
  SendGroupOfThree(wanted != 0 ? kLockPress : kUnlockPress);
  SleepMilliseconds(10);
  SendGroupOfThree(wanted != 0 ? kButtonReleaseCamera : kButtonReleaseGimbal);
}

}  // namespace

void SendGimbalSpeed(int32_t pan, int32_t tilt, int32_t dutch) {
  const SharedConfig* config = GetSharedConfig();
  const bool inspire = GetLinkState()->source_mode == 1;
  const int32_t inverse_pan = LoadShared(&config->rc_input_inverse_pan);
  const int32_t inverse_tilt = LoadShared(&config->rc_input_inverse_tilt);
  const int32_t inverse_dutch = LoadShared(&config->rc_input_inverse_dutch);
  SendPatched(kGimbalSpeed, [&](uint8_t* frame) {
    PutU16(frame + 11, SpeedOnWire(pan, inverse_pan, inspire));
    PutU16(frame + 13, SpeedOnWire(dutch, inverse_dutch, inspire));
    PutU16(frame + 15, SpeedOnWire(tilt, inverse_tilt, inspire));
  });
  StampGimbalSpeed(MillisecondClock());
}

void SetGimbalAngle(int32_t pan, int32_t tilt, int32_t dutch) {
  StopGimbalIfMoving();
  StoreGimbalStopped(1);
  SendPatched(kGimbalAngle, [&](uint8_t* frame) {
    PutU16(frame + 11, AngleOnWire(pan));
    PutU16(frame + 13, AngleOnWire(dutch));
    PutU16(frame + 15, AngleOnWire(tilt));
  });
  StampGimbalSpeed(MillisecondClock());
}

void SetPanTiltSpeed(int32_t pan, int32_t tilt, MotionDriver driver) {
  const MotionIntent* motion = GetMotionIntent();
  if (!StoreWantedPanTilt(pan, tilt, driver)) return;
  if (pan == 0 && tilt == 0) {
    // Keeps a roll that is still wanted going.
    if (motion->gimbal_stopped == 0) SendGimbalSpeed(0, 0, motion->dutch_speed_wanted);
    StoreGimbalStopped(1);
  } else {
    // Moving speeds go out from the RC loop's keep-alive.
    StoreGimbalStopped(0);
  }
}

void SetDutchSpeed(int32_t dutch) {
  const MotionIntent* motion = GetMotionIntent();
  if (!StoreWantedDutch(dutch)) return;
  if (motion->pan_speed_wanted == 0 && motion->tilt_speed_wanted == 0 && dutch == 0) {
    StopGimbalIfMoving();
    StoreGimbalStopped(1);
  } else {
    StoreGimbalStopped(0);
  }
}

void SetOrientationLockWanted(uint8_t value) { StoreOrientationLockWanted(value); }

void ApplyOrientationLock(int32_t wanted) {
  if (CountOrientationLockCall() % 10 != 0) return;
  // Called from the camera receive thread and the RC loop, which must not
  // pause for the keys: a worker sends them, the latest wish at that moment.
  g_lock_keys_wanted.store(wanted, std::memory_order_relaxed);
  PostOrderedWork(SendOrientationLockKeys);
}

void SendCarrierAttitude(int32_t a, int32_t b) {
  const float hb = (static_cast<float>(b) / 2000.0f) * 0.5f;
  const float ha = (static_cast<float>(a) / 2000.0f) * 0.5f;
  const double q0 = std::cos(static_cast<double>(hb)) * std::cos(static_cast<double>(ha));
  const double q1 = std::sin(static_cast<double>(hb)) * std::cos(static_cast<double>(ha));
  const double q2 = std::cos(static_cast<double>(hb)) * std::sin(static_cast<double>(ha));
  const double q3 = -std::sin(static_cast<double>(hb)) * std::sin(static_cast<double>(ha));
  SendPatched(kCarrierAttitude, [&](uint8_t* frame) {
    // Only the header is kept: the stored floats and the bytes after them give way to zeros.
    std::memset(frame + kFrameHeaderSize, 0, kCarrierAttitude.size() - kFrameHeaderSize);
    PutF32(frame + 11, static_cast<float>(q0));
    PutF32(frame + 15, static_cast<float>(q1));
    PutF32(frame + 19, static_cast<float>(q2));
    PutF32(frame + 23, static_cast<float>(q3));
  });
}

void SendClientAttitude(float q1, float q2, float q3, float q4) {
  EndRcAttitude();
  SendPatched(kCarrierAttitude, [&](uint8_t* frame) {
    PutF32(frame + 11, q4);
    PutF32(frame + 15, q1);
    PutF32(frame + 19, q2);
    PutF32(frame + 23, q3);
  });
}

void SetDigitalZoom(int32_t level) {
  if (level < 0) level = 0;
  if (level >= 100) level = 100;
  if (!StoreDigitalZoomAsked(level)) return;
  fprintf(stderr, "Digital zoom %d%%\n", level);
  if (level == GetMotionIntent()->zoom_level) return;
  StoreZoomLevel(level);
  SendPatched(kDigitalZoom, [&](uint8_t* frame) { frame[14] = static_cast<uint8_t>(level + 100); });
}

void SetDigitalZoomSpeed(int32_t speed, MotionDriver driver) {
  StoreZoomSpeed(speed, driver);
}

void SetOpticalZoom(int32_t direction, MotionDriver driver) {
  StoreOpticalZoom(direction, driver);
  SendOpticalZoom(direction);
}

void SendOpticalZoom(int32_t direction) {
  if (direction > 0) {
    SendTemplateIfLinkUp(kOpticalZoomIn);
  } else if (direction < 0) {
    SendTemplateIfLinkUp(kOpticalZoomOut);
  } else {
    SendTemplateIfLinkUp(kOpticalZoomStop1);
    SendTemplateIfLinkUp(kOpticalZoomStop2);
  }
}

void HandleGimbalControl(int32_t selector, int32_t a, int32_t b, MotionDriver driver) {
  const MotionIntent* motion = GetMotionIntent();
  switch (selector) {
    case 0:
      SetGimbalAngle(a, b, 0);
      break;
    case 1:
      // The RC loop's own speeds add to the client's, so both sources steer.
      StoreGimbalStopped(0);
      SetPanTiltSpeed(SaturatedAdd(a, motion->rc_pan_speed), SaturatedAdd(b, motion->rc_tilt_speed));
      if (a == 0 && b == 0) StoreGimbalStopped(1);
      StoreClientSpeed(a, b, driver);
      break;
    case 2:
      if (a == -1) {
        SetDigitalZoom(SaturatedAdd(motion->zoom_level, b));
      } else if (a == -2) {
        SetDigitalZoomSpeed(b, driver);
      } else if (a == -3) {
        SetOpticalZoom(b, driver);
      } else {
        SetDigitalZoom(b);
      }
      break;
    default:
      break;
  }
}

void ReleaseViewerMotion(const char* address, uint32_t port) {
  const MotionDriver driver = ViewerMotionDriver(address, port);
  if (driver == 0) return;
  for (const DrivenMotion& m : kDrivenMotions) {
    if (TakeMotionDriver(m.slot, driver)) m.stop();
  }
}

void EndLapsedMotions(uint32_t now) {
  const MotionIntent* motion = GetMotionIntent();
  for (const DrivenMotion& m : kDrivenMotions) {
    const MotionDriverSlot& slot = motion->*m.slot;
    const MotionDriver driver = slot.id.load(std::memory_order_relaxed);
    if ((driver & kLeasedDriverBit) == 0) continue;
    // Signed: a time set just after now was read is no lapse.
    if (static_cast<int32_t>(now - slot.set_ms.load(std::memory_order_relaxed)) < static_cast<int32_t>(kLeasedMotionMs)) {
      continue;
    }
    if (TakeMotionDriver(m.slot, driver)) m.stop();
  }
}

void SetGimbalPosition(int32_t position) {
  fprintf(stderr, "set position %d\n", position);
  if (position != 0 && position != 1) return;
  StopGimbalIfMoving();
  StoreGimbalStopped(1);

  if (position == 0) {
    const FrameTemplate<23>* chain[] = {&kPosition0PressGimbal, &kPosition0PressCamera, &kPosition0PressGimbal,
                                        &kPosition0PressCamera, &kButtonReleaseGimbal,  &kButtonReleaseCamera,
                                        &kButtonReleaseGimbal,  &kButtonReleaseCamera};
    for (const FrameTemplate<23>* stored : chain) {
      if (!SendTemplateIfLinkUp(*stored)) break;
    }
    return;
  }

  // Position 1 goes in pairs with a pause after each; a pair that finds the
  // link down is cut short, the pauses are kept.
  for (int i = 0; i < 2; ++i) {
    if (SendTemplateIfLinkUp(kPosition1PressGimbal)) SendTemplateIfLinkUp(kPosition1PressCamera);
    SleepMilliseconds(20);
  }
  for (int i = 0; i < 2; ++i) {
    if (SendTemplateIfLinkUp(kButtonReleaseGimbal)) SendTemplateIfLinkUp(kButtonReleaseCamera);
    SleepMilliseconds(20);
  }
}
