#include "commands/dispatcher.h"

#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "camera/camera_link.h"
#include "camera/capture.h"
#include "camera/motion.h"
#include "camera/supervision.h"
#include "commands/command_numbers.h"
#include "commands/exposure_focus.h"
#include "commands/picture_settings.h"
#include "commands/playback.h"
#include "commands/power.h"
#include "commands/stored_frame.h"

namespace {

// The four members the dispatcher reads, as texts. A member that is missing or
// not a JSON string reads as the empty text; for value1 and value2 the
// dispatcher also remembers that it was present but not a string.
struct Command {
  const char* cmd;
  const char* param;
  const char* value1;
  const char* value2;
  bool value1_not_text;
  bool value2_not_text;
};

const char* MemberText(const cJSON* root, const char* name, bool* not_text) {
  const cJSON* item = cJSON_GetObjectItem(root, name);
  if (not_text != nullptr) *not_text = item != nullptr && !cJSON_IsString(item);
  if (item == nullptr || !cJSON_IsString(item) || item->valuestring == nullptr) return "";
  return item->valuestring;
}

bool Same(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

// Gimbal roll of the horizon, full calibration and the gimbal parameter frame.
constexpr FrameTemplate<14> kRollClockwise = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x04, 0, 0, 0x40, 0x04, 0x07, 0xFD, 0, 0};
constexpr FrameTemplate<14> kRollCounterClockwise = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x04, 0, 0, 0x40, 0x04, 0x07, 0x03, 0, 0};
constexpr FrameTemplate<14> kRollZero = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x04, 0, 0, 0x40, 0x04, 0x07, 0x00, 0, 0};
constexpr FrameTemplate<21> kGimbalCalibrate = {0x55, 0x15, 0x04, 0xA9, 0x09, 0x04, 0, 0, 0x20, 0x04, 0x01,
    0x00, 0x04, 0x00, 0x04, 0x00, 0x04, 0x80, 0x00, 0, 0};
