#include "config/app_command.h"

#include <cstdio>
#include <cstring>

namespace {

const char* MemberText(const cJSON* root, const char* name) {
  const cJSON* item = cJSON_GetObjectItem(root, name);
  if (!cJSON_IsString(item) || !item->valuestring) return "";
  return item->valuestring;
}

int TruthOf(const char* text) { return std::strcmp(text, "1") == 0 || std::strcmp(text, "true") == 0 ? 1 : 0; }

}  // namespace

AppCommand ReadAppCommand(const cJSON* root) {
  AppCommand command{};
  bool object = cJSON_IsObject(root);
  auto member = [&](const char* name) { return object ? MemberText(root, name) : ""; };
  command.cmd = member("cmd");
  command.name = member("name");
  command.param = member("param");
  command.value[0] = "";
  command.value[1] = member("value");
  char name[16];
  for (int i = 2; i <= 12; ++i) {
    snprintf(name, sizeof name, "value%d", i);
    command.value[i] = member(name);
  }
  command.value_true = TruthOf(command.value[1]);
  command.value2_true = TruthOf(command.value[2]);
  return command;
}
