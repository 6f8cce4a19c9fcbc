#include "records/viewer_traffic.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {

struct RowTraffic {
  std::atomic<uint64_t> viewer{0};  // ViewerKey of whom the counts belong to; 0: none
  std::atomic<uint64_t> delivered{0};
  std::atomic<uint64_t> dropped{0};
};

RowTraffic g_rows[kMaxClients];
std::atomic<int64_t> g_first_video_ms{-1};
// The table version whose viewers own their rows' counts already: the owners
// are checked again only when the destinations changed.
std::atomic<uint32_t> g_owners_version{0};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Taken when the program's statics are made: its start, near enough.
const int64_t g_start_ms = NowMs();

uint64_t ViewerKey(const sockaddr_in& destination) {
  // Never 0 for a real viewer: the port is never 0 in the table's destinations.
  return (static_cast<uint64_t>(destination.sin_addr.s_addr) << 16) | destination.sin_port;
}

// The only writer stores; a load and a store cost what a plain access does.
void Add(std::atomic<uint64_t>& counter, uint64_t n) {
  counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
}

// Gives each row of to.full to the viewer now in it.
void ClaimRows(const ClientDestinations& to) {
  for (int k = 0; k < to.full_count; ++k) {
    const int row = to.full[k].row;
    if (row < 0 || row >= kMaxClients) continue;
    RowTraffic& traffic = g_rows[row];
    const uint64_t key = ViewerKey(to.full[k].address);
    if (traffic.viewer.load(std::memory_order_relaxed) == key) continue;
    // Counts first, owner last: a reader that sees the new owner sees its counts from zero.
    traffic.delivered.store(0, std::memory_order_relaxed);
    traffic.dropped.store(0, std::memory_order_relaxed);
    traffic.viewer.store(key, std::memory_order_release);
  }
}

}  // namespace

void CountVideoCopies(const ClientDestinations& to, const int* dropped, int datagrams) {
  if (datagrams <= 0) return;
  if (g_owners_version.load(std::memory_order_relaxed) != to.version) {
    ClaimRows(to);
    g_owners_version.store(to.version, std::memory_order_relaxed);
  }
  bool delivered_any = false;
  for (int k = 0; k < to.full_count; ++k) {
    const int row = to.full[k].row;
    if (row < 0 || row >= kMaxClients) continue;
    RowTraffic& traffic = g_rows[row];
    const int lost = dropped == nullptr ? 0 : std::clamp(dropped[k], 0, datagrams);
    Add(traffic.delivered, static_cast<uint64_t>(datagrams - lost));
    if (lost > 0) Add(traffic.dropped, static_cast<uint64_t>(lost));
    delivered_any = delivered_any || lost < datagrams;
  }
  if (delivered_any && g_first_video_ms.load(std::memory_order_relaxed) < 0) {
    g_first_video_ms.store(NowMs() - g_start_ms, std::memory_order_relaxed);
  }
}

ViewerTraffic ReadViewerTraffic(int row, const sockaddr_in& destination) {
  if (row < 0 || row >= kMaxClients) return {};
  const RowTraffic& traffic = g_rows[row];
  if (traffic.viewer.load(std::memory_order_acquire) != ViewerKey(destination)) return {};
  return ViewerTraffic{traffic.delivered.load(std::memory_order_relaxed), traffic.dropped.load(std::memory_order_relaxed)};
}

int64_t FirstVideoRelayMs() { return g_first_video_ms.load(std::memory_order_relaxed); }

int64_t ProcessUptimeMs() { return NowMs() - g_start_ms; }

void ResetViewerTraffic() {
  for (RowTraffic& traffic : g_rows) {
    traffic.viewer.store(0, std::memory_order_relaxed);
    traffic.delivered.store(0, std::memory_order_relaxed);
    traffic.dropped.store(0, std::memory_order_relaxed);
  }
  g_owners_version.store(0, std::memory_order_relaxed);
  g_first_video_ms.store(-1, std::memory_order_relaxed);
}
