#include "report_passwords.h"

#include <cstring>

#include "command_check.h"
#include "json_document.h"
#include "records/config_schema.h"

namespace {

const char* ReportKey(const SettingsText& rule) {
  const ConfigSetting* setting = FindConfigSetting(rule.setting);
  return setting ? setting->report.key : nullptr;
}

}  // namespace

std::string HidePasswords(std::string_view report, ReportPasswords* passwords) {
  JsonPtr root(cJSON_ParseWithLength(report.data(), report.size()));
  if (!root || !cJSON_IsObject(root.get())) return {};
  size_t count = 0;
  const SettingsText* rules = SettingsTexts(&count);
  for (size_t i = 0; i < count; ++i) {
    const char* key = rules[i].passphrase ? ReportKey(rules[i]) : nullptr;
    if (!key) continue;
    // Every copy goes, should the box ever send one twice.
    bool present = false;
    bool set = false;
    while (cJSON* item = cJSON_DetachItemFromObjectCaseSensitive(root.get(), key)) {
      const char* text = cJSON_IsString(item) && item->valuestring ? item->valuestring : "";
      (*passwords)[key] = text;
      present = true;
      set = text[0] != '\0';
      cJSON_Delete(item);
    }
    if (present) cJSON_AddBoolToObject(root.get(), (std::string(key) + "_set").c_str(), set);
  }
  return CompactJson(root.get());
}

bool KeepPasswords(std::string* command, const ReportPasswords& passwords) {
  JsonPtr root(cJSON_Parse(command->c_str()));
  if (!root) return false;
  const char* cmd = cJSON_GetStringValue(cJSON_GetObjectItem(root.get(), "cmd"));
  const char* name = cJSON_GetStringValue(cJSON_GetObjectItem(root.get(), "name"));
  size_t count = 0;
  const SettingsText* rules = SettingsTexts(&count);
  for (size_t i = 0; i < count; ++i) {
    const SettingsText& rule = rules[i];
    if (!rule.passphrase || !cmd || !name || std::strcmp(cmd, rule.cmd) || std::strcmp(name, rule.name)) continue;
    if (cJSON_GetObjectItem(root.get(), rule.member)) continue;
    const char* key = ReportKey(rule);
    const auto known = key ? passwords.find(key) : passwords.end();
    if (known == passwords.end()) return false;
    cJSON_AddStringToObject(root.get(), rule.member, known->second.c_str());
  }
  *command = CompactJson(root.get());
  return true;
}
