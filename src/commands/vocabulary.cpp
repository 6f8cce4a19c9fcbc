#include "commands/vocabulary.h"

#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "commands/command_routes.h"
#include "common/json_text.h"
#include "records/camera_codes.h"

namespace {

// Choices taken from the camera's code tables.
template <const auto& kTable>
const char* ChoiceOf(size_t index) {
  return index < std::size(kTable) ? kTable[index].name : nullptr;
}
constexpr auto IsoChoice = ChoiceOf<kIsoSteps>;
constexpr auto ImageModeChoice = ChoiceOf<kImageModes>;
constexpr auto VideoResolutionChoice = ChoiceOf<kVideoResolutions>;

constexpr CameraCommandWord kWords[] = {
    {"camera/mode", "camera", "mode", nullptr, "video|photo", nullptr,
     "switch the camera's work mode", OnCameraCommand},
    {"horizont/cw", "horizont", "cw", nullptr, nullptr, nullptr, "roll the horizon clockwise", OnHorizontCommand},
    {"horizont/ccw", "horizont", "ccw", nullptr, nullptr, nullptr,
     "roll the horizon counter-clockwise", OnHorizontCommand},
    {"horizont/zero", "horizont", "zero", nullptr, nullptr, nullptr,
     "roll the horizon back to level", OnHorizontCommand},
    {"horizont/calibrate", "horizont", "calibrate", nullptr, nullptr, nullptr,
     "full gimbal calibration", OnHorizontCommand},
    {"exposure/point", "exposure", "point", nullptr, "metering point number", nullptr,
     "meter exposure at a point", OnExposureCommand},
    {"exposure/center", "exposure", "center", nullptr, nullptr, nullptr,
     "meter exposure at the centre", OnExposureCommand},
    {"exposure/auto", "exposure", "auto", nullptr, "lock|unlock", nullptr,
     "lock or unlock auto exposure", OnExposureCommand},
    {"focus/type", "focus", "type", nullptr, "mf|af|afunlim", nullptr,
     "manual, auto or unlimited auto focus", OnFocusCommand},
    {"focus/point", "focus", "point", nullptr, "x (0..1)", "y (0..1)",
     "auto focus at a point of the picture", OnFocusCommand},
    {"focus/manual", "focus", "manual", nullptr, "percent", nullptr,
     "manual focus position in percent", OnFocusCommand},
    {"focus/mfa", "focus", "mfa", nullptr, "0|1", nullptr, "manual focus assistant off or on", OnFocusCommand},
    {"focus/afa", "focus", "afa", nullptr, "0|1", nullptr, "auto focus assistant off or on", OnFocusCommand},
    {"focus/realtime", "focus", "realtime", nullptr, "0|1", nullptr, "real-time auto focus off or on", OnFocusCommand},
    {"position/move", "position", "move", nullptr, "pan angle", "tilt angle",
     "move the gimbal to an angle", OnPositionCommand},
    {"position/moverel", "position", "moverel", nullptr, "pan speed", "tilt speed (up positive)",
     "move the gimbal at a speed; 0 0 stops", OnPositionCommand},
    {"position/normal", "position", "normal", nullptr, nullptr, nullptr,
     "gimbal to its normal position", OnPositionCommand},
    {"position/selfie", "position", "selfie", nullptr, nullptr, nullptr,
     "gimbal to its selfie position", OnPositionCommand},
    {"zoom", "zoom", nullptr, "-1 relative digital|-2 digital speed|-3 optical direction|other: digital level",
     "level, step, speed or direction", nullptr, "digital or optical zoom", OnZoomCommand},
    {"orientation/lock", "orientation", "lock", nullptr, nullptr, nullptr,
     "lock the gimbal orientation", OnOrientationCommand},
    {"orientation/unlock", "orientation", "unlock", nullptr, nullptr, nullptr,
     "unlock the gimbal orientation", OnOrientationCommand},
    {"scenemode/walk", "scenemode", "walk", nullptr, nullptr, nullptr, "gimbal scene mode walk", OnSceneModeCommand},
    {"scenemode/sport", "scenemode", "sport", nullptr, nullptr, nullptr, "gimbal scene mode sport", OnSceneModeCommand},
    {"scenemode/wearable", "scenemode", "wearable", nullptr, nullptr, nullptr,
     "gimbal scene mode wearable", OnSceneModeCommand},
    {"pitch/lock", "pitch", "lock", nullptr, nullptr, nullptr, "lock the gimbal pitch", OnPitchCommand},
    {"pitch/unlock", "pitch", "unlock", nullptr, nullptr, nullptr, "unlock the gimbal pitch", OnPitchCommand},
    {"color", "color", nullptr,
     "d-log|d-cinelike|none|art|black white|vivid|beach|dream|classic|nostalgia|portrait", nullptr, nullptr,
     "colour profile", OnColorCommand},
    {"scene", "scene", nullptr, "standard|scenery|soft|custom", nullptr, nullptr, "image scene", OnSceneCommand},
    {"wb", "wb", nullptr, "auto|sunny|cloudy|incandescent|neon|custom", "colour temperature in K (custom)", nullptr,
     "white balance", OnWhiteBalanceCommand},
    {"shot", "shot", nullptr, "raw|jpg|jpg+raw|other: keep format", nullptr, nullptr,
     "release the shutter (or stop a running interval shooting)", OnShotCommand},
    {"stopshot", "stopshot", nullptr, nullptr, nullptr, nullptr, "stop interval shooting", OnStopShotCommand},
    {"shotmode", "shotmode", nullptr, "raw|jpg|jpg+raw", nullptr, nullptr, "photo format", OnShotModeCommand},
    {"shottype/single", "shottype", "single", nullptr, "shot|10s|hdr", nullptr, "single shot type", OnShotTypeCommand},
    {"shottype/multiple", "shottype", "multiple", nullptr, "3shots|5shots|7shots|aeb3|aeb5", nullptr,
     "burst or exposure bracketing", OnShotTypeCommand},
    {"shottype/interval", "shottype", "interval", nullptr, "10s|30s", nullptr, "interval shooting", OnShotTypeCommand},
    {"shottype/pano", "shottype", "pano", nullptr, "180|360|180self|manual|grid", nullptr,
     "panorama", OnShotTypeCommand},
    {"shottype/timelapse", "shottype", "timelapse", nullptr, "interval in s (-1: camera's)",
     "duration (-1: camera's)", "timelapse", OnShotTypeCommand},
    {"record/start", "record", "start", nullptr, nullptr, nullptr, "start recording", OnRecordCommand},
    {"record/stop", "record", "stop", nullptr, nullptr, nullptr, "stop recording", OnRecordCommand},
    {"hystogram", "hystogram", nullptr, "1|0", nullptr, nullptr, "histogram on or off", OnHistogramCommand},
    {"video_mode", "video_mode", nullptr, "exposure program", nullptr, nullptr, "exposure program", OnVideoModeCommand,
     ImageModeChoice},
    {"shutter", "shutter", nullptr, "30s ... 1s | 1.25 ... 8000 (1/x s)", nullptr, nullptr,
     "shutter speed", OnShutterCommand},
    {"aperture", "aperture", nullptr, "f-number", nullptr, nullptr, "aperture", OnApertureCommand},
    {"iso", "iso", nullptr, "ISO", nullptr, nullptr, "ISO sensitivity", OnIsoCommand, IsoChoice},
    {"ev", "ev", nullptr, "-3.0 ... 3.0 in thirds (0.3, 0.7, 1.0 ...)", nullptr, nullptr,
     "exposure compensation", OnEvCommand},
    {"video_resolution", "video_resolution", nullptr, "WIDTHxHEIGHT@RATE", nullptr, nullptr,
     "video resolution and frame rate", OnVideoResolutionCommand, VideoResolutionChoice},
    {"video_aspect", "video_aspect", nullptr, "4:3|16:9", nullptr, nullptr, "image aspect ratio", OnVideoAspectCommand},
    {"video_std", "video_std", nullptr, "PAL|NTSC", nullptr, nullptr, "video standard", OnVideoStandardCommand},
    {"antiflicker", "antiflicker", nullptr, "auto|50|60", nullptr, nullptr, "anti-flicker", OnAntiFlickerCommand},
    {"calibratefocus", "calibratefocus", nullptr, nullptr, nullptr, nullptr,
     "calibrate the focus", OnCalibrateFocusCommand},
    {"formatmicrosd", "formatmicrosd", nullptr, nullptr, nullptr, nullptr,
     "format the microSD card", OnFormatMicroSdCommand},
    {"formatssd", "formatssd", nullptr, nullptr, nullptr, nullptr, "format the SSD", OnFormatSsdCommand},
    {"zoomadjustedsmoothtrack", "zoomadjustedsmoothtrack", nullptr, nullptr, "0|1", nullptr,
     "zoom-adjusted smooth track", OnSmoothTrackCommand},
    {"time", "time", nullptr, nullptr, "YYYYMMDDhhmmss", nullptr,
     "set the camera clock (ends the box's clock sync)", OnTimeCommand},
    {"resetcamera", "resetcamera", nullptr, nullptr, nullptr, nullptr,
     "reset the camera settings", OnResetCameraCommand},
    {"power", "power", nullptr, "sleep|wakeup|restart|shutdown", nullptr, nullptr,
     "camera power state", OnPowerCommand},
    {"playback/enter", "playback", "enter", nullptr, nullptr, nullptr, "enter playback", OnPlaybackCommand},
    {"playback/exit", "playback", "exit", nullptr, nullptr, nullptr, "leave playback", OnPlaybackCommand},
    {"playback/list", "playback", "list", nullptr, nullptr, nullptr, "media list", OnPlaybackCommand},
    {"playback/next", "playback", "next", nullptr, nullptr, nullptr, "next item", OnPlaybackCommand},
    {"playback/prev", "playback", "prev", nullptr, nullptr, nullptr, "previous item", OnPlaybackCommand},
    {"playback/play", "playback", "play", nullptr, nullptr, nullptr, "play the item", OnPlaybackCommand},
    {"playback/selectmode", "playback", "selectmode", nullptr, nullptr, nullptr, "select mode", OnPlaybackCommand},
    {"playback/selectall", "playback", "selectall", nullptr, nullptr, nullptr, "select all items", OnPlaybackCommand},
    {"playback/deselectall", "playback", "deselectall", nullptr, nullptr, nullptr,
     "deselect all items", OnPlaybackCommand},
    {"playback/cancel", "playback", "cancel", nullptr, nullptr, nullptr, "cancel", OnPlaybackCommand},
    {"playback/back", "playback", "back", nullptr, nullptr, nullptr, "back (about 4 s)", OnPlaybackCommand},
    {"playback/delete", "playback", "delete", nullptr, nullptr, nullptr,
     "delete the selection (about 4.4 s)", OnPlaybackCommand},
};

// The dispatcher takes the first word of a cmd: every word of one cmd sits
// with the others and names the same route, or a word would list a command
// that runs elsewhere.
constexpr bool SameText(const char* a, const char* b) { return std::string_view(a) == std::string_view(b); }
constexpr bool EachCommandHasOneRoute() {
  for (size_t i = 0; i < std::size(kWords); ++i) {
    bool group_ended = false;
    for (size_t j = i + 1; j < std::size(kWords); ++j) {
      if (!SameText(kWords[i].cmd, kWords[j].cmd)) {
        group_ended = true;
        continue;
      }
      if (group_ended || kWords[i].route != kWords[j].route) return false;
    }
  }
  return true;
}
static_assert(EachCommandHasOneRoute());

void AppendMember(std::string& out, const char* name, const char* value) {
  out += out.size() > 1 ? ",\"" : "\"";
  out += name;
  out += "\":\"";
  AppendJsonEscaped(&out, value);
  out += '"';
}

}  // namespace

