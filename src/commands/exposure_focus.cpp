#include "commands/exposure_focus.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "camera/camera_link.h"
#include "camera/frame.h"
#include "camera/hud_state.h"
#include "common/wire.h"
#include "records/camera_codes.h"

namespace {

constexpr FrameTemplate<14> kExposureCompensation = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                                     0x00, 0x40, 0x02, 0x2E, 0x10, 0x00, 0x00};
constexpr FrameTemplate<14> kFocusTypeManual = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                                0x00, 0x40, 0x02, 0x24, 0x00, 0x00, 0x00};
constexpr FrameTemplate<14> kFocusTypeAuto = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                              0x00, 0x40, 0x02, 0x24, 0x01, 0x00, 0x00};
constexpr FrameTemplate<14> kAutoFocusLimited = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                                 0x00, 0x40, 0x02, 0xFA, 0x00, 0x00, 0x00};
constexpr FrameTemplate<14> kAutoFocusUnlimited = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                                   0x00, 0x40, 0x02, 0xFA, 0x01, 0x00, 0x00};
constexpr FrameTemplate<14> kIso = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                    0x00, 0x40, 0x02, 0x2A, 0x00, 0x00, 0x00};
constexpr FrameTemplate<17> kShutter = {0x55, 0x11, 0x04, 0x92, 0x02, 0x01, 0x00, 0x00, 0x40,
                                        0x02, 0x28, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<15> kAperture = {0x55, 0x0F, 0x04, 0xA2, 0x02, 0x01, 0x00, 0x00,
                                         0x40, 0x02, 0x26, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<21> kFocusPoint = {0x55, 0x15, 0x04, 0xA9, 0x02, 0x01, 0x00, 0x00, 0x40, 0x02, 0x30,
                                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<15> kManualFocus = {0x55, 0x0F, 0x04, 0xA2, 0x02, 0x01, 0x00, 0x00,
                                            0x40, 0x02, 0x95, 0x00, 0x00, 0x00, 0x00};
constexpr FrameTemplate<15> kImageMode = {0x55, 0x0F, 0x04, 0xA2, 0x02, 0x01, 0x00, 0x00,
                                          0x40, 0x02, 0x1E, 0x01, 0x00, 0x00, 0x00};
static_assert(FrameTemplateValid(kExposureCompensation) && FrameTemplateValid(kFocusTypeManual) &&
              FrameTemplateValid(kFocusTypeAuto) && FrameTemplateValid(kAutoFocusLimited) &&
              FrameTemplateValid(kAutoFocusUnlimited) && FrameTemplateValid(kIso) && FrameTemplateValid(kShutter) &&
              FrameTemplateValid(kAperture) && FrameTemplateValid(kFocusPoint) &&
              FrameTemplateValid(kManualFocus) && FrameTemplateValid(kImageMode));

// Converts a double to int32 by truncation, refusing what int32 cannot hold
// (NaN, infinities, huge values), where a plain cast is undefined.
bool TruncateIfInt32(double value, int32_t* out) {
  if (!std::isfinite(value)) return false;
  double t = std::trunc(value);
  if (t < -2147483648.0 || t > 2147483647.0) return false;
  *out = static_cast<int32_t>(t);
  return true;
}

// An AF point the camera has not reported yet counts as the centre.
double PointOrCentre(double reported) { return reported == 0.0 ? 0.5 : reported; }

}  // namespace

void SetExposureCompensation(double ev) {
  fprintf(stderr, "set EV %1.1f\n", ev);
  // Only the exact values of the steps count: 0.66 or 0.5 send nothing.
  const EvStep* step = FindEvStep(ev);
  if (step == nullptr) return;
  uint8_t frame[kExposureCompensation.size()];
  std::memcpy(frame, kExposureCompensation.data(), sizeof frame);
  frame[11] = step->code;
  SendFrameIfLinkUp(frame, sizeof frame);
}

void SelectFocusType(int type) {
  HudState* hud = GetHudState();
  switch (type) {
    case 0:
      if (hud->focus_mode == 0) return;
      fprintf(stderr, "set focus type MF\n");
      SendTemplateIfLinkUp(kFocusTypeManual);
      break;
    case 1:
      fprintf(stderr, "set focus type AF\n");
      hud->focus_point_x = PointOrCentre(hud->focus_x);
      hud->focus_point_y = PointOrCentre(hud->focus_y);
      hud->af_unlimited = 0;
      if (SendTemplateIfLinkUp(kFocusTypeAuto)) SendTemplateIfLinkUp(kAutoFocusLimited);
      break;
    case 2:
      fprintf(stderr, "set focus type AF unlim\n");
      hud->af_unlimited = 1;
      if (SendTemplateIfLinkUp(kFocusTypeAuto)) SendTemplateIfLinkUp(kAutoFocusUnlimited);
      break;
    default:
      break;
  }
}

void SetIso(int iso) {
  fprintf(stderr, "set iso %d\n", iso);
  uint8_t frame[kIso.size()];
  std::memcpy(frame, kIso.data(), sizeof frame);
  frame[11] = IsoCodeOf(iso);
  SendFrameIfLinkUp(frame, sizeof frame);
}

void SetShutter(const char* name) {
  if (name == nullptr) name = "";
  fprintf(stderr, "set shutter %s\n", name);
  // An unknown name still goes out, as code 0.
  const int index = ShutterIndexOfName(name);
  uint8_t frame[kShutter.size()];
  std::memcpy(frame, kShutter.data(), sizeof frame);
  PutU24(frame + 12, index >= 0 ? kShutterSteps[index].code : 0);
  SendFrameIfLinkUp(frame, sizeof frame);
}

void SetAperture(float f_number) {
  fprintf(stderr, "set aperture %1.2f\n", static_cast<double>(f_number));
  const float scaled = f_number * 100.0f;
  int32_t v = 0;
  if (!TruncateIfInt32(static_cast<double>(scaled), &v)) return;
  uint8_t frame[kAperture.size()];
  std::memcpy(frame, kAperture.data(), sizeof frame);
  PutU16(frame + 11, static_cast<uint16_t>(v));
  SendFrameIfLinkUp(frame, sizeof frame);
}

void SetFocusPoint(float x, float y) {
  uint8_t frame[kFocusPoint.size()];
  std::memcpy(frame, kFocusPoint.data(), sizeof frame);
  PutF32(frame + 11, x);
  PutF32(frame + 15, y);
  SendFrameIfLinkUp(frame, sizeof frame);
}

void SetManualFocus(double percent) {
  const uint32_t range = GetCameraLink()->focus_range;
  if (range == 0) return;
  int32_t position = 0;
  if (!TruncateIfInt32(static_cast<double>(range) * percent / 100.0, &position)) return;
  fprintf(stderr, "set manual focus %d (%1.2f%%)\n", position, percent);
  uint8_t frame[kManualFocus.size()];
  std::memcpy(frame, kManualFocus.data(), sizeof frame);
  PutU16(frame + 11, static_cast<uint16_t>(position));
  SendFrameIfLinkUp(frame, sizeof frame);
}

void SetImageMode(const char* name) {
  if (name == nullptr) name = "";
  fprintf(stderr, "set image mode %s\n", name);
  const ImageMode* mode = FindImageMode(name);
  if (mode == nullptr) return;
  uint8_t frame[kImageMode.size()];
  std::memcpy(frame, kImageMode.data(), sizeof frame);
  frame[11] = mode->code;
  SendFrameIfLinkUp(frame, sizeof frame);
}
