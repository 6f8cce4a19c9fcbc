#include "config/loader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "config/keys.h"
#include "config/settings_check.h"
#include "config/settings_lines.h"
#include "config/writer.h"
#include "platform/durable_file.h"
#include "platform/log.h"
#include "platform/owned_shared_memory.h"
#include "records/config_schema.h"
#include "records/shared_config.h"

namespace {

constexpr char kConfigMemName[] = "/config_mem";

static_assert(sizeof(kDefaultRcMap) == 32);

void* g_config_mem = nullptr;  // kept for the life of the process

// Sibling processes may map "/config_mem"; this program leaves its contents alone.
void* MapConfigMem() { return MapOwnedSharedMemory(kConfigMemName, sizeof(SharedConfig)); }

// What the settings hold before a file is read: zeros and the RC modes' defaults.
void PutValuesBeforeTheFile(SharedConfig* config) {
  for (const ConfigSetting& setting : kConfigSchema) {
    if (setting.key != nullptr) std::memset(reinterpret_cast<uint8_t*>(config) + setting.offset, 0, setting.size);
  }
  std::memcpy(config->rc2_input_mode, "sbus", 5);
  std::memcpy(config->rc_input_mode, "pwm", 4);
}

// After a file was read: no RC map stands for a map of unassigned channels.
void PutValuesAfterTheFile(SharedConfig* config) {
  if (config->rc_input_map[0] == '\0') std::memcpy(config->rc_input_map, kDefaultRcMap, sizeof kDefaultRcMap);
}

// The loader's handler: keys go into the record built aside, and an RC map
// line also rebuilds the channel map in force.
int SetLoadedKey(void* record, const char* section, const char* key, const char* value) {
  const int stored = SetConfigKey(record, section, key, value);
  const ConfigSetting* setting = stored != 0 ? FindConfigSetting(key) : nullptr;
  if (setting != nullptr && setting->rule == ConfigRule::kRcMap) {
    ParseRcChannelMap(static_cast<const SharedConfig*>(record)->rc_input_map);
  }
  return stored;
}

// The loader's record is built aside around one ini parse (from a file or a
// text) and put in place whole, before any other thread runs.
template <typename Parse>
int ParseIntoRecord(Parse parse) {
  SharedConfig record{};
  PutValuesBeforeTheFile(&record);
  const int result = parse(&record);
  if (result >= 0) PutValuesAfterTheFile(&record);
  ReplaceSharedConfig(record);
  return result;
}

}  // namespace

int ParseConfigurationFile(const char* path) {
  return ParseIntoRecord([path](SharedConfig* record) {
    FILE* file = fopen(path, "re");  // close-on-exec, like every descriptor of the daemon
    if (file == nullptr) return -1;
    int result = ParseSettingsFile(file, SetLoadedKey, record);
    fclose(file);
    return result;
  });
}

int ParseConfigurationText(std::string_view text) {
  return ParseIntoRecord([text](SharedConfig* record) { return ParseSettingsText(text, SetLoadedKey, record); });
}

SharedConfig SettingsRecordOf(std::string_view text, const SharedConfig& base) {
  SharedConfig record = base;
  PutValuesBeforeTheFile(&record);
  ParseSettingsText(text, SetConfigKey, &record);
  PutValuesAfterTheFile(&record);
  return record;
}

SettingsOrigin LoadSettingsAtStart(const std::string& working_copy, const SettingsFiles& files) {
  RestrictToOwner(working_copy);
  RestrictToOwner(files.run_copy);
  SettingsPick pick;
  const FileRead read = ReadWholeFile(working_copy, &pick.text);
  if (read == FileRead::kRead && CheckSettingsText(pick.text).Good()) {
    pick.path = working_copy;
    pick.origin = SettingsOrigin::kGood;
  } else {
    // The prepare step wrote none (only the packaged default was left), or
    // something else left one that is no good: the same pick, made here.
    const char* fault = read == FileRead::kMissing ? "missing" : read == FileRead::kRead ? "damaged" : "unreadable";
    pick = PickSettings(files, stderr);
    LogWarning("%s %s, settings read from %s\n", working_copy.c_str(), fault,
               pick.path.empty() ? "nowhere: every setting is off" : pick.path.c_str());
  }
  SetSettingsOrigin(pick.origin);
  if (pick.path.empty()) {
    ParseIntoRecord([](SharedConfig*) { return -1; });
  } else {
    ParseConfigurationText(pick.text);
  }
  return pick.origin;
}

void MapConfigMemory() {
  if (g_config_mem == nullptr) g_config_mem = MapConfigMem();
}
