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

constexpr int kStatusRecordSize = 24;
constexpr int kDataBlockRecordSize = 65;

}  // namespace

void HandleCounterMessage(const uint8_t* frame, size_t length) {
  if (length != 22) return;
  StoreHudCounter22(GetU24(frame + 14));
}

void HandleAttitudeMessage(const uint8_t* frame, size_t length) {
  if (length != 25 || frame[9] != 0x04 || frame[10] != 0x05) return;
  const int16_t p = GetI16(frame + 15);
  const int16_t t = GetI16(frame + 11);
  const int16_t d = GetI16(frame + 13);

  const double pan = static_cast<double>(p) * 350.0 / 3260.0;
  const double tilt = t >= 0 ? static_cast<double>(t) * 45.0 / 347.0 : static_cast<double>(t) * 135.0 / 1293.0;
  const double dutch = static_cast<double>(-static_cast<int32_t>(d)) * 60.0 / 490.0;  // no "-0" text

  const uint8_t locked = frame[17] == 0 ? 1 : 0;
  StoreHudAttitude(pan, tilt, dutch, locked);
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
  const LinkState* link = GetLinkState();

  const uint8_t flags = frame[11];
  StoreHudCameraStatus(HudCameraStatus{.flags = flags,
                                       .state = frame[44],
                                       .work_mode = frame[15],
                                       .byte42 = frame[42],
                                       .byte13 = frame[13],
                                       .value20 = GetU32(frame + 20),
                                       .value24 = GetU32(frame + 24),
                                       .value28 = GetU32(frame + 28),
                                       .value40 = GetU16(frame + 40)});
  if ((flags >> 6) == 2) {  // recording: blink the indicator
    const uint32_t now = MillisecondClock();
    if (now - link->blink_ms > 500) StoreRecordingBlink(now, link->blink_state ? 0 : 1);
    digitalWrite(kRecordingIndicatorPin, link->blink_state ? HIGH : LOW);
  } else {
    digitalWrite(kRecordingIndicatorPin, LOW);
    StoreRecordingBlink(0, link->blink_state);
  }

  StoreShotActive((frame[13] >> 4) & 1);

  if ((frame[13] & 0x08) != 0 && (frame[42] & 0x01) == 0 && (flags & 0x20) == 0) StopShot();

  uint8_t record[kStatusRecordSize] = {};
  record[0] = kMsgStatusRecord;
  record[1] = frame[15];
  record[2] = flags;
  PutU32(record + 3, GetU32(frame + 20));
  PutU32(record + 7, GetU32(frame + 24));
  PutU32(record + 11, GetU32(frame + 28));
  PutU16(record + 15, GetU16(frame + 40));
  const uint32_t counter = LoadShared(&GetHudState()->counter22);
  PutU32(record + 17, counter);
  record[21] = frame[42];
  record[22] = frame[13];
  record[23] = frame[44];
  SendClientMessage(record, kStatusRecordSize, kKindData);
}

void HandleLensMessage(const uint8_t* frame, size_t length) {
  if (length != 52) return;
  StoreHudLensValues(GetU16(frame + 25), GetU16(frame + 12), frame[11]);
}

void HandleFocusMessage(const uint8_t* frame, size_t length) {
  if (length != 53 && length != 59) return;
  const uint16_t range = GetU16(frame + 12);
  const uint16_t position = GetU16(frame + 14);
  // A zero range has no percentage: report 0. Otherwise the quotient is at
  // most 6,553,500, and a position past the range saturates the 8-bit field.
  int32_t percent = 0;
  if (range != 0) {
    percent = static_cast<int32_t>(static_cast<float>(position) / static_cast<float>(range) * 100.0f);
    if (percent > INT8_MAX) percent = INT8_MAX;
  }

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
  const double x = static_cast<double>(GetF32(frame + 24));
  const double y = static_cast<double>(GetF32(frame + 28));
  const uint8_t mode = frame[11] & 0x01;
  const uint8_t flag = (frame[11] >> 2) & 0x01;
  StoreHudFocusReport(HudFocusReport{.percent = static_cast<int8_t>(percent),
                                     .mode = mode,
                                     .flag = flag,
                                     .byte32 = frame[32],
                                     .value = focus_value,
                                     .x = x,
                                     .y = y});
  StoreFocusReportBytes(frame[42], range);

  SendShortMessage(kMsgFocusBytes, frame[32], LoadShared(&GetHudState()->af_unlimited), 0, 0, 0, 0);
  SendShortMessage16(kMsgFocusState, flag + 2 * mode, percent, hundredths);
  SendShortMessage16(kMsgFocusPoint, TruncateToInt32(x * 10000.0), TruncateToInt32(y * 10000.0), frame[42]);
}

void HandlePlaybackMessage(const uint8_t* frame, size_t length) {
  if (length != 54) return;
  constexpr int kOffsets[5] = {15, 17, 20, 22, 24};
  uint16_t values[5];
  for (int i = 0; i < 5; ++i) values[i] = GetU16(frame + kOffsets[i]);
  StoreHudPlayback(frame[11], values);
}

void HandleDataBlockMessage(const uint8_t* frame, size_t length) {
  if (length != 77) return;
  uint8_t bytes[64];
  std::memcpy(bytes, frame + 11, sizeof bytes);
  StoreHudDataBlock(bytes, MillisecondClock());
  uint8_t record[kDataBlockRecordSize];
  record[0] = kMsgDataBlock;
  std::memcpy(record + 1, frame + 11, 64);
  SendClientMessage(record, kDataBlockRecordSize, kKindData);
}
