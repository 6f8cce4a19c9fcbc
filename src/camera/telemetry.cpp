#include "camera/telemetry.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "common/saturating.h"
#include "common/shared_field.h"
#include "common/wire.h"
#include "operations/capture.h"
#include "operations/motion.h"
#include "platform/clock.h"
#include "platform/gpio.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sender.h"

namespace {

// pi/180 as the single-precision value the display processes expect, widened.
constexpr double kRadiansPerDegree = static_cast<double>(static_cast<float>(3.14159265358979323846 / 180.0));
static_assert(kRadiansPerDegree == 0.01745329238474369);

constexpr int kStatusRecordSize = 24;
constexpr int kDataBlockRecordSize = 65;

// Writes one attitude axis: its text, radians, sine and cosine.
void StoreAxis(double degrees, char* text, size_t text_size, double* rad, double* sin_out, double* cos_out) {
  snprintf(text, text_size, "%1.0f", degrees);
  double radians = degrees * kRadiansPerDegree;
  *rad = radians;
  *sin_out = std::sin(radians);
  *cos_out = std::cos(radians);
}

}  // namespace

void HandleCounterMessage(const uint8_t* frame, size_t length) {
  if (length != 22) return;
  GetHudState()->counter22 = GetU24(frame + 14);
}

void HandleAttitudeMessage(const uint8_t* frame, size_t length) {
  if (length != 25 || frame[9] != 0x04 || frame[10] != 0x05) return;
  HudState* hud = GetHudState();
  const int16_t p = GetI16(frame + 15);
  const int16_t t = GetI16(frame + 11);
  const int16_t d = GetI16(frame + 13);

  const double pan = static_cast<double>(p) * 350.0 / 3260.0;
  const double tilt = t >= 0 ? static_cast<double>(t) * 45.0 / 347.0 : static_cast<double>(t) * 135.0 / 1293.0;
  const double dutch = static_cast<double>(-static_cast<int32_t>(d)) * 60.0 / 490.0;  // no "-0" text

  // Packed fields: work on locals, then store.
  double rad = 0, s = 0, c = 0;
  hud->attitude_updating = 1;
  StoreAxis(pan, hud->pan_text, sizeof hud->pan_text, &rad, &s, &c);
  hud->pan_rad = rad;
  hud->pan_sin = s;
  hud->pan_cos = c;
  StoreAxis(tilt, hud->tilt_text, sizeof hud->tilt_text, &rad, &s, &c);
  hud->tilt_rad = rad;
  hud->tilt_sin = s;
  hud->tilt_cos = c;
  StoreAxis(dutch, hud->dutch_text, sizeof hud->dutch_text, &rad, &s, &c);
  hud->dutch_rad = rad;
  hud->dutch_sin = s;
  hud->dutch_cos = c;
  hud->attitude_updating = 0;

  const uint8_t locked = frame[17] == 0 ? 1 : 0;
  StoreShared(&hud->orientation_locked, locked);
  // Steers the gimbal back to the lock the user asked for until it reports it.
  const uint8_t wanted = GetMotionIntent()->orientation_lock_wanted;
  if (locked != wanted) ApplyOrientationLock(wanted);

  // Bounded by the 16-bit inputs, so the truncations are well defined.
  SendShortMessage16(kMsgGimbalAttitude, static_cast<int>(pan * 100), static_cast<int>(tilt * 100),
                     static_cast<int>(dutch * 100));
  SendShortMessage16(kMsgRawAttitude, p, t, d);
  SendShortMessage16(kMsgOrientationLock, locked, 0, 0);
}

void HandleCameraStatusMessage(const uint8_t* frame, size_t length) {
  if (length != 49 && length != 50) return;
  HudState* hud = GetHudState();
  LinkState* link = GetLinkState();

  const uint8_t flags = frame[11];
  StoreShared(&hud->camera_status_flags, flags);
  if ((flags >> 6) == 2) {  // recording: blink the indicator
    const uint32_t now = MillisecondClock();
    if (now - link->blink_ms > 500) {
      link->blink_ms = now;
      link->blink_state = link->blink_state ? 0 : 1;
    }
    digitalWrite(kRecordingIndicatorPin, link->blink_state ? HIGH : LOW);
  } else {
    digitalWrite(kRecordingIndicatorPin, LOW);
    link->blink_ms = 0;
  }

  hud->status_value20 = GetU32(frame + 20);
  hud->status_value24 = GetU32(frame + 24);
  hud->status_value28 = GetU32(frame + 28);
  hud->status_value40 = GetU16(frame + 40);
  StoreShared(&hud->camera_status_valid, 1);
  StoreShared(&hud->camera_state, frame[44]);
  StoreShared(&hud->work_mode, frame[15]);
  hud->status_byte42 = frame[42];
  hud->status_byte13 = frame[13];

  link->shot_active = (frame[13] >> 4) & 1;

  if ((frame[13] & 0x08) != 0 && (frame[42] & 0x01) == 0 && (flags & 0x20) == 0) StopShot();

  uint8_t record[kStatusRecordSize] = {};
  record[0] = kMsgStatusRecord;
  record[1] = frame[15];
  record[2] = flags;
  PutU32(record + 3, GetU32(frame + 20));
  PutU32(record + 7, GetU32(frame + 24));
  PutU32(record + 11, GetU32(frame + 28));
  PutU16(record + 15, GetU16(frame + 40));
  const uint32_t counter = hud->counter22;
  PutU32(record + 17, counter);
  record[21] = frame[42];
  record[22] = frame[13];
  record[23] = frame[44];
  SendClientMessage(record, kStatusRecordSize, kKindData);
}

