#include "commands/exposure_focus.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "camera/camera_link.h"
#include "camera/frame.h"
#include "camera/hud_state.h"
#include "common/wire.h"

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

// Exposure compensation: values as the viewer app writes them, matched
// exactly; code 0x10 is 0 EV, one step a third of an EV.
struct EvRow {
  double ev;
  uint8_t code;
};
constexpr EvRow kEvTable[] = {
    {3.0, 0x19},  {2.7, 0x18},  {2.3, 0x17},  {2.0, 0x16},  {1.7, 0x15},  {1.3, 0x14},  {1.0, 0x13},
    {0.7, 0x12},  {0.3, 0x11},  {0.0, 0x10},  {-0.3, 0x0F}, {-0.7, 0x0E}, {-1.0, 0x0D}, {-1.3, 0x0C},
    {-1.7, 0x0B}, {-2.0, 0x0A}, {-2.3, 0x09}, {-2.7, 0x08}, {-3.0, 0x07},
};

struct IsoRow {
  int iso;
  uint8_t code;
};
constexpr IsoRow kIsoTable[] = {{100, 0x03}, {200, 0x04}, {400, 0x05}, {800, 0x06},
                                {1600, 0x07}, {3200, 0x08}, {6400, 0x09}};

// Shutter names: whole seconds ("3.2s": 3 and a tenth of 2) with bit 15 clear,
// or the denominator of 1/x second with bit 15 set and the digits after the
// point as the fraction byte.
struct ShutterRow {
  const char* name;
  uint16_t value;
  uint8_t frac;
};
constexpr uint16_t kInverse = 0x8000;
constexpr ShutterRow kShutterTable[] = {
    {"30s", 30, 0},
    {"25s", 25, 0},
    {"20s", 20, 0},
    {"15s", 15, 0},
    {"10s", 10, 0},
    {"9s", 9, 0},
    {"8s", 8, 0},
    {"7s", 7, 0},
    {"6s", 6, 0},
    {"5s", 5, 0},
    {"4s", 4, 0},
    {"3.2s", 3, 2},
    {"3s", 3, 0},
    {"2.5s", 2, 5},
    {"2s", 2, 0},
    {"1.6s", 1, 6},
    {"1.3s", 1, 3},
    {"1s", 1, 0},
    {"1.25", kInverse + 1, 25},
    {"1.67", kInverse + 1, 67},
    {"2", kInverse + 2, 0},
    {"2.5", kInverse + 2, 5},
    {"3", kInverse + 3, 0},
    {"4", kInverse + 4, 0},
    {"5", kInverse + 5, 0},
    {"6.25", kInverse + 6, 25},
    {"8", kInverse + 8, 0},
    {"10", kInverse + 10, 0},
    {"12.5", kInverse + 12, 5},
    {"15", kInverse + 15, 0},
    {"20", kInverse + 20, 0},
    {"25", kInverse + 25, 0},
    {"30", kInverse + 30, 0},
    {"40", kInverse + 40, 0},
    {"50", kInverse + 50, 0},
    {"60", kInverse + 60, 0},
    {"80", kInverse + 80, 0},
    {"100", kInverse + 100, 0},
    {"120", kInverse + 120, 0},
    {"160", kInverse + 160, 0},
    {"200", kInverse + 200, 0},
    {"240", kInverse + 240, 0},
    {"320", kInverse + 320, 0},
    {"400", kInverse + 400, 0},
    {"500", kInverse + 500, 0},
    {"640", kInverse + 640, 0},
    {"800", kInverse + 800, 0},
    {"1000", kInverse + 1000, 0},
    {"1250", kInverse + 1250, 0},
    {"1600", kInverse + 1600, 0},
    {"2000", kInverse + 2000, 0},
    {"2500", kInverse + 2500, 0},
    {"3200", kInverse + 3200, 0},
    {"4000", kInverse + 4000, 0},
    {"5000", kInverse + 5000, 0},
    {"6400", kInverse + 6400, 0},
    {"8000", kInverse + 8000, 0},
};
static_assert(sizeof kShutterTable / sizeof kShutterTable[0] == 57);

struct ImageModeRow {
  const char* name;
  uint8_t mode;
};
constexpr ImageModeRow kImageModeTable[] = {{"auto", 0x01}, {"shutter", 0x02}, {"aperture", 0x03}, {"manual", 0x04}};

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
  for (const EvRow& row : kEvTable) {
    if (row.ev == ev) {
      uint8_t frame[kExposureCompensation.size()];
      std::memcpy(frame, kExposureCompensation.data(), sizeof frame);
      frame[11] = row.code;
      SendFrameIfLinkUp(frame, sizeof frame);
      return;
    }
  }
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
  uint8_t code = 0x00;  // automatic
  for (const IsoRow& row : kIsoTable) {
    if (row.iso == iso) code = row.code;
  }
  uint8_t frame[kIso.size()];
  std::memcpy(frame, kIso.data(), sizeof frame);
  frame[11] = code;
  SendFrameIfLinkUp(frame, sizeof frame);
}

void SetShutter(const char* name) {
  if (name == nullptr) name = "";
  fprintf(stderr, "set shutter %s\n", name);
  uint16_t value = 0;
  uint8_t frac = 0;
  for (const ShutterRow& row : kShutterTable) {
    if (std::strcmp(row.name, name) == 0) {
      value = row.value;
      frac = row.frac;
      break;
    }
  }
  // An unknown name still goes out, as value 0.
  uint8_t frame[kShutter.size()];
  std::memcpy(frame, kShutter.data(), sizeof frame);
  PutU16(frame + 12, value);
  frame[14] = frac;
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
  for (const ImageModeRow& row : kImageModeTable) {
    if (std::strcmp(row.name, name) == 0) {
      uint8_t frame[kImageMode.size()];
      std::memcpy(frame, kImageMode.data(), sizeof frame);
      frame[11] = row.mode;
      SendFrameIfLinkUp(frame, sizeof frame);
      return;
    }
  }
}
