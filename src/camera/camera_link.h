// CameraLink: the process-private state of the camera link (sequence counter,
// link flag, work mode, time stamps, motion state and values kept for change
// detection), plus the few process-wide camera values that several modules read.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

struct HudState;
struct SharedConfig;

struct CameraLink {
  std::atomic<uint32_t> sequence{0};   // only the low 16 bits reach the wire
  SharedConfig* config = nullptr;
  uint32_t source_mode = 0;            // 0 work as Osmo, 1 work as Inspire
  uint8_t link_up = 0;
  uint32_t last_gimbal_speed_ms = 0;
  HudState* hud = nullptr;
  uint32_t last_rx_ms = 0;
  uint32_t cooperative = 0;
  pthread_t mailbox_thread{};
  pthread_t rc_loop_thread{};
  uint8_t orientation_lock_wanted = 0;

  // Gimbal and zoom motion state.
  int32_t lock_call_count = 0;
  uint8_t gimbal_stopped = 0;
  int32_t pan_speed_wanted = 0;
  int32_t tilt_speed_wanted = 0;
  int32_t dutch_speed_wanted = 0;
  int32_t zoom_speed = 0;
  int32_t zoom_level = 0;
  int32_t optical_zoom_direction = 0;
  int32_t rc_pan_speed = 0;
  int32_t rc_tilt_speed = 0;
  int32_t client_pan_speed = 0;
  int32_t client_tilt_speed = 0;
  // The viewer whose gimbal control set the client share (ViewerMotionDriver,
  // motion.h), 0 when none: when that viewer goes, its share goes to 0.
  // Set by the viewer receive thread; cleared there and by the watchdog.
  std::atomic<uint64_t> client_speed_driver{0};

  // Shot-mode mirror kept by the parser.
  uint8_t shot_mode = 0;
  uint8_t shot_submode = 0;
  uint8_t shot_active = 0;

  // Recording indicator blink.
  uint32_t blink_ms = 0;
  uint8_t blink_state = 0;

  uint32_t focus_byte42 = 0;           // focus report byte 42: the assistant bits
  uint32_t focus_range = 0;            // focus report bytes 12-13
  int32_t aperture_index = 0;
  uint8_t last_video_format_a = 0;     // 0: not yet seen
  uint8_t last_video_format_b = 0;
  int32_t shutter_index = 0;
  uint16_t timelapse_interval = 0;
  uint16_t timelapse_duration = 0;

  uint8_t state_action_done = 0;       // the one-time state command has gone out
};

CameraLink* GetCameraLink();

// The camera's current aperture and shutter indexes as the parser last
// recognised them; -1 until a recognised value arrives. Set together with the
// CameraLink copies.
extern std::atomic<int32_t> g_known_aperture_index;
extern std::atomic<int32_t> g_known_shutter_index;
