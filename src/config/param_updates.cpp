// Which field a name changes, and by which rule, comes from the configuration
// schema; a text the file could not give back unchanged is refused whole.
#include "config/param_updates.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/named_rows.h"
#include "common/shared_field.h"
#include "config/keys.h"
#include "config/writer.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "records/config_schema.h"
#include "records/hud_state.h"
#include "records/shared_config.h"

namespace {

constexpr size_t kNoHudByte = SIZE_MAX;

enum class Rule : uint8_t {
  kTruthWord,  // the setting := value is "1" or "true"
  kValue,      // the setting := value, by the setting's own rule
  kSpecial,    // stored by its own function, then saved as the others
  kWhole,      // its own function does everything, saving included
};

// Returns false when it refused the change and stored nothing.
using SpecialUpdate = bool (*)(const AppCommand&);

struct ParamRow {
  const char* name;
  Rule rule;
  const char* setting;   // key of the setting that value goes to (kTruthWord, kValue)
  size_t hud_byte;       // HudState copy of a flag, or kNoHudByte
  SpecialUpdate special;
  const char* command;   // run after the save, or nullptr
  bool reset_rc_state;   // clear the RC input state byte after the command
  int exit_code;         // asked of the launcher after the save
};

const ConfigSetting& Setting(const char* key) { return *FindConfigSetting(key); }

void ResetRcInputState() { StoreShared(&GetHudState()->rc_input_status, 0); }

// A change refused for its texts: logged, at most once a second, with its fixed name.
void LogRefusal(const char* name) {
  static std::mutex mutex;
  static std::chrono::steady_clock::time_point last;
  static bool logged = false;
  auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex);
  if (logged && now - last < std::chrono::seconds(1)) return;
  logged = true;
  last = now;
  fprintf(stderr, "updateparam %s refused: a text the settings file cannot hold\n", name);
}

// The texts of one change: every one is checked before any is stored, so a
// refused change leaves the record as it was.
struct TextChange {
  struct Text {
    const char* key;
    std::string text;
  };
  std::vector<Text> texts;
  bool refused = false;

  void Add(const char* key, const char* received) {
    Text text{key, {}};
    if (!PrepareReceivedText(Setting(key), received, &text.text)) refused = true;
    texts.push_back(std::move(text));
  }
  void Store() const {
    for (const Text& t : texts) StoreSettingValue(Setting(t.key), t.text.c_str());
  }
};

bool UpdateRcModes(const AppCommand& c) {
  printf("Set RC1 mode %s, RC2 mode %s\n", c.value[1], c.value[2]);
  fflush(stdout);
  TextChange change;
  change.Add("rc_input_mode", c.value[1]);
  change.Add("rc2_input_mode", c.value[2]);
  if (change.refused) return false;
  change.Store();
  return true;
}

// The map in force is the map of the stored text, which is also what the next start loads.
bool UpdateRcMap(const AppCommand& c) {
  TextChange change;
  change.Add("rc_input_map", c.value[1]);
  if (change.refused) return false;
  change.Store();
  return true;
}

bool UpdateRcSpeeds(const AppCommand& c) {
  StoreSettingValue(Setting("rc_input_speed_pan"), c.value[1]);
  StoreSettingValue(Setting("rc_input_speed_tilt"), c.value[2]);
  StoreSettingValue(Setting("rc_input_speed_dutch"), c.value[3]);
  return true;
}

bool UpdateOsdBorders(const AppCommand& c) {
  StoreSettingValue(Setting("osd_border_width"), c.value[1]);
  StoreSettingValue(Setting("osd_border_height"), c.value[2]);
  return true;
}

bool UpdateOsdOffsets(const AppCommand& c) {
  StoreSettingValue(Setting("osd_top_offset"), c.value[1]);
  StoreSettingValue(Setting("osd_bottom_offset"), c.value[2]);
  return true;
}

// The HDMI output as the record has it.
void SwitchHdmiOutput() {
  const bool on = LoadShared(&GetSharedConfig()->hdmi_enabled) != 0;
  ExecuteShellCommand(on ? "./scripts/hdmi-change.sh 1" : "./scripts/hdmi-change.sh 0");
}

bool UpdateHdmiOutput(const AppCommand& c) {
  SharedConfig* config = GetSharedConfig();
  StoreShared(&config->hdmi_enabled, c.value_true);
  SaveConfiguration();
  SwitchHdmiOutput();
  return true;
}

