#include "platform/source_filter.h"

#include <arpa/inet.h>
#include <time.h>

#include <cstdio>

#include "platform/connected_networks.h"
#include "platform/log.h"

namespace {

constexpr uint64_t kRefusalLogGapMs = 60000;

uint64_t MonotonicMilliseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace

bool AcceptSource(SourceFilter* filter, const sockaddr_in& from) {
  if (from.sin_family == AF_INET && IsInConnectedNetwork(from.sin_addr.s_addr)) return true;
  const uint64_t now = MonotonicMilliseconds();
  if (!filter->logged || now - filter->last_log_ms >= kRefusalLogGapMs) {
    filter->logged = true;
    filter->last_log_ms = now;
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
    LogWarning("refused %s datagrams from %s: outside the connected networks\n", filter->what, address);
  }
  return false;
}
