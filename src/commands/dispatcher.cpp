#include "commands/dispatcher.h"

#include <cjson/cJSON.h>

#include "commands/vocabulary.h"

namespace {

const char* MemberText(const cJSON* root, const char* name, bool* not_text) {
  const cJSON* item = cJSON_GetObjectItem(root, name);
  if (not_text != nullptr) *not_text = item != nullptr && !cJSON_IsString(item);
  if (item == nullptr || !cJSON_IsString(item) || item->valuestring == nullptr) return "";
  return item->valuestring;
}

}  // namespace

void DispatchCameraCommand(const char* text, int /*length*/, MotionDriver sender) {
  if (text == nullptr) return;
  cJSON* root = cJSON_Parse(text);
  if (root == nullptr) return;
  if (!cJSON_IsObject(root)) {
    cJSON_Delete(root);
    return;
  }
  CameraCommand c{};
  c.cmd = MemberText(root, "cmd", nullptr);
  c.param = MemberText(root, "param", nullptr);
  c.value1 = MemberText(root, "value1", &c.value1_not_text);
  c.value2 = MemberText(root, "value2", &c.value2_not_text);
  c.sender = sender;
  if (const CommandRoute route = FindCommandRoute(c.cmd)) route(c);
  cJSON_Delete(root);
}
