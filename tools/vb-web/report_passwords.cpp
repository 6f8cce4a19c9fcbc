#include "report_passwords.h"

#include <cstring>

#include "json_document.h"
#include "records/config_schema.h"
#include "records/param_schema.h"

namespace {

const char* ReportKey(const ParamMember& member) { return FindConfigSetting(member.setting)->report.key; }

}  // namespace

std::string HidePasswords(std::string_view report, ReportPasswords* passwords) {
  JsonPtr root(cJSON_ParseWithLength(report.data(), report.size()));
  if (!root || !cJSON_IsObject(root.get())) return {};
  for (const ParamRow& row : kParamRows) {
    for (const ParamMember& member : MembersOf(row)) {
      const char* key = member.passphrase ? ReportKey(member) : nullptr;
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
  }
  return CompactJson(root.get());
}

bool KeepPasswords(std::string* command, const ReportPasswords& passwords) {
  JsonPtr root(cJSON_Parse(command->c_str()));
  if (!root) return false;
  const char* cmd = cJSON_GetStringValue(cJSON_GetObjectItem(root.get(), "cmd"));
  const char* name = cJSON_GetStringValue(cJSON_GetObjectItem(root.get(), "name"));
  const ParamRow* row = cmd && name && std::strcmp(cmd, "updateparam") == 0 ? FindParamRow(name) : nullptr;
  for (const ParamMember& member : row ? MembersOf(*row) : std::span<const ParamMember>()) {
    if (!member.passphrase || cJSON_GetObjectItem(root.get(), member.member)) continue;
    const char* key = ReportKey(member);
    const auto known = key ? passwords.find(key) : passwords.end();
    if (known == passwords.end()) return false;
    cJSON_AddStringToObject(root.get(), member.member, known->second.c_str());
  }
  *command = CompactJson(root.get());
  return true;
}
