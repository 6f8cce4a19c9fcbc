#include "hud_snapshot.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "../common/shutter_text.h"
#include "common/json_text.h"
#include "config/keys.h"

namespace {

// Length of the valid UTF-8 character at text[0, n), 0 when invalid.
size_t Utf8CharLength(const unsigned char* text, size_t n) {
  unsigned char c = text[0];
  size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || length > n || (length == 2 && c < 0xC2)) return 0;
  for (size_t i = 1; i < length; ++i)
    if ((text[i] & 0xC0) != 0x80) return 0;
  return length;
}

void AddNumber(std::string* out, double v) {
  if (!std::isfinite(v)) {
    out->append("null");
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  out->append(text);
}

void AddText(std::string* out, const std::string& text) {
  out->push_back('"');
  AppendJsonEscaped(out, text);
  out->push_back('"');
}

// Builds one object member at a time: ,"key":value with the commas in place.
struct JsonObject {
  std::string* out;
  bool first = true;
  explicit JsonObject(std::string* o) : out(o) { out->push_back('{'); }
  void Key(const char* key) {
    if (!first) out->push_back(',');
    first = false;
    AddText(out, key);
    out->push_back(':');
  }
  void Number(const char* key, double v) { Key(key); AddNumber(out, v); }
  void Bool(const char* key, bool v) { Key(key); out->append(v ? "true" : "false"); }
  void Text(const char* key, const std::string& v) { Key(key); AddText(out, v); }
  void End() { out->push_back('}'); }
};

}  // namespace

std::string RecordText(const char* field, size_t size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(field);
  size_t n = strnlen(field, size);
  std::string out;
  for (size_t i = 0; i < n;) {
    size_t length = Utf8CharLength(bytes + i, n - i);
    if (length == 0) {
      out.push_back('?');
      ++i;
    } else {
      out.append(field + i, length);
      i += length;
    }
  }
  return out;
}

bool IsRecording(const HudState& s) { return (s.camera_status_flags >> 6) == 2; }

const char* WorkModeName(uint8_t work_mode) {
  return work_mode == 0 ? "photo" : work_mode == 1 ? "video" : "other";
}

std::string ShutterText(uint32_t code) {
  char text[24];
  FormatShutterCode(code, text, sizeof text);
  return text;
}

const char* RcMapWord(uint8_t code) {
  const char* word = RcFunctionWord(code);
  return word ? word : "-";
}

#define VB_TEXT(s, field) RecordText((s).field, sizeof (s).field)

std::string HudSnapshotJson(const HudState& s, bool consistent, const char* record_name, const StreamStatus& stream) {
  std::string out;
  JsonObject top(&out);
  top.Text("record", record_name);
  top.Bool("consistent", consistent);
  top.Number("marker", s.marker);
  top.Text("title", VB_TEXT(s, title));
  top.Text("version", VB_TEXT(s, version_text));

  top.Key("link");
  JsonObject link(&out);
  link.Bool("data", s.data_connected);
  link.Bool("telemetry", s.telemetry_connected);
  link.Text("text", VB_TEXT(s, telemetry_text));
  link.End();

  top.Key("video");
  JsonObject video(&out);
  video.Bool("connected", s.video_connected);
  video.Text("text", VB_TEXT(s, video_text));
  video.End();

  top.Number("viewers", s.client_count);

  top.Key("stream");
  JsonObject live(&out);
  live.Bool("running", StreamRunning(stream));
  live.Number("browsers", stream.fresh ? stream.browsers : 0);
  live.End();

  top.Key("attitude");
  JsonObject attitude(&out);
  attitude.Number("pan_deg", DegreesOfHudRadians(s.pan_rad));
  attitude.Number("tilt_deg", DegreesOfHudRadians(s.tilt_rad));
  attitude.Number("dutch_deg", DegreesOfHudRadians(s.dutch_rad));
  attitude.Bool("orientation_locked", s.orientation_locked);
  attitude.End();

  top.Key("camera");
  JsonObject camera(&out);
  camera.Bool("status_valid", s.camera_status_valid);
  camera.Number("state", s.camera_state);
  camera.Text("work_mode", WorkModeName(s.work_mode));
  camera.Bool("recording", IsRecording(s));
  camera.Number("status_flags", s.camera_status_flags);
  camera.Number("shot_mode", s.shot_mode);
  camera.Number("shot_submode", s.shot_submode);
  camera.Number("playback_state", s.playback_state);
  camera.End();

  top.Key("settings");
  JsonObject settings(&out);
  settings.Text("shutter", ShutterText(s.shutter_code));
  settings.Number("shutter_code", s.shutter_code);
  settings.Number("aperture", s.aperture);
  settings.Number("ev", s.exposure_compensation / 10.0);
  settings.Number("video_format_a", s.video_format_a);
  settings.Number("video_format_b", s.video_format_b);
  settings.Number("timelapse_interval", s.timelapse_interval);
  settings.Number("timelapse_duration", s.timelapse_duration);
  settings.End();

  top.Key("focus");
  JsonObject focus(&out);
  focus.Bool("valid", s.focus_valid);
  focus.Number("mode", s.focus_mode);
  focus.Number("percent", s.focus_percent);
  focus.Number("value", s.focus_value);
  focus.Number("x", s.focus_x);
  focus.Number("y", s.focus_y);
  focus.Number("point_x", s.focus_point_x);
  focus.Number("point_y", s.focus_point_y);
  focus.End();

  top.Key("display");
  JsonObject display(&out);
  display.Bool("osd", s.osd_enabled);
  display.Bool("hud_visible", s.hud_visible);
  display.Bool("internal_camera", s.internal_camera_enabled);
  display.Bool("internal_camera_fullscreen", s.internal_camera_fullscreen);
  display.Bool("focus_assistant", s.focus_assistant_enabled);
  display.End();

  top.Key("rc");
  JsonObject rc(&out);
  rc.Number("status", s.rc_input_status);
  rc.Bool("suspended", s.rc_suspended);
  rc.Bool("show_channels", s.show_rc_channels);
  rc.Key("channels");
  out.push_back('[');
  for (int k = 0; k < kRcChannelCount; ++k) {
    if (k) out.push_back(',');
    AddNumber(&out, s.rc_channel_values[k]);
  }
  out.push_back(']');
  rc.Key("map");
  out.push_back('[');
  for (int k = 0; k < kRcChannelCount; ++k) {
    if (k) out.push_back(',');
    AddText(&out, RcMapWord(s.rc_channel_map[k]));
  }
  out.push_back(']');
  // Functions by name; the RC reader's per-function values.
  rc.Key("functions");
  JsonObject functions(&out);
  for (int f = 0; f < kRcFunctionCount; ++f) {
    functions.Key(RcMapWord(static_cast<uint8_t>(f)));
    JsonObject function(&out);
    function.Number("active", s.rc_function_active[f]);
    function.Number("value", s.rc_function_value[f]);
    function.Number("position", s.rc_function_position[f]);
    function.End();
  }
  functions.End();
  rc.End();

  top.Text("shield", s.shield_closed ? "closed" : "open");
  top.Text("last_media_file", VB_TEXT(s, last_media_file));

  top.Key("mailbox");
  JsonObject mailbox(&out);
  mailbox.Bool("pending", s.command_mailbox[0] != '\0');
  mailbox.Text("text", VB_TEXT(s, command_mailbox));
  mailbox.End();

  top.Key("sibling_status");
  out.push_back('[');
  AddNumber(&out, s.sibling_status[0]);
  out.push_back(',');
  AddNumber(&out, s.sibling_status[1]);
  out.push_back(']');
  top.End();
  return out;
}