// Stores nothing: switches the HDMI output mode and restarts its two users.
bool ChangeHdmiMode(const AppCommand& c) {
  int group = 0;
  int code = 0;
  LookupHdmiMode(c.value[1], &group, &code);
  char line[96];
  if (code < 1) {
    fprintf(stderr, "set default HDMI mode\n");
    ExecuteShellCommand("tvservice -p");
    if (c.value2_true) ExecuteShellCommand("./scripts/hdmi-mode.sh");
  } else {
    const char* group_name = group == 1 ? "DMT" : "CEA";
    fprintf(stderr, "set HDMI mode to %s %d\n", group_name, code);
    snprintf(line, sizeof line, "tvservice -e \"%s %d\"", group_name, code);
    ExecuteShellCommand(line);
    if (c.value2_true) {
      snprintf(line, sizeof line, "./scripts/hdmi-mode.sh %d %d", group == 1 ? 2 : 1, code);
      ExecuteShellCommand(line);
    }
  }
  SleepMilliseconds(1000);
  ExecuteShellCommand("killall -q hud");
  ExecuteShellCommand("killall -q display");
  return true;
}

// "1" wifi0, "2" wlan0, "0" none; any other text leaves the interface as it is.
void StoreInterfaceSelector(const char* key, const char* selector) {
  if (std::strcmp(selector, "0") == 0) StoreSettingValue(Setting(key), "");
  if (std::strcmp(selector, "1") == 0) StoreSettingValue(Setting(key), "wifi0");
  if (std::strcmp(selector, "2") == 0) StoreSettingValue(Setting(key), "wlan0");
}

// The console shows that a password arrived and how long it is, never the password.
std::string Hidden(const char* password) { return std::string(std::strlen(password), '*'); }

// The Wi-Fi service reads the settings again when this file appears.
void ReloadWifi() { ExecuteShellCommand("touch /run/wlan.update"); }

bool UpdateWifi(const AppCommand& c) {
  printf("\n");
  printf("network iface %s ssid %s pass %s\n", c.value[4], c.value[5], Hidden(c.value[6]).c_str());
  printf("AP iface %s ssid %s pass %s mode %s channel %s country %s\n", c.value[7], c.value[8],
         Hidden(c.value[9]).c_str(), c.value[10], c.value[11], c.value[12]);
  printf("\n");
  fflush(stdout);
  TextChange change;
  change.Add("wifi_ssid", c.value[5]);
  change.Add("wifi_psk", c.value[6]);
  change.Add("ap_ssid", c.value[8]);
  change.Add("ap_psk", c.value[9]);
  change.Add("ap_country", c.value[12]);
  if (change.refused) return false;
  change.Store();
  StoreInterfaceSelector("wifi_iface", c.value[4]);
  StoreInterfaceSelector("ap_iface", c.value[7]);
  SharedConfig* config = GetSharedConfig();
  if (std::strcmp(c.value[10], "2.4") == 0) StoreShared(&config->ap_mode, 2);
  if (std::strcmp(c.value[10], "5") == 0) StoreShared(&config->ap_mode, 5);
  StoreSettingValue(Setting("ap_channel"), c.value[11]);
  SaveConfiguration();
  ReloadWifi();
  return true;
}

#define HUD(f) offsetof(HudState, f)

