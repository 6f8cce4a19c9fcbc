#include "settings_texts.h"

#include <cjson/cJSON.h>


#include "records/param_schema.h"
#include "read_file.h"

namespace {

// A string, or a list of pieces: strings and [string, times].
std::string Pieces(const cJSON* item) {
  if (cJSON_IsString(item)) return item->valuestring;
  std::string out;
  const cJSON* piece = nullptr;
  cJSON_ArrayForEach(piece, item) {
    if (cJSON_IsString(piece)) {
      out += piece->valuestring;
    } else {
      for (int n = cJSON_GetArrayItem(piece, 1)->valueint; n > 0; --n) {
        out += cJSON_GetStringValue(cJSON_GetArrayItem(piece, 0));
      }
    }
  }
  return out;
}

std::vector<SettingsText> Load() {
  const std::string here = __FILE__;
  cJSON* root = cJSON_Parse(ReadFile(here.substr(0, here.rfind('/')) + "/../golden/settings_texts.json").c_str());
  std::vector<SettingsText> rows;
  const cJSON* row = nullptr;
  cJSON_ArrayForEach(row, cJSON_GetObjectItem(root, "rows")) {
    SettingsText r{cJSON_GetStringValue(cJSON_GetObjectItem(row, "key")), Pieces(cJSON_GetObjectItem(row, "text")),
                   std::nullopt, ""};
    const cJSON* stored = cJSON_GetObjectItem(row, "stored");
    if (stored == nullptr) r.stored = r.text;
    else if (!cJSON_IsNull(stored)) r.stored = Pieces(stored);
    if (const char* web = cJSON_GetStringValue(cJSON_GetObjectItem(row, "web"))) r.web_refusal = web;
    rows.push_back(r);
  }
  cJSON_Delete(root);
  return rows;
}

}  // namespace

const std::vector<SettingsText>& SettingsTexts() {
  static const std::vector<SettingsText> rows = Load();
  return rows;
}

std::string SettingsTextCommand(const SettingsText& row) {
  cJSON* command = cJSON_CreateObject();
  cJSON_AddStringToObject(command, "cmd", "updateparam");
  for (const ParamRow& param : kParamRows) {
    for (const ParamMember& member : MembersOf(param)) {
      if (member.value != ParamValue::kText || row.key != member.setting || cJSON_GetArraySize(command) > 1) continue;
      cJSON_AddStringToObject(command, "name", param.name);
      cJSON_AddStringToObject(command, member.member, row.text.c_str());
    }
  }
  char* printed = cJSON_PrintUnformatted(command);
  std::string text = printed;
  cJSON_free(printed);
  cJSON_Delete(command);
  return text;
}

void PrintTo(const SettingsText& row, std::ostream* out) { *out << row.key << " <" << row.text.substr(0, 40) << ">"; }
