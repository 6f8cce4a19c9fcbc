#include "operations/exposure_focus.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "common/shared_field.h"
#include "common/wire.h"
#include "records/camera_codes.h"
#include "records/hud_state.h"
#include "records/link_state.h"
#include "senders/camera_frames.h"
#include "senders/camera_sender.h"

namespace {

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
  SendWithByte(kExposureCompensation, 11, step->code);
}

void SelectFocusType(int type) {
  const HudState* hud = GetHudState();
  switch (type) {
    case 0:
      if (LoadShared(&hud->focus_mode) == 0) return;
      fprintf(stderr, "set focus type MF\n");
      SendTemplateIfLinkUp(kFocusTypeManual);
      break;
    case 1:
      fprintf(stderr, "set focus type AF\n");
      StoreHudFocusPoint(PointOrCentre(LoadShared(&hud->focus_x)), PointOrCentre(LoadShared(&hud->focus_y)));
      StoreHudAfUnlimited(0);
      if (SendTemplateIfLinkUp(kFocusTypeAuto)) SendTemplateIfLinkUp(kAutoFocusLimited);
      break;
    case 2:
      fprintf(stderr, "set focus type AF unlim\n");
      StoreHudAfUnlimited(1);
      if (SendTemplateIfLinkUp(kFocusTypeAuto)) SendTemplateIfLinkUp(kAutoFocusUnlimited);
      break;
    default:
      break;
  }
}

void SetIso(int iso) {
  fprintf(stderr, "set iso %d\n", iso);
  SendWithByte(kIso, 11, IsoCodeOf(iso));
}

void SetShutter(const char* name) {
  if (name == nullptr) name = "";
  fprintf(stderr, "set shutter %s\n", name);
  // An unknown name still goes out, as code 0.
  const int index = ShutterIndexOfName(name);
  SendPatched(kShutter, [&](uint8_t* frame) { PutU24(frame + 12, index >= 0 ? kShutterSteps[index].code : 0); });
}

void SetAperture(float f_number) {
  fprintf(stderr, "set aperture %1.2f\n", static_cast<double>(f_number));
  const float scaled = f_number * 100.0f;
  int32_t v = 0;
  if (!TruncateIfInt32(static_cast<double>(scaled), &v)) return;
  SendPatched(kAperture, [&](uint8_t* frame) { PutU16(frame + 11, static_cast<uint16_t>(v)); });
}

void SetFocusPoint(float x, float y) {
  SendPatched(kFocusPoint, [&](uint8_t* frame) {
    PutF32(frame + 11, x);
    PutF32(frame + 15, y);
  });
}

void SetManualFocus(double percent) {
  const uint32_t range = GetLinkState()->focus_range;
  if (range == 0) return;
  int32_t position = 0;
  if (!TruncateIfInt32(static_cast<double>(range) * percent / 100.0, &position)) return;
  fprintf(stderr, "set manual focus %d (%1.2f%%)\n", position, percent);
  SendPatched(kManualFocus, [&](uint8_t* frame) { PutU16(frame + 11, static_cast<uint16_t>(position)); });
}

void SetImageMode(const char* name) {
  if (name == nullptr) name = "";
  fprintf(stderr, "set image mode %s\n", name);
  const ImageMode* mode = FindImageMode(name);
  if (mode == nullptr) return;
  SendWithByte(kImageMode, 11, mode->code);
}
