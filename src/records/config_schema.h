// The settings of the configuration file, one row each, in the order the file
// lists them: the record field a setting fills, how its value is read and
// written, the comment lines written above it, its member in the configuration
// report and, for texts, the longest value a viewer may store. The rows after
// the file's settings are report members that the file does not hold.
//
// The key setter, the file writer, the configuration report and the parameter
// updates all work from this one table. Constant data: any thread reads it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "records/shared_config.h"

enum class ConfigRule : uint8_t {
  kFlag,          // 1 when the number is non-zero, else 0; written 0 or 1
  kByte,          // low 8 bits of the number; written 0 to 255
  kInt32,         // the number, held to the 32-bit range
  kMilliseconds,  // whole seconds in the file, milliseconds in the record
  kText,          // written bare
  kInterface,     // written bare; viewers see and set it as a selector (1 wifi0, 2 wlan0)
  kQuotedText,    // written between double quotes, which reading removes again
  kRcMap,         // written bare; storing it also rebuilds the RC channel map
};

constexpr bool IsTextRule(ConfigRule rule) {
  return rule == ConfigRule::kText || rule == ConfigRule::kInterface ||
         rule == ConfigRule::kQuotedText || rule == ConfigRule::kRcMap;
}

// What a viewer's text longer than the limit gets.
enum class OverLimit : uint8_t {
  kCut,     // stored cut to the limit (short technical words, cut as the field always did)
  kRefuse,  // the whole change is refused: a cut name, password or map would be a wrong one
};

struct ConfigReportMember {
  const char* key;  // nullptr: the report leaves the setting out
  uint8_t rank;     // 1 for the member after "app", and so on
};

struct ConfigTextLimit {
  uint16_t max;  // longest text in bytes a viewer may store; 0 for numbers
  OverLimit over;
};

struct ConfigSetting {
  const char* key;  // in the file; nullptr for a member of the report only
  uint16_t offset;  // of the field in SharedConfig
  uint16_t size;    // field width in bytes; 0: no field, reported as an empty text
  ConfigRule rule;
  const char* comments[4];  // written above the key line exactly as they stand
  ConfigReportMember report;
  ConfigTextLimit limit;
};

// Where a setting's value stands in SharedConfig: what its setters take.
constexpr ConfigField FieldOfSetting(const ConfigSetting& setting) { return {setting.offset, setting.size}; }

// The loader reads a line in pieces of 199 characters: a key line of at most
// this many characters stays whole with its CR LF.
inline constexpr size_t kConfigLineLimit = 197;

// 32 unassigned RC channels: what the loader stores for an empty or missing map.
inline constexpr char kDefaultRcMap[] = ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,";

#define VB_FIELD(name) offsetof(SharedConfig, name), sizeof(SharedConfig::name)

