#include "config/keys.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "camera/hud_state.h"
#include "common/wire.h"
#include "config/shared_config.h"

namespace {

enum class Rule : uint8_t {
  kFlag,          // 1 when the number is non-zero, else 0
  kByte,          // low 8 bits of the number
  kInt32,         // the number
  kText,          // cut to size - 1 characters plus NUL
  kQuotedText,    // as kText, then every double quote removed
  kRcMap,         // as kText, then the HudState channel map is rebuilt from it
  kMilliseconds,  // seconds in the file, milliseconds in the record
};

struct KeyRule {
  const char* key;
  size_t offset;
  size_t size;  // field width in bytes
  Rule rule;
};

#define VB_FIELD(name) offsetof(SharedConfig, name), sizeof(SharedConfig::name)

constexpr KeyRule kKeyTable[] = {
    {"disabled", VB_FIELD(disabled), Rule::kByte},
    {"camera_type", VB_FIELD(camera_type), Rule::kByte},
    {"device_mode", VB_FIELD(device_mode), Rule::kByte},
    {"cooperative_mode", VB_FIELD(cooperative_mode), Rule::kByte},
    {"control_enabled", VB_FIELD(control_enabled), Rule::kFlag},
    {"rc_input_enabled", VB_FIELD(rc_input_enabled), Rule::kFlag},
    {"rc_input_mode", VB_FIELD(rc_input_mode), Rule::kText},
    {"rc2_input_mode", VB_FIELD(rc2_input_mode), Rule::kText},
    {"rc_input_map", VB_FIELD(rc_input_map), Rule::kRcMap},
    {"rc_input_speed_pan", VB_FIELD(rc_input_speed_pan), Rule::kInt32},
    {"rc_input_speed_tilt", VB_FIELD(rc_input_speed_tilt), Rule::kInt32},
    {"rc_input_speed_dutch", VB_FIELD(rc_input_speed_dutch), Rule::kInt32},
    {"rc_input_inverse_pan", VB_FIELD(rc_input_inverse_pan), Rule::kInt32},
    {"rc_input_inverse_tilt", VB_FIELD(rc_input_inverse_tilt), Rule::kInt32},
    {"rc_input_inverse_dutch", VB_FIELD(rc_input_inverse_dutch), Rule::kInt32},
    {"rc_input_exp", VB_FIELD(rc_input_exp), Rule::kFlag},
    {"rc_input_abs", VB_FIELD(rc_input_abs), Rule::kFlag},
    {"i2c_input_enabled", VB_FIELD(i2c_input_enabled), Rule::kFlag},
    {"i2c_input_speed_pan", VB_FIELD(i2c_input_speed_pan), Rule::kInt32},
    {"i2c_input_speed_tilt", VB_FIELD(i2c_input_speed_tilt), Rule::kInt32},
    {"i2c_input_speed_dutch", VB_FIELD(i2c_input_speed_dutch), Rule::kInt32},
    {"disable_video_stream", VB_FIELD(disable_video_stream), Rule::kFlag},
    {"video_hflip", VB_FIELD(video_hflip), Rule::kFlag},
    {"video_vflip", VB_FIELD(video_vflip), Rule::kFlag},
    {"video_fix", VB_FIELD(video_fix), Rule::kFlag},
    {"hdmi_enabled", VB_FIELD(hdmi_enabled), Rule::kFlag},
    {"osd_enabled", VB_FIELD(osd_enabled), Rule::kFlag},
    {"osd_border_width", VB_FIELD(osd_border_width), Rule::kByte},
    {"osd_border_height", VB_FIELD(osd_border_height), Rule::kByte},
    {"osd_top_offset", VB_FIELD(osd_top_offset), Rule::kByte},
    {"osd_bottom_offset", VB_FIELD(osd_bottom_offset), Rule::kByte},
    {"hud_enabled", VB_FIELD(hud_enabled), Rule::kFlag},
    {"internal_camera_enabled", VB_FIELD(internal_camera_enabled), Rule::kFlag},
    {"internal_camera_fullscreen", VB_FIELD(internal_camera_fullscreen), Rule::kFlag},
    {"focus_assistant_enabled", VB_FIELD(focus_assistant_enabled), Rule::kFlag},
    {"ap_iface", VB_FIELD(ap_iface), Rule::kText},
    {"ap_ssid", VB_FIELD(ap_ssid), Rule::kQuotedText},
    {"ap_psk", VB_FIELD(ap_psk), Rule::kQuotedText},
    {"ap_country", VB_FIELD(ap_country), Rule::kText},
    {"ap_mode", VB_FIELD(ap_mode), Rule::kInt32},
    {"ap_channel", VB_FIELD(ap_channel), Rule::kInt32},
    {"wifi_iface", VB_FIELD(wifi_iface), Rule::kText},
    {"wifi_ssid", VB_FIELD(wifi_ssid), Rule::kQuotedText},
    {"wifi_psk", VB_FIELD(wifi_psk), Rule::kQuotedText},
    {"shield_enabled", VB_FIELD(shield_enabled), Rule::kFlag},
    {"shield_open", VB_FIELD(shield_open), Rule::kInt32},
    {"shield_close", VB_FIELD(shield_close), Rule::kInt32},
    {"shield_timeout", VB_FIELD(shield_timeout), Rule::kMilliseconds},
};

#undef VB_FIELD

constexpr bool KeyTableWidthsFit() {
  for (const KeyRule& k : kKeyTable) {
    switch (k.rule) {
      case Rule::kFlag:
      case Rule::kByte:
        if (k.size != 1) return false;
        break;
      case Rule::kInt32:
      case Rule::kMilliseconds:
        if (k.size != 4) return false;
        break;
      case Rule::kText:
      case Rule::kQuotedText:
      case Rule::kRcMap:
        if (k.size < 2) return false;
        break;
    }
  }
  return true;
}
static_assert(KeyTableWidthsFit());
static_assert(sizeof(kKeyTable) / sizeof(kKeyTable[0]) == 48);

// Index = the function code stored per RC channel.
constexpr const char* kRcFunctionNames[] = {
    "pan", "tilt", "record", "record-shot", "menu", "ev",
    "zoom", "focus", "dutch", "focus-pan", "focus-tilt", "digital-zoom",
    "digital-zoom2", "iso", "shutter", "aperture", "videomode", "custom-focus-assistant",
    "center", "intcamera", "osd", "orient-lock",
};
static_assert(sizeof(kRcFunctionNames) / sizeof(kRcFunctionNames[0]) == kRcFunctionCount);

constexpr uint8_t kRcUnassigned = 255;

struct HdmiMode {
  const char* name;
  int group;  // 0 CEA, 1 DMT
  int code;
};

constexpr HdmiMode kHdmiModes[] = {
    {"default", 0, 0},
    {"640x480@60p CEA", 0, 1},
    {"1280x720@50p CEA", 0, 19},
    {"1280x720@60p CEA", 0, 4},
    {"1920x1080@50i CEA", 0, 20},
    {"1920x1080@50p CEA", 0, 31},
    {"1920x1080@60i CEA", 0, 5},
    {"1920x1080@60p CEA", 0, 16},
    {"640x480@60p DMT", 1, 4},
    {"640x480@75p DMT", 1, 6},
    {"800x600@60p DMT", 1, 9},
    {"800x600@75p DMT", 1, 11},
    {"1024x768@60p DMT", 1, 16},
    {"1024x768@75p DMT", 1, 18},
    {"1152x864@75p DMT", 1, 21},
    {"1280x1024@60p DMT", 1, 35},
    {"1280x1024@75p DMT", 1, 36},
    {"1920x1080@60p DMT", 1, 82},
};

// strtol in base 10, held to the 32-bit range: the box's long is 32 bits wide,
// so an out-of-range number saturates there rather than wrapping.
int32_t ParseNumber(const char* value) {
  long n = std::strtol(value, nullptr, 10);
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(n);
}

void StoreInt32(uint8_t* field, int32_t v) { PutU32(field, static_cast<uint32_t>(v)); }

// Closes the text up over its double quotes; the freed tail is cleared.
void RemoveDoubleQuotes(char* text, size_t size) {
  size_t out = 0;
  for (size_t in = 0; in < size && text[in] != '\0'; ++in) {
    if (text[in] != '"') text[out++] = text[in];
  }
  std::memset(text + out, 0, size - out);
}

const KeyRule* FindKey(const char* key) {
  for (const KeyRule& k : kKeyTable) {
    if (std::strcmp(k.key, key) == 0) return &k;
  }
  return nullptr;
}

uint8_t CodeOfWord(std::string_view word) {
  for (int i = 0; i < kRcFunctionCount; ++i) {
    if (word == kRcFunctionNames[i]) return static_cast<uint8_t>(i);
  }
  return kRcUnassigned;
}

}  // namespace

