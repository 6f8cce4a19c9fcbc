#include "command_check.h"

#include <cjson/cJSON.h>

#include <cctype>
#include <cstring>
#include <memory>

#include "common/json_text.h"
#include "json_document.h"
#include "records/config_schema.h"
#include "records/param_schema.h"

namespace {

constexpr size_t kMinPassphrase = 8;

constexpr size_t kMaxMembers = 20;

bool SameNameIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  }
  return *a == *b;
}

bool HasControlCharacter(std::string_view text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

// The member the box would read for this name (the first match, any case).
const char* MemberText(const cJSON* root, const char* name) {
  const cJSON* item = cJSON_GetObjectItem(root, name);
  return cJSON_IsString(item) && item->valuestring ? item->valuestring : "";
}

CheckedCommand Refuse(int status, std::string error) {
  CheckedCommand c;
  c.status = status;
  c.error = std::move(error);
  return c;
}

// Why a text member of an "updateparam" row cannot be stored as given (the box
// would cut, change or refuse it), or nullptr when it can.
const char* SettingsTextProblem(const ParamMember& member, std::string_view text) {
  const ConfigSetting* setting = member.value == ParamValue::kText ? FindConfigSetting(member.setting) : nullptr;
  if (!setting) return "has no place in the settings";
  if (text.empty()) return nullptr;  // clears the setting (an empty map stands for no channels)
  if (text.size() > setting->limit.max) return "is too long";
  if (HasControlCharacter(text)) return "holds a control character";
  if (member.passphrase) {
    if (text.size() < kMinPassphrase) return "is too short";
    for (unsigned char c : text) {
      if (c > 0x7E) return "may hold only printable ASCII characters";
    }
  }
  if (!ReadsBackUnchanged(*setting, text)) {
    if (text.find('"') != std::string_view::npos) return "may not hold a double quote";
    if (text.find(" ;") != std::string_view::npos) return "may not hold a blank followed by \";\"";
    return "may not start or end with a blank";
  }
  return nullptr;
}

}  // namespace

CheckedCommand CheckCommand(std::string_view body) {
  if (body.size() > kMaxRequestBody) return Refuse(413, "the request is too long");
  if (body.find('\0') != std::string_view::npos) return Refuse(400, "the request holds a NUL byte");
  const std::string copy(body);
  JsonPtr root(cJSON_ParseWithOpts(copy.c_str(), nullptr, 1));
  if (!root || !cJSON_IsObject(root.get())) return Refuse(400, "the request is not a JSON object");

  size_t members = 0;
  for (const cJSON* item = root->child; item; item = item->next) {
    if (++members > kMaxMembers) return Refuse(400, "the command has too many members");
    const char* name = item->string ? item->string : "";
    if (!cJSON_IsString(item) || !item->valuestring) {
      return Refuse(400, std::string("member \"") + name + "\" is not a text");
    }
    if (HasControlCharacter(item->valuestring)) {
      return Refuse(400, std::string("member \"") + name + "\" holds a control character");
    }
    for (const cJSON* other = root->child; other != item; other = other->next) {
      if (SameNameIgnoringCase(other->string ? other->string : "", name)) {
        return Refuse(400, std::string("member \"") + name + "\" is given twice");
      }
    }
  }

  const char* cmd = MemberText(root.get(), "cmd");
  if (cmd[0] == '\0') return Refuse(400, "the command has no \"cmd\"");
  const char* name = MemberText(root.get(), "name");
  bool keeps_password = false;
  const ParamRow* row = std::strcmp(cmd, "updateparam") == 0 ? FindParamRow(name) : nullptr;
  for (const ParamMember& member : row ? MembersOf(*row) : std::span<const ParamMember>()) {
    if (member.value != ParamValue::kText) continue;
    if (member.passphrase && !cJSON_GetObjectItem(root.get(), member.member)) keeps_password = true;
    if (const char* problem = SettingsTextProblem(member, MemberText(root.get(), member.member))) {
      return Refuse(400, std::string("the ") + member.label + " " + problem);
    }
  }

  CheckedCommand checked;
  checked.text = CompactJson(root.get());
  if (checked.text.empty()) return Refuse(500, "the command could not be written");
  if (checked.text.size() > kMaxCommandText) return Refuse(413, "the command is longer than the box's mailbox holds");
  checked.status = 200;
  checked.settings = std::strcmp(cmd, "updateparam") == 0;
  checked.report = std::strcmp(cmd, "configrequest") == 0;
  checked.keeps_password = keeps_password;
  return checked;
}

std::string SettingsTextsJson() {
  std::string out = "[";
  for (const ParamRow& row : kParamRows) {
    for (const ParamMember& member : MembersOf(row)) {
      if (member.value != ParamValue::kText) continue;
      const ConfigSetting& setting = *FindConfigSetting(member.setting);
      if (out.size() > 1) out += ',';
      out += "{\"cmd\":\"updateparam\",\"name\":\"";
      AppendJsonEscaped(&out, row.name);
      out += "\",\"member\":\"";
      AppendJsonEscaped(&out, member.member);
      out += "\",\"label\":\"";
      AppendJsonEscaped(&out, member.label);
      out += "\",\"min\":" + std::to_string(member.passphrase ? kMinPassphrase : 0);
      out += ",\"max\":" + std::to_string(setting.limit.max);
      out += std::string(",\"quoted\":") + (setting.rule == ConfigRule::kQuotedText ? "true" : "false");
      out += std::string(",\"printable\":") + (member.passphrase ? "true" : "false") + "}";
    }
  }
  return out + "]";
}