inline constexpr ConfigSetting kConfigSchema[] = {
    {"disabled", VB_FIELD(disabled), ConfigRule::kByte,
     {"# Skip app run or not", "# 0 - run app", "# 1 - don't run app"}, {}, {}},
    {"camera_type", VB_FIELD(camera_type), ConfigRule::kByte,
     {"# Camera type", "# 0 - X3", "# 1 - X5, X5R", "# 2 - auto detect"}, {"camtype", 1}, {}},
    {"device_mode", VB_FIELD(device_mode), ConfigRule::kByte,
     {"# Camera work mode", "# 0 - work as Osmo (for Osmo and Inspire cameras)",
      "# 1 - work as Inspire (only for Inspire cameras)"},
     {"dmode", 2}, {}},
    {"cooperative_mode", VB_FIELD(cooperative_mode), ConfigRule::kByte,
     {"# Camera and flight controller cooperative mode", "# 0 - no flight controller present",
      "# 1 - flight controller present"},
     {"cmode", 3}, {}},
    {"control_enabled", VB_FIELD(control_enabled), ConfigRule::kFlag,
     {"# Camera control enable", "# 0 - control disabled", "# 1 - control enabled"},
     {"ctrl_en", 4}, {}},
    {"disable_video_stream", VB_FIELD(disable_video_stream), ConfigRule::kFlag,
     {"# Disable video stream to Vantageview", "# 1 - video stream disabled",
      "# 0 - video stream enabled (default)"},
     {"v_dis", 17}, {}},
    {"video_hflip", VB_FIELD(video_hflip), ConfigRule::kFlag,
     {"# Video horizontal flip", "# 1 - flipped", "# 0 - normal"}, {"v_hf", 18}, {}},
    {"video_vflip", VB_FIELD(video_vflip), ConfigRule::kFlag,
     {"# Video vertical flip", "# 1 - flipped", "# 0 - normal"}, {"v_vf", 19}, {}},
    {"video_fix", VB_FIELD(video_fix), ConfigRule::kFlag,
     {"# Video fix (try it if no video displayed)", "# 1 - fix", "# 0 - don't fix"},
     {"v_f", 20}, {}},
    {"hdmi_enabled", VB_FIELD(hdmi_enabled), ConfigRule::kFlag,
     {"# Video out selection", "# 1 - use HDMI", "# 0 - use TV-out"}, {"hdmistate", 21}, {}},
    {"rc_input_enabled", VB_FIELD(rc_input_enabled), ConfigRule::kFlag,
     {"# Use RC control", "# 1 - enabled", "# 0 - disabled"}, {"rcin_en", 5}, {}},
    {"rc_input_mode", VB_FIELD(rc_input_mode), ConfigRule::kText,
     {"# RC1 mode", "# pwm - PWM mode", "# ppm - PPM mode"}, {"rcin_mode", 6},
     {5, OverLimit::kCut}},
    {"rc2_input_mode", VB_FIELD(rc2_input_mode), ConfigRule::kText,
     {"# RC2 mode", "# sbus - Sbus mode", "# ppm - PPM mode"}, {"rcin2_mode", 7},
     {5, OverLimit::kCut}},
    {"rc_input_map", VB_FIELD(rc_input_map), ConfigRule::kRcMap,
     {"# RC channels mapping", "# pan,tilt,zoom... etc"}, {"rcin_map", 8},
     {184, OverLimit::kRefuse}},
    {"rc_input_speed_pan", VB_FIELD(rc_input_speed_pan), ConfigRule::kInt32,
     {"# RC pan speed (%)", "# 0 - 100"}, {"rcin_pan", 9}, {}},
    {"rc_input_speed_tilt", VB_FIELD(rc_input_speed_tilt), ConfigRule::kInt32,
     {"# RC tilt speed (%)", "# 0 - 100"}, {"rcin_tilt", 10}, {}},
    {"rc_input_speed_dutch", VB_FIELD(rc_input_speed_dutch), ConfigRule::kInt32,
     {"# RC dutch speed (%)", "# 0 - 100"}, {"rcin_dutch", 11}, {}},
    {"rc_input_inverse_pan", VB_FIELD(rc_input_inverse_pan), ConfigRule::kInt32,
     {"# RC pan inverse", "# 0 - no", "# 1 - inverse"}, {"rcin_paninv", 12}, {}},
    {"rc_input_inverse_tilt", VB_FIELD(rc_input_inverse_tilt), ConfigRule::kInt32,
     {"# RC tilt inverse", "# 0 - no", "# 1 - inverse"}, {"rcin_tiltinv", 13}, {}},
    {"rc_input_inverse_dutch", VB_FIELD(rc_input_inverse_dutch), ConfigRule::kInt32,
     {"# RC dutch inverse", "# 0 - no", "# 1 - inverse"}, {"rcin_dutchinv", 14}, {}},
    {"rc_input_exp", VB_FIELD(rc_input_exp), ConfigRule::kFlag, {"# RC exponential pan/tilt"},
     {"rcin_exp", 15}, {}},
    {"rc_input_abs", VB_FIELD(rc_input_abs), ConfigRule::kFlag, {"# RC pan/tilt/dutch absolute"},
     {"rcin_abs", 16}, {}},
    {"i2c_input_enabled", VB_FIELD(i2c_input_enabled), ConfigRule::kFlag,
     {"# Use I2C control", "# 1 - enabled", "# 0 - disabled"}, {}, {}},
    {"i2c_input_speed_pan", VB_FIELD(i2c_input_speed_pan), ConfigRule::kInt32,
     {"# I2C pan speed (%)", "# 0 - 100"}, {}, {}},
    {"i2c_input_speed_tilt", VB_FIELD(i2c_input_speed_tilt), ConfigRule::kInt32,
     {"# I2C tilt speed (%)", "# 0 - 100"}, {}, {}},
    {"i2c_input_speed_dutch", VB_FIELD(i2c_input_speed_dutch), ConfigRule::kInt32,
     {"# I2C dutch speed (%)", "# 0 - 100"}, {}, {}},
    {"ap_iface", VB_FIELD(ap_iface), ConfigRule::kInterface,
     {"# Interface for Wi-Fi access point", "# disabled if empty"}, {"ap_iface", 32},
     {9, OverLimit::kCut}},
    // Wi-Fi allows SSIDs of up to 32 bytes and passphrases of up to 63.
    {"ap_ssid", VB_FIELD(ap_ssid), ConfigRule::kQuotedText, {"# SSID for Wi-Fi access point"},
     {"ap_ssid", 33}, {32, OverLimit::kRefuse}},
    {"ap_psk", VB_FIELD(ap_psk), ConfigRule::kQuotedText, {"# Password for Wi-Fi access point"},
     {"ap_psk", 34}, {63, OverLimit::kRefuse}},
    {"ap_mode", VB_FIELD(ap_mode), ConfigRule::kInt32,
     {"# Wi-Fi Access Point mode", "# 2 - 2.4GHz, 5 - 5GHz"}, {"ap_mode", 35}, {}},
    {"ap_country", VB_FIELD(ap_country), ConfigRule::kText,
     {"# Wi-Fi Access Point country code", "# 00, CN, US"}, {"ap_country", 37},
     {9, OverLimit::kCut}},
    {"ap_channel", VB_FIELD(ap_channel), ConfigRule::kInt32,
     {"# Wi-Fi Access Point channel", "# 1 - 13 for 2.4Ghz and 36 - 42 for 5Ghz"},
     {"ap_channel", 36}, {}},
    {"wifi_iface", VB_FIELD(wifi_iface), ConfigRule::kInterface,
     {"# Interface for Wi-Fi network connection", "# disabled if empty"}, {"lan_iface", 38},
     {9, OverLimit::kCut}},
    {"wifi_ssid", VB_FIELD(wifi_ssid), ConfigRule::kQuotedText, {"# SSID for network connection "},
     {"lan_ssid", 39}, {32, OverLimit::kRefuse}},
    {"wifi_psk", VB_FIELD(wifi_psk), ConfigRule::kQuotedText,
     {"# Password for network connection "}, {"lan_psk", 40}, {63, OverLimit::kRefuse}},
    {"osd_enabled", VB_FIELD(osd_enabled), ConfigRule::kFlag,
     {"# OSD enable ", "# 1 - enabled", "# 0 - disabled"}, {"osd_en", 26}, {}},
    {"osd_border_width", VB_FIELD(osd_border_width), ConfigRule::kByte,
     {"# OSD borders width (pixels)", "# 0 - disabled"}, {"osdbrdw", 22}, {}},
    {"osd_border_height", VB_FIELD(osd_border_height), ConfigRule::kByte,
     {"# OSD borders height (pixels)", "# 0 - disabled"}, {"osdbrdh", 23}, {}},
    {"osd_top_offset", VB_FIELD(osd_top_offset), ConfigRule::kByte,
     {"# OSD top text offset (pixels)"}, {"osdtof", 24}, {}},
    {"osd_bottom_offset", VB_FIELD(osd_bottom_offset), ConfigRule::kByte,
     {"# OSD bottom text offset (pixels)"}, {"osdbof", 25}, {}},
    {"hud_enabled", VB_FIELD(hud_enabled), ConfigRule::kFlag,
     {"# HUD enable ", "# 1 - enabled", "# 0 - disabled"}, {"hud_en", 27}, {}},
    {"internal_camera_enabled", VB_FIELD(internal_camera_enabled), ConfigRule::kFlag,
     {"# Internal camera enable ", "# 1 - enabled", "# 0 - disabled"}, {"ic_en", 28}, {}},
    {"internal_camera_fullscreen", VB_FIELD(internal_camera_fullscreen), ConfigRule::kFlag,
     {"# Internal camera fullscreen ", "# 1 - fullscreen", "# 0 - windowed"}, {"ic_fs", 29}, {}},
    {"focus_assistant_enabled", VB_FIELD(focus_assistant_enabled), ConfigRule::kFlag,
     {"# Focus assistant enable ", "# 1 - enabled", "# 0 - disabled"}, {"fa_en", 30}, {}},
    {"shield_enabled", VB_FIELD(shield_enabled), ConfigRule::kFlag,
     {"# Shield enable ", "# 1 - enabled", "# 0 - disabled"}, {}, {}},
    {"shield_timeout", VB_FIELD(shield_timeout), ConfigRule::kMilliseconds,
     {"# Shield auto close timeout (in seconds)"}, {}, {}},
    {"shield_open", VB_FIELD(shield_open), ConfigRule::kInt32,
     {"# Shield open position (in microseconds, default 1950)"}, {}, {}},
    {"shield_close", VB_FIELD(shield_close), ConfigRule::kInt32,
     {"# Shield closed position (in microseconds, default 1000)"}, {}, {}},

    // Run-time status and placeholders that only the report carries.
    {nullptr, VB_FIELD(ap_running), ConfigRule::kFlag, {}, {"apstate", 31}, {}},
    {nullptr, 0, 0, ConfigRule::kText, {}, {"cam_iface", 41}, {}},
    {nullptr, 0, 0, ConfigRule::kText, {}, {"cam_ssid", 42}, {}},
    {nullptr, 0, 0, ConfigRule::kText, {}, {"cam_psk", 43}, {}},
    {nullptr, VB_FIELD(version_text), ConfigRule::kText, {}, {"version", 44}, {}},
};