int SetConfigKey(void* /*user*/, const char* section, const char* key, const char* value) {
  if (section == nullptr || key == nullptr || section[0] != '\0') return 0;
  const KeyRule* k = FindKey(key);
  if (k == nullptr) return 0;
  if (value == nullptr) value = "";

  uint8_t* field = reinterpret_cast<uint8_t*>(GetSharedConfig()) + k->offset;
  char* text = reinterpret_cast<char*>(field);
  switch (k->rule) {
    case Rule::kFlag:
      *field = std::strtol(value, nullptr, 10) != 0 ? 1 : 0;
      break;
    case Rule::kByte:
      *field = static_cast<uint8_t>(static_cast<uint32_t>(ParseNumber(value)) & 0xFFu);
      break;
    case Rule::kInt32:
      StoreInt32(field, ParseNumber(value));
      break;
    case Rule::kMilliseconds: {
      // Computed wide and held to 32 bits: a huge number of seconds must not overflow.
      int64_t ms = static_cast<int64_t>(ParseNumber(value)) * 1000;
      if (ms > INT32_MAX) ms = INT32_MAX;
      if (ms < INT32_MIN) ms = INT32_MIN;
      StoreInt32(field, static_cast<int32_t>(ms));
      break;
    }
    case Rule::kText:
      CopyTextField(text, k->size, value);
      break;
    case Rule::kQuotedText:
      CopyTextField(text, k->size, value);
      RemoveDoubleQuotes(text, k->size);
      break;
    case Rule::kRcMap:
      CopyTextField(text, k->size, value);
      ParseRcChannelMap(text);
      break;
  }
  return 1;
}

