#include "platform/service_notify.h"

#include <systemd/sd-daemon.h>

#include <atomic>

namespace {
// Written and read by the main thread only; atomic to keep tests honest.
std::atomic<uint32_t> g_last_passes_pinged{0};
}  // namespace

void NotifyServiceReady() { sd_notify(0, "READY=1"); }

void ExtendServiceStartTimeout(uint32_t milliseconds) {
  sd_notifyf(0, "EXTEND_TIMEOUT_USEC=%llu", static_cast<unsigned long long>(milliseconds) * 1000ull);
}

void NotifyServiceAlive(uint32_t watchdog_passes) {
  if (watchdog_passes == g_last_passes_pinged.load(std::memory_order_relaxed)) return;
  g_last_passes_pinged.store(watchdog_passes, std::memory_order_relaxed);
  sd_notify(0, "WATCHDOG=1");
}
