#include "records/client_table.h"

#include <arpa/inet.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/shared_field.h"
#include "common/wire.h"
#include "platform/clock.h"
#include "platform/event_journal.h"
#include "records/hud_state.h"

namespace {

ClientEntry g_rows[kMaxClients];
std::atomic<ClientExpiryHook> g_expiry_hook{nullptr};
// Held while a row changes and while a sender copies the destinations.
std::mutex g_rows_mutex;
// Advanced under the mutex after every change a sender must see; never 0.
std::atomic<uint32_t> g_version{1};

void TableChanged() {
  uint32_t next = g_version.load(std::memory_order_relaxed) + 1;
  if (next == 0) next = 1;
  g_version.store(next, std::memory_order_release);
}

bool RowTaken(const ClientEntry& row) { return row.address[0] != '\0'; }

bool RowMatches(const ClientEntry& row, const char* address, uint32_t port) {
  return RowTaken(row) && row.port == port && std::strncmp(row.address, address, sizeof row.address) == 0;
}

void ClearRow(ClientEntry& row) {
  row = ClientEntry{};
  TableChanged();
}

}  // namespace

int AddClient(const char* address, uint32_t port, uint8_t data_only) {
  // An empty text would read as a free row, and a text that does not fit the
  // row could never be matched again: neither is an IPv4 address.
  if (address == nullptr || address[0] == '\0') return 0;
  if (strnlen(address, sizeof(ClientEntry::address)) >= sizeof(ClientEntry::address)) return 0;
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address, &destination.sin_addr) != 1) return 0;
  uint32_t now = MillisecondClock();
  uint8_t flags = data_only ? kClientDataOnly : 0;
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  for (ClientEntry& row : g_rows) {
    if (RowMatches(row, address, port)) {
      row.last_seen_ms = now;
      if (row.flags != flags) {
        row.flags = flags;
        TableChanged();
      }
      return 0;
    }
  }
  if ((ntohl(destination.sin_addr.s_addr) >> 24) != 127) {
    int held = 0;
    for (const ClientEntry& row : g_rows) {
      held += RowTaken(row) && std::strncmp(row.address, address, sizeof row.address) == 0 ? 1 : 0;
    }
    if (held >= kMaxClientsPerAddress) return kClientAddressFull;
  }
  for (ClientEntry& row : g_rows) {
    if (!RowTaken(row)) {
      CopyTextField(row.address, sizeof row.address, address);
      row.port = port;
      row.last_seen_ms = now;
      row.flags = flags;
      row.destination = destination;
      TableChanged();
      return 1;
    }
  }
  return 0;
}

bool ClientRegistered(const char* address, uint32_t port) {
  if (address == nullptr) return false;
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  for (const ClientEntry& row : g_rows) {
    if (RowMatches(row, address, port)) return true;
  }
  return false;
}

int RemoveClient(const char* address, uint32_t port) {
  if (address == nullptr) return 0;
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  for (ClientEntry& row : g_rows) {
    if (RowMatches(row, address, port)) {
      ClearRow(row);
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
        ClearRow(row);
        continue;
      }
      ++count;
    }
  }
  StoreHudClientCount(static_cast<uint8_t>(count));
  for (int i = 0; i < gone_count; ++i) {
    NoteEvent(JournalEvent::kViewerLeft, ViewerSource(gone[i].address, gone[i].port).text, "silent for 5 s");
  }
  const ClientExpiryHook hook = g_expiry_hook.load();
  if (hook == nullptr) return;
  for (int i = 0; i < gone_count; ++i) hook(gone[i].address, gone[i].port);
}

void SetClientExpiryHook(ClientExpiryHook hook) { g_expiry_hook = hook; }

void ExpireClients() { ExpireClientsAt(MillisecondClock()); }

void ClearClientTable() {
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  for (ClientEntry& row : g_rows) ClearRow(row);
}

void UpdateClientDestinations(ClientDestinations* copy) {
  if (copy->version == g_version.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  copy->version = g_version.load(std::memory_order_relaxed);
  copy->all_count = 0;
  copy->full_count = 0;
  for (int i = 0; i < kMaxClients; ++i) {
    const ClientEntry& row = g_rows[i];
    if (row.port == 0) continue;
    copy->all[copy->all_count++] = ClientDestination{row.destination, i};
    if (!(row.flags & kClientDataOnly)) copy->full[copy->full_count++] = ClientDestination{row.destination, i};
  }
}

ClientEntry GetClientRow(int i) {
  if (i < 0 || i >= kMaxClients) return ClientEntry{};
  std::lock_guard<std::mutex> lock(g_rows_mutex);
  return g_rows[i];
}
