// Commands go out only when their value changes; latches make a switch act
// once per movement and a stepper step once per excursion.
#include "inputs/rc_mapping.h"

#include <cmath>

#include "common/saturating.h"
#include "common/shared_field.h"
#include "config/writer.h"
#include "operations/capture.h"
#include "operations/exposure_focus.h"
#include "operations/motion.h"
#include "platform/clock.h"
#include "platform/event_journal.h"
#include "platform/ordered_work.h"
#include "platform/shell.h"
#include "platform/worker_pool.h"
#include "records/camera_codes.h"
#include "records/link_state.h"
#include "records/motion_intent.h"

namespace {

// Shutter speeds slower than 1/20 s do not exist in video mode.
constexpr int kVideoShutterFloor = ShutterIndexOfName("20");
static_assert(kVideoShutterFloor >= 0);

bool Active(const HudState* hud, int f) {
  const int16_t active = hud->rc_function_active[f];
  return active != 0;
}

// The rcin process is trusted for nothing: NaN or out-of-range values are
// clamped to their range (NaN reads as the centre) before any arithmetic.
double Value(const HudState* hud, int f) {
  const double v = hud->rc_function_value[f];
  if (std::isnan(v)) return 0.0;
  return v < -1.0 ? -1.0 : (v > 1.0 ? 1.0 : v);
}

double Position(const HudState* hud, int f) {
  const double p = hud->rc_function_position[f];
  if (std::isnan(p)) return 0.5;
  return p < 0.0 ? 0.0 : (p > 1.0 ? 1.0 : p);
}

double Clamp01(double v) {
  if (std::isnan(v)) return 0.5;
  return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

void PanTilt(const HudState* hud, const SharedConfig* config, double scale) {
  if (!Active(hud, kRcPan) || !Active(hud, kRcTilt)) return;
  if (LoadShared(&config->rc_input_abs) == 0) {
    const MotionIntent* motion = GetMotionIntent();
    const int32_t pan = TruncateToInt32(scale * Value(hud, kRcPan) * LoadShared(&config->rc_input_speed_pan) / 100);
    const int32_t tilt = TruncateToInt32(scale * Value(hud, kRcTilt) * LoadShared(&config->rc_input_speed_tilt) / 100);
    StoreRcSpeed(pan, tilt);
    // Client speeds add to the RC speeds, whichever of the two changed last.
    SetPanTiltSpeed(SaturatedAdd(pan, motion->client_pan_speed), SaturatedAdd(tilt, motion->client_tilt_speed));
    return;
  }
  const double tilt_position = Position(hud, kRcTilt);
  const int32_t pan = TruncateToInt32(Position(hud, kRcPan) * 6400 - 3200);
  const int32_t tilt = tilt_position > 0.5 ? TruncateToInt32((tilt_position - 0.5) * -2400)
                                           : TruncateToInt32((0.5 - tilt_position) * 1000);
  const int32_t roll = TruncateToInt32(Position(hud, kRcDutch) * 1200 - 600);
  SetGimbalAngle(pan, tilt, roll);
}

// The capture and gimbal actions below pause between their frames (for the
// camera to change mode, or between key presses) or run shell commands: the
// loop hands them to a worker, which runs them in the order asked, and reads
// the work mode when each one starts.
uint8_t WorkMode() { return LoadShared(&GetHudState()->work_mode); }

void PressCapture() {
  if (WorkMode() == 0) {
    ShutterRelease();
  } else {
    SetRecording(1);
  }
}

void ReleaseCapture() {
  if (WorkMode() == 1) SetRecording(0);
}

void RecordInVideoMode() {
  if (WorkMode() != 1) {
    SetCameraWorkMode(1);
    SleepMilliseconds(200);
  }
  SetRecording(1);
}

void ShootInPhotoMode() {
  if (WorkMode() != 0) {
    SetCameraWorkMode(0);
    SleepMilliseconds(500);
  }
  ShutterRelease();
}

void CenterGimbal() {
  SetGimbalPosition(1);
  SetGimbalPosition(0);
}

void SaveInternalCameraSetting() {
  SaveConfiguration();
  ExecuteShellCommand("killall -q raspivid");
}

void Record(RcLoopState& st, const HudState* hud) {
  if (!Active(hud, kRcRecord)) return;
  const double v = Value(hud, kRcRecord);
  if (v > 0.5 && st.capture_latch == 0) {
    PostOrderedWork(PressCapture);
    NoteEvent(JournalEvent::kCommand, "rc", "capture press");
    st.capture_latch = 1;
  } else if (v <= 0.5 && st.capture_latch != 0) {
    PostOrderedWork(ReleaseCapture);
    NoteEvent(JournalEvent::kCommand, "rc", "capture release");
    st.capture_latch = 0;
  }
}

void RecordShot(RcLoopState& st, const HudState* hud) {
  if (!Active(hud, kRcRecordShot)) return;
  const double v = Value(hud, kRcRecordShot);
  if (v > 0.5 && st.capture_latch == 0) {
    PostOrderedWork(RecordInVideoMode);
    NoteEvent(JournalEvent::kCommand, "rc", "record in video mode");
    st.capture_latch = 1;
  } else if (v < -0.5 && st.capture_latch == 0) {
    PostOrderedWork(ShootInPhotoMode);
    NoteEvent(JournalEvent::kCommand, "rc", "shoot in photo mode");
    st.capture_latch = 1;
  } else if (v >= -0.5 && v <= 0.5 && st.capture_latch != 0) {
    PostOrderedWork(ReleaseCapture);
    NoteEvent(JournalEvent::kCommand, "rc", "capture release");
    st.capture_latch = 0;
  }
}

void Ev(RcLoopState& st, const HudState* hud) {
  if (!Active(hud, kRcEv)) return;
  int32_t index = TruncateToInt32(Position(hud, kRcEv) / 0.05263157894736842);
  if (index < 0) index = 0;
  if (index > kEvStepCount - 1) index = kEvStepCount - 1;
  if (index == st.last_ev_index) return;
  SetExposureCompensation(EvOf(kEvSteps[index]));
  st.last_ev_index = static_cast<uint8_t>(index);
}

void OpticalZoom(RcLoopState& st, const HudState* hud) {
  if (!Active(hud, kRcZoom)) return;
  const int32_t step = TruncateToInt32(Value(hud, kRcZoom) * 3000 / 600);
  if (step == st.last_zoom_step) return;
  SetOpticalZoom(step);
  st.last_zoom_step = step;
}

void Focus(RcLoopState& st, const HudState* hud) {
  if (!Active(hud, kRcFocus)) return;
  st.focus_filtered = 0.9 * st.focus_filtered + 0.1 * (Position(hud, kRcFocus) * 100);
  const int32_t n = TruncateToInt32(100 - st.focus_filtered);
  if (n == st.last_focus_value) return;
  if (LoadShared(&hud->focus_mode) == 0) SetManualFocus(st.focus_filtered);
  st.last_focus_value = n;
}

void FocusPoint(RcLoopState& st, const HudState* hud, const SharedConfig* config) {
  if (!Active(hud, kRcFocusPan) || !Active(hud, kRcFocusTilt)) return;
  const int32_t pan_speed = LoadShared(&config->rc_input_speed_pan);
  const int32_t tilt_speed = LoadShared(&config->rc_input_speed_tilt);
  const double x = Clamp01(LoadShared(&hud->focus_point_x) + Value(hud, kRcFocusPan) * 0.05 * pan_speed / 100);
  const double y = Clamp01(LoadShared(&hud->focus_point_y) + Value(hud, kRcFocusTilt) * 0.05 * tilt_speed / 100);
  StoreHudFocusPoint(x, y);
  if (x == st.last_focus_point_x && y == st.last_focus_point_y) return;
  const uint32_t now = MillisecondClock();
  st.focus_point_changed_ms = now != 0 ? now : 1;  // 0 means nothing pending
  st.last_focus_point_x = x;
  st.last_focus_point_y = y;
}

void DigitalZoom(RcLoopState& st, const HudState* hud) {
  if (Active(hud, kRcDigitalZoom)) {
    const int32_t d = TruncateToInt32(Position(hud, kRcDigitalZoom) * 100);
    const int32_t difference = st.last_digital_zoom - d;
    if (difference > 1 || difference < -1) {
      SetDigitalZoom(d);
      st.last_digital_zoom = d;
    }
  }
  if (Active(hud, kRcDigitalZoom2)) {
    st.rc_zoom_speed = TruncateToInt32(Value(hud, kRcDigitalZoom2) * 5.0);
    SetDigitalZoomSpeed(st.rc_zoom_speed);
  }
}

// One stepper: steps its index once per excursion beyond +-0.3 and re-arms
// inside +-0.1. Returns whether the index is inside 0..count-1 and differs
// from the last sent; the caller then sends it.
bool Step(double v, uint8_t& latch, int32_t& index, int32_t count, int32_t floor) {
  if (latch == 0) {
    if (v > 0.3) {
      index = SaturatedAdd(index, 1);
      latch = 1;
    } else if (v < -0.3) {
      index = SaturatedAdd(index, -1);
      latch = 1;
    }
    if (index < floor) index = floor;
    if (index > count - 1) index = count - 1;
  }
  if (v > -0.1 && v < 0.1) latch = 0;
  return index >= 0 && index < count;
}

void Steppers(RcLoopState& st, const HudState* hud) {
  const LinkState* link = GetLinkState();
  if (Active(hud, kRcIso) && Step(Value(hud, kRcIso), st.iso_latch, st.iso_index, kIsoStepCount, 0) &&
      st.iso_index != st.last_iso_index) {
    SetIso(kIsoSteps[st.iso_index].iso);
    st.last_iso_index = st.iso_index;
  }
  if (Active(hud, kRcShutter)) {
    const int32_t floor = LoadShared(&hud->work_mode) == 1 ? kVideoShutterFloor : 0;
    int32_t index = link->shutter_index;
    const bool in_table = Step(Value(hud, kRcShutter), st.shutter_latch, index, kShutterStepCount, floor);
    StoreShutterStep(index);
    if (in_table && index != link->known_shutter_index) {
      SetShutter(kShutterSteps[index].name);
      StoreSentShutterIndex(index);
    }
  }
  if (Active(hud, kRcAperture)) {
    int32_t index = link->aperture_index;
    const bool in_table = Step(Value(hud, kRcAperture), st.aperture_latch, index, kApertureStepCount, 0);
    StoreApertureStep(index);
    if (in_table && index != link->known_aperture_index) {
      SetAperture(ApertureOf(index));
      StoreSentApertureIndex(index);
    }
  }
  if (Active(hud, kRcVideoMode) &&
      Step(Value(hud, kRcVideoMode), st.videomode_latch, st.image_mode_index, kImageModeCount, 0) &&
      st.image_mode_index != st.last_image_mode_index) {
    SetImageMode(kImageModes[st.image_mode_index].name);
    st.last_image_mode_index = st.image_mode_index;
  }
}

void Switches(RcLoopState& st, const HudState* hud) {
  if (Active(hud, kRcCustomFocusAssistant)) {
    const uint8_t flag = Value(hud, kRcCustomFocusAssistant) > 0.3 ? 1 : 0;
    StoreFocusAssistantSetting(flag);
    StoreHudFlag(HudFlag::kFocusAssistant, flag);
  }
  if (Active(hud, kRcCenter)) {
    const double v = Value(hud, kRcCenter);
    if (v <= 0.3) {
      st.center_latch = 0;
    } else if (st.center_latch == 0) {
      PostOrderedWork(CenterGimbal);
      NoteEvent(JournalEvent::kCommand, "rc", "center gimbal");
      st.center_latch = 1;
    }
  }
  // The OSD is on in the low position, unlike the other switches.
  if (Active(hud, kRcOsd)) StoreHudFlag(HudFlag::kOsd, Value(hud, kRcOsd) < 0.3 ? 1 : 0);
  if (Active(hud, kRcIntCamera)) {
    const double v = Value(hud, kRcIntCamera);
    int fullscreen = -1;
    if (v > 0.3 && st.intcamera_latch == 0) fullscreen = 1;
    if (v <= 0.3 && st.intcamera_latch != 0) fullscreen = 0;
    if (fullscreen >= 0) {
      StoreInternalCameraFullscreenSetting(static_cast<uint8_t>(fullscreen));
      StoreHudFlag(HudFlag::kInternalCameraFullscreen, static_cast<uint8_t>(fullscreen));
      // A save can take as long as the shell commands it runs: a worker does it.
      PostInternalWork(SaveInternalCameraSetting);
      NoteEvent(JournalEvent::kCommand, "rc", fullscreen ? "internal camera fullscreen" : "internal camera window");
      st.intcamera_latch = static_cast<uint8_t>(fullscreen);
    }
  }
  if (Active(hud, kRcOrientLock)) {
    const double v = Value(hud, kRcOrientLock);
    if (v > 0.3 && st.orient_lock_latch == 0) {
      st.orient_lock_latch = 1;
      SetOrientationLockWanted(1);
      NoteEvent(JournalEvent::kCommand, "rc", "orientation lock");
      ApplyOrientationLock(1);
    } else if (v <= 0.3 && st.orient_lock_latch != 0) {
      st.orient_lock_latch = 0;
      SetOrientationLockWanted(0);
      NoteEvent(JournalEvent::kCommand, "rc", "orientation unlock");
      ApplyOrientationLock(0);
    }
  }
}

}  // namespace

void RcMappingPass(RcLoopState& st, const HudState* hud, const SharedConfig* config) {
  if (hud->rc_suspended != 0) {
    if (st.rc_active != 0) {
      // Stored directly: no command goes out, the keep-alive just stops.
      StopRcMotion();
      st.rc_active = 0;
    }
    return;
  }
  const bool inspire = LoadShared(&config->device_mode) == 1;
  const double scale = inspire ? 1700 : 4000;
  PanTilt(hud, config, scale);
  if (LoadShared(&config->rc_input_abs) == 0 && inspire && Active(hud, kRcDutch)) {
    st.rc_dutch_speed =
        TruncateToInt32(scale * Value(hud, kRcDutch) * LoadShared(&config->rc_input_speed_dutch) / 100);
    SetDutchSpeed(st.rc_dutch_speed);
  }
  Record(st, hud);
  RecordShot(st, hud);
  Ev(st, hud);
  OpticalZoom(st, hud);
  Focus(st, hud);
  FocusPoint(st, hud, config);
  DigitalZoom(st, hud);
  Steppers(st, hud);
  Switches(st, hud);
  st.rc_active = 1;
}
