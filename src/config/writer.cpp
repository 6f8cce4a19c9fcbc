#include "config/writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/shell.h"

namespace {

constexpr const char* kBootConfigPath = "/boot/vantagebridge-cable.conf";
constexpr const char* kEol = "\r\n";

enum class ValueRule : uint8_t {
  kUnsigned,       // byte or flag, written 0 to 255
  kInt32,          // signed decimal
  kText,           // bare text
  kQuotedText,     // text between double quotes
  kMillisToSeconds,  // int32 milliseconds written as whole seconds
};

struct LayoutEntry {
  const char* comments[4];
  const char* key;
  ValueRule rule;
  size_t offset;
  size_t width;
};

#define VB_FIELD(name) offsetof(SharedConfig, name), sizeof(SharedConfig::name)

// Comment texts are written exactly as they stand, trailing spaces and bare "%" included.
constexpr LayoutEntry kLayout[] = {
    {{"# Skip app run or not", "# 0 - run app", "# 1 - don't run app"}, "disabled",
     ValueRule::kUnsigned, VB_FIELD(disabled)},
    {{"# Camera type", "# 0 - X3", "# 1 - X5, X5R", "# 2 - auto detect"}, "camera_type",
     ValueRule::kUnsigned, VB_FIELD(camera_type)},
    {{"# Camera work mode", "# 0 - work as Osmo (for Osmo and Inspire cameras)",
      "# 1 - work as Inspire (only for Inspire cameras)"},
     "device_mode", ValueRule::kUnsigned, VB_FIELD(device_mode)},
    {{"# Camera and flight controller cooperative mode", "# 0 - no flight controller present",
      "# 1 - flight controller present"},
     "cooperative_mode", ValueRule::kUnsigned, VB_FIELD(cooperative_mode)},
    {{"# Camera control enable", "# 0 - control disabled", "# 1 - control enabled"},
     "control_enabled", ValueRule::kUnsigned, VB_FIELD(control_enabled)},
    {{"# Disable video stream to Vantageview", "# 1 - video stream disabled",
      "# 0 - video stream enabled (default)"},
     "disable_video_stream", ValueRule::kUnsigned, VB_FIELD(disable_video_stream)},
    {{"# Video horizontal flip", "# 1 - flipped", "# 0 - normal"}, "video_hflip",
     ValueRule::kUnsigned, VB_FIELD(video_hflip)},
    {{"# Video vertical flip", "# 1 - flipped", "# 0 - normal"}, "video_vflip",
     ValueRule::kUnsigned, VB_FIELD(video_vflip)},
    {{"# Video fix (try it if no video displayed)", "# 1 - fix", "# 0 - don't fix"}, "video_fix",
     ValueRule::kUnsigned, VB_FIELD(video_fix)},
    {{"# Video out selection", "# 1 - use HDMI", "# 0 - use TV-out"}, "hdmi_enabled",
     ValueRule::kUnsigned, VB_FIELD(hdmi_enabled)},
    {{"# Use RC control", "# 1 - enabled", "# 0 - disabled"}, "rc_input_enabled",
     ValueRule::kUnsigned, VB_FIELD(rc_input_enabled)},
    {{"# RC1 mode", "# pwm - PWM mode", "# ppm - PPM mode"}, "rc_input_mode", ValueRule::kText,
     VB_FIELD(rc_input_mode)},
    {{"# RC2 mode", "# sbus - Sbus mode", "# ppm - PPM mode"}, "rc2_input_mode", ValueRule::kText,
     VB_FIELD(rc2_input_mode)},
    {{"# RC channels mapping", "# pan,tilt,zoom... etc"}, "rc_input_map", ValueRule::kText,
     VB_FIELD(rc_input_map)},
    {{"# RC pan speed (%)", "# 0 - 100"}, "rc_input_speed_pan", ValueRule::kInt32,
     VB_FIELD(rc_input_speed_pan)},
    {{"# RC tilt speed (%)", "# 0 - 100"}, "rc_input_speed_tilt", ValueRule::kInt32,
     VB_FIELD(rc_input_speed_tilt)},
    {{"# RC dutch speed (%)", "# 0 - 100"}, "rc_input_speed_dutch", ValueRule::kInt32,
     VB_FIELD(rc_input_speed_dutch)},
    {{"# RC pan inverse", "# 0 - no", "# 1 - inverse"}, "rc_input_inverse_pan", ValueRule::kInt32,
     VB_FIELD(rc_input_inverse_pan)},
    {{"# RC tilt inverse", "# 0 - no", "# 1 - inverse"}, "rc_input_inverse_tilt",
     ValueRule::kInt32, VB_FIELD(rc_input_inverse_tilt)},
    {{"# RC dutch inverse", "# 0 - no", "# 1 - inverse"}, "rc_input_inverse_dutch",
     ValueRule::kInt32, VB_FIELD(rc_input_inverse_dutch)},
    {{"# RC exponential pan/tilt"}, "rc_input_exp", ValueRule::kUnsigned, VB_FIELD(rc_input_exp)},
    {{"# RC pan/tilt/dutch absolute"}, "rc_input_abs", ValueRule::kUnsigned,
     VB_FIELD(rc_input_abs)},
    {{"# Use I2C control", "# 1 - enabled", "# 0 - disabled"}, "i2c_input_enabled",
     ValueRule::kUnsigned, VB_FIELD(i2c_input_enabled)},
    {{"# I2C pan speed (%)", "# 0 - 100"}, "i2c_input_speed_pan", ValueRule::kInt32,
     VB_FIELD(i2c_input_speed_pan)},
    {{"# I2C tilt speed (%)", "# 0 - 100"}, "i2c_input_speed_tilt", ValueRule::kInt32,
     VB_FIELD(i2c_input_speed_tilt)},
    {{"# I2C dutch speed (%)", "# 0 - 100"}, "i2c_input_speed_dutch", ValueRule::kInt32,
     VB_FIELD(i2c_input_speed_dutch)},
    {{"# Interface for Wi-Fi access point", "# disabled if empty"}, "ap_iface", ValueRule::kText,
     VB_FIELD(ap_iface)},
    {{"# SSID for Wi-Fi access point"}, "ap_ssid", ValueRule::kQuotedText, VB_FIELD(ap_ssid)},
    {{"# Password for Wi-Fi access point"}, "ap_psk", ValueRule::kQuotedText, VB_FIELD(ap_psk)},
    {{"# Wi-Fi Access Point mode", "# 2 - 2.4GHz, 5 - 5GHz"}, "ap_mode", ValueRule::kInt32,
     VB_FIELD(ap_mode)},
    {{"# Wi-Fi Access Point country code", "# 00, CN, US"}, "ap_country", ValueRule::kText,
     VB_FIELD(ap_country)},
    {{"# Wi-Fi Access Point channel", "# 1 - 13 for 2.4Ghz and 36 - 42 for 5Ghz"}, "ap_channel",
     ValueRule::kInt32, VB_FIELD(ap_channel)},
    {{"# Interface for Wi-Fi network connection", "# disabled if empty"}, "wifi_iface",
     ValueRule::kText, VB_FIELD(wifi_iface)},
    {{"# SSID for network connection "}, "wifi_ssid", ValueRule::kQuotedText, VB_FIELD(wifi_ssid)},
    {{"# Password for network connection "}, "wifi_psk", ValueRule::kQuotedText,
     VB_FIELD(wifi_psk)},
    {{"# OSD enable ", "# 1 - enabled", "# 0 - disabled"}, "osd_enabled", ValueRule::kUnsigned,
     VB_FIELD(osd_enabled)},
    {{"# OSD borders width (pixels)", "# 0 - disabled"}, "osd_border_width", ValueRule::kUnsigned,
     VB_FIELD(osd_border_width)},
    {{"# OSD borders height (pixels)", "# 0 - disabled"}, "osd_border_height",
     ValueRule::kUnsigned, VB_FIELD(osd_border_height)},
    {{"# OSD top text offset (pixels)"}, "osd_top_offset", ValueRule::kUnsigned,
     VB_FIELD(osd_top_offset)},
    {{"# OSD bottom text offset (pixels)"}, "osd_bottom_offset", ValueRule::kUnsigned,
     VB_FIELD(osd_bottom_offset)},
    {{"# HUD enable ", "# 1 - enabled", "# 0 - disabled"}, "hud_enabled", ValueRule::kUnsigned,
     VB_FIELD(hud_enabled)},
    {{"# Internal camera enable ", "# 1 - enabled", "# 0 - disabled"}, "internal_camera_enabled",
     ValueRule::kUnsigned, VB_FIELD(internal_camera_enabled)},
    {{"# Internal camera fullscreen ", "# 1 - fullscreen", "# 0 - windowed"},
     "internal_camera_fullscreen", ValueRule::kUnsigned, VB_FIELD(internal_camera_fullscreen)},
    {{"# Focus assistant enable ", "# 1 - enabled", "# 0 - disabled"}, "focus_assistant_enabled",
     ValueRule::kUnsigned, VB_FIELD(focus_assistant_enabled)},
    {{"# Shield enable ", "# 1 - enabled", "# 0 - disabled"}, "shield_enabled",
     ValueRule::kUnsigned, VB_FIELD(shield_enabled)},
    {{"# Shield auto close timeout (in seconds)"}, "shield_timeout", ValueRule::kMillisToSeconds,
     VB_FIELD(shield_timeout)},
    {{"# Shield open position (in microseconds, default 1950)"}, "shield_open", ValueRule::kInt32,
     VB_FIELD(shield_open)},
    {{"# Shield closed position (in microseconds, default 1000)"}, "shield_close",
     ValueRule::kInt32, VB_FIELD(shield_close)},
};

#undef VB_FIELD

std::mutex g_save_mutex;
std::mutex g_path_mutex;
std::string g_path_override;

std::string BootConfigPath() {
  std::lock_guard<std::mutex> lock(g_path_mutex);
  return g_path_override.empty() ? std::string(kBootConfigPath) : g_path_override;
}

void AppendValue(const SharedConfig& config, const LayoutEntry& entry, std::string* out) {
  const auto* base = reinterpret_cast<const uint8_t*>(&config) + entry.offset;
  char number[16];
  switch (entry.rule) {
    case ValueRule::kUnsigned:
      snprintf(number, sizeof number, "%u", static_cast<unsigned>(*base));
      out->append(number);
      break;
    case ValueRule::kInt32:
    case ValueRule::kMillisToSeconds: {
      int32_t value;
      std::memcpy(&value, base, sizeof value);
      if (entry.rule == ValueRule::kMillisToSeconds) value /= 1000;
      snprintf(number, sizeof number, "%d", static_cast<int>(value));
      out->append(number);
      break;
    }
    case ValueRule::kText:
    case ValueRule::kQuotedText: {
      // A field filled to its last byte has no NUL: never read past it.
      const char* text = reinterpret_cast<const char*>(base);
      bool quoted = entry.rule == ValueRule::kQuotedText;
      if (quoted) out->push_back('"');
      out->append(text, strnlen(text, entry.width));
      if (quoted) out->push_back('"');
      break;
    }
  }
}

// Writes the whole text to a new file beside the old one and renames it into
// place, so a crash or power cut leaves either the old file or the new one.
// Returns false only when the new file could not be created.
bool ReplaceFile(const std::string& path, const std::string& text) {
  std::string temp_path = path + ".new";
  FILE* file = fopen(temp_path.c_str(), "wbe");
  if (!file) return false;
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  written = fflush(file) == 0 && written;
  written = fsync(fileno(file)) == 0 && written;
  written = fclose(file) == 0 && written;
  if (!written) {
    // Out of space or a write error: keep the old file untouched.
    unlink(temp_path.c_str());
    return true;
  }
  if (rename(temp_path.c_str(), path.c_str()) != 0) {
    unlink(temp_path.c_str());
    return true;
  }
  std::string folder = ".";
  size_t slash = path.rfind('/');
  if (slash != std::string::npos) folder = slash == 0 ? "/" : path.substr(0, slash);
  int dir_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  return true;
}

}  // namespace

size_t FormatConfigurationFile(const SharedConfig& config, std::string* out) {
  out->clear();
  out->append("# Vantagebridge-cable config file").append(kEol);
  out->append(kEol);
  for (const LayoutEntry& entry : kLayout) {
    for (const char* comment : entry.comments) {
      if (comment) out->append(comment).append(kEol);
    }
    out->append(entry.key).push_back('=');
    AppendValue(config, entry, out);
    out->append(kEol);
    out->append(kEol);
  }
  return out->size();
}

void SetBootConfigPathForTest(const char* path) {
  std::lock_guard<std::mutex> lock(g_path_mutex);
  g_path_override = path ? path : "";
}

void SaveConfiguration() {
  // Command workers, the mailbox thread and the RC loop all save: one at a time.
  std::lock_guard<std::mutex> lock(g_save_mutex);
  RunShellCommand("mount -o rw,remount /boot");
  std::string text;
  FormatConfigurationFile(*GetSharedConfig(), &text);
  if (!ReplaceFile(BootConfigPath(), text)) return;
  RunShellCommand("umount /boot");
  RunShellCommand("mount /boot");
  RunShellCommand("cat /boot/vantagebridge-cable.conf | sed 's/\\r$//' > /run/vantagebridge.conf");
}
