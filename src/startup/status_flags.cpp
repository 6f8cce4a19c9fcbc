#include <sys/wait.h>

#include "camera/hud_state.h"
#include "config/shared_config.h"
#include "platform/shell.h"
#include "startup/startup.h"

uint8_t BuildStatusFlags() {
  const SharedConfig* config = GetSharedConfig();
  const HudState* hud = GetHudState();
  // Each source is a 0/1 byte; only the lowest bit of the first sibling byte counts.
  unsigned flags = 1u;
  flags |= (config->ap_running & 1u) << 1;
  flags |= (config->hdmi_enabled & 1u) << 2;
  flags |= (config->camera_connected & 1u) << 4;
  flags |= (hud->sibling_status[0] & 1u) << 6;
  flags |= static_cast<unsigned>(hud->sibling_status[1]) << 7;
  return static_cast<uint8_t>(flags);
}

void CheckAccessPoint() {
  SharedConfig* config = GetSharedConfig();
  if (config->ap_iface[0] == '\0') {
    config->ap_running = 0;
    return;
  }
  int status = RunShellCommand("pidof hostapd > /dev/null");
  config->ap_running = (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) ? 1 : 0;
}