const CameraCommandWord* CameraVocabulary(size_t* count) {
  if (count != nullptr) *count = std::size(kWords);
  return kWords;
}

const CameraCommandWord* FindCameraCommandWord(const char* name) {
  if (name == nullptr) return nullptr;
  for (const CameraCommandWord& word : kWords) {
    if (std::strcmp(word.name, name) == 0) return &word;
  }
  return nullptr;
}

CommandRoute FindCommandRoute(const char* cmd) {
  if (cmd == nullptr) return nullptr;
  for (const CameraCommandWord& word : kWords) {
    if (std::strcmp(word.cmd, cmd) == 0) return word.route;
  }
  return nullptr;
}

std::string CameraCommandParamHint(const CameraCommandWord& word) {
  if (word.param_choice == nullptr) return word.param_hint != nullptr ? word.param_hint : "";
  std::string hint;
  for (size_t i = 0; const char* choice = word.param_choice(i); ++i) {
    if (i > 0) hint += '|';
    hint += choice;
  }
  return hint;
}

size_t BuildCameraCommand(const CameraCommandWord& word, const char* param, const char* value1, const char* value2,
                          char* out, size_t capacity) {
  std::string text = "{";
  AppendMember(text, "cmd", word.cmd);
  if (word.param != nullptr) {
    AppendMember(text, "param", word.param);
  } else if (word.param_hint != nullptr) {
    if (param == nullptr) return 0;
    AppendMember(text, "param", param);
  }
  if (word.value1_hint != nullptr && value1 != nullptr) AppendMember(text, "value1", value1);
  if (word.value2_hint != nullptr && value2 != nullptr) AppendMember(text, "value2", value2);
  text += '}';
  if (out == nullptr || text.size() + 1 > capacity) return 0;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return text.size();
}

void PrintCameraVocabulary(FILE* out) {
  for (const CameraCommandWord& word : kWords) {
    std::string values;
    if (word.param == nullptr && word.param_hint != nullptr) values += " <" + CameraCommandParamHint(word) + ">";
    if (word.value1_hint != nullptr) values += std::string(" value1=<") + word.value1_hint + ">";
    if (word.value2_hint != nullptr) values += std::string(" value2=<") + word.value2_hint + ">";
    fprintf(out, "%-26s%s\n    %s\n", word.name, values.c_str(), word.description);
  }
}