#undef VB_FIELD

// The index in kConfigSchema of a key of the file; -1 when the file has no
// such key. Compile-time checks use the index: with the null-pointer sanitizer
// on, g++ cannot compare an element's address with nullptr in a constant.
constexpr int ConfigSettingIndex(std::string_view key) {
  int index = 0;
  for (const ConfigSetting& setting : kConfigSchema) {
    if (setting.key != nullptr && key == setting.key) return index;
    ++index;
  }
  return -1;
}

// The row of a key of the file; nullptr when the file has no such key.
constexpr const ConfigSetting* FindConfigSetting(std::string_view key) {
  const int index = ConfigSettingIndex(key);
  return index < 0 ? nullptr : &kConfigSchema[index];
}

// The longest text the file gives back unchanged for a text setting: its key
// line must stay within kConfigLineLimit, and the text within its field.
constexpr size_t FileTextLimit(const ConfigSetting& setting) {
  size_t used = std::char_traits<char>::length(setting.key) + 1;  // key and "="
  if (setting.rule == ConfigRule::kQuotedText) used += 2;
  size_t line_room = kConfigLineLimit - used;
  size_t field_room = setting.size - 1u;
  return line_room < field_room ? line_room : field_room;
}

// The longest text a viewer may store under a key of the file, in bytes; 0 for
// an unknown key or one that holds a number. For tools that refuse what the box
// would refuse (a longer text is cut or refused, see kConfigSchema).
size_t MaxStoredTextLength(std::string_view key);

