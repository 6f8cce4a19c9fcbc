#include "config/keys.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "common/number_text.h"
#include "common/shared_field.h"
#include "records/config_schema.h"
#include "records/hud_state.h"
#include "records/shared_config.h"

namespace {

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


// Seconds to milliseconds, held to whole seconds within 32 bits, so that
// saving the record and loading it again gives the same number.
int32_t SecondsToMilliseconds(int32_t seconds) {
  constexpr int32_t kLimit = INT32_MAX / 1000;
  if (seconds > kLimit) seconds = kLimit;
  if (seconds < -kLimit) seconds = -kLimit;
  return seconds * 1000;
}

uint8_t CodeOfWord(std::string_view word) {
  for (int i = 0; i < kRcFunctionCount; ++i) {
    if (word == kRcFunctionNames[i]) return static_cast<uint8_t>(i);
  }
  return kRcUnassigned;
}

// Where a setting's value goes: the process's record through its setters, or
// a record of the caller's own, which nobody else reads.
struct ProcessRecord {
  void Byte(ConfigField field, uint8_t v) const { StoreSettingByte(field, v); }
  void Int32(ConfigField field, int32_t v) const { StoreSettingInt32(field, v); }
  void Text(ConfigField field, const char* text) const { StoreSettingText(field, text); }
};
struct OwnRecord {
  SharedConfig* record;
  uint8_t* Place(ConfigField field) const { return reinterpret_cast<uint8_t*>(record) + field.offset; }
  void Byte(ConfigField field, uint8_t v) const { *Place(field) = v; }
  void Int32(ConfigField field, int32_t v) const { std::memcpy(Place(field), &v, sizeof v); }
  void Text(ConfigField field, const char* text) const {
    StoreSharedText(reinterpret_cast<char*>(Place(field)), field.size, text);
  }
};

// channel_map: an RC map also rebuilds the channel map in force.
template <typename Record>
void StoreInto(const Record& into, const ConfigSetting& setting, const char* value, bool channel_map) {
  if (setting.size == 0) return;
  if (value == nullptr) value = "";
  const ConfigField field = FieldOfSetting(setting);
  switch (setting.rule) {
    case ConfigRule::kFlag:
      into.Byte(field, ReadInt32(value) != 0 ? 1 : 0);
      break;
    case ConfigRule::kByte:
      into.Byte(field, static_cast<uint8_t>(static_cast<uint32_t>(ReadInt32(value)) & 0xFFu));
      break;
    case ConfigRule::kInt32:
      into.Int32(field, ReadInt32(value));
      break;
    case ConfigRule::kMilliseconds:
      into.Int32(field, SecondsToMilliseconds(ReadInt32(value)));
      break;
    case ConfigRule::kText:
    case ConfigRule::kInterface:
    case ConfigRule::kQuotedText:
    case ConfigRule::kRcMap: {
      const std::string text = LoadedText(setting, value);
      into.Text(field, text.c_str());
      if (channel_map && setting.rule == ConfigRule::kRcMap) ParseRcChannelMap(text.c_str());
      break;
    }
  }
}

}  // namespace

void StoreSettingValue(const ConfigSetting& setting, const char* value) {
  StoreInto(ProcessRecord{}, setting, value, true);
}

int SetConfigKey(void* user, const char* section, const char* key, const char* value) {
  if (section == nullptr || key == nullptr || section[0] != '\0') return 0;
  const ConfigSetting* setting = FindConfigSetting(key);
  if (setting == nullptr) return 0;
  if (user != nullptr) {
    StoreInto(OwnRecord{static_cast<SharedConfig*>(user)}, *setting, value, false);
  } else {
    StoreSettingValue(*setting, value);
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
  StoreHudRcChannelMap(map);
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
