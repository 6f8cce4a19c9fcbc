// The 4242 socket: viewer registration, gimbal, attitude and JSON messages,
// and the socket every datagram to the viewers leaves from.
#pragma once

#include <cstdint>

// Binds UDP 4242 and starts its receive thread; ends the process with status
// 100 when the bind fails.
void StartDiscovery();
// As StartDiscovery on a given IPv4 address and port (host order; port 0 takes
// a free one). Returns the bound port.
uint16_t StartDiscoveryOn(uint32_t address, uint16_t port);

// How long one blocking send to a viewer may wait for room in a send buffer.
constexpr int kViewerSendTimeoutUs = 50000;

int SendClientDatagram(const uint8_t* buffer, int length, const char* address, uint32_t port);
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
void HandleClientMessage(const uint8_t* payload, int length, const char* address, uint32_t port);

// Queues one JSON command text (cut to 255 bytes) for the worker pool, which
// runs it through the application handler and the camera dispatcher. Dropped,
// with at most one log line a second, while the queue is full.
void RunJsonCommand(const uint8_t* payload, int length);

// The descriptor datagrams to viewers leave from; tests may point it at a
// socket of their own.
extern int g_discovery_socket_fd;