// True when a text stored in the setting reads back from the file as itself: it
// fits the line, holds no line feed, no white space before ";" (a comment for
// the loader), and, written bare, no white space at either end, or, written
// quoted, no double quote; an empty RC map reads back as kDefaultRcMap.
bool ReadsBackUnchanged(const ConfigSetting& setting, std::string_view text);

// The text that the setting stores for a text received from a viewer: control
// characters are dropped (a text never adds lines to the file), an empty RC map
// becomes the default map, and a text over the limit is cut where the setting
// cuts. False when the setting refuses it: over the limit where it refuses, or
// not reading back as itself.
bool PrepareReceivedText(const ConfigSetting& setting, std::string_view received,
                         std::string* stored);

// The text that the setting stores for a value read from the file (the loader
// has trimmed it): cut to the field, double quotes removed from a quoted text,
// then cut so that saving and loading give it back unchanged; an empty RC map
// becomes kDefaultRcMap.
std::string LoadedText(const ConfigSetting& setting, std::string_view value);

// The report's members after "app", in the report's order.
inline constexpr size_t kConfigReportMemberCount = [] {
  size_t n = 0;
  for (const ConfigSetting& setting : kConfigSchema) n += setting.report.key != nullptr ? 1 : 0;
  return n;
}();

inline constexpr std::array<const ConfigSetting*, kConfigReportMemberCount> kConfigReportOrder = [] {
  std::array<const ConfigSetting*, kConfigReportMemberCount> order{};
  for (const ConfigSetting& setting : kConfigSchema) {
    if (setting.report.key != nullptr) order[setting.report.rank - 1u] = &setting;
  }
  return order;
}();