constexpr ParamRow kParamTable[] = {
    {"rcin_enabled", Rule::kTruthWord, "rc_input_enabled", kNoHudByte, nullptr, "killall -q rcin",
     true, 0},
    {"rcin_mode", Rule::kSpecial, nullptr, kNoHudByte, UpdateRcModes, "killall -q rcin", true, 0},
    {"rcin_map", Rule::kSpecial, nullptr, kNoHudByte, UpdateRcMap, "killall -q rcin", true, 0},
    {"rcin_speed", Rule::kSpecial, nullptr, kNoHudByte, UpdateRcSpeeds, nullptr, false, 0},
    {"rcin_pan", Rule::kValue, "rc_input_speed_pan", kNoHudByte, nullptr, nullptr, false, 0},
    {"rcin_tilt", Rule::kValue, "rc_input_speed_tilt", kNoHudByte, nullptr, nullptr, false, 0},
    {"rcin_dutch", Rule::kValue, "rc_input_speed_dutch", kNoHudByte, nullptr, nullptr, false, 0},
    {"rcin_pan_inv", Rule::kValue, "rc_input_inverse_pan", kNoHudByte, nullptr, nullptr, false, 0},
    {"rcin_tilt_inv", Rule::kValue, "rc_input_inverse_tilt", kNoHudByte, nullptr, nullptr, false,
     0},
    {"rcin_dutch_inv", Rule::kValue, "rc_input_inverse_dutch", kNoHudByte, nullptr, nullptr, false,
     0},
    {"rcin_exp", Rule::kTruthWord, "rc_input_exp", kNoHudByte, nullptr, "killall -q rcin", true, 0},
    {"rcin_abs", Rule::kTruthWord, "rc_input_abs", kNoHudByte, nullptr, nullptr, false, 0},
    {"hud_enabled", Rule::kTruthWord, "hud_enabled", HUD(hud_visible), nullptr, nullptr, false, 0},
    {"internal_camera_enabled", Rule::kTruthWord, "internal_camera_enabled",
     HUD(internal_camera_enabled), nullptr, "killall -q raspivid", false, 0},
    {"internal_camera_fullscreen", Rule::kTruthWord, "internal_camera_fullscreen",
     HUD(internal_camera_fullscreen), nullptr, "killall -q raspivid", false, 0},
    {"fa_enabled", Rule::kTruthWord, "focus_assistant_enabled", HUD(focus_assistant_enabled),
     nullptr, nullptr, false, 0},
    {"osd_enabled", Rule::kTruthWord, "osd_enabled", HUD(osd_enabled), nullptr, nullptr, false, 0},
    {"hdmi_enabled", Rule::kWhole, nullptr, kNoHudByte, UpdateHdmiOutput, nullptr, false, 0},
    {"disable_video_stream", Rule::kValue, "disable_video_stream", kNoHudByte, nullptr, nullptr,
     false, 0},
    {"video_hflip", Rule::kValue, "video_hflip", kNoHudByte, nullptr, "killall -q display", false,
     0},
    {"video_vflip", Rule::kValue, "video_vflip", kNoHudByte, nullptr, "killall -q display", false,
     0},
    {"video_fix", Rule::kValue, "video_fix", kNoHudByte, nullptr, "killall -q display", false, 0},
    {"hdmimode", Rule::kWhole, nullptr, kNoHudByte, ChangeHdmiMode, nullptr, false, 0},
    {"osd_borders", Rule::kSpecial, nullptr, kNoHudByte, UpdateOsdBorders,
     "killall -q display hud", false, 0},
    {"osd_offset", Rule::kSpecial, nullptr, kNoHudByte, UpdateOsdOffsets, "killall -q hud", false,
     0},
    {"osd_top_offset", Rule::kValue, "osd_top_offset", kNoHudByte, nullptr, "killall -q hud",
     false, 0},
    {"osd_bottom_offset", Rule::kValue, "osd_bottom_offset", kNoHudByte, nullptr,
     "killall -q hud", false, 0},
    {"wifi", Rule::kWhole, nullptr, kNoHudByte, UpdateWifi, nullptr, false, 0},
    {"camtype", Rule::kValue, "camera_type", kNoHudByte, nullptr, "killall -q video-receiver",
     false, 0},
    {"device_mode", Rule::kValue, "device_mode", kNoHudByte, nullptr, nullptr, false, 2},
    {"coop_mode", Rule::kValue, "cooperative_mode", kNoHudByte, nullptr, nullptr, false, 2},
    {"ctrl_enabled", Rule::kValue, "control_enabled", kNoHudByte, nullptr, nullptr, false, 2},
};

#undef HUD

// A name that stores value stores it in a number setting of the file.
constexpr bool RowsNameNumberSettings() {
  for (const ParamRow& row : kParamTable) {
    bool stores = row.rule == Rule::kTruthWord || row.rule == Rule::kValue;
    if (stores != (row.setting != nullptr)) return false;
    if (!stores) continue;
    const int index = ConfigSettingIndex(row.setting);
    if (index < 0) return false;
    const ConfigSetting& setting = kConfigSchema[index];
    if (IsTextRule(setting.rule)) return false;
    if (row.rule == Rule::kTruthWord && setting.rule != ConfigRule::kFlag) return false;
    if (row.hud_byte != kNoHudByte && setting.size != 1) return false;
    if (setting.size > 4) return false;  // the undo of a change that cannot be saved holds four
  }
  return true;
}
static_assert(RowsNameNumberSettings());

// The settings a name's own function changes (the table names the others'),
// and what it runs after the save besides the row's command.
struct RowSettings {
  const char* row;
  void (*follow)();
  const char* settings[9];
};

constexpr RowSettings kRowSettings[] = {
    {"rcin_mode", nullptr, {"rc_input_mode", "rc2_input_mode"}},
    {"rcin_map", nullptr, {"rc_input_map"}},
    {"osd_borders", nullptr, {"osd_border_width", "osd_border_height"}},
    {"hdmi_enabled", SwitchHdmiOutput, {"hdmi_enabled"}},
    {"wifi", ReloadWifi,
     {"wifi_iface", "wifi_ssid", "wifi_psk", "ap_iface", "ap_ssid", "ap_psk", "ap_mode", "ap_country", "ap_channel"}},
};

