#include "commands/vocabulary.h"

#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "commands/command_routes.h"
#include "common/json_text.h"
#include "common/named_rows.h"
#include "config/app_commands.h"
#include "config/param_updates.h"
#include "operations/picture_settings.h"
#include "operations/power.h"
#include "operations/shot_type.h"
#include "records/camera_codes.h"

namespace {

const char* IsoChoice(size_t index) { return NameAt(kIsoSteps, index); }
const char* ImageModeChoice(size_t index) { return NameAt(kImageModes, index); }
const char* VideoResolutionChoice(size_t index) { return NameAt(kVideoResolutions, index); }
template <const char* kKind>
const char* ShotKindChoice(size_t index) {
  return ShotTypeChoice(kKind, index);
}
constexpr char kSingle[] = "single";
constexpr char kMultiple[] = "multiple";
constexpr char kInterval[] = "interval";
constexpr char kPano[] = "pano";

constexpr CommandWord kWords[] = {
    {"camera/mode", "camera", "mode", nullptr, nullptr, nullptr, "switch the camera's work mode", OnCameraCommand,
     nullptr, WorkModeChoice},
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
    {"exposure/auto", "exposure", "auto", nullptr, nullptr, nullptr, "lock or unlock auto exposure",
     OnExposureCommand, nullptr, AutoExposureChoice},
    {"focus/type", "focus", "type", nullptr, nullptr, nullptr, "manual, auto or unlimited auto focus",
     OnFocusCommand, nullptr, FocusTypeChoice},
    {"focus/point", "focus", "point", nullptr, "x (0..1)", "y (0..1)",
     "auto focus at a point of the picture", OnFocusCommand},
    {"focus/manual", "focus", "manual", nullptr, "percent", nullptr,
     "manual focus position in percent", OnFocusCommand},
    {"focus/mfa", "focus", "mfa", nullptr, "0 or 1", nullptr, "manual focus assistant off or on", OnFocusCommand},
    {"focus/afa", "focus", "afa", nullptr, "0 or 1", nullptr, "auto focus assistant off or on", OnFocusCommand},
    {"focus/realtime", "focus", "realtime", nullptr, "0 or 1", nullptr, "real-time auto focus off or on",
     OnFocusCommand},
    {"position/move", "position", "move", nullptr, "pan angle", "tilt angle",
     "move the gimbal to an angle", OnPositionCommand},
    {"position/moverel", "position", "moverel", nullptr, "pan speed", "tilt speed (up positive)",
     "move the gimbal at a speed; 0 0 stops", OnPositionCommand},
    {"position/normal", "position", "normal", nullptr, nullptr, nullptr,
     "gimbal to its normal position", OnPositionCommand},
    {"position/selfie", "position", "selfie", nullptr, nullptr, nullptr,
     "gimbal to its selfie position", OnPositionCommand},
    {"zoom", "zoom", nullptr, "-1: relative digital, -2: digital speed, -3: optical direction, other: digital level",
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
    {"color", "color", nullptr, nullptr, nullptr, nullptr, "colour profile", OnColorCommand, ColorProfileChoice},
    {"scene", "scene", nullptr, nullptr, nullptr, nullptr, "image scene", OnSceneCommand, ImageSceneChoice},
    {"wb", "wb", nullptr, nullptr, "colour temperature in K (custom)", nullptr, "white balance",
     OnWhiteBalanceCommand, WhiteBalanceChoice},
    {"shot", "shot", nullptr, nullptr, nullptr, nullptr,
     "release the shutter in that photo format (any other text keeps the format; stops a running interval "
     "shooting)",
     OnShotCommand, PhotoFormatChoice},
    {"stopshot", "stopshot", nullptr, nullptr, nullptr, nullptr, "stop interval shooting", OnStopShotCommand},
    {"shotmode", "shotmode", nullptr, nullptr, nullptr, nullptr, "photo format", OnShotModeCommand,
     PhotoFormatChoice},
    {"shottype/single", "shottype", "single", nullptr, nullptr, nullptr, "single shot type", OnShotTypeCommand,
     nullptr, ShotKindChoice<kSingle>},
    {"shottype/multiple", "shottype", "multiple", nullptr, nullptr, nullptr, "burst or exposure bracketing",
     OnShotTypeCommand, nullptr, ShotKindChoice<kMultiple>},
    {"shottype/interval", "shottype", "interval", nullptr, nullptr, nullptr, "interval shooting",
     OnShotTypeCommand, nullptr, ShotKindChoice<kInterval>},
    {"shottype/pano", "shottype", "pano", nullptr, nullptr, nullptr, "panorama", OnShotTypeCommand, nullptr,
     ShotKindChoice<kPano>},
    {"shottype/timelapse", "shottype", "timelapse", nullptr, "interval in s (-1: camera's)",
     "duration (-1: camera's)", "timelapse", OnShotTypeCommand},
    {"record/start", "record", "start", nullptr, nullptr, nullptr, "start recording", OnRecordCommand},
    {"record/stop", "record", "stop", nullptr, nullptr, nullptr, "stop recording", OnRecordCommand},
    {"hystogram", "hystogram", nullptr, nullptr, nullptr, nullptr, "histogram on or off", OnHistogramCommand,
     HistogramChoice},
    {"video_mode", "video_mode", nullptr, nullptr, nullptr, nullptr, "exposure program", OnVideoModeCommand,
     ImageModeChoice},
    {"shutter", "shutter", nullptr, "30s ... 1s, or 1.25 ... 8000 for 1/x s", nullptr, nullptr, "shutter speed",
     OnShutterCommand},
    {"aperture", "aperture", nullptr, "f-number", nullptr, nullptr, "aperture", OnApertureCommand},
    {"iso", "iso", nullptr, nullptr, nullptr, nullptr, "ISO sensitivity", OnIsoCommand, IsoChoice},
    {"ev", "ev", nullptr, "-3.0 ... 3.0 in thirds (0.3, 0.7, 1.0 ...)", nullptr, nullptr,
     "exposure compensation", OnEvCommand},
    {"video_resolution", "video_resolution", nullptr, nullptr, nullptr, nullptr, "video resolution and frame rate",
     OnVideoResolutionCommand, VideoResolutionChoice},
    {"video_aspect", "video_aspect", nullptr, nullptr, nullptr, nullptr, "image aspect ratio", OnVideoAspectCommand,
     VideoAspectChoice},
    {"video_std", "video_std", nullptr, nullptr, nullptr, nullptr, "video standard", OnVideoStandardCommand,
     VideoStandardChoice},
    {"antiflicker", "antiflicker", nullptr, nullptr, nullptr, nullptr, "anti-flicker", OnAntiFlickerCommand,
     AntiFlickerChoice},
    {"calibratefocus", "calibratefocus", nullptr, nullptr, nullptr, nullptr,
     "calibrate the focus", OnCalibrateFocusCommand},
    {"formatmicrosd", "formatmicrosd", nullptr, nullptr, nullptr, nullptr,
     "format the microSD card", OnFormatMicroSdCommand},
    {"formatssd", "formatssd", nullptr, nullptr, nullptr, nullptr, "format the SSD", OnFormatSsdCommand},
    {"zoomadjustedsmoothtrack", "zoomadjustedsmoothtrack", nullptr, nullptr, "0 or 1", nullptr,
     "zoom-adjusted smooth track", OnSmoothTrackCommand},
    {"time", "time", nullptr, nullptr, "YYYYMMDDhhmmss", nullptr,
     "set the camera clock (ends the box's clock sync)", OnTimeCommand},
    {"resetcamera", "resetcamera", nullptr, nullptr, nullptr, nullptr,
     "reset the camera settings", OnResetCameraCommand},
    {"power", "power", nullptr, nullptr, nullptr, nullptr, "camera power state", OnPowerCommand, PowerChoice},
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
    // The box's own words.
    {.name = "configrequest", .cmd = "configrequest", .description = "send the configuration report to every viewer",
     .box_route = OnConfigRequest, .members = &kBoxMembers},
    {.name = "wlan/scan", .cmd = "wlan", .param = "scan", .value1_hint = "1 (wifi0) or 2 (wlan0); 0 scans nothing",
     .description = "scan for Wi-Fi networks; the names found go to every viewer", .box_route = OnWlanCommand,
     .members = &kBoxParamMembers},
    {.name = "reboot", .cmd = "reboot", .description = "reboot the box", .box_route = OnReboot,
     .members = &kBoxMembers},
    {.name = "restart", .cmd = "restart", .description = "restart the daemon (exit code 3)", .box_route = OnRestart,
     .members = &kBoxMembers},
    {.name = "shutdown", .cmd = "shutdown", .description = "shut the box down", .box_route = OnShutdown,
     .members = &kBoxMembers},
    {.name = "rc/recalibrate", .cmd = "rc", .param = "recalibrate",
     .description = "forget the RC receiver's calibration and restart its reader", .box_route = OnRcCommand,
     .members = &kBoxMembers},
    {.name = "rc/showchannels", .cmd = "rc", .param = "showchannels", .value1_hint = "1 or true shows, other hides",
     .description = "show the RC channel values on the display", .box_route = OnRcCommand, .members = &kBoxMembers},
    {.name = "updateparam", .cmd = "updateparam", .value1_hint = "the new value",
     .value2_hint = "second value (rcin_mode, rcin_speed, osd_borders, osd_offset, hdmimode)",
     .description = "change a setting and save it (\"wifi\" takes value4 ... value12: send it as JSON)",
     .param_choice = ParamUpdateChoice, .box_route = OnUpdateParam, .members = &kBoxMembers},
    {.name = "restore", .cmd = "restore", .value1_hint = "a token the answer repeats",
     .description = "restore and save the settings file handed over as /run/vb-web/restore.conf (root's, 0600); "
                    "the answer goes to /run/vb-web/restore.answer",
     .box_route = OnRestore, .members = &kBoxMembers},
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
      if (group_ended || kWords[i].route != kWords[j].route || kWords[i].box_route != kWords[j].box_route) {
        return false;
      }
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

std::string ChoicesOrHint(ChoiceList choices, const char* hint) {
  if (choices == nullptr) return hint != nullptr ? hint : "";
  std::string joined;
  for (size_t i = 0; const char* choice = choices(i); ++i) {
    if (i > 0) joined += '|';
    joined += choice;
  }
  return joined;
}

}  // namespace

const CommandWord* CommandVocabulary(size_t* count) {
  if (count != nullptr) *count = std::size(kWords);
  return kWords;
}

const CommandWord* FindCommandWord(const char* name) {
  if (name == nullptr) return nullptr;
  for (const CommandWord& word : kWords) {
    if (std::strcmp(word.name, name) == 0) return &word;
  }
  return nullptr;
}

const CommandWord* FindCommandGroup(const char* cmd) {
  if (cmd == nullptr) return nullptr;
  for (const CommandWord& word : kWords) {
    if (std::strcmp(word.cmd, cmd) == 0) return &word;
  }
  return nullptr;
}

bool TakesParam(const CommandWord& word) {
  return word.param == nullptr && (word.param_hint != nullptr || word.param_choice != nullptr);
}
bool TakesValue1(const CommandWord& word) { return word.value1_hint != nullptr || word.value1_choice != nullptr; }
bool TakesValue2(const CommandWord& word) { return word.value2_hint != nullptr; }

std::string CommandParamHint(const CommandWord& word) { return ChoicesOrHint(word.param_choice, word.param_hint); }
std::string CommandValue1Hint(const CommandWord& word) { return ChoicesOrHint(word.value1_choice, word.value1_hint); }

size_t BuildCommandText(const CommandWord& word, const char* param, const char* value1, const char* value2,
                        char* out, size_t capacity) {
  std::string text = "{";
  AppendMember(text, "cmd", word.cmd);
  if (word.param != nullptr) {
    AppendMember(text, word.members->param, word.param);
  } else if (TakesParam(word)) {
    if (param == nullptr) return 0;
    AppendMember(text, word.members->param, param);
  }
  if (TakesValue1(word) && value1 != nullptr) AppendMember(text, word.members->value1, value1);
  if (TakesValue2(word) && value2 != nullptr) AppendMember(text, word.members->value2, value2);
  text += '}';
  if (out == nullptr || text.size() + 1 > capacity) return 0;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return text.size();
}

void PrintCommandVocabulary(FILE* out) {
  for (const CommandWord& word : kWords) {
    std::string values;
    if (TakesParam(word)) values += " <" + CommandParamHint(word) + ">";
    if (TakesValue1(word)) values += std::string(" ") + word.members->value1 + "=<" + CommandValue1Hint(word) + ">";
    if (TakesValue2(word)) values += std::string(" ") + word.members->value2 + "=<" + word.value2_hint + ">";
    fprintf(out, "%-26s%s\n    %s\n", word.name, values.c_str(), word.description);
  }
}
