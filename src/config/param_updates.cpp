// The "updateparam" table: each entry changes the record, saves it at once and
// ends the sibling processes that read the changed setting at their start.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "camera/hud_state.h"
#include "config/app_commands.h"
#include "config/keys.h"
#include "config/shared_config.h"
#include "config/writer.h"
#include "platform/shell.h"
#include "startup/clock.h"

namespace {

constexpr size_t kNoHudByte = SIZE_MAX;

enum class Rule : uint8_t {
  kValueTrue,  // flag := value is "1" or "true"
  kNonZero,    // flag := number of value is non-zero
  kByte,       // low 8 bits of the number
  kInt32,      // the number
  kSpecial,    // stored by its own function, then saved as the others
  kWhole,      // its own function does everything, saving included
};

using SpecialUpdate = void (*)(const AppCommand&);

struct ParamRow {
  const char* name;
  Rule rule;
  size_t field;          // offset in SharedConfig
  size_t hud_byte;       // HudState copy of a flag, or kNoHudByte
  SpecialUpdate special;
  const char* command;   // run after the save, or nullptr
  bool reset_rc_state;   // clear the RC input state byte after the command
  int exit_code;         // asked of the launcher after the save
};

uint8_t* ConfigBytes() { return reinterpret_cast<uint8_t*>(GetSharedConfig()); }
uint8_t* HudBytes() { return reinterpret_cast<uint8_t*>(GetHudState()); }

void PutInt32(size_t offset, int32_t value) {
  std::memcpy(ConfigBytes() + offset, &value, sizeof value);
}

void ResetRcInputState() { GetHudState()->rc_input_status = 0; }

#define VB_TEXT_FIELD(f) GetSharedConfig()->f, sizeof(SharedConfig::f)

void UpdateRcModes(const AppCommand& c) {
  printf("Set RC1 mode %s, RC2 mode %s\n", c.value[1], c.value[2]);
  fflush(stdout);
  StoreCommandText(VB_TEXT_FIELD(rc_input_mode), c.value[1]);
  StoreCommandText(VB_TEXT_FIELD(rc2_input_mode), c.value[2]);
}

void UpdateRcMap(const AppCommand& c) {
  SharedConfig* config = GetSharedConfig();
  StoreCommandText(VB_TEXT_FIELD(rc_input_map), c.value[1]);
  // The map in force is the map of the stored text, which is also what the
  // next start loads: a map longer than the field loses the same entries in both.
  char map[sizeof config->rc_input_map];
  std::memcpy(map, config->rc_input_map, sizeof map);
  ParseRcChannelMap(map);
}

void UpdateRcSpeeds(const AppCommand& c) {
  SharedConfig* config = GetSharedConfig();
  config->rc_input_speed_pan = CommandNumber(c.value[1]);
  config->rc_input_speed_tilt = CommandNumber(c.value[2]);
  config->rc_input_speed_dutch = CommandNumber(c.value[3]);
}

void UpdateOsdBorders(const AppCommand& c) {
  SharedConfig* config = GetSharedConfig();
  config->osd_border_width = static_cast<uint8_t>(CommandNumber(c.value[1]));
  config->osd_border_height = static_cast<uint8_t>(CommandNumber(c.value[2]));
}

void UpdateOsdOffsets(const AppCommand& c) {
  SharedConfig* config = GetSharedConfig();
  config->osd_top_offset = static_cast<uint8_t>(CommandNumber(c.value[1]));
  config->osd_bottom_offset = static_cast<uint8_t>(CommandNumber(c.value[2]));
}

void UpdateHdmiOutput(const AppCommand& c) {
  SharedConfig* config = GetSharedConfig();
  config->hdmi_enabled = static_cast<uint8_t>(c.value_true);
  SaveConfiguration();
  RunShellCommand(config->hdmi_enabled ? "./scripts/hdmi-change.sh 1"
                                       : "./scripts/hdmi-change.sh 0");
}

// Stores nothing: switches the HDMI output mode and restarts its two users.
void ChangeHdmiMode(const AppCommand& c) {
  int group = 0;
  int code = 0;
  LookupHdmiMode(c.value[1], &group, &code);
  char line[96];
  if (code < 1) {
    fprintf(stderr, "set default HDMI mode\n");
    RunShellCommand("tvservice -p");
    if (c.value2_true) RunShellCommand("./scripts/hdmi-mode.sh");
  } else {
    const char* group_name = group == 1 ? "DMT" : "CEA";
    fprintf(stderr, "set HDMI mode to %s %d\n", group_name, code);
    snprintf(line, sizeof line, "tvservice -e \"%s %d\"", group_name, code);
    RunShellCommand(line);
    if (c.value2_true) {
      snprintf(line, sizeof line, "./scripts/hdmi-mode.sh %d %d", group == 1 ? 2 : 1, code);
      RunShellCommand(line);
    }
  }
  SleepMilliseconds(1000);
  RunShellCommand("killall -q hud");
  RunShellCommand("killall -q display");
}

// "1" wifi0, "2" wlan0, "0" none; any other text leaves the field as it is.
void StoreInterfaceSelector(char* field, size_t size, const char* selector) {
  if (std::strcmp(selector, "0") == 0) StoreCommandText(field, size, "");
  if (std::strcmp(selector, "1") == 0) StoreCommandText(field, size, "wifi0");
  if (std::strcmp(selector, "2") == 0) StoreCommandText(field, size, "wlan0");
}

void UpdateWifi(const AppCommand& c) {
  printf("\n");
  printf("network iface %s ssid %s pass %s\n", c.value[4], c.value[5], c.value[6]);
  printf("AP iface %s ssid %s pass %s mode %s channel %s country %s\n", c.value[7], c.value[8],
         c.value[9], c.value[10], c.value[11], c.value[12]);
  printf("\n");
  fflush(stdout);
  SharedConfig* config = GetSharedConfig();
  StoreCommandText(VB_TEXT_FIELD(wifi_ssid), c.value[5]);
  StoreCommandText(VB_TEXT_FIELD(wifi_psk), c.value[6]);
  StoreInterfaceSelector(VB_TEXT_FIELD(wifi_iface), c.value[4]);
  StoreCommandText(VB_TEXT_FIELD(ap_ssid), c.value[8]);
  StoreCommandText(VB_TEXT_FIELD(ap_psk), c.value[9]);
  StoreInterfaceSelector(VB_TEXT_FIELD(ap_iface), c.value[7]);
  if (std::strcmp(c.value[10], "2.4") == 0) config->ap_mode = 2;
  if (std::strcmp(c.value[10], "5") == 0) config->ap_mode = 5;
  config->ap_channel = CommandNumber(c.value[11]);
  StoreCommandText(VB_TEXT_FIELD(ap_country), c.value[12]);
  SaveConfiguration();
  RunShellCommand("touch /run/wlan.update");
}

#define CFG(f) offsetof(SharedConfig, f)
#define HUD(f) offsetof(HudState, f)

constexpr ParamRow kParamTable[] = {
    {"rcin_enabled", Rule::kValueTrue, CFG(rc_input_enabled), kNoHudByte, nullptr,
     "killall -q rcin", true, 0},
    {"rcin_mode", Rule::kSpecial, 0, kNoHudByte, UpdateRcModes, "killall -q rcin", true, 0},
    {"rcin_map", Rule::kSpecial, 0, kNoHudByte, UpdateRcMap, "killall -q rcin", true, 0},
    {"rcin_speed", Rule::kSpecial, 0, kNoHudByte, UpdateRcSpeeds, nullptr, false, 0},
    {"rcin_pan", Rule::kInt32, CFG(rc_input_speed_pan), kNoHudByte, nullptr, nullptr, false, 0},
    {"rcin_tilt", Rule::kInt32, CFG(rc_input_speed_tilt), kNoHudByte, nullptr, nullptr, false, 0},
    {"rcin_dutch", Rule::kInt32, CFG(rc_input_speed_dutch), kNoHudByte, nullptr, nullptr, false,
     0},
    {"rcin_pan_inv", Rule::kInt32, CFG(rc_input_inverse_pan), kNoHudByte, nullptr, nullptr, false,
     0},
    {"rcin_tilt_inv", Rule::kInt32, CFG(rc_input_inverse_tilt), kNoHudByte, nullptr, nullptr,
     false, 0},
    {"rcin_dutch_inv", Rule::kInt32, CFG(rc_input_inverse_dutch), kNoHudByte, nullptr, nullptr,
     false, 0},
    {"rcin_exp", Rule::kValueTrue, CFG(rc_input_exp), kNoHudByte, nullptr, "killall -q rcin", true,
     0},
    {"rcin_abs", Rule::kValueTrue, CFG(rc_input_abs), kNoHudByte, nullptr, nullptr, false, 0},
    {"hud_enabled", Rule::kValueTrue, CFG(hud_enabled), HUD(hud_visible), nullptr, nullptr, false,
     0},
    {"internal_camera_enabled", Rule::kValueTrue, CFG(internal_camera_enabled),
     HUD(internal_camera_enabled), nullptr, "killall -q raspivid", false, 0},
    {"internal_camera_fullscreen", Rule::kValueTrue, CFG(internal_camera_fullscreen),
     HUD(internal_camera_fullscreen), nullptr, "killall -q raspivid", false, 0},
    {"fa_enabled", Rule::kValueTrue, CFG(focus_assistant_enabled), HUD(focus_assistant_enabled),
     nullptr, nullptr, false, 0},
    {"osd_enabled", Rule::kValueTrue, CFG(osd_enabled), HUD(osd_enabled), nullptr, nullptr, false,
     0},
    {"hdmi_enabled", Rule::kWhole, 0, kNoHudByte, UpdateHdmiOutput, nullptr, false, 0},
    {"disable_video_stream", Rule::kNonZero, CFG(disable_video_stream), kNoHudByte, nullptr,
     nullptr, false, 0},
    {"video_hflip", Rule::kNonZero, CFG(video_hflip), kNoHudByte, nullptr, "killall -q display",
     false, 0},
    {"video_vflip", Rule::kNonZero, CFG(video_vflip), kNoHudByte, nullptr, "killall -q display",
     false, 0},
    {"video_fix", Rule::kNonZero, CFG(video_fix), kNoHudByte, nullptr, "killall -q display", false,
     0},
    {"hdmimode", Rule::kWhole, 0, kNoHudByte, ChangeHdmiMode, nullptr, false, 0},
    {"osd_borders", Rule::kSpecial, 0, kNoHudByte, UpdateOsdBorders, "killall -q display hud",
     false, 0},
    {"osd_offset", Rule::kSpecial, 0, kNoHudByte, UpdateOsdOffsets, "killall -q hud", false, 0},
    {"osd_top_offset", Rule::kByte, CFG(osd_top_offset), kNoHudByte, nullptr, "killall -q hud",
     false, 0},
    {"osd_bottom_offset", Rule::kByte, CFG(osd_bottom_offset), kNoHudByte, nullptr,
     "killall -q hud", false, 0},
    {"wifi", Rule::kWhole, 0, kNoHudByte, UpdateWifi, nullptr, false, 0},
    {"camtype", Rule::kByte, CFG(camera_type), kNoHudByte, nullptr, "killall -q video-receiver",
     false, 0},
    {"device_mode", Rule::kByte, CFG(device_mode), kNoHudByte, nullptr, nullptr, false, 2},
    {"coop_mode", Rule::kByte, CFG(cooperative_mode), kNoHudByte, nullptr, nullptr, false, 2},
    {"ctrl_enabled", Rule::kNonZero, CFG(control_enabled), kNoHudByte, nullptr, nullptr, false, 2},
};

#undef CFG
#undef HUD

}  // namespace