constexpr FrameTemplate<13> kGimbalCalibrateEnd = {0x55, 0x0D, 0x04, 0x33, 0x02, 0x04, 0, 0, 0x40, 0x04, 0x08, 0, 0};
// Every byte FF except the one a command sets.
constexpr FrameTemplate<21> kGimbalParameter = {0x55, 0x15, 0x04, 0xA9, 0x02, 0x04, 0, 0, 0x40, 0x04, 0x35,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
constexpr FrameTemplate<21> kSceneWalk = {0x55, 0x15, 0x04, 0xA9, 0x02, 0x04, 0, 0, 0x40, 0x04, 0x35,
    0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
constexpr FrameTemplate<21> kSceneSport = {0x55, 0x15, 0x04, 0xA9, 0x02, 0x04, 0, 0, 0x40, 0x04, 0x35,
    0xFF, 0xFF, 0xFF, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
constexpr FrameTemplate<21> kSceneWearable = {0x55, 0x15, 0x04, 0xA9, 0x02, 0x04, 0, 0, 0x40, 0x04, 0x35,
    0xFF, 0xFF, 0xFF, 0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
constexpr FrameTemplate<21> kPitchLock = {0x55, 0x15, 0x04, 0xA9, 0x02, 0x04, 0, 0, 0x40, 0x04, 0x35,
    0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0, 0};
constexpr FrameTemplate<21> kPitchUnlock = {0x55, 0x15, 0x04, 0xA9, 0x02, 0x04, 0, 0, 0x40, 0x04, 0x35,
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0, 0};
// Focus assistants (bit 0 MF, bit 1 AF).
constexpr FrameTemplate<14> kFocusAssistant = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0, 0, 0x40, 0x02, 0x9A, 0x00, 0, 0};
static_assert(FrameTemplateValid(kRollClockwise));
static_assert(FrameTemplateValid(kRollCounterClockwise));
static_assert(FrameTemplateValid(kRollZero));
static_assert(FrameTemplateValid(kGimbalCalibrate));
static_assert(FrameTemplateValid(kGimbalCalibrateEnd));
static_assert(FrameTemplateValid(kGimbalParameter));
static_assert(FrameTemplateValid(kSceneWalk));
static_assert(FrameTemplateValid(kSceneSport));
static_assert(FrameTemplateValid(kSceneWearable));
static_assert(FrameTemplateValid(kPitchLock));
static_assert(FrameTemplateValid(kPitchUnlock));
static_assert(FrameTemplateValid(kFocusAssistant));

constexpr size_t kPayload = kFrameHeaderSize;
constexpr size_t kRealtimeAfByte = kPayload + 6;
constexpr size_t kSmoothTrackByte = kPayload + 5;

template <size_t N>
void SendWithByte(const FrameTemplate<N>& stored, size_t offset, uint8_t value) {
  uint8_t frame[N];
  std::memcpy(frame, stored.data(), N);
  frame[offset] = value;
  SendFrameIfLinkUp(frame, static_cast<uint16_t>(N));
}

// A row that logs a fixed line and sends stored frames in order; a sequence
// stops at the first frame that could not be sent.
struct FrameRow {
  const char* param;
  const char* log;
  StoredFrame frames[3];
};

template <size_t N>
void RunFrameRows(const FrameRow (&rows)[N], const char* param) {
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
  const char* text;
  int32_t number;
};
constexpr NumberRow kFocusTypes[] = {{"mf", 0}, {"af", 1}, {"afunlim", 2}};
constexpr NumberRow kPhotoFormats[] = {{"raw", 0}, {"jpg", 1}, {"jpg+raw", 2}};
constexpr NumberRow kWorkModes[] = {{"video", 1}, {"photo", 0}};
constexpr NumberRow kRecording[] = {{"start", 1}, {"stop", 0}};
constexpr NumberRow kIsoValues[] = {{"auto", 0},    {"100", 100},   {"200", 200},  {"400", 400},
                                    {"800", 800}, {"1600", 1600}, {"3200", 3200}, {"6400", 6400}};

template <size_t N>
const NumberRow* FindNumber(const NumberRow (&rows)[N], const char* text) {
  for (const NumberRow& row : rows) {
    if (Same(text, row.text)) return &row;
  }
  return nullptr;
}

struct ResolutionRow {
  const char* text;
  int32_t width;
  int32_t height;
  int32_t rate;
};
constexpr ResolutionRow kResolutions[] = {
    {"4096x2160@25", 4096, 2160, 25}, {"4096x2160@24", 4096, 2160, 24}, {"3840x2160@30", 3840, 2160, 30},
    {"3840x2160@25", 3840, 2160, 25}, {"3840x2160@24", 3840, 2160, 24}, {"2704x1520@30", 2704, 1520, 30},
    {"2704x1520@25", 2704, 1520, 25}, {"2704x1520@24", 2704, 1520, 24}, {"1920x1080@60", 1920, 1080, 60},
    {"1920x1080@50", 1920, 1080, 50}, {"1920x1080@48", 1920, 1080, 48}, {"1920x1080@30", 1920, 1080, 30},
    {"1920x1080@25", 1920, 1080, 25}, {"1920x1080@24", 1920, 1080, 24}, {"1280x720@60", 1280, 720, 60},
    {"1280x720@50", 1280, 720, 50},   {"1280x720@48", 1280, 720, 48},   {"1280x720@30", 1280, 720, 30},
    {"1280x720@25", 1280, 720, 25},   {"1280x720@24", 1280, 720, 24},   {"1920x1080@120", 1920, 1080, 120},
};

// ---- command groups, in the order of the vocabulary ----

void RunCamera(const Command& c) {
  if (!Same(c.param, "mode")) return;
  if (const NumberRow* mode = FindNumber(kWorkModes, c.value1)) SetCameraWorkMode(mode->number);
}

void RunHorizont(const Command& c) { RunFrameRows(kHorizontRows, c.param); }

void RunExposure(const Command& c) { SetExposureMetering(c.param, c.value1); }

void RunFocus(const Command& c) {
  if (Same(c.param, "type")) {
    if (const NumberRow* type = FindNumber(kFocusTypes, c.value1)) SelectFocusType(type->number);
  }
  if (Same(c.param, "point")) {
    SelectFocusType(1);
    SetFocusPoint(SaturatedFloat(CommandReal(c.value1)), SaturatedFloat(CommandReal(c.value2)));
  }
  if (Same(c.param, "manual")) {
    SelectFocusType(0);
    SetManualFocus(static_cast<double>(CommandInteger(c.value1)));
  }
  const uint32_t assistants = GetCameraLink()->focus_byte42;
  if (Same(c.param, "mfa")) {
    const int32_t v = CommandInteger(c.value1);
    fprintf(stderr, "set MF assistant to %d\n", v);
    // Keeps the AF assistant bit as the camera last reported it.
    SendWithByte(kFocusAssistant, kPayload, static_cast<uint8_t>((static_cast<uint32_t>(v) | (assistants & 2u)) & 0xFF));
  }
  if (Same(c.param, "afa")) {
    const int32_t v = CommandInteger(c.value1);
    fprintf(stderr, "set AF assistant to %d\n", v);
    SendWithByte(kFocusAssistant, kPayload, static_cast<uint8_t>(((assistants & 1u) | (static_cast<uint32_t>(v) << 1)) & 0xFF));
  }
  if (Same(c.param, "realtime")) {
    const int32_t v = CommandInteger(c.value1);
    fprintf(stderr, "set Real-time AF to %d\n", v);
    SendWithByte(kGimbalParameter, kRealtimeAfByte, static_cast<uint8_t>(v & 0xFF));
  }
}

void RunPosition(const Command& c) {
  CameraLink* link = GetCameraLink();
  if (Same(c.param, "move") && !c.value1_not_text && !c.value2_not_text) {
    SetGimbalAngle(CommandInteger(c.value1), CommandInteger(c.value2), 0);
  }
  if (Same(c.param, "moverel")) {
    SetPanTiltSpeed(CommandInteger(c.value1), SaturatedNegate(CommandInteger(c.value2)));
    link->gimbal_stopped = 0;
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

void RunZoom(const Command& c) {
  CameraLink* link = GetCameraLink();
  const int32_t selector = CommandInteger(c.param);
  const int32_t v = CommandInteger(c.value1);
  switch (selector) {
    case -1: SetDigitalZoom(SaturatedAdd(v, link->zoom_level)); break;
    case -2: link->zoom_speed = v; break;  // the RC loop applies it; 0 stops
    case -3: SetOpticalZoom(v); break;
    default: SetDigitalZoom(v); break;
  }
}

// No frame here: the parser brings the gimbal into the wanted state on its
// next attitude reports.
void RunOrientation(const Command& c) {
  if (Same(c.param, "lock")) {
    fprintf(stderr, "set orientation lock\n");
    GetCameraLink()->orientation_lock_wanted = 1;
  }
  if (Same(c.param, "unlock")) {
    fprintf(stderr, "set orientation unlock\n");
    GetCameraLink()->orientation_lock_wanted = 0;
  }
}

void RunSceneMode(const Command& c) { RunFrameRows(kSceneModeRows, c.param); }

void RunPitch(const Command& c) { RunFrameRows(kPitchRows, c.param); }

void RunColor(const Command& c) { SetColorProfile(c.param); }

void RunScene(const Command& c) { SetImageScene(c.param); }

void RunWhiteBalance(const Command& c) { SetWhiteBalance(c.param, c.value1); }

void RunShot(const Command& c) {
  if (const NumberRow* format = FindNumber(kPhotoFormats, c.param)) SetPhotoFormat(format->number);
  ShutterRelease();
}

void RunStopShot(const Command&) { StopIntervalShooting(); }

void RunShotMode(const Command& c) {
  if (const NumberRow* format = FindNumber(kPhotoFormats, c.param)) SetPhotoFormat(format->number);
}

void RunShotType(const Command& c) { SetShotType(c.param, c.value1, c.value2); }

void RunRecord(const Command& c) {
  if (const NumberRow* on = FindNumber(kRecording, c.param)) SetRecording(on->number);
}

void RunHistogram(const Command& c) { SetHistogram(c.param); }

void RunVideoMode(const Command& c) { SetImageMode(c.param); }

void RunShutter(const Command& c) { SetShutter(c.param); }

// Beyond the float range the f-number becomes infinite rather than undefined;
// the aperture operation sends nothing for a value it cannot convert.
void RunAperture(const Command& c) { SetAperture(SaturatedFloat(CommandReal(c.param))); }

void RunIso(const Command& c) {
  if (const NumberRow* iso = FindNumber(kIsoValues, c.param)) SetIso(iso->number);
}

void RunEv(const Command& c) { SetExposureCompensation(CommandReal(c.param)); }

void RunVideoResolution(const Command& c) {
  for (const ResolutionRow& row : kResolutions) {
    if (Same(c.param, row.text)) SetVideoResolution(row.width, row.height, row.rate);
  }
}

void RunVideoAspect(const Command& c) { SetVideoAspect(c.param); }

void RunVideoStandard(const Command& c) { SetVideoStandard(c.param); }

void RunAntiFlicker(const Command& c) { SetAntiFlicker(c.param); }

void RunCalibrateFocus(const Command&) { CalibrateFocus(); }

void RunFormatMicroSd(const Command&) { FormatMicroSd(); }

void RunFormatSsd(const Command&) { FormatSsd(); }

void RunSmoothTrack(const Command& c) {
  const int32_t v = CommandInteger(c.value1);
  fprintf(stderr, "set Zoom Adjusted Smoothtrack to %d\n", v);
  SendWithByte(kGimbalParameter, kSmoothTrackByte, static_cast<uint8_t>(v & 0xFF));
}

// One field of the "YYYYMMDDhhmmss" text at a fixed position, read by itself;
// characters past the end of a short text count as missing, giving 0.
int32_t DateField(const char* text, size_t length, size_t start, size_t width) {
  char field[5] = {};
  for (size_t i = 0; i < width && start + i < length; ++i) field[i] = text[start + i];
  return CommandInteger(field);
}

void RunTime(const Command& c) {
  const size_t length = std::strlen(c.value1);
  const int32_t year = DateField(c.value1, length, 0, 4);
  const int32_t month = DateField(c.value1, length, 4, 2);
  const int32_t day = DateField(c.value1, length, 6, 2);
  const int32_t hour = DateField(c.value1, length, 8, 2);
  const int32_t minute = DateField(c.value1, length, 10, 2);
  const int32_t second = DateField(c.value1, length, 12, 2);
  // From now on the viewer's clock wins over the box's.
  g_date_sync_pending = 0;
  SetCameraDateTime(hour, minute, second, day, month, year);
}

void RunResetCamera(const Command&) { ResetCamera(); }

void RunPower(const Command& c) { SetCameraPower(c.param); }

void RunPlayback(const Command& c) {
  fprintf(stderr, "playback command: %s\n", c.param);
  RunPlaybackCommand(c.param);
}

struct Group {
  const char* name;
  void (*run)(const Command&);
};
constexpr Group kGroups[] = {
    {"camera", RunCamera},
    {"horizont", RunHorizont},
    {"exposure", RunExposure},
    {"focus", RunFocus},
    {"position", RunPosition},
    {"zoom", RunZoom},
    {"orientation", RunOrientation},
    {"scenemode", RunSceneMode},
    {"pitch", RunPitch},
    {"color", RunColor},
    {"scene", RunScene},
    {"wb", RunWhiteBalance},
    {"shot", RunShot},
    {"stopshot", RunStopShot},
    {"shotmode", RunShotMode},
    {"shottype", RunShotType},
    {"record", RunRecord},
    {"hystogram", RunHistogram},
    {"video_mode", RunVideoMode},
    {"shutter", RunShutter},
    {"aperture", RunAperture},
    {"iso", RunIso},
    {"ev", RunEv},
    {"video_resolution", RunVideoResolution},
    {"video_aspect", RunVideoAspect},
    {"video_std", RunVideoStandard},
    {"antiflicker", RunAntiFlicker},
    {"calibratefocus", RunCalibrateFocus},
    {"formatmicrosd", RunFormatMicroSd},
    {"formatssd", RunFormatSsd},
    {"zoomadjustedsmoothtrack", RunSmoothTrack},
    {"time", RunTime},
    {"resetcamera", RunResetCamera},
    {"power", RunPower},
    {"playback", RunPlayback},
};

const Group* FindGroup(const char* cmd) {
  for (const Group& group : kGroups) {
    if (Same(cmd, group.name)) return &group;
  }
  return nullptr;
}

}  // namespace

bool IsCameraCommandGroup(const char* cmd) { return cmd != nullptr && FindGroup(cmd) != nullptr; }

void DispatchCameraCommand(const char* text, int /*length*/) {
  if (text == nullptr) return;
  cJSON* root = cJSON_Parse(text);
  if (root == nullptr) return;
  if (!cJSON_IsObject(root)) {
    cJSON_Delete(root);
    return;
  }
  Command c{};
  c.cmd = MemberText(root, "cmd", nullptr);
  c.param = MemberText(root, "param", nullptr);
  c.value1 = MemberText(root, "value1", &c.value1_not_text);
  c.value2 = MemberText(root, "value2", &c.value2_not_text);
  if (const Group* group = FindGroup(c.cmd)) group->run(c);
  cJSON_Delete(root);
}