void HandleLensMessage(const uint8_t* frame, size_t length) {
  if (length != 52) return;
  HudState* hud = GetHudState();
  hud->msg52_value25 = GetU16(frame + 25);
  hud->msg52_value12 = GetU16(frame + 12);
  hud->msg52_byte11 = frame[11];
}

void HandleFocusMessage(const uint8_t* frame, size_t length) {
  if (length != 53 && length != 59) return;
  HudState* hud = GetHudState();
  LinkState* link = GetLinkState();

  const uint16_t range = GetU16(frame + 12);
  const uint16_t position = GetU16(frame + 14);
  // A zero range has no percentage: report 0. Otherwise the quotient is at
  // most 6,553,500, and a position past the range saturates the 8-bit field.
  int32_t percent = 0;
  if (range != 0) {
    percent = static_cast<int32_t>(static_cast<float>(position) / static_cast<float>(range) * 100.0f);
    if (percent > INT8_MAX) percent = INT8_MAX;
  }
  StoreShared(&hud->focus_percent, static_cast<int8_t>(percent));

  // Rounded to hundredths. Not a finite number: 0. Too large to round (far
  // beyond any lens): kept as it is, its hundredths saturating below.
  const float raw = GetF32(frame + 16);
  double focus_value = 0;
  int32_t hundredths = 0;
  if (std::isfinite(raw)) {
    const float scaled = raw * 100.0f;
    if (std::fabs(scaled) < 1.0e18f) {
      const long long rounded = std::llround(scaled);
      focus_value = static_cast<double>(rounded) / 100.0;
      hundredths = TruncateToInt32(static_cast<double>(rounded));
    } else {
      focus_value = static_cast<double>(raw);
      hundredths = TruncateToInt32(static_cast<double>(scaled));
    }
  }
  hud->focus_value = focus_value;

  const double x = static_cast<double>(GetF32(frame + 24));
  const double y = static_cast<double>(GetF32(frame + 28));
  StoreShared(&hud->focus_x, x);
  StoreShared(&hud->focus_y, y);
  const uint8_t mode = frame[11] & 0x01;
  const uint8_t flag = (frame[11] >> 2) & 0x01;
  StoreShared(&hud->focus_mode, mode);
  hud->focus_flag = flag;
  hud->focus_valid = 1;
  hud->focus_byte32 = frame[32];

  link->focus_range = range;
  link->focus_byte42 = frame[42];

  SendShortMessage(kMsgFocusBytes, frame[32], LoadShared(&hud->af_unlimited), 0, 0, 0, 0);
  SendShortMessage16(kMsgFocusState, flag + 2 * mode, percent, hundredths);
  SendShortMessage16(kMsgFocusPoint, TruncateToInt32(x * 10000.0), TruncateToInt32(y * 10000.0), frame[42]);
}

void HandlePlaybackMessage(const uint8_t* frame, size_t length) {
  if (length != 54) return;
  HudState* hud = GetHudState();
  StoreShared(&hud->playback_state, frame[11]);
  constexpr int kOffsets[5] = {15, 17, 20, 22, 24};
  for (int i = 0; i < 5; ++i) {
    const uint16_t value = GetU16(frame + kOffsets[i]);
    std::memcpy(reinterpret_cast<uint8_t*>(hud->playback_values) + 2 * i, &value, sizeof value);
  }
}

void HandleDataBlockMessage(const uint8_t* frame, size_t length) {
  if (length != 77) return;
  HudState* hud = GetHudState();
  std::memcpy(hud->camera_data64, frame + 11, sizeof hud->camera_data64);
  StoreShared(&hud->camera_data64_ms, MillisecondClock());
  uint8_t record[kDataBlockRecordSize];
  record[0] = kMsgDataBlock;
  std::memcpy(record + 1, frame + 11, 64);
  SendClientMessage(record, kDataBlockRecordSize, kKindData);
}
