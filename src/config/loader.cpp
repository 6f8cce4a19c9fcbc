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

constexpr ConfigField kRcModeField = FieldOfSetting(*FindConfigSetting("rc_input_mode"));
constexpr ConfigField kRc2ModeField = FieldOfSetting(*FindConfigSetting("rc2_input_mode"));
constexpr ConfigField kRcMapField = FieldOfSetting(*FindConfigSetting("rc_input_map"));

void* g_config_mem = nullptr;  // kept for the life of the process

// Sibling processes may map "/config_mem"; this program leaves its contents alone.
void* MapConfigMem() { return MapOwnedSharedMemory(kConfigMemName, sizeof(SharedConfig)); }

// The loader's record steps around one ini parse (from a file or a text).
template <typename Parse>
int ParseIntoRecord(Parse parse) {
  ClearSharedConfig();
  StoreSettingText(kRc2ModeField, "sbus");
  StoreSettingText(kRcModeField, "pwm");

  int result = parse();
  if (result < 0) return result;

  if (GetSharedConfig()->rc_input_map[0] == '\0') StoreSettingText(kRcMapField, kDefaultRcMap);
  return result;
}

}  // namespace

int ParseConfigurationFile(const char* path) {
  return ParseIntoRecord([path] {
    FILE* file = fopen(path, "re");  // close-on-exec, like every descriptor of the daemon
    if (file == nullptr) return -1;
    int result = ParseSettingsFile(file, SetConfigKey, nullptr);
    fclose(file);
    return result;
  });
}

int ParseConfigurationText(std::string_view text) {
  return ParseIntoRecord([text] { return ParseSettingsText(text, SetConfigKey, nullptr); });
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
    ParseIntoRecord([] { return -1; });
  } else {
    ParseConfigurationText(pick.text);
  }
  return pick.origin;
}

void MapConfigMemory() {
  if (g_config_mem == nullptr) g_config_mem = MapConfigMem();
}
