// The RC loop's own state, kept between passes: latches, steppers, filters
// and the values last sent. Only the RC loop thread touches it (the mapping,
// the keep-alive and the thread's body, each in a file of its own).
#pragma once

#include <cstdint>

// Control function codes of the RC channel map.
enum RcFunction : int {
  kRcPan = 0,
  kRcTilt = 1,
  kRcRecord = 2,
  kRcRecordShot = 3,
  kRcMenu = 4,
  kRcEv = 5,
  kRcZoom = 6,
  kRcFocus = 7,
  kRcDutch = 8,
  kRcFocusPan = 9,
  kRcFocusTilt = 10,
  kRcDigitalZoom = 11,
  kRcDigitalZoom2 = 12,
  kRcIso = 13,
  kRcShutter = 14,
  kRcAperture = 15,
  kRcVideoMode = 16,
  kRcCustomFocusAssistant = 17,
  kRcCenter = 18,
  kRcIntCamera = 19,
  kRcOsd = 20,
  kRcOrientLock = 21,
};

struct RcLoopState {
  uint8_t rc_active;
  uint8_t capture_latch;
  uint8_t iso_latch;
  uint8_t shutter_latch;
  uint8_t aperture_latch;
  uint8_t videomode_latch;
  uint8_t center_latch;
  uint8_t intcamera_latch;
  uint8_t orient_lock_latch;
  int32_t iso_index;
  int32_t image_mode_index;
  uint8_t last_ev_index;        // 255: none sent yet
  int32_t last_iso_index;       // -1: none sent yet
  int32_t last_image_mode_index;
  int32_t last_zoom_step;
  int32_t last_focus_value;
  int32_t last_digital_zoom;
  double focus_filtered;        // percent
  double last_focus_point_x;
  double last_focus_point_y;
  uint32_t focus_point_changed_ms;  // 0: nothing pending
  int32_t pass_counter;
  int32_t rc_dutch_speed;       // the roll speed the mapping last set
  int32_t rc_zoom_speed;        // the digital zoom speed the mapping last set
};
