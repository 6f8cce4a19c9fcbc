// The simulated camera behind vb-camera: the state its telemetry reports, the
// scripted motion that moves it, and the box frames it reacts to.
#pragma once

#include <cstddef>
#include <cstdint>

#include "records/camera_codes.h"

struct SimCamera {
  bool demo = true;           // run the scripted pan, focus pull and recording cycle
  double t = 0;               // seconds since start
  double pan_deg = 0, tilt_deg = 0, dutch_deg = 0;
  double pan_speed = 0, tilt_speed = 0;  // degrees per second, from the box's speed frames
  uint8_t orientation_locked = 0;
  uint8_t work_mode = 1;      // 0 photo, 1 video
  bool recording = false;
  double record_started = 0;
  uint16_t focus_range = 1000;
  uint16_t focus_position = 500;
  float focus_value = 1.5f;
  float focus_x = 0.5f, focus_y = 0.5f;
  uint8_t focus_mode = 1;     // 0 manual, 1 auto
  uint8_t assistant_bits = 0;
  uint32_t shutter_code = kShutterSteps[ShutterIndexOfName("100")].code;  // 1/100 s
  int16_t aperture_x100 = 280;                                            // f/2.8
  uint8_t ev_code = EvCodeOfTenths(0);
  uint8_t video_format_a = 10, video_format_b = 3;
  uint8_t digital_zoom = 0;   // level 0 ... 100
  uint32_t counter = 0;
  uint8_t playback_state = 0;
  uint32_t shots = 0;
  bool shutter_down = false;  // a shot press seen, its release not yet
};

// Advances the simulated camera by dt seconds: the scripted motion in demo
// mode, plus whatever speed the box asked for.
void StepCamera(SimCamera* cam, double dt);

// Lets the camera react to a frame from the box (mode, record and shot key
// events, gimbal speed and angle, focus point, digital zoom, EV, shutter and
// aperture). Returns a short note of what changed ("record on", "pan speed
// 10") or nullptr.
const char* ApplyBoxFrame(SimCamera* cam, const uint8_t* frame, size_t length);
