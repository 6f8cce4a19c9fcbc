#include "state_json.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/json_text.h"
#include "records/viewer_protocol.h"

namespace {

class JsonObject {
 public:
  explicit JsonObject(std::string* out) : out_(out) { *out_ += '{'; }
  ~JsonObject() { *out_ += '}'; }
  JsonObject(const JsonObject&) = delete;
  JsonObject& operator=(const JsonObject&) = delete;

  std::string* Key(const char* key) {
    if (!first_) *out_ += ',';
    first_ = false;
    *out_ += '"';
    *out_ += key;
    *out_ += "\":";
    return out_;
  }
  void Bool(const char* key, bool v) { *Key(key) += v ? "true" : "false"; }
  void Int(const char* key, long long v) { *Key(key) += std::to_string(v); }
  // Rounded to one decimal; a value that is no number (a torn or foreign record) is null.
  void Number(const char* key, double v) {
    std::string* out = Key(key);
    if (!std::isfinite(v)) {
      *out += "null";
      return;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::round(v * 10) / 10);
    *out += text;
  }
  void Text(const char* key, std::string_view v) {
    std::string* out = Key(key);
    *out += '"';
    AppendJsonEscaped(out, v);
    *out += '"';
  }

 private:
  std::string* out_;
  bool first_ = true;
};

// A text field of the record up to its NUL, never past the field.
template <size_t N>
std::string_view Field(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N));
}

void AddHud(JsonObject* state, std::string* out, const HudState& hud, const BoxStatus& box,
            const StreamStatus& stream) {
  {
    state->Key("link");
    JsonObject link(out);
    link.Bool("camera", hud.data_connected != 0);
    link.Bool("video", hud.video_connected != 0);
  }
  // vb-web itself is one of the registered viewers, and so is vb-stream.
  const int viewers = hud.client_count - (box.registered ? 1 : 0) - (stream.fresh && stream.registered ? 1 : 0);
  state->Int("viewers", viewers < 0 ? 0 : viewers);
  {
    state->Key("attitude");
    JsonObject attitude(out);
    attitude.Number("pan", DegreesOfHudRadians(hud.pan_rad));
    attitude.Number("tilt", DegreesOfHudRadians(hud.tilt_rad));
    attitude.Number("dutch", DegreesOfHudRadians(hud.dutch_rad));
    attitude.Bool("locked", hud.orientation_locked != 0);
  }
  {
    state->Key("camera");
    JsonObject camera(out);
    camera.Bool("reported", hud.camera_status_valid != 0);
    // Bits 7-6 of the status flags are 2 while the camera records.
    camera.Bool("recording", (hud.camera_status_flags >> 6) == 2);
    camera.Text("mode", hud.work_mode == 0 ? "photo" : hud.work_mode == 1 ? "video" : "unknown");
  }
  {
    state->Key("exposure");
    JsonObject exposure(out);
    exposure.Int("shutter_code", hud.shutter_code);
    exposure.Number("aperture", hud.aperture);
    exposure.Number("ev", hud.exposure_compensation / 10.0);
  }
  {
    state->Key("focus");
    JsonObject focus(out);
    focus.Bool("reported", hud.focus_valid != 0);
    focus.Text("mode", hud.focus_mode ? "auto" : "manual");
    focus.Int("percent", hud.focus_percent);
  }
  {
    state->Key("rc");
    JsonObject rc(out);
    rc.Int("status", hud.rc_input_status);
    rc.Bool("suspended", hud.rc_suspended != 0);
  }
  state->Bool("shield_closed", hud.shield_closed != 0);
  state->Text("media", Field(hud.last_media_file));
}

}  // namespace

std::string FormatStateJson(const HudState* hud, const BoxStatus& box, size_t commands_waiting,
                            const StreamStatus& stream) {
  std::string out;
  {
    JsonObject state(&out);
    {
      state.Key("box");
      JsonObject b(&out);
      b.Bool("answering", box.answering);
      b.Bool("record", hud != nullptr && hud->marker == kHudMarker);
      b.Bool("access_point", box.have_status && (box.flags & kStatusAccessPoint));
      b.Bool("hdmi", box.have_status && (box.flags & kStatusHdmi));
    }
    if (hud) AddHud(&state, &out, *hud, box, stream);
    {
      state.Key("stream");
      JsonObject s(&out);
      s.Bool("running", StreamRunning(stream));
      s.Int("browsers", stream.fresh ? stream.browsers : 0);
    }
    state.Int("commands_waiting", static_cast<long long>(commands_waiting));
  }
  return out;
}
