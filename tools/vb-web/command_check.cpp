#include "command_check.h"

#include <cjson/cJSON.h>

#include <cctype>
#include <cstring>
#include <memory>

#include "config/json_text.h"

namespace {

// The settings file is read back in lines of at most 199 characters with CR LF
// ends, so "rc_input_map=" leaves 184 for the map. SSIDs and passwords follow
// what Wi-Fi itself allows (a WPA passphrase is 8 to 63 printable characters).
constexpr SettingsText kSettingsTexts[] = {
    {"updateparam", "wifi", "value5", "network SSID", 0, 32, true, false},
    {"updateparam", "wifi", "value6", "network password", 8, 63, true, true},
    {"updateparam", "wifi", "value8", "access point SSID", 0, 32, true, false},
    {"updateparam", "wifi", "value9", "access point password", 8, 63, true, true},
    {"updateparam", "wifi", "value12", "access point country", 0, 9, false, true},
    {"updateparam", "rcin_mode", "value", "RC1 mode", 0, 5, false, true},
    {"updateparam", "rcin_mode", "value2", "RC2 mode", 0, 5, false, true},
    {"updateparam", "rcin_map", "value", "RC channel map", 0, 184, false, true},
};

constexpr size_t kMaxMembers = 20;

struct JsonDeleter {
  void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

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

const char* SettingsTextProblem(const SettingsText& rule, std::string_view text) {
  if (text.empty()) return nullptr;
  if (text.size() > rule.max_bytes) return "is too long";
  if (text.size() < rule.min_bytes) return "is too short";
  if (HasControlCharacter(text)) return "holds a control character";
  if (rule.printable) {
    for (unsigned char c : text) {
      if (c > 0x7E) return "may hold only printable ASCII characters";
    }
  }
  // The file reader drops double quotes and ends a value at a blank followed by ";".
  if (text.find('"') != std::string_view::npos) return "may not hold a double quote";
  if (text.find(" ;") != std::string_view::npos) return "may not hold a blank followed by \";\"";
  // A value written without quotes loses its outer blanks when read back.
  if (!rule.quoted && (text.front() == ' ' || text.back() == ' ')) return "may not start or end with a blank";
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
  for (const SettingsText& rule : kSettingsTexts) {
    if (std::strcmp(cmd, rule.cmd) != 0 || std::strcmp(name, rule.name) != 0) continue;
    if (const char* problem = SettingsTextProblem(rule, MemberText(root.get(), rule.member))) {
      return Refuse(400, std::string("the ") + rule.label + " " + problem);
    }
  }

  char* printed = cJSON_PrintUnformatted(root.get());
  if (!printed) return Refuse(500, "the command could not be written");
  CheckedCommand checked;
  checked.text = printed;
  cJSON_free(printed);
  if (checked.text.size() > kMaxCommandText) return Refuse(413, "the command is longer than the box's mailbox holds");
  checked.status = 200;
  checked.settings = std::strcmp(cmd, "updateparam") == 0;
  checked.report = std::strcmp(cmd, "configrequest") == 0;
  return checked;
}

std::string SettingsTextsJson() {
  std::string out = "[";
  for (const SettingsText& rule : kSettingsTexts) {
    if (out.size() > 1) out += ',';
    out += "{\"cmd\":\"";
    AppendJsonEscaped(&out, rule.cmd);
    out += "\",\"name\":\"";
    AppendJsonEscaped(&out, rule.name);
    out += "\",\"member\":\"";
    AppendJsonEscaped(&out, rule.member);
    out += "\",\"label\":\"";
    AppendJsonEscaped(&out, rule.label);
    out += "\",\"min\":" + std::to_string(rule.min_bytes) + ",\"max\":" + std::to_string(rule.max_bytes);
    out += std::string(",\"quoted\":") + (rule.quoted ? "true" : "false");
    out += std::string(",\"printable\":") + (rule.printable ? "true" : "false") + "}";
  }
  return out + "]";
}