// Read only at start, and changed by no name: a change takes a restart.
constexpr const char* kReadAtStartOnly[] = {"shield_enabled", "i2c_input_enabled"};

constexpr bool RowSettingsExist() {
  for (const RowSettings& r : kRowSettings) {
    bool found = false;
    for (const ParamRow& row : kParamTable) found = found || std::string_view(row.name) == r.row;
    if (!found) return false;
    for (const char* key : r.settings) {
      if (key != nullptr && ConfigSettingIndex(key) < 0) return false;
    }
  }
  for (const char* key : kReadAtStartOnly) {
    if (ConfigSettingIndex(key) < 0) return false;
  }
  return true;
}
static_assert(RowSettingsExist());

bool Changed(const std::vector<const ConfigSetting*>& changed, const char* key) {
  for (const ConfigSetting* setting : changed) {
    if (std::strcmp(setting->key, key) == 0) return true;
  }
  return false;
}

}  // namespace

const char* ParamUpdateChoice(size_t index) { return NameAt(kParamTable, index); }

int ApplyParameterUpdate(const AppCommand& command) {
  for (const ParamRow& row : kParamTable) {
    if (std::strcmp(row.name, command.name) != 0) continue;
    // Number settings only (checked above): at most four bytes to put back.
    uint8_t before[4] = {};
    auto* config = reinterpret_cast<uint8_t*>(GetSharedConfig());
    const ConfigSetting* undo = row.setting != nullptr ? &Setting(row.setting) : nullptr;
    if (undo) LoadSharedBytes(before, config + undo->offset, undo->size);
    switch (row.rule) {
      case Rule::kTruthWord:
        StoreSettingValue(Setting(row.setting), command.value_true ? "1" : "0");
        break;
      case Rule::kValue:
        StoreSettingValue(Setting(row.setting), command.value[1]);
        break;
      case Rule::kSpecial:
        if (!row.special(command)) {
          LogRefusal(row.name);
          return 0;
        }
        break;
      case Rule::kWhole:
        if (!row.special(command)) {
          LogRefusal(row.name);
          return 0;
        }
        return row.exit_code;
    }
    if (row.hud_byte != kNoHudByte) {
      StoreShared(reinterpret_cast<uint8_t*>(GetHudState()) + row.hud_byte, LoadShared(config + undo->offset));
    }
    if (!SaveConfiguration() && row.exit_code != 0) {
      // The restarted daemon would read the old mode from the file anyway; the
      // change is undone so that this one keeps running in one mode, not two.
      StoreSharedBytes(config + undo->offset, before, undo->size);
      fprintf(stderr, "mode change not saved, staying in the current mode\n");
      return 0;
    }
    if (row.command) ExecuteShellCommand(row.command);
    if (row.reset_rc_state) ResetRcInputState();
    return row.exit_code;
  }
  return 0;
}

int FollowSettingChanges(const std::vector<const ConfigSetting*>& changed) {
  std::vector<const char*> commands;  // run so far
  bool reset_rc_state = false;
  int exit_code = 0;
  for (const ParamRow& row : kParamTable) {
    bool covered = row.setting != nullptr && Changed(changed, row.setting);
    void (*follow)() = nullptr;
    for (const RowSettings& r : kRowSettings) {
      if (std::strcmp(r.row, row.name) != 0) continue;
      for (const char* key : r.settings) covered = covered || (key != nullptr && Changed(changed, key));
      follow = r.follow;
    }
    if (!covered) continue;
    if (row.hud_byte != kNoHudByte) {
      const auto* config = reinterpret_cast<const uint8_t*>(GetSharedConfig());
      StoreShared(reinterpret_cast<uint8_t*>(GetHudState()) + row.hud_byte,
                  LoadShared(config + Setting(row.setting).offset));
    }
    if (follow != nullptr) follow();
    const auto same = [&](const char* c) { return std::strcmp(c, row.command) == 0; };
    if (row.command != nullptr && std::none_of(commands.begin(), commands.end(), same)) {
      commands.push_back(row.command);
      ExecuteShellCommand(row.command);
    }
    reset_rc_state = reset_rc_state || row.reset_rc_state;
    exit_code = std::max(exit_code, row.exit_code);
  }
  for (const char* key : kReadAtStartOnly) {
    if (Changed(changed, key)) exit_code = 2;
  }
  if (reset_rc_state) ResetRcInputState();
  return exit_code;
}
