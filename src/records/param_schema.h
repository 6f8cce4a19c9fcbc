// The "updateparam" rows, one per command name: which JSON member of the
// command sets which setting of the configuration schema and how, and what
// follows the change (a copy in HudState, sibling programs ended, a marker
// file, the RC reader's state cleared, an exit code for the launcher).
//
// The daemon applies changes by this table, vb-web checks the page's commands
// with it, and the page builds its settings commands from it (vb-web serves it
// as JSON). Constant data: any thread reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "records/config_schema.h"
#include "records/hud_state.h"

// How a member's text becomes its setting's value.
enum class ParamValue : uint8_t {
  kNone,       // no member: ends a row's list
  kTruthWord,  // "1" or "true" stores 1, any other text 0
  kNumber,     // read by the setting's own rule
  kText,       // stored as the file gives it back; a text the file cannot hold refuses the whole change
  kChoice,     // a word of the member's choices; any other word leaves the setting as it is
  kArgument,   // stored nowhere: read by the row's own action
};

// A word a command may carry and the value the setting stores for it.
struct ParamChoice {
  const char* word;
  const char* stored;
  const char* label;  // for people choosing it
};

// The interface selectors of the Wi-Fi settings (the configuration report
// shows the word, too; an interface that is none of these reports as "0").
inline constexpr ParamChoice kInterfaceSelectors[] = {
    {"0", "", "Off"},
    {"1", "wifi0", "wifi0"},
    {"2", "wlan0", "wlan0"},
};

// The access point's band: the command names it, the setting holds 2 or 5.
inline constexpr ParamChoice kAccessPointBands[] = {
    {"2.4", "2", "2.4 GHz"},
    {"5", "5", "5 GHz"},
};

struct ParamMember {
  const char* member = nullptr;   // "value", "value2" ... "value12"
  ParamValue value = ParamValue::kNone;
  const char* setting = nullptr;  // key in kConfigSchema; nullptr for an argument
  const char* label = nullptr;    // a text's name in messages about it
  bool passphrase = false;        // a WPA passphrase: empty, or 8 to 63 printable ASCII characters
  std::span<const ParamChoice> choices = {};
};

// When a row's shell command runs: always, or by the truth of its first member.
enum class ParamWhen : uint8_t { kAlways, kValueTrue, kValueFalse };

struct ParamCommand {
  const char* line = nullptr;
  ParamWhen when = ParamWhen::kAlways;
};

enum class ParamAction : uint8_t {
  kStore,     // store the members, copy to HudState, save, then the commands
  kHdmiMode,  // stores and saves nothing: switches the HDMI mode, then the commands
};

inline constexpr size_t kMaxParamMembers = 9;

struct ParamRow {
  const char* name;
  ParamMember members[kMaxParamMembers] = {};
  ParamCommand commands[2] = {};   // run after the save, in order
  HudFlag hud_flag = HudFlag::kNone;  // HudState copy of the first member's flag
  bool resets_rc_state = false;    // the RC reader's status byte is cleared after the commands
  int exit_code = 0;               // asked of the launcher after a successful save
  const char* echo = nullptr;      // to standard output first: each "%s" the next member's text, passwords hidden
  ParamAction action = ParamAction::kStore;
};

constexpr ParamMember Truth(const char* member, const char* setting) {
  return {member, ParamValue::kTruthWord, setting};
}
constexpr ParamMember Number(const char* member, const char* setting) {
  return {member, ParamValue::kNumber, setting};
}
constexpr ParamMember Text(const char* member, const char* setting, const char* label) {
  return {member, ParamValue::kText, setting, label};
}
constexpr ParamMember Passphrase(const char* member, const char* setting, const char* label) {
  return {member, ParamValue::kText, setting, label, true};
}
constexpr ParamMember Choice(const char* member, const char* setting, std::span<const ParamChoice> choices) {
  return {member, ParamValue::kChoice, setting, nullptr, false, choices};
}
constexpr ParamMember Argument(const char* member) { return {member, ParamValue::kArgument}; }

