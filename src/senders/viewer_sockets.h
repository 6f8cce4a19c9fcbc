// The sockets datagrams to the viewers leave from, all on the discovery port:
// the discovery socket itself (opened by the viewer receiver), one socket per
// client table row, and one for video to all viewers together.
//
// Written once at start-up (tests point them at sockets of their own); read by
// every sender, on any thread.
#pragma once

#include <cstdint>

#include "records/client_table.h"

// How long one blocking send to a viewer may wait for room in a send buffer.
constexpr int kViewerSendTimeoutUs = 50000;

void SetDiscoverySocket(int fd);
int DiscoverySocket();  // -1 before one is set

// How the viewers' sockets came out.
enum class ViewerSocketSetup {
  kOwn,                // every row has its own socket; all arrivals reach the discovery socket
  kOwnArrivalsSpread,  // own sockets, but the kernel refused the filter: arrivals land on any of them
  kShared,             // the port cannot be shared: every row sends from the discovery socket
};

// Gives every client table row a socket of its own on the bound discovery
// socket's address and port, so one viewer's queue fills only its own send
// buffer.
ViewerSocketSetup OpenViewerSockets(int discovery_fd);
bool ViewerSocketsOpen();
// The sockets datagrams from viewers may arrive on, the discovery socket
// first; the receive thread reads them all. Returns how many it wrote.
int ViewerArrivalSockets(int* fds, int capacity);
constexpr int kMaxViewerArrivalSockets = 1 + kMaxClients + 1;
// The socket video leaves from to all viewers together in one call.
int SharedViewerSocket();
// The socket datagrams to the viewer in a table row leave from: its own once
// OpenViewerSockets succeeded, else the discovery socket.
int ViewerSocket(int row);

// One datagram from the discovery socket to address:port (the connect
// acknowledgement); -1 when address is no IPv4 address.
int SendClientDatagram(const uint8_t* buffer, int length, const char* address, uint32_t port);
