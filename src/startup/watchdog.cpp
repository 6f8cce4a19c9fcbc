#include "startup/watchdog.h"

#include <atomic>

#include "actuators/shield.h"
#include "camera/supervision.h"
#include "clients/video_source.h"
#include "common/shared_field.h"
#include "platform/clock.h"
#include "platform/connected_networks.h"
#include "platform/event_journal.h"
#include "platform/worker_pool.h"
#include "records/client_table.h"
#include "records/shared_config.h"
#include "startup/access_point.h"
#include "startup/health_publisher.h"

namespace {
// Written by the watchdog thread, read by the main loop's service keep-alive.
std::atomic<uint32_t> g_watchdog_passes{0};
}  // namespace

uint32_t WatchdogPassCount() { return g_watchdog_passes.load(std::memory_order_relaxed); }

void WatchdogPass() {
  const SharedConfig* config = GetSharedConfig();
  if (LoadShared(&config->control_enabled)) SuperviseCameraLink();
  if (LoadShared(&config->shield_enabled)) ShieldStep();
  CheckVideoTimeout();
  ExpireClients();
  // pidof may hang as long as the shell's deadline: link supervision and client
  // expiry must not pause for it.
  PostInternalWork(CheckAccessPoint);
  PostInternalWork(PublishHealth);
  PostInternalWork(FlushEventJournal);  // repeats held back over the last second
  RefreshConnectedNetworks();
}

void* RunWatchdog(void*) {
  for (;;) {
    WatchdogPass();
    g_watchdog_passes.fetch_add(1, std::memory_order_relaxed);
    SleepMilliseconds(1000);
  }
  return nullptr;
}
