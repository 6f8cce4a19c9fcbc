#include "telemetry.h"

#include <cmath>
#include <cstring>

#include "common/camera_frame.h"
#include "common/wire.h"

const TelemetryInfo kTelemetryInfo[kTelemetryKindCount] = {
    {"attitude", 10, {25, 25}}, {"status", 2, {49, 50}},   {"settings", 1, {85, 104}},
    {"focus", 2, {53, 59}},     {"lens", 1, {52, 52}},     {"playback", 0.5, {54, 54}},
    {"datablock", 1, {77, 77}}, {"counter", 1, {22, 22}},
};

namespace {

// Header bytes the parser does not look at (only the attitude's set and id
// matter), chosen to look like the camera's own.
struct Header {
  uint8_t sender, receiver, type, set, id;
};
constexpr Header kHeaders[kTelemetryKindCount] = {
    {0x04, 0x02, 0x00, 0x04, 0x05}, {0x01, 0x02, 0x00, 0x02, 0x80}, {0x01, 0x02, 0x00, 0x02, 0x81},
    {0x01, 0x02, 0x00, 0x02, 0x83}, {0x01, 0x02, 0x00, 0x02, 0x82}, {0x01, 0x02, 0x00, 0x02, 0x84},
    {0x01, 0x02, 0x00, 0x02, 0x85}, {0x01, 0x02, 0x00, 0x00, 0x86},
};

int16_t ToI16(double v) {
  if (!(v == v)) return 0;
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(std::lround(v));
}

// The inverse of the box's conversion to degrees.
void FillAttitude(const SimCamera& c, uint8_t* f) {
  int16_t p = ToI16(c.pan_deg * 3260 / 350);
  int16_t t = ToI16(c.tilt_deg >= 0 ? c.tilt_deg * 347 / 45 : c.tilt_deg * 1293 / 135);
  int16_t d = ToI16(-c.dutch_deg * 490 / 60);
  PutU16(f + 11, static_cast<uint16_t>(t));
  PutU16(f + 13, static_cast<uint16_t>(d));
  PutU16(f + 15, static_cast<uint16_t>(p));
  f[17] = c.orientation_locked ? 0 : 1;
}

void FillStatus(const SimCamera& c, uint8_t* f) {
  uint32_t record_s = c.recording ? static_cast<uint32_t>(c.t - c.record_started) : 0;
  f[11] = c.recording ? 0x80 : 0x00;  // bits 7-6 = 2 while recording
  f[13] = 0;
  f[15] = c.work_mode;
  PutU32(f + 20, 7200 - (static_cast<uint32_t>(c.t) % 7200));  // card time left, seconds
  PutU32(f + 24, record_s);
  PutU32(f + 28, c.shots);
  PutU16(f + 40, static_cast<uint16_t>(95 - (static_cast<uint32_t>(c.t) / 60) % 90));  // battery %
  f[42] = 1;
  f[44] = c.recording ? 3 : 2;
}

void FillSettings(const SimCamera& c, uint8_t* f, size_t length) {
  PutU24(f + 13, c.shutter_code);
  f[16] = 1;
  f[17] = c.ev_code;
  f[21] = 2;
  f[23] = 1;
  f[24] = c.video_format_a;
  f[25] = c.video_format_b;
  f[31] = 1;
  f[34] = 0;
  f[35] = 3;
  PutU16(f + 38, 0x101);
  f[42] = 0;
  f[43] = 1;
  PutU16(f + 49, static_cast<uint16_t>(c.aperture_x100));
  PutU24(f + 51, 100);
  PutU16(f + 54, 400);
  f[66] = 0;
  f[67] = 1;
  f[68] = 1;  // single shot
  if (length >= 90) {
    PutU16(f + 86, 50);
    PutU16(f + 88, 600);
  }
}

void FillFocus(const SimCamera& c, uint8_t* f) {
  f[11] = static_cast<uint8_t>((c.focus_mode & 1) | 0x04);
  PutU16(f + 12, c.focus_range);
  PutU16(f + 14, c.focus_position);
  PutF32(f + 16, c.focus_value);
  PutF32(f + 24, c.focus_x);
  PutF32(f + 28, c.focus_y);
  f[32] = 1;
  f[42] = c.assistant_bits;
}

void FillLens(const SimCamera& c, uint8_t* f) {
  f[11] = 1;
  PutU16(f + 12, 150);                                   // focal length, tenths of mm
  PutU16(f + 25, static_cast<uint16_t>(100 + c.digital_zoom));
}

void FillPlayback(const SimCamera& c, uint8_t* f) {
  f[11] = c.playback_state;
  PutU16(f + 15, static_cast<uint16_t>(c.shots));
  PutU16(f + 17, 0);
  PutU16(f + 20, 1920);
  PutU16(f + 22, 1080);
  PutU16(f + 24, 0);
}

void FillDataBlock(const SimCamera& c, uint8_t* f) {
  for (int i = 0; i < 64; ++i) f[11 + i] = static_cast<uint8_t>(i);
  PutU32(f + 11, c.counter);
}

}  // namespace

int TelemetryKindByName(const char* name) {
  for (int k = 0; k < kTelemetryKindCount; ++k)
    if (std::strcmp(kTelemetryInfo[k].name, name) == 0) return k;
  return -1;
}

size_t BuildTelemetry(int kind, int variant, const SimCamera& cam, uint16_t sequence, uint8_t* out) {
  if (kind < 0 || kind >= kTelemetryKindCount) return 0;
  size_t length = kTelemetryInfo[kind].lengths[variant & 1];
  uint8_t f[256] = {};
  switch (kind) {
    case kTelemetryAttitude: FillAttitude(cam, f); break;
    case kTelemetryStatus: FillStatus(cam, f); break;
    case kTelemetrySettings: FillSettings(cam, f, length); break;
    case kTelemetryFocus: FillFocus(cam, f); break;
    case kTelemetryLens: FillLens(cam, f); break;
    case kTelemetryPlayback: FillPlayback(cam, f); break;
    case kTelemetryDataBlock: FillDataBlock(cam, f); break;
    case kTelemetryCounter: PutU24(f + 14, cam.counter & 0xFFFFFF); break;
  }
  const Header& h = kHeaders[kind];
  return BuildFrame(out, 255, h.sender, h.receiver, h.type, h.set, h.id, sequence, f + kFrameHeaderSize,
                    length - 13);
}
