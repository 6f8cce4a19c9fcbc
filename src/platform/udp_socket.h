// The daemon's receiving UDP sockets: blocking, with large buffers for bursts.
#pragma once

#include <cstdint>

// A blocking, close-on-exec UDP socket (O_NONBLOCK cleared) with its receive
// and send buffers set to buffer_bytes (0 leaves the system's sizes). -1 when
// none can be made.
int OpenBlockingUdpSocket(int buffer_bytes);

// Binds fd to address:port (host byte order; port 0 takes a free one). Returns
// the port bound, 0 when the bind failed.
uint16_t BindUdpSocket(int fd, uint32_t address, uint16_t port);
