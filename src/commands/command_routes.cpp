// What each camera command group does: the routes of the command vocabulary.
#include "commands/command_routes.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/named_rows.h"
#include "common/number_text.h"
#include "common/saturating.h"
#include "operations/camera_clock.h"
#include "operations/capture.h"
#include "operations/exposure_focus.h"
#include "operations/motion.h"
#include "operations/picture_settings.h"
#include "operations/playback.h"
#include "operations/power.h"
#include "operations/shot_type.h"
#include "records/camera_codes.h"
#include "records/link_state.h"
#include "records/motion_intent.h"
#include "senders/camera_frames.h"
#include "senders/camera_sender.h"

namespace {

bool Same(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

constexpr size_t kPayload = kFrameHeaderSize;
constexpr size_t kRealtimeAfByte = kPayload + 6;
constexpr size_t kSmoothTrackByte = kPayload + 5;

// A row that logs a fixed line and sends stored frames in order; a sequence
// stops at the first frame that could not be sent.
struct FrameRow {
  const char* param;
  const char* log;
  StoredFrame frames[3];
};

template <size_t N>
void SendFrameRows(const FrameRow (&rows)[N], const char* param) {
  for (const FrameRow& row : rows) {
    if (!Same(param, row.param)) continue;
    fprintf(stderr, "%s", row.log);
    for (const StoredFrame& frame : row.frames) {
      if (frame.bytes == nullptr) break;
      if (!SendStoredFrame(frame)) break;
    }
  }
}

constexpr FrameRow kHorizontRows[] = {
    {"cw", "roll horizont clockwise\n", {Stored(kRollClockwise)}},
    {"ccw", "roll horizont contr-clockwise\n", {Stored(kRollCounterClockwise)}},
    {"zero", "roll horizont to zero\n", {Stored(kRollZero)}},
    {"calibrate", "full calibrate\n", {Stored(kRollZero), Stored(kGimbalCalibrate), Stored(kGimbalCalibrateEnd)}},
};
constexpr FrameRow kSceneModeRows[] = {
    {"walk", "set scene mode walk\n", {Stored(kSceneWalk)}},
    {"sport", "set scene mode sport\n", {Stored(kSceneSport)}},
    {"wearable", "set scene mode wearable\n", {Stored(kSceneWearable)}},
};
constexpr FrameRow kPitchRows[] = {
    {"lock", "set pitch lock\n", {Stored(kPitchLock)}},
    {"unlock", "set pitch unlock\n", {Stored(kPitchUnlock)}},
};

struct NumberRow {
  const char* name;
  int32_t number;
};
constexpr NumberRow kFocusTypes[] = {{"mf", 0}, {"af", 1}, {"afunlim", 2}};
constexpr NumberRow kPhotoFormats[] = {{"raw", 0}, {"jpg", 1}, {"jpg+raw", 2}};
constexpr NumberRow kWorkModes[] = {{"video", 1}, {"photo", 0}};
constexpr NumberRow kRecording[] = {{"start", 1}, {"stop", 0}};

template <size_t N>
const NumberRow* FindNumber(const NumberRow (&rows)[N], const char* text) {
  for (const NumberRow& row : rows) {
    if (Same(text, row.name)) return &row;
  }
  return nullptr;
}

// One field of the "YYYYMMDDhhmmss" text at a fixed position, read by itself;
// characters past the end of a short text count as missing, giving 0.
int32_t DateField(const char* text, size_t length, size_t start, size_t width) {
  char field[5] = {};
  for (size_t i = 0; i < width && start + i < length; ++i) field[i] = text[start + i];
  return ReadInt32(field);
}

}  // namespace

const char* WorkModeChoice(size_t index) { return NameAt(kWorkModes, index); }
const char* FocusTypeChoice(size_t index) { return NameAt(kFocusTypes, index); }
const char* PhotoFormatChoice(size_t index) { return NameAt(kPhotoFormats, index); }

void OnCameraCommand(const CameraCommand& c) {
  if (!Same(c.param, "mode")) return;
  if (const NumberRow* mode = FindNumber(kWorkModes, c.value1)) SetCameraWorkMode(mode->number);
}

void OnHorizontCommand(const CameraCommand& c) { SendFrameRows(kHorizontRows, c.param); }

void OnExposureCommand(const CameraCommand& c) { SetExposureMetering(c.param, c.value1); }

void OnFocusCommand(const CameraCommand& c) {
  if (Same(c.param, "type")) {
    if (const NumberRow* type = FindNumber(kFocusTypes, c.value1)) SelectFocusType(type->number);
  }
  if (Same(c.param, "point")) {
    SelectFocusType(1);
    SetFocusPoint(SaturatedFloat(ReadReal(c.value1)), SaturatedFloat(ReadReal(c.value2)));
  }
  if (Same(c.param, "manual")) {
    SelectFocusType(0);
    SetManualFocus(static_cast<double>(ReadInt32(c.value1)));
  }
  const uint32_t assistants = GetLinkState()->focus_byte42;
  if (Same(c.param, "mfa")) {
    const int32_t v = ReadInt32(c.value1);
    fprintf(stderr, "set MF assistant to %d\n", v);
    // Keeps the AF assistant bit as the camera last reported it.
    SendWithByte(kFocusAssistant, kPayload, static_cast<uint8_t>((static_cast<uint32_t>(v) | (assistants & 2u)) & 0xFF));
  }
  if (Same(c.param, "afa")) {
    const int32_t v = ReadInt32(c.value1);
    fprintf(stderr, "set AF assistant to %d\n", v);
    SendWithByte(kFocusAssistant, kPayload, static_cast<uint8_t>(((assistants & 1u) | (static_cast<uint32_t>(v) << 1)) & 0xFF));
  }
  if (Same(c.param, "realtime")) {
    const int32_t v = ReadInt32(c.value1);
    fprintf(stderr, "set Real-time AF to %d\n", v);
    SendWithByte(kGimbalParameter, kRealtimeAfByte, static_cast<uint8_t>(v & 0xFF));
  }
}

void OnPositionCommand(const CameraCommand& c) {
  if (Same(c.param, "move") && !c.value1_not_text && !c.value2_not_text) {
    SetGimbalAngle(ReadInt32(c.value1), ReadInt32(c.value2), 0);
  }
  if (Same(c.param, "moverel")) {
    SetPanTiltSpeed(ReadInt32(c.value1), SaturatedNegate(ReadInt32(c.value2)), c.sender);
    StoreGimbalStopped(0);
  }
  if (Same(c.param, "normal")) {
    fprintf(stderr, "set position normal\n");
    SetGimbalPosition(0);
  }
  if (Same(c.param, "selfie")) {
    fprintf(stderr, "set position selfie\n");
    SetGimbalPosition(1);
  }
}

void OnZoomCommand(const CameraCommand& c) {
  const int32_t selector = ReadInt32(c.param);
  const int32_t v = ReadInt32(c.value1);
  switch (selector) {
    case -1: SetDigitalZoom(SaturatedAdd(v, GetMotionIntent()->zoom_level)); break;
    case -2: SetDigitalZoomSpeed(v, c.sender); break;  // the RC loop applies it; 0 stops
    case -3: SetOpticalZoom(v, c.sender); break;
    default: SetDigitalZoom(v); break;
  }
}

// No frame here: the parser brings the gimbal into the wanted state on its
// next attitude reports.
void OnOrientationCommand(const CameraCommand& c) {
  if (Same(c.param, "lock")) {
    fprintf(stderr, "set orientation lock\n");
    SetOrientationLockWanted(1);
  }
  if (Same(c.param, "unlock")) {
    fprintf(stderr, "set orientation unlock\n");
    SetOrientationLockWanted(0);
  }
}

void OnSceneModeCommand(const CameraCommand& c) { SendFrameRows(kSceneModeRows, c.param); }

void OnPitchCommand(const CameraCommand& c) { SendFrameRows(kPitchRows, c.param); }

void OnColorCommand(const CameraCommand& c) { SetColorProfile(c.param); }

void OnSceneCommand(const CameraCommand& c) { SetImageScene(c.param); }

void OnWhiteBalanceCommand(const CameraCommand& c) { SetWhiteBalance(c.param, c.value1); }

void OnShotCommand(const CameraCommand& c) {
  if (const NumberRow* format = FindNumber(kPhotoFormats, c.param)) SetPhotoFormat(format->number);
  ShutterRelease();
}

void OnStopShotCommand(const CameraCommand&) { StopIntervalShooting(); }

void OnShotModeCommand(const CameraCommand& c) {
  if (const NumberRow* format = FindNumber(kPhotoFormats, c.param)) SetPhotoFormat(format->number);
}

void OnShotTypeCommand(const CameraCommand& c) { SetShotType(c.param, c.value1, c.value2); }

void OnRecordCommand(const CameraCommand& c) {
  if (const NumberRow* on = FindNumber(kRecording, c.param)) SetRecording(on->number);
}

void OnHistogramCommand(const CameraCommand& c) { SetHistogram(c.param); }

void OnVideoModeCommand(const CameraCommand& c) { SetImageMode(c.param); }

void OnShutterCommand(const CameraCommand& c) { SetShutter(c.param); }

// Beyond the float range the f-number becomes infinite rather than undefined;
// the aperture operation sends nothing for a value it cannot convert.
void OnApertureCommand(const CameraCommand& c) { SetAperture(SaturatedFloat(ReadReal(c.param))); }

void OnIsoCommand(const CameraCommand& c) {
  if (const IsoStep* iso = FindIsoByName(c.param)) SetIso(iso->iso);
}

void OnEvCommand(const CameraCommand& c) { SetExposureCompensation(ReadReal(c.param)); }

void OnVideoResolutionCommand(const CameraCommand& c) {
  if (const VideoResolution* row = FindVideoResolution(c.param)) SetVideoResolution(row->width, row->height, row->rate);
}

void OnVideoAspectCommand(const CameraCommand& c) { SetVideoAspect(c.param); }

void OnVideoStandardCommand(const CameraCommand& c) { SetVideoStandard(c.param); }

void OnAntiFlickerCommand(const CameraCommand& c) { SetAntiFlicker(c.param); }

void OnCalibrateFocusCommand(const CameraCommand&) { CalibrateFocus(); }

void OnFormatMicroSdCommand(const CameraCommand&) { FormatMicroSd(); }

void OnFormatSsdCommand(const CameraCommand&) { FormatSsd(); }

void OnSmoothTrackCommand(const CameraCommand& c) {
  const int32_t v = ReadInt32(c.value1);
  fprintf(stderr, "set Zoom Adjusted Smoothtrack to %d\n", v);
  SendWithByte(kGimbalParameter, kSmoothTrackByte, static_cast<uint8_t>(v & 0xFF));
}

void OnTimeCommand(const CameraCommand& c) {
  const size_t length = std::strlen(c.value1);
  const int32_t year = DateField(c.value1, length, 0, 4);
  const int32_t month = DateField(c.value1, length, 4, 2);
  const int32_t day = DateField(c.value1, length, 6, 2);
  const int32_t hour = DateField(c.value1, length, 8, 2);
  const int32_t minute = DateField(c.value1, length, 10, 2);
  const int32_t second = DateField(c.value1, length, 12, 2);
  // From now on the viewer's clock wins over the box's.
  EndDateSync();
  SetCameraDateTime(hour, minute, second, day, month, year);
}

void OnResetCameraCommand(const CameraCommand&) { ResetCamera(); }

void OnPowerCommand(const CameraCommand& c) { SetCameraPower(c.param); }

void OnPlaybackCommand(const CameraCommand& c) {
  fprintf(stderr, "playback command: %s\n", c.param);
  NavigatePlayback(c.param);
}
