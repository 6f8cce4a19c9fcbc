#include "camera/supervision.h"
#include "clients/client_table.h"
#include "clients/video_bridge.h"
#include "config/shared_config.h"
#include "inputs/shield.h"
#include "platform/connected_networks.h"
#include "platform/worker_pool.h"
#include "startup/clock.h"
#include "startup/startup.h"

void WatchdogPass() {
  const SharedConfig* config = GetSharedConfig();
  if (config->control_enabled) SuperviseCameraLink();
  if (config->shield_enabled) ShieldStep();
  CheckVideoTimeout();
  ExpireClients();
  // pidof may hang as long as the shell's deadline: link supervision and client
  // expiry must not pause for it.
  PostInternalWork(CheckAccessPoint);
  RefreshConnectedNetworks();
}

void* RunWatchdog(void*) {
  for (;;) {
    WatchdogPass();
    SleepMilliseconds(1000);
  }
  return nullptr;
}
