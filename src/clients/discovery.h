// The viewer socket on UDP 4242 (the discovery port): its receive thread and
// the handling of each message a viewer sends.
#pragma once

#include <cstdint>

// Binds UDP 4242 and starts its receive thread; ends the process with status
// 100 when the bind fails.
void StartDiscovery();
// As StartDiscovery on a given IPv4 address and port (host order; port 0 takes
// a free one). Returns the bound port.
uint16_t StartDiscoveryOn(uint32_t address, uint16_t port);

// One viewer message (the payload behind the datagram header) from address:port:
// connect, disconnect, gimbal control, attitude or a JSON command.
void HandleClientMessage(const uint8_t* payload, int length, const char* address, uint32_t port);
