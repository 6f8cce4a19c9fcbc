// The camera's video stream on UDP 5000: its receive thread, the video link
// state it keeps with the watchdog, and the forwarding to the full clients.
#pragma once

#include <cstdint>

#include "senders/viewer_sender.h"

void StartVideoSource();
// As StartVideoSource on a given IPv4 address and port (host order; port 0
// takes a free one). Returns the bound port, 0 when the bind failed.
uint16_t StartVideoSourceOn(uint32_t address, uint16_t port);
// Empties the client table before the first viewer registers.
void StartVideoBridge();

// SendVideoDatagrams unless the configuration turned the stream off.
void ForwardVideo(VideoDatagram* datagrams, int count);
// The watchdog's step: the video link drops after 3 s without video; the
// link state goes to the HUD and the viewers.
void CheckVideoTimeout();
// The same check at a given clock value (tests use it to hit the boundary).
void CheckVideoTimeoutAt(uint32_t now);
