#include "config/app_commands.h"

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "camera/hud_state.h"
#include "clients/protocol.h"
#include "clients/video_bridge.h"
#include "config/report.h"
#include "platform/boot_partition.h"
#include "platform/shell.h"

namespace {

const char* MemberText(const cJSON* root, const char* name) {
  const cJSON* item = cJSON_GetObjectItem(root, name);
  if (!cJSON_IsString(item) || !item->valuestring) return "";
  return item->valuestring;
}

bool Is(const char* text, const char* word) { return std::strcmp(text, word) == 0; }

int TruthOf(const char* text) { return Is(text, "1") || Is(text, "true") ? 1 : 0; }

AppCommand ReadMembers(const cJSON* root) {
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

void SendConfigReport() {
  fprintf(stderr, "config request\n");
  // Each request builds into its own area: two requests may run at once.
  char report[kMaxDataPayload + 1];
  int length = BuildConfigReport(report, sizeof report);
  SendReplyMessage(reinterpret_cast<const uint8_t*>(report), length);
}

void HandleRcCommand(const AppCommand& command) {
  if (Is(command.name, "recalibrate")) {
    {
      std::lock_guard<std::mutex> lock(BootPartitionMutex());
      WritableBootPartition boot;
      RunShellCommand("rm -f /boot/rcin.cal");
    }
    RunShellCommand("killall -q rcin");
  } else if (Is(command.name, "showchannels")) {
    GetHudState()->show_rc_channels = static_cast<uint8_t>(command.value_true);
  }
}

}  // namespace

void HandleAppCommand(const char* text, int length) {
  (void)length;  // the text is NUL-terminated
  if (!text) return;
  cJSON* root = cJSON_Parse(text);
  AppCommand command = ReadMembers(root);
  int exit_code = 0;

  if (Is(command.cmd, "configrequest")) SendConfigReport();
  if (Is(command.cmd, "wlan") && Is(command.param, "scan")) RunWifiScan(command.value[1]);
  if (Is(command.cmd, "reboot")) RunShellCommand("reboot");
  if (Is(command.cmd, "restart")) exit_code = 3;
  if (Is(command.cmd, "shutdown")) RunShellCommand("shutdown");
  if (Is(command.cmd, "rc")) HandleRcCommand(command);
  if (Is(command.cmd, "updateparam")) {
    printf("Need to update param %s to %s\n", command.name, command.value[1]);
    fflush(stdout);
    exit_code = ApplyParameterUpdate(command);
  }

  cJSON_Delete(root);
  // The launcher starts the daemon again on these codes, so they must arrive as
  // given: other threads keep running, and tearing down static state under them
  // could turn the exit into a crash. A save another thread has begun ends first.
  if (exit_code != 0) ExitAfterBootChanges(exit_code);
}