int ApplyParameterUpdate(const AppCommand& command) {
  for (const ParamRow& row : kParamTable) {
    if (std::strcmp(row.name, command.name) != 0) continue;
    const char* value = command.value[1];
    const uint8_t before = ConfigBytes()[row.field];
    switch (row.rule) {
      case Rule::kValueTrue:
        ConfigBytes()[row.field] = static_cast<uint8_t>(command.value_true);
        break;
      case Rule::kNonZero:
        ConfigBytes()[row.field] = CommandNumber(value) != 0 ? 1 : 0;
        break;
      case Rule::kByte:
        ConfigBytes()[row.field] = static_cast<uint8_t>(CommandNumber(value));
        break;
      case Rule::kInt32:
        PutInt32(row.field, CommandNumber(value));
        break;
      case Rule::kSpecial:
        row.special(command);
        break;
      case Rule::kWhole:
        row.special(command);
        return row.exit_code;
    }
    if (row.hud_byte != kNoHudByte) HudBytes()[row.hud_byte] = ConfigBytes()[row.field];
    if (!SaveConfiguration() && row.exit_code != 0) {
      // The restarted daemon would read the old mode from the file anyway; the
      // change is undone so that this one keeps running in one mode, not two.
      ConfigBytes()[row.field] = before;
      fprintf(stderr, "mode change not saved, staying in the current mode\n");
      return 0;
    }
    if (row.command) RunShellCommand(row.command);
    if (row.reset_rc_state) ResetRcInputState();
    return row.exit_code;
  }
  return 0;
}