inline constexpr ParamRow kParamRows[] = {
    {.name = "rcin_enabled", .members = {Truth("value", "rc_input_enabled")},
     .commands = {{"killall -q rcin"}}, .resets_rc_state = true},
    {.name = "rcin_mode",
     .members = {Text("value", "rc_input_mode", "RC1 mode"), Text("value2", "rc2_input_mode", "RC2 mode")},
     .commands = {{"killall -q rcin"}}, .resets_rc_state = true, .echo = "Set RC1 mode %s, RC2 mode %s\n"},
    // The map in force is the map of the stored text, which is also what the next start loads.
    {.name = "rcin_map", .members = {Text("value", "rc_input_map", "RC channel map")},
     .commands = {{"killall -q rcin"}}, .resets_rc_state = true},
    {.name = "rcin_speed",
     .members = {Number("value", "rc_input_speed_pan"), Number("value2", "rc_input_speed_tilt"),
                 Number("value3", "rc_input_speed_dutch")}},
    {.name = "rcin_pan", .members = {Number("value", "rc_input_speed_pan")}},
    {.name = "rcin_tilt", .members = {Number("value", "rc_input_speed_tilt")}},
    {.name = "rcin_dutch", .members = {Number("value", "rc_input_speed_dutch")}},
    {.name = "rcin_pan_inv", .members = {Number("value", "rc_input_inverse_pan")}},
    {.name = "rcin_tilt_inv", .members = {Number("value", "rc_input_inverse_tilt")}},
    {.name = "rcin_dutch_inv", .members = {Number("value", "rc_input_inverse_dutch")}},
    {.name = "rcin_exp", .members = {Truth("value", "rc_input_exp")}, .commands = {{"killall -q rcin"}},
     .resets_rc_state = true},
    {.name = "rcin_abs", .members = {Truth("value", "rc_input_abs")}},
    {.name = "hud_enabled", .members = {Truth("value", "hud_enabled")}, .hud_flag = HudFlag::kHudVisible},
    {.name = "internal_camera_enabled", .members = {Truth("value", "internal_camera_enabled")},
     .commands = {{"killall -q raspivid"}}, .hud_flag = HudFlag::kInternalCamera},
    {.name = "internal_camera_fullscreen", .members = {Truth("value", "internal_camera_fullscreen")},
     .commands = {{"killall -q raspivid"}}, .hud_flag = HudFlag::kInternalCameraFullscreen},
    {.name = "fa_enabled", .members = {Truth("value", "focus_assistant_enabled")},
     .hud_flag = HudFlag::kFocusAssistant},
    {.name = "osd_enabled", .members = {Truth("value", "osd_enabled")}, .hud_flag = HudFlag::kOsd},
    {.name = "hdmi_enabled", .members = {Truth("value", "hdmi_enabled")},
     .commands = {{"./scripts/hdmi-change.sh 1", ParamWhen::kValueTrue},
                  {"./scripts/hdmi-change.sh 0", ParamWhen::kValueFalse}}},
    {.name = "disable_video_stream", .members = {Number("value", "disable_video_stream")}},
    {.name = "video_hflip", .members = {Number("value", "video_hflip")}, .commands = {{"killall -q display"}}},
    {.name = "video_vflip", .members = {Number("value", "video_vflip")}, .commands = {{"killall -q display"}}},
    {.name = "video_fix", .members = {Number("value", "video_fix")}, .commands = {{"killall -q display"}}},
    // value: the mode's name ("default" or unknown: the display's preferred
    // mode); value2 true: the box's hdmi-mode.sh makes it last.
    {.name = "hdmimode", .members = {Argument("value"), Argument("value2")},
     .commands = {{"killall -q hud"}, {"killall -q display"}}, .action = ParamAction::kHdmiMode},
    {.name = "osd_borders",
     .members = {Number("value", "osd_border_width"), Number("value2", "osd_border_height")},
     .commands = {{"killall -q display hud"}}},
    {.name = "osd_offset", .members = {Number("value", "osd_top_offset"), Number("value2", "osd_bottom_offset")},
     .commands = {{"killall -q hud"}}},
    {.name = "osd_top_offset", .members = {Number("value", "osd_top_offset")}, .commands = {{"killall -q hud"}}},
    {.name = "osd_bottom_offset", .members = {Number("value", "osd_bottom_offset")},
     .commands = {{"killall -q hud"}}},
    // The marker file tells the network set-up to apply the new settings.
    {.name = "wifi",
     .members = {Choice("value4", "wifi_iface", kInterfaceSelectors), Text("value5", "wifi_ssid", "network SSID"),
                 Passphrase("value6", "wifi_psk", "network password"),
                 Choice("value7", "ap_iface", kInterfaceSelectors), Text("value8", "ap_ssid", "access point SSID"),
                 Passphrase("value9", "ap_psk", "access point password"),
                 Choice("value10", "ap_mode", kAccessPointBands), Number("value11", "ap_channel"),
                 Text("value12", "ap_country", "access point country")},
     .commands = {{"touch /run/wlan.update"}},
     .echo = "\nnetwork iface %s ssid %s pass %s\nAP iface %s ssid %s pass %s mode %s channel %s country %s\n\n"},
    {.name = "camtype", .members = {Number("value", "camera_type")}, .commands = {{"killall -q video-receiver"}}},
    // Read only at start-up: the launcher starts the daemon again.
    {.name = "device_mode", .members = {Number("value", "device_mode")}, .exit_code = 2},
    {.name = "coop_mode", .members = {Number("value", "cooperative_mode")}, .exit_code = 2},
    {.name = "ctrl_enabled", .members = {Number("value", "control_enabled")}, .exit_code = 2},
};


// What a kTruthWord member and a kValueTrue command take as true.
constexpr bool IsTruthWord(std::string_view text) { return text == "1" || text == "true"; }

// 1 for "value", N for "valueN" (2 to 12); 0 for any other member name.
constexpr int ValueMemberNumber(std::string_view member) {
  if (member == "value") return 1;
  if (member.size() < 6 || member.size() > 7 || member.substr(0, 5) != "value") return 0;
  int number = 0;
  for (char c : member.substr(5)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  return number >= 2 && number <= 12 && member[5] != '0' ? number : 0;
}

// The row of a command name; nullptr for a name the box does not know.
constexpr const ParamRow* FindParamRow(std::string_view name) {
  for (const ParamRow& row : kParamRows) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

// The row's members, up to the first empty one.
constexpr std::span<const ParamMember> MembersOf(const ParamRow& row) {
  size_t count = 0;
  while (count < kMaxParamMembers && row.members[count].value != ParamValue::kNone) ++count;
  return {row.members, count};
}

// The stored value of a choice word; nullptr for a word the member does not offer.
const char* StoredForWord(std::span<const ParamChoice> choices, std::string_view word);

// The word a choice stores as stored; nullptr when none does.
const char* WordForStored(std::span<const ParamChoice> choices, std::string_view stored);

// The selector the configuration report shows for an interface setting's text.
const char* InterfaceSelectorOf(std::string_view iface);
