#include "commands/vocabulary.h"

#include <cstring>
#include <string>

#include "common/json_text.h"

namespace {

constexpr CameraCommandWord kWords[] = {
    {"camera/mode", "camera", "mode", nullptr, "video|photo", nullptr, "switch the camera's work mode"},
    {"horizont/cw", "horizont", "cw", nullptr, nullptr, nullptr, "roll the horizon clockwise"},
    {"horizont/ccw", "horizont", "ccw", nullptr, nullptr, nullptr, "roll the horizon counter-clockwise"},
    {"horizont/zero", "horizont", "zero", nullptr, nullptr, nullptr, "roll the horizon back to level"},
    {"horizont/calibrate", "horizont", "calibrate", nullptr, nullptr, nullptr, "full gimbal calibration"},
    {"exposure/point", "exposure", "point", nullptr, "metering point number", nullptr, "meter exposure at a point"},
    {"exposure/center", "exposure", "center", nullptr, nullptr, nullptr, "meter exposure at the centre"},
    {"exposure/auto", "exposure", "auto", nullptr, "lock|unlock", nullptr, "lock or unlock auto exposure"},
    {"focus/type", "focus", "type", nullptr, "mf|af|afunlim", nullptr, "manual, auto or unlimited auto focus"},
    {"focus/point", "focus", "point", nullptr, "x (0..1)", "y (0..1)", "auto focus at a point of the picture"},
    {"focus/manual", "focus", "manual", nullptr, "percent", nullptr, "manual focus position in percent"},
    {"focus/mfa", "focus", "mfa", nullptr, "0|1", nullptr, "manual focus assistant off or on"},
    {"focus/afa", "focus", "afa", nullptr, "0|1", nullptr, "auto focus assistant off or on"},
    {"focus/realtime", "focus", "realtime", nullptr, "0|1", nullptr, "real-time auto focus off or on"},
    {"position/move", "position", "move", nullptr, "pan angle", "tilt angle", "move the gimbal to an angle"},
    {"position/moverel", "position", "moverel", nullptr, "pan speed", "tilt speed (up positive)",
     "move the gimbal at a speed; 0 0 stops"},
    {"position/normal", "position", "normal", nullptr, nullptr, nullptr, "gimbal to its normal position"},
    {"position/selfie", "position", "selfie", nullptr, nullptr, nullptr, "gimbal to its selfie position"},
    {"zoom", "zoom", nullptr, "-1 relative digital|-2 digital speed|-3 optical direction|other: digital level",
     "level, step, speed or direction", nullptr, "digital or optical zoom"},
    {"orientation/lock", "orientation", "lock", nullptr, nullptr, nullptr, "lock the gimbal orientation"},
    {"orientation/unlock", "orientation", "unlock", nullptr, nullptr, nullptr, "unlock the gimbal orientation"},
    {"scenemode/walk", "scenemode", "walk", nullptr, nullptr, nullptr, "gimbal scene mode walk"},
    {"scenemode/sport", "scenemode", "sport", nullptr, nullptr, nullptr, "gimbal scene mode sport"},
    {"scenemode/wearable", "scenemode", "wearable", nullptr, nullptr, nullptr, "gimbal scene mode wearable"},
    {"pitch/lock", "pitch", "lock", nullptr, nullptr, nullptr, "lock the gimbal pitch"},
    {"pitch/unlock", "pitch", "unlock", nullptr, nullptr, nullptr, "unlock the gimbal pitch"},
    {"color", "color", nullptr,
     "d-log|d-cinelike|none|art|black white|vivid|beach|dream|classic|nostalgia|portrait", nullptr, nullptr,
     "colour profile"},
    {"scene", "scene", nullptr, "standard|scenery|soft|custom", nullptr, nullptr, "image scene"},
    {"wb", "wb", nullptr, "auto|sunny|cloudy|incandescent|neon|custom", "colour temperature in K (custom)", nullptr,
     "white balance"},
    {"shot", "shot", nullptr, "raw|jpg|jpg+raw|other: keep format", nullptr, nullptr,
     "release the shutter (or stop a running interval shooting)"},
    {"stopshot", "stopshot", nullptr, nullptr, nullptr, nullptr, "stop interval shooting"},
    {"shotmode", "shotmode", nullptr, "raw|jpg|jpg+raw", nullptr, nullptr, "photo format"},
    {"shottype/single", "shottype", "single", nullptr, "shot|10s|hdr", nullptr, "single shot type"},
    {"shottype/multiple", "shottype", "multiple", nullptr, "3shots|5shots|7shots|aeb3|aeb5", nullptr,
     "burst or exposure bracketing"},
    {"shottype/interval", "shottype", "interval", nullptr, "10s|30s", nullptr, "interval shooting"},
    {"shottype/pano", "shottype", "pano", nullptr, "180|360|180self|manual|grid", nullptr, "panorama"},
    {"shottype/timelapse", "shottype", "timelapse", nullptr, "interval in s (-1: camera's)",
     "duration (-1: camera's)", "timelapse"},
    {"record/start", "record", "start", nullptr, nullptr, nullptr, "start recording"},
    {"record/stop", "record", "stop", nullptr, nullptr, nullptr, "stop recording"},
    {"hystogram", "hystogram", nullptr, "1|0", nullptr, nullptr, "histogram on or off"},
    {"video_mode", "video_mode", nullptr, "auto|shutter|aperture|manual", nullptr, nullptr, "exposure program"},
    {"shutter", "shutter", nullptr, "30s ... 1s | 1.25 ... 8000 (1/x s)", nullptr, nullptr, "shutter speed"},
    {"aperture", "aperture", nullptr, "f-number", nullptr, nullptr, "aperture"},
    {"iso", "iso", nullptr, "auto|100|200|400|800|1600|3200|6400", nullptr, nullptr, "ISO sensitivity"},
    {"ev", "ev", nullptr, "-3.0 ... 3.0 in thirds (0.3, 0.7, 1.0 ...)", nullptr, nullptr, "exposure compensation"},
    {"video_resolution", "video_resolution", nullptr,
     "4096x2160@25|4096x2160@24|3840x2160@30|3840x2160@25|3840x2160@24|2704x1520@30|2704x1520@25|2704x1520@24|"
     "1920x1080@120|1920x1080@60|1920x1080@50|1920x1080@48|1920x1080@30|1920x1080@25|1920x1080@24|"
     "1280x720@60|1280x720@50|1280x720@48|1280x720@30|1280x720@25|1280x720@24",
     nullptr, nullptr, "video resolution and frame rate"},
    {"video_aspect", "video_aspect", nullptr, "4:3|16:9", nullptr, nullptr, "image aspect ratio"},
    {"video_std", "video_std", nullptr, "PAL|NTSC", nullptr, nullptr, "video standard"},
    {"antiflicker", "antiflicker", nullptr, "auto|50|60", nullptr, nullptr, "anti-flicker"},
    {"calibratefocus", "calibratefocus", nullptr, nullptr, nullptr, nullptr, "calibrate the focus"},
    {"formatmicrosd", "formatmicrosd", nullptr, nullptr, nullptr, nullptr, "format the microSD card"},
    {"formatssd", "formatssd", nullptr, nullptr, nullptr, nullptr, "format the SSD"},
    {"zoomadjustedsmoothtrack", "zoomadjustedsmoothtrack", nullptr, nullptr, "0|1", nullptr,
     "zoom-adjusted smooth track"},
    {"time", "time", nullptr, nullptr, "YYYYMMDDhhmmss", nullptr, "set the camera clock (ends the box's clock sync)"},
    {"resetcamera", "resetcamera", nullptr, nullptr, nullptr, nullptr, "reset the camera settings"},
    {"power", "power", nullptr, "sleep|wakeup|restart|shutdown", nullptr, nullptr, "camera power state"},
    {"playback/enter", "playback", "enter", nullptr, nullptr, nullptr, "enter playback"},
    {"playback/exit", "playback", "exit", nullptr, nullptr, nullptr, "leave playback"},
    {"playback/list", "playback", "list", nullptr, nullptr, nullptr, "media list"},
    {"playback/next", "playback", "next", nullptr, nullptr, nullptr, "next item"},
    {"playback/prev", "playback", "prev", nullptr, nullptr, nullptr, "previous item"},
    {"playback/play", "playback", "play", nullptr, nullptr, nullptr, "play the item"},
    {"playback/selectmode", "playback", "selectmode", nullptr, nullptr, nullptr, "select mode"},
    {"playback/selectall", "playback", "selectall", nullptr, nullptr, nullptr, "select all items"},
    {"playback/deselectall", "playback", "deselectall", nullptr, nullptr, nullptr, "deselect all items"},
    {"playback/cancel", "playback", "cancel", nullptr, nullptr, nullptr, "cancel"},
    {"playback/back", "playback", "back", nullptr, nullptr, nullptr, "back (about 4 s)"},
    {"playback/delete", "playback", "delete", nullptr, nullptr, nullptr, "delete the selection (about 4.4 s)"},
};

void AppendMember(std::string& out, const char* name, const char* value) {
  out += out.size() > 1 ? ",\"" : "\"";
  out += name;
  out += "\":\"";
  AppendJsonEscaped(&out, value);
  out += '"';
}

}  // namespace

const CameraCommandWord* CameraVocabulary(size_t* count) {
  if (count != nullptr) *count = sizeof kWords / sizeof kWords[0];
  return kWords;
}

const CameraCommandWord* FindCameraCommandWord(const char* name) {
  if (name == nullptr) return nullptr;
  for (const CameraCommandWord& word : kWords) {
    if (std::strcmp(word.name, name) == 0) return &word;
  }
  return nullptr;
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
    if (word.param == nullptr && word.param_hint != nullptr) values += std::string(" <") + word.param_hint + ">";
    if (word.value1_hint != nullptr) values += std::string(" value1=<") + word.value1_hint + ">";
    if (word.value2_hint != nullptr) values += std::string(" value2=<") + word.value2_hint + ">";
    fprintf(out, "%-26s%s\n    %s\n", word.name, values.c_str(), word.description);
  }
}
