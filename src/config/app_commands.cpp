#include "config/app_commands.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/shared_field.h"
#include "config/param_updates.h"
#include "config/report.h"
#include "config/settings_restore.h"
#include "config/wifi_scan.h"
#include "platform/boot_partition.h"
#include "platform/shell.h"
#include "records/hud_state.h"
#include "records/viewer_protocol.h"
#include "senders/viewer_sender.h"

namespace {

bool Is(const char* text, const char* word) { return std::strcmp(text, word) == 0; }

}  // namespace

int OnConfigRequest(const AppCommand&) {
  fprintf(stderr, "config request\n");
  // Each request builds into its own area: two requests may run at once.
  char report[kMaxDataPayload + 1];
  int length = BuildConfigReport(report, sizeof report);
  SendReplyMessage(reinterpret_cast<const uint8_t*>(report), length);
  return 0;
}

int OnWlanCommand(const AppCommand& command) {
  if (Is(command.param, "scan")) ScanWifi(command.value[1]);
  return 0;
}

int OnReboot(const AppCommand&) {
  ExecuteShellCommand("reboot");
  return 0;
}

int OnRestart(const AppCommand&) { return 3; }

int OnShutdown(const AppCommand&) {
  ExecuteShellCommand("shutdown");
  return 0;
}

int OnRcCommand(const AppCommand& command) {
  if (Is(command.name, "recalibrate")) {
    {
      std::lock_guard<std::mutex> lock(BootPartitionMutex());
      WritableBootPartition boot;
      ExecuteShellCommand("rm -f /boot/rcin.cal");
      boot.SyncAndClose();
    }
    ExecuteShellCommand("killall -q rcin");
  } else if (Is(command.name, "showchannels")) {
    StoreHudFlag(HudFlag::kShowRcChannels, command.value_true);
  }
  return 0;
}

int OnUpdateParam(const AppCommand& command) {
  printf("Need to update param %s to %s\n", command.name, command.value[1]);
  fflush(stdout);
  return ApplyParameterUpdate(command);
}

int OnRestore(const AppCommand& command) { return RestoreHandedOverSettings(command.value[1]); }
