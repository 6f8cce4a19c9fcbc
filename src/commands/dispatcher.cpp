#include "commands/dispatcher.h"

#include <cjson/cJSON.h>

#include "commands/vocabulary.h"
#include "config/app_command.h"
#include "platform/boot_partition.h"

namespace {

const char* MemberText(const cJSON* root, const char* name, bool* not_text) {
  const cJSON* item = cJSON_GetObjectItem(root, name);
  if (not_text != nullptr) *not_text = item != nullptr && !cJSON_IsString(item);
  if (item == nullptr || !cJSON_IsString(item) || item->valuestring == nullptr) return "";
  return item->valuestring;
}

// Returns the exit code a box-level command asks of the launcher, else 0.
int DispatchCommand(const cJSON* root, MotionDriver sender) {
  const CommandWord* word = FindCommandGroup(MemberText(root, "cmd", nullptr));
  if (word == nullptr) return 0;
  if (word->box_route != nullptr) return word->box_route(ReadAppCommand(root));
  CameraCommand c{};
  c.cmd = word->cmd;
  c.param = MemberText(root, "param", nullptr);
  c.value1 = MemberText(root, "value1", &c.value1_not_text);
  c.value2 = MemberText(root, "value2", &c.value2_not_text);
  c.sender = sender;
  word->route(c);
  return 0;
}

}  // namespace

void RunCommandText(const char* text, int /*length*/, MotionDriver sender) {
  if (text == nullptr) return;
  cJSON* root = cJSON_Parse(text);
  const int exit_code = cJSON_IsObject(root) ? DispatchCommand(root, sender) : 0;
  cJSON_Delete(root);
  // The launcher starts the daemon again on these codes, so they must arrive as
  // given: other threads keep running, and tearing down static state under them
  // could turn the exit into a crash. A save another thread has begun ends first.
  if (exit_code != 0) ExitAfterBootChanges(exit_code);
}
