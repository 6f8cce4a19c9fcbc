// The 20 registered viewers. Rows change under a mutex; senders take a copy of
// the destinations, so no sender sees a half-written row.
#pragma once

#include <cstdint>

constexpr int kMaxClients = 20;
constexpr uint8_t kClientDataOnly = 0x01;

struct ClientEntry {
  char address[20];      // dotted IPv4 text; empty marks a free row
  uint32_t port;         // host byte order
  uint32_t last_seen_ms;
  uint8_t flags;         // bit 0: data only
};

struct ClientDestination {
  char address[20];
  uint32_t port;
  uint8_t flags;
};

// Returns 1 when a new row was taken, 0 when a row was refreshed or the table is full.
int AddClient(const char* address, uint32_t port, uint8_t data_only);
// Returns 1 when a row was cleared, 0 when none matched.
int RemoveClient(const char* address, uint32_t port);
// Drops rows silent for more than 5000 ms and publishes the count in HudState.
void ExpireClients();
// Called for each row that expiry drops, outside the table's lock (start-up
// points it at what must end with the viewer); none at start.
using ClientExpiryHook = void (*)(const char* address, uint32_t port);
void SetClientExpiryHook(ClientExpiryHook hook);
// The same pass at a given clock value (tests use it to hit the boundary).
void ExpireClientsAt(uint32_t now);
void ClearClientTable();
// Copies every row whose port is non-zero; returns how many were copied.
int CopyClientDestinations(ClientDestination* out);
// A copy of row i (for tests and tools).
ClientEntry GetClientRow(int i);
