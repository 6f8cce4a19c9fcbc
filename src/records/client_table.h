// The 20 registered viewers.
//
// Writers: the viewer receive thread (AddClient, RemoveClient), the watchdog
// (ExpireClients), start-up (ClearClientTable); all under one mutex.
// Readers: every sender, through its own ClientDestinations copy. Each change
// of who is registered or what they take advances a version number, so a
// sender takes the mutex only when the table changed since its last copy and
// never sees a half-written row.
#pragma once

#include <netinet/in.h>

#include <cstdint>

constexpr int kMaxClients = 20;
// Rows one source address may hold, so one station cannot take every slot.
// Loopback addresses are the box itself (any of 127.0.0.0/8), where a limit
// per address would hold back only the local relays.
constexpr int kMaxClientsPerAddress = 4;
constexpr int kClientAddressFull = -1;
constexpr uint8_t kClientDataOnly = 0x01;

struct ClientEntry {
  char address[20];         // dotted IPv4 text; empty marks a free row
  uint32_t port;            // host byte order
  uint32_t last_seen_ms;
  uint8_t flags;            // bit 0: data only
  sockaddr_in destination;  // address and port, ready for sending
};

struct ClientDestination {
  sockaddr_in address;
  int row;  // the table row, which picks the socket the datagrams leave from
};

// Where the senders send, as one sender last copied it from the table. Rows
// without a port are left out: there is nowhere to send to.
struct ClientDestinations {
  uint32_t version = 0;  // the table's version at the copy; 0 before the first
  int all_count = 0;     // every registered viewer, for data messages
  int full_count = 0;    // those that take video
  ClientDestination all[kMaxClients];
  ClientDestination full[kMaxClients];
};

// Returns 1 when a new row was taken, 0 when a row was refreshed, the table is
// full or address is no dotted IPv4 address, kClientAddressFull when address
// already holds kMaxClientsPerAddress rows.
int AddClient(const char* address, uint32_t port, uint8_t data_only);
// True when address and port hold a row.
bool ClientRegistered(const char* address, uint32_t port);
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
// Brings copy up to date with the table. Cheap when nothing changed since the
// copy was made: one atomic load, no lock.
void UpdateClientDestinations(ClientDestinations* copy);
// A copy of row i (for tests and tools).
ClientEntry GetClientRow(int i);
