// Drives the gimbal, zoom, exposure, focus and power operations with arbitrary
// argument values, as a client's gimbal control message or a JSON command may
// carry them: no value may lead to undefined behaviour.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "operations/camera_clock.h"
#include "operations/exposure_focus.h"
#include "operations/motion.h"
#include "operations/power.h"
#include "platform/clock.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "writable_records.h"

namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  template <typename T>
  T Take() {
    T value{};
    size_t n = size < sizeof value ? size : sizeof value;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SkipSleepsForFuzzing(true);
  // Link up with no socket: every encoder runs to the end, the send fails quietly.
  WritableLinkState()->link_up = 1;
  Reader in{data, size};
  WritableLinkState()->source_mode = in.Take<uint8_t>() & 1;
  WritableLinkState()->focus_range = in.Take<uint16_t>();
  WritableMotionIntent()->rc_pan_speed = in.Take<int32_t>();
  WritableMotionIntent()->rc_tilt_speed = in.Take<int32_t>();
  WritableMotionIntent()->zoom_level = in.Take<int32_t>();
  WritableMotionIntent()->lock_call_count = in.Take<int32_t>();
  while (in.size > 0) {
    const uint8_t op = in.Take<uint8_t>();
    const int32_t a = in.Take<int32_t>();
    const int32_t b = in.Take<int32_t>();
    const int32_t c = in.Take<int32_t>();
    switch (op % 14) {
      case 0: HandleGimbalControl(a % 4, a, b); break;
      case 1: SendGimbalSpeed(a, b, c); break;
      case 2: SetGimbalAngle(a, b, c); break;
      case 3: SetPanTiltSpeed(a, b); SetDutchSpeed(c); break;
      case 4: ApplyOrientationLock(a); break;
      case 5: SendCarrierAttitude(a, b); break;
      case 6: { float q[3]; std::memcpy(q, &a, 4); std::memcpy(q + 1, &b, 4); std::memcpy(q + 2, &c, 4);
                SendClientAttitude(q[0], q[1], q[2], q[0]); } break;
      case 7: SetDigitalZoom(a); SetOpticalZoom(b); break;
      case 8: { float f; std::memcpy(&f, &a, 4); SetAperture(f); SetFocusPoint(f, f); } break;
      case 9: { double d; int64_t bits = (static_cast<int64_t>(b) << 32) | static_cast<uint32_t>(a);
                std::memcpy(&d, &bits, 8); SetManualFocus(d); SetExposureCompensation(d); } break;
      case 10: SetIso(a); SelectFocusType(b % 4); break;
      case 11: SetCameraDateTime(a, b, c, a, b, c); ResetCamera(); break;
      case 12: SetGimbalPosition(a % 3); break;
      default: SetCameraPower("sleep"); SetShutter("3.2s"); SetImageMode("manual"); break;
    }
  }
  return 0;
}
