#include "clients/client_table.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "camera/hud_state.h"
#include "common/wire.h"
#include "startup/clock.h"

namespace {

ClientEntry g_rows[kMaxClients];
std::atomic<ClientExpiryHook> g_expiry_hook{nullptr};
// Held while a row changes and while a sender copies the destinations.
std::mutex g_rows_mutex;

bool RowTaken(const ClientEntry& row) { return row.address[0] != '\0'; }

bool RowMatches(const ClientEntry& row, const char* address, uint32_t port) {
  return RowTaken(row) && row.port == port && std::strncmp(row.address, address, sizeof row.address) == 0;
}

}  // namespace

int AddClient(const char* address, uint32_t port, uint8_t data_only) {
  // An empty text would read as a free row, and a text that does not fit the
  // row could never be matched again: neither is an IPv4 address.
  if (address == nullptr || address[0] == '\0') return 0;
  if (strnlen(address, sizeof(ClientEntry::address)) >= sizeof(ClientEntry::address)) return 0;
  uint32_t now = MillisecondClock();
  uint8_t flags = data_only ? kClientDataOnly : 0;
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  for (ClientEntry& row : g_rows) {
    if (RowMatches(row, address, port)) {
      row.last_seen_ms = now;
      row.flags = flags;
      return 0;
    }
  }
  for (ClientEntry& row : g_rows) {
    if (!RowTaken(row)) {
      CopyTextField(row.address, sizeof row.address, address);
      row.port = port;
      row.last_seen_ms = now;
      row.flags = flags;
      return 1;
    }
  }
  return 0;
}

int RemoveClient(const char* address, uint32_t port) {
  if (address == nullptr) return 0;
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  for (ClientEntry& row : g_rows) {
    if (RowMatches(row, address, port)) {
      row = ClientEntry{};
      return 1;
    }
  }
  return 0;
}

void ExpireClientsAt(uint32_t now) {
  int count = 0;
  ClientEntry gone[kMaxClients];
  int gone_count = 0;
  {
    std::lock_guard<std::mutex> lock(g_rows_mutex);
    for (ClientEntry& row : g_rows) {
      if (!RowTaken(row)) continue;
      // Signed difference: a clock that stepped back does not drop anyone.
      if (static_cast<int32_t>(now - row.last_seen_ms) > 5000) {
        fprintf(stderr, "Client %s:%d lost\n", row.address, static_cast<int>(row.port));
        gone[gone_count++] = row;
        row = ClientEntry{};
        continue;
      }
      ++count;
    }
  }
  GetHudState()->client_count = static_cast<uint8_t>(count);
  const ClientExpiryHook hook = g_expiry_hook.load();
  if (hook == nullptr) return;
  for (int i = 0; i < gone_count; ++i) hook(gone[i].address, gone[i].port);
}

void SetClientExpiryHook(ClientExpiryHook hook) { g_expiry_hook = hook; }

void ExpireClients() { ExpireClientsAt(MillisecondClock()); }

void ClearClientTable() {
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  for (ClientEntry& row : g_rows) row = ClientEntry{};
}

int CopyClientDestinations(ClientDestination* out) {
  int n = 0;
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  for (const ClientEntry& row : g_rows) {
    if (row.port == 0) continue;
    std::memcpy(out[n].address, row.address, sizeof out[n].address);
    out[n].port = row.port;
    out[n].flags = row.flags;
    ++n;
  }
  return n;
}

ClientEntry GetClientRow(int i) {
  if (i < 0 || i >= kMaxClients) return ClientEntry{};
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  return g_rows[i];
}