int RcFunctionCode(const char* word) {
  if (word == nullptr) return kRcUnassigned;
  return CodeOfWord(word);
}

const char* RcFunctionWord(int code) {
  return code >= 0 && code < kRcFunctionCount ? kRcFunctionNames[code] : nullptr;
}

void ParseRcChannelMap(const char* map_text) {
  uint8_t map[kRcChannelCount];
  std::memset(map, kRcUnassigned, sizeof map);
  // Pieces are read in place; empty pieces count, so ",," leaves a channel unassigned.
  const char* piece = map_text != nullptr ? map_text : "";
  for (int channel = 0; channel < kRcChannelCount; ++channel) {
    const char* comma = std::strchr(piece, ',');
    size_t length = comma != nullptr ? static_cast<size_t>(comma - piece) : std::strlen(piece);
    map[channel] = CodeOfWord(std::string_view(piece, length));
    if (comma == nullptr) break;
    piece = comma + 1;
  }
  std::memcpy(GetHudState()->rc_channel_map, map, sizeof map);
}

int LookupHdmiMode(const char* name, int* group, int* code) {
  if (name == nullptr) return 1;
  for (const HdmiMode& m : kHdmiModes) {
    if (std::strcmp(m.name, name) == 0) {
      if (group != nullptr) *group = m.group;
      if (code != nullptr) *code = m.code;
      return 0;
    }
  }
  return 1;
}
