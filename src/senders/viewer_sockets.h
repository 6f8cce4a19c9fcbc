// The sockets datagrams to the viewers leave from, all on the discovery port:
// the discovery socket itself (opened by the viewer receiver), one socket per
// client table row, and one for video to all viewers together.
//
// Written once at start-up (tests point them at sockets of their own); read by
// every sender, on any thread.
#pragma once

#include <cstdint>

// How long one blocking send to a viewer may wait for room in a send buffer.
constexpr int kViewerSendTimeoutUs = 50000;

void SetDiscoverySocket(int fd);
int DiscoverySocket();  // -1 before one is set

// Gives every client table row a socket of its own on the bound discovery
// socket's address and port, so one viewer's queue fills only its own send
// buffer. False when the kernel cannot share the port that way; the rows then
// send from the discovery socket.
bool OpenViewerSockets(int discovery_fd);
bool ViewerSocketsOpen();
// The socket video leaves from to all viewers together in one call.
int SharedViewerSocket();
// The socket datagrams to the viewer in a table row leave from: its own once
// OpenViewerSockets succeeded, else the discovery socket.
int ViewerSocket(int row);

// One datagram from the discovery socket to address:port (the connect
// acknowledgement); -1 when address is no IPv4 address.
int SendClientDatagram(const uint8_t* buffer, int length, const char* address, uint32_t port);
