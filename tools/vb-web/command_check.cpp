#include "command_check.h"

#include <cjson/cJSON.h>

#include <cctype>
#include <cstring>
#include <memory>

#include "common/json_text.h"
#include "json_document.h"
#include "records/config_schema.h"

namespace {

constexpr SettingsText kSettingsTexts[] = {
    {"updateparam", "wifi", "value5", "wifi_ssid", "network SSID", false},
    {"updateparam", "wifi", "value6", "wifi_psk", "network password", true},
    {"updateparam", "wifi", "value8", "ap_ssid", "access point SSID", false},
    {"updateparam", "wifi", "value9", "ap_psk", "access point password", true},
    {"updateparam", "wifi", "value12", "ap_country", "access point country", false},
    {"updateparam", "rcin_mode", "value", "rc_input_mode", "RC1 mode", false},
    {"updateparam", "rcin_mode", "value2", "rc2_input_mode", "RC2 mode", false},
    {"updateparam", "rcin_map", "value", "rc_input_map", "RC channel map", false},
};

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

}  // namespace

const SettingsText* SettingsTexts(size_t* count) {
  if (count) *count = sizeof kSettingsTexts / sizeof kSettingsTexts[0];
  return kSettingsTexts;
}

const char* SettingsTextProblem(const SettingsText& text_rule, std::string_view text) {
  const ConfigSetting* setting = FindConfigSetting(text_rule.setting);
  if (!setting) return "has no place in the settings";
  if (text.empty()) return nullptr;  // clears the setting (an empty map stands for no channels)
  if (text.size() > setting->limit.max) return "is too long";
  if (HasControlCharacter(text)) return "holds a control character";
  if (text_rule.passphrase) {
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
  for (const SettingsText& rule : kSettingsTexts) {
    if (std::strcmp(cmd, rule.cmd) != 0 || std::strcmp(name, rule.name) != 0) continue;
    if (rule.passphrase && !cJSON_GetObjectItem(root.get(), rule.member)) keeps_password = true;
    if (const char* problem = SettingsTextProblem(rule, MemberText(root.get(), rule.member))) {
      return Refuse(400, std::string("the ") + rule.label + " " + problem);
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
  for (const SettingsText& rule : kSettingsTexts) {
    const ConfigSetting* setting = FindConfigSetting(rule.setting);
    if (!setting) continue;
    if (out.size() > 1) out += ',';
    out += "{\"cmd\":\"";
    AppendJsonEscaped(&out, rule.cmd);
    out += "\",\"name\":\"";
    AppendJsonEscaped(&out, rule.name);
    out += "\",\"member\":\"";
    AppendJsonEscaped(&out, rule.member);
    out += "\",\"label\":\"";
    AppendJsonEscaped(&out, rule.label);
    out += "\",\"min\":" + std::to_string(rule.passphrase ? kMinPassphrase : 0);
    out += ",\"max\":" + std::to_string(setting->limit.max);
    out += std::string(",\"quoted\":") + (setting->rule == ConfigRule::kQuotedText ? "true" : "false");
    out += std::string(",\"printable\":") + (rule.passphrase ? "true" : "false") + "}";
  }
  return out + "]";
}
