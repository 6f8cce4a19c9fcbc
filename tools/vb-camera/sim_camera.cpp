#include "sim_camera.h"

#include <cmath>

#include "common/camera_frame.h"
#include "common/wire.h"
#include "records/camera_codes.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kRecordCycle = 30;   // the demo records from second 10 to 20 of every 30
constexpr double kPanRate = 3;        // degrees per second of the demo's slow pan

double Clamp(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }

double WrapDegrees(double d) {
  while (d > 180) d -= 360;
  while (d < -180) d += 360;
  return d;
}

bool DemoRecordPhase(double t) {
  double phase = std::fmod(t, kRecordCycle);
  return phase >= 10 && phase < 20;
}

void SetRecording(SimCamera* cam, bool on) {
  if (on && !cam->recording) cam->record_started = cam->t;
  cam->recording = on;
  if (on) cam->work_mode = 1;
}

}  // namespace

void StepCamera(SimCamera* cam, double dt) {
  double before = cam->t;
  cam->t += dt;
  if (cam->demo) {
    cam->pan_deg = WrapDegrees(cam->pan_deg + kPanRate * dt);
    cam->tilt_deg = -10 + 10 * std::sin(kTwoPi * cam->t / 15);
    // A focus pull from near to far and back every 20 seconds.
    double pull = 0.5 - 0.4 * std::cos(kTwoPi * cam->t / 20);
    cam->focus_position = static_cast<uint16_t>(pull * cam->focus_range);
    cam->focus_value = static_cast<float>(0.5 + 9.5 * pull);
    // The scripted recording only changes at its edges, so the box's own
    // record commands hold until the next edge.
    bool was = DemoRecordPhase(before), now = DemoRecordPhase(cam->t);
    if (was != now) SetRecording(cam, now);
  }
  cam->pan_deg = WrapDegrees(cam->pan_deg + cam->pan_speed * dt);
  cam->tilt_deg = Clamp(cam->tilt_deg + cam->tilt_speed * dt, -135, 45);
  cam->counter = static_cast<uint32_t>(cam->t * 1000);  // milliseconds since start
}

const char* ApplyBoxFrame(SimCamera* cam, const uint8_t* data, size_t length) {
  FrameFields f{};
  if (!DecodeFrame(data, length, &f)) return nullptr;
  const uint8_t* p = f.payload;
  size_t n = f.payload_length;

  if (f.set == 0x01 && f.id == 0x01 && n == 10 && f.receiver == 0x01) {
    // Key events come in pairs to gimbal and camera; the camera copy decides.
    if (f.type == 0x00 && p[0] == 0x0C && !cam->recording) {
      SetRecording(cam, true);
      return "record on";
    }
    if (f.type == 0x00 && p[0] == 0x04 && cam->recording) {
      SetRecording(cam, false);
      return "record off";
    }
    // A shot press arrives twice before its releases: one press, one picture.
    uint8_t code = p[0];
    if (f.type == 0x40 && code == 0x00) cam->shutter_down = false;
    if (f.type == 0x40 && !cam->shutter_down &&
        (code == 0x30 || code == 0x50 || code == 0x90 || code == 0xB0 || code == 0xD0 || code == 0xF0)) {
      cam->shutter_down = true;
      ++cam->shots;
      return "shot";
    }
    return nullptr;
  }
  if (f.set == 0x02 && f.id == 0x10 && n == 1) {
    if (p[0] > 1 || p[0] == cam->work_mode) return nullptr;
    cam->work_mode = p[0];
    if (p[0] == 0) cam->recording = false;
    return p[0] ? "mode video" : "mode photo";
  }
  if (f.set == 0x04 && f.id == 0x0C && n == 7) {
    // Speed values are taken as tenths of a degree per second.
    double pan = GetI16(p) / 10.0, tilt = GetI16(p + 4) / 10.0;
    if (pan == cam->pan_speed && tilt == cam->tilt_speed) return nullptr;
    cam->pan_speed = pan;
    cam->tilt_speed = tilt;
    return (pan == 0 && tilt == 0) ? "gimbal stop" : "gimbal speed";
  }
  if (f.set == 0x04 && f.id == 0x0A && n == 10) {
    // Angles are taken as tenths of a degree.
    cam->pan_deg = WrapDegrees(GetI16(p) / 10.0);
    cam->dutch_deg = Clamp(GetI16(p + 2) / 10.0, -45, 45);
    cam->tilt_deg = Clamp(GetI16(p + 4) / 10.0, -135, 45);
    cam->pan_speed = cam->tilt_speed = 0;
    return "gimbal angle";
  }
  if (f.set == 0x02 && f.id == 0x34 && n == 5) {
    int level = p[3] - 100;
    cam->digital_zoom = static_cast<uint8_t>(Clamp(level, 0, 100));
    return "digital zoom";
  }
  if (f.set == 0x02 && f.id == 0x24 && n == 1) {
    if (p[0] > 1 || p[0] == cam->focus_mode) return nullptr;
    cam->focus_mode = p[0];
    return p[0] ? "focus auto" : "focus manual";
  }
  // Exposure settings the camera has a code for; it reports them back.
  if (f.set == 0x02 && f.id == 0x2E && n == 1) {
    if (p[0] == cam->ev_code || p[0] < kFirstEvCode || p[0] >= kFirstEvCode + kEvStepCount) return nullptr;
    cam->ev_code = p[0];
    return "ev";
  }
  if (f.set == 0x02 && f.id == 0x28 && n == 4) {
    const uint32_t code = GetU24(p + 1);
    if (code == cam->shutter_code || ShutterIndexOfCode(code) < 0) return nullptr;
    cam->shutter_code = code;
    return "shutter";
  }
  if (f.set == 0x02 && f.id == 0x26 && n == 2) {
    const int16_t hundredths = GetI16(p);
    if (hundredths == cam->aperture_x100 || ApertureIndexOfHundredths(hundredths) < 0) return nullptr;
    cam->aperture_x100 = hundredths;
    return "aperture";
  }
  if (f.set == 0x02 && f.id == 0x9A && n == 1) {
    cam->assistant_bits = p[0] & 3;
    return "focus assistant";
  }
  return nullptr;
}
