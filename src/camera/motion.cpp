#include "camera/motion.h"

#include <arpa/inet.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "camera/camera_link.h"
#include "camera/frame.h"
#include "common/saturating.h"
#include "common/wire.h"
#include "config/shared_config.h"
#include "platform/ordered_work.h"
#include "startup/clock.h"

std::atomic<uint8_t> g_rc_attitude_enabled{1};
std::atomic<int32_t> g_digital_zoom_asked{-1};

namespace {

constexpr FrameTemplate<20> kGimbalSpeed = {0x55, 0x14, 0x04, 0x6D, 0x02, 0x04, 0x00, 0x00, 0x40, 0x04,
                                            0x0C, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x90, 0x00, 0x00};
static_assert(FrameTemplateValid(kGimbalSpeed));

constexpr FrameTemplate<23> kGimbalAngle = {0x55, 0x17, 0x04, 0x38, 0x02, 0x04, 0x00, 0x00, 0x40, 0x04, 0x0A, 0x00,
                                            0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00, 0xE0, 0x04, 0x00, 0x00};
static_assert(FrameTemplateValid(kGimbalAngle));

// Carrier attitude as stored: four floats (0.95403880, 0.05828314, -0.05161429,
// 0.28939426), then 00 00 80 00 and 18 zero bytes.
constexpr FrameTemplate<51> kCarrierAttitude = {
    0x55, 0x33, 0x04, 0xC2, 0x03, 0x04, 0x00, 0x00, 0x00, 0x03, 0x42,  //
    0xE3, 0x3B, 0x74, 0x3F, 0x4D, 0xBA, 0x6E, 0x3D, 0x81, 0x69, 0x53, 0xBD, 0x7C, 0x2B, 0x94, 0x3E,
    0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
static_assert(FrameTemplateValid(kCarrierAttitude));
static_assert(std::bit_cast<uint32_t>(0.95403880f) == 0x3F743BE3u);
static_assert(std::bit_cast<uint32_t>(0.05828314f) == 0x3D6EBA4Du);
static_assert(std::bit_cast<uint32_t>(-0.05161429f) == 0xBD536981u);
static_assert(std::bit_cast<uint32_t>(0.28939426f) == 0x3E942B7Cu);

constexpr FrameTemplate<18> kDigitalZoom = {0x55, 0x12, 0x04, 0xC7, 0x02, 0x01, 0x00, 0x00, 0x40,
                                            0x02, 0x34, 0x09, 0x00, 0x00, 0x6D, 0x00, 0x00, 0x00};
static_assert(FrameTemplateValid(kDigitalZoom));

constexpr FrameTemplate<17> kOpticalZoomIn = {0x55, 0x11, 0x04, 0x92, 0x02, 0x01, 0x00, 0x00, 0x40,
                                              0x02, 0xB8, 0x01, 0x48, 0x01, 0x00, 0x00, 0x00};
constexpr FrameTemplate<17> kOpticalZoomOut = {0x55, 0x11, 0x04, 0x92, 0x02, 0x01, 0x00, 0x00, 0x40,
                                               0x02, 0xB8, 0x01, 0x48, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<17> kOpticalZoomStop1 = {0x55, 0x11, 0x04, 0x92, 0x02, 0x01, 0x00, 0x00, 0x40,
                                                 0x02, 0xB8, 0x00, 0x48, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<17> kOpticalZoomStop2 = {0x55, 0x11, 0x04, 0x92, 0x02, 0x01, 0x00, 0x00, 0x40,
                                                 0x02, 0xB8, 0xFF, 0x48, 0x00, 0x00, 0x00, 0x00};
static_assert(FrameTemplateValid(kOpticalZoomIn) && FrameTemplateValid(kOpticalZoomOut));
static_assert(FrameTemplateValid(kOpticalZoomStop1) && FrameTemplateValid(kOpticalZoomStop2));

// Key-event frames of the orientation lock and the preset positions.
constexpr FrameTemplate<23> kLockPress = {0x55, 0x17, 0x04, 0x38, 0x09, 0x04, 0x00, 0x00, 0x40, 0x01, 0x01, 0x00,
                                          0x00, 0x00, 0x00, 0x02, 0x91, 0x00, 0x00, 0x00, 0x93, 0x00, 0x00};
constexpr FrameTemplate<23> kLockRelease = {0x55, 0x17, 0x04, 0x38, 0x09, 0x01, 0x00, 0x00, 0x40, 0x01, 0x01, 0x00,
                                            0x00, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00};
constexpr FrameTemplate<23> kUnlockPress = {0x55, 0x17, 0x04, 0x38, 0x09, 0x04, 0x00, 0x00, 0x40, 0x01, 0x01, 0x00,
                                            0x00, 0x00, 0x00, 0x0A, 0x91, 0x00, 0x00, 0x00, 0x9B, 0x00, 0x00};
constexpr FrameTemplate<23> kUnlockRelease = {0x55, 0x17, 0x04, 0x38, 0x09, 0x04, 0x00, 0x00, 0x40, 0x01, 0x01, 0x00,
                                              0x00, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00};
static_assert(FrameTemplateValid(kLockPress) && FrameTemplateValid(kLockRelease));
static_assert(FrameTemplateValid(kUnlockPress) && FrameTemplateValid(kUnlockRelease));

constexpr FrameTemplate<23> kPosition0PressGimbal = {0x55, 0x17, 0x04, 0x38, 0x09, 0x04, 0x00, 0x00,
                                                     0x40, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01,
                                                     0x91, 0x00, 0x00, 0x00, 0x90, 0x00, 0x00};
constexpr FrameTemplate<23> kPosition0PressCamera = {0x55, 0x17, 0x04, 0x38, 0x09, 0x01, 0x00, 0x00,
                                                     0x40, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01,
                                                     0x91, 0x00, 0x00, 0x00, 0x90, 0x00, 0x00};
constexpr FrameTemplate<23> kPosition1PressGimbal = {0x55, 0x17, 0x04, 0x38, 0x09, 0x04, 0x00, 0x00,
                                                     0x40, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x10,
                                                     0x91, 0x00, 0x00, 0x00, 0x81, 0x00, 0x00};
constexpr FrameTemplate<23> kPosition1PressCamera = {0x55, 0x17, 0x04, 0x38, 0x09, 0x01, 0x00, 0x00,
                                                     0x40, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x10,
                                                     0x91, 0x00, 0x00, 0x00, 0x81, 0x00, 0x00};
// Both positions use the same release frames.
constexpr FrameTemplate<23> kPositionReleaseGimbal = {0x55, 0x17, 0x04, 0x38, 0x09, 0x04, 0x00, 0x00,
                                                      0x40, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                      0x91, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00};
constexpr FrameTemplate<23> kPositionReleaseCamera = {0x55, 0x17, 0x04, 0x38, 0x09, 0x01, 0x00, 0x00,
                                                      0x40, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                      0x91, 0x00, 0x00, 0x00, 0x91, 0x00, 0x00};
static_assert(FrameTemplateValid(kPosition0PressGimbal) && FrameTemplateValid(kPosition0PressCamera));
static_assert(FrameTemplateValid(kPosition1PressGimbal) && FrameTemplateValid(kPosition1PressCamera));
static_assert(FrameTemplateValid(kPositionReleaseGimbal) && FrameTemplateValid(kPositionReleaseCamera));

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
  if (GetCameraLink()->gimbal_stopped == 0) SendGimbalSpeed(0, 0, 0);
}

// The lock counter wraps at a multiple of ten so that the every-tenth-call
// rhythm survives years of attitude messages without signed overflow.
constexpr int32_t kLockCountWrap = 2000000000;

}  // namespace

void SendGimbalSpeed(int32_t pan, int32_t tilt, int32_t dutch) {
  CameraLink* link = GetCameraLink();
  const SharedConfig* config = GetSharedConfig();
  const bool inspire = link->source_mode == 1;
  int32_t inverse_pan = config->rc_input_inverse_pan;
  int32_t inverse_tilt = config->rc_input_inverse_tilt;
  int32_t inverse_dutch = config->rc_input_inverse_dutch;

  uint8_t frame[kGimbalSpeed.size()];
  std::memcpy(frame, kGimbalSpeed.data(), sizeof frame);
  PutU16(frame + 11, SpeedOnWire(pan, inverse_pan, inspire));
  PutU16(frame + 13, SpeedOnWire(dutch, inverse_dutch, inspire));
  PutU16(frame + 15, SpeedOnWire(tilt, inverse_tilt, inspire));
  SendFrameIfLinkUp(frame, sizeof frame);
  link->last_gimbal_speed_ms = MillisecondClock();
}

void SetGimbalAngle(int32_t pan, int32_t tilt, int32_t dutch) {
  CameraLink* link = GetCameraLink();
  uint8_t frame[kGimbalAngle.size()];
  std::memcpy(frame, kGimbalAngle.data(), sizeof frame);
  PutU16(frame + 11, AngleOnWire(pan));
  PutU16(frame + 13, AngleOnWire(dutch));
  PutU16(frame + 15, AngleOnWire(tilt));
  StopGimbalIfMoving();
  link->gimbal_stopped = 1;
  SendFrameIfLinkUp(frame, sizeof frame);
  link->last_gimbal_speed_ms = MillisecondClock();
}

void SetPanTiltSpeed(int32_t pan, int32_t tilt) {
  CameraLink* link = GetCameraLink();
  if (pan == link->pan_speed_wanted && tilt == link->tilt_speed_wanted) return;
  link->pan_speed_wanted = pan;
  link->tilt_speed_wanted = tilt;
  if (pan == 0 && tilt == 0) {
    // Keeps a roll that is still wanted going.
    if (link->gimbal_stopped == 0) SendGimbalSpeed(0, 0, link->dutch_speed_wanted);
    link->gimbal_stopped = 1;
  } else {
    // Moving speeds go out from the RC loop's keep-alive.
    link->gimbal_stopped = 0;
  }
}

void SetDutchSpeed(int32_t dutch) {
  CameraLink* link = GetCameraLink();
  if (dutch == link->dutch_speed_wanted) return;
  link->dutch_speed_wanted = dutch;
  if (link->pan_speed_wanted == 0 && link->tilt_speed_wanted == 0 && dutch == 0) {
    StopGimbalIfMoving();
    link->gimbal_stopped = 1;
  } else {
    link->gimbal_stopped = 0;
  }
}

namespace {

std::atomic<int32_t> g_lock_keys_wanted{0};

void SendOrientationLockKeys() {
  const int32_t wanted = g_lock_keys_wanted.load(std::memory_order_relaxed);
  StopGimbalIfMoving();
  SendGroupOfThree(wanted != 0 ? kLockPress : kUnlockPress);
  SleepMilliseconds(10);
  SendGroupOfThree(wanted != 0 ? kLockRelease : kUnlockRelease);
}

}  // namespace

void SetOrientationLockWanted(uint8_t value) { GetCameraLink()->orientation_lock_wanted = value; }

void ApplyOrientationLock(int32_t wanted) {
  CameraLink* link = GetCameraLink();
  int32_t count = link->lock_call_count;
  link->lock_call_count = count >= kLockCountWrap - 1 ? 0 : count + 1;
  if (count % 10 != 0) return;
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

  uint8_t frame[kCarrierAttitude.size()];
  std::memcpy(frame, kCarrierAttitude.data(), kFrameHeaderSize);
  std::memset(frame + kFrameHeaderSize, 0, sizeof frame - kFrameHeaderSize);
  PutF32(frame + 11, static_cast<float>(q0));
  PutF32(frame + 15, static_cast<float>(q1));
  PutF32(frame + 19, static_cast<float>(q2));
  PutF32(frame + 23, static_cast<float>(q3));
  SendFrameIfLinkUp(frame, sizeof frame);
}

void SendClientAttitude(float q1, float q2, float q3, float q4) {
  g_rc_attitude_enabled = 0;
  uint8_t frame[kCarrierAttitude.size()];
  std::memcpy(frame, kCarrierAttitude.data(), sizeof frame);
  PutF32(frame + 11, q4);
  PutF32(frame + 15, q1);
  PutF32(frame + 19, q2);
  PutF32(frame + 23, q3);
  SendFrameIfLinkUp(frame, sizeof frame);
}

void SetDigitalZoom(int32_t level) {
  if (level < 0) level = 0;
  if (level >= 100) level = 100;
  if (g_digital_zoom_asked.exchange(level) == level) return;
  fprintf(stderr, "Digital zoom %d%%\n", level);

  CameraLink* link = GetCameraLink();
  if (level == link->zoom_level) return;
  uint8_t frame[kDigitalZoom.size()];
  std::memcpy(frame, kDigitalZoom.data(), sizeof frame);
  frame[14] = static_cast<uint8_t>(level + 100);
  link->zoom_level = level;
  SendFrameIfLinkUp(frame, sizeof frame);
}

void SetOpticalZoom(int32_t direction) {
  GetCameraLink()->optical_zoom_direction = direction;
  if (direction > 0) {
    SendTemplateIfLinkUp(kOpticalZoomIn);
  } else if (direction < 0) {
    SendTemplateIfLinkUp(kOpticalZoomOut);
  } else {
    SendTemplateIfLinkUp(kOpticalZoomStop1);
    SendTemplateIfLinkUp(kOpticalZoomStop2);
  }
}

uint64_t ViewerMotionDriver(const char* address, uint32_t port) {
  in_addr parsed{};
  if (address == nullptr || inet_pton(AF_INET, address, &parsed) != 1) return 0;
  return (static_cast<uint64_t>(ntohl(parsed.s_addr)) << 16 | (port & 0xFFFFu)) + 1;
}

void HandleGimbalControl(int32_t selector, int32_t a, int32_t b, uint64_t driver) {
  CameraLink* link = GetCameraLink();
  switch (selector) {
    case 0:
      SetGimbalAngle(a, b, 0);
      break;
    case 1:
      // The RC loop's own speeds add to the client's, so both sources steer.
      link->gimbal_stopped = 0;
      SetPanTiltSpeed(SaturatedAdd(a, link->rc_pan_speed), SaturatedAdd(b, link->rc_tilt_speed));
      if (a == 0 && b == 0) link->gimbal_stopped = 1;
      link->client_pan_speed = a;
      link->client_tilt_speed = b;
      link->client_speed_driver = (a != 0 || b != 0) ? driver : 0;
      break;
    case 2:
      if (a == -1) {
        SetDigitalZoom(SaturatedAdd(link->zoom_level, b));
      } else if (a == -2) {
        link->zoom_speed = b;
      } else if (a == -3) {
        SetOpticalZoom(b);
      } else {
        SetDigitalZoom(b);
      }
      break;
    default:
      break;
  }
}

void ReleaseViewerMotion(const char* address, uint32_t port) {
  uint64_t driver = ViewerMotionDriver(address, port);
  if (driver == 0) return;
  // Only the viewer that set the client share takes it away.
  if (!GetCameraLink()->client_speed_driver.compare_exchange_strong(driver, 0)) return;
  HandleGimbalControl(1, 0, 0);
}

void SetGimbalPosition(int32_t position) {
  fprintf(stderr, "set position %d\n", position);
  if (position != 0 && position != 1) return;
  StopGimbalIfMoving();
  GetCameraLink()->gimbal_stopped = 1;

  if (position == 0) {
    const FrameTemplate<23>* chain[] = {&kPosition0PressGimbal,  &kPosition0PressCamera,  &kPosition0PressGimbal,
                                        &kPosition0PressCamera,  &kPositionReleaseGimbal, &kPositionReleaseCamera,
                                        &kPositionReleaseGimbal, &kPositionReleaseCamera};
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
    if (SendTemplateIfLinkUp(kPositionReleaseGimbal)) SendTemplateIfLinkUp(kPositionReleaseCamera);
    SleepMilliseconds(20);
  }
}
