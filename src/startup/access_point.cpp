#include "startup/access_point.h"

#include <sys/wait.h>

#include "common/shared_field.h"
#include "platform/shell.h"
#include "records/shared_config.h"

void CheckAccessPoint() {
  if (LoadShared(&GetSharedConfig()->ap_iface[0]) == '\0') {
    StoreApRunning(0);
    return;
  }
  int status = ExecuteShellCommand("pidof hostapd > /dev/null");
  StoreApRunning((status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) ? 1 : 0);
}
