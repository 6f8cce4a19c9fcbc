#include "config/app_commands.h"

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/shared_field.h"
#include "config/app_command.h"
#include "config/param_updates.h"
#include "config/report.h"
#include "config/wifi_scan.h"
#include "platform/boot_partition.h"
#include "platform/shell.h"
#include "records/hud_state.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sender.h"

namespace {

bool Is(const char* text, const char* word) { return std::strcmp(text, word) == 0; }

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
      ExecuteShellCommand("rm -f /boot/rcin.cal");
      boot.SyncAndClose();
    }
    ExecuteShellCommand("killall -q rcin");
  } else if (Is(command.name, "showchannels")) {
    StoreShared(&GetHudState()->show_rc_channels, command.value_true);
  }
}

}  // namespace

void HandleAppCommand(const char* text, int length) {
  (void)length;  // the text is NUL-terminated
  if (!text) return;
  cJSON* root = cJSON_Parse(text);
  AppCommand command = ReadAppCommand(root);
  int exit_code = 0;

  if (Is(command.cmd, "configrequest")) SendConfigReport();
  if (Is(command.cmd, "wlan") && Is(command.param, "scan")) ScanWifi(command.value[1]);
  if (Is(command.cmd, "reboot")) ExecuteShellCommand("reboot");
  if (Is(command.cmd, "restart")) exit_code = 3;
  if (Is(command.cmd, "shutdown")) ExecuteShellCommand("shutdown");
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
