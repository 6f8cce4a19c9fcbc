// A registered viewer on 127.0.0.1: what the box sends to viewers arrives at fd.
#pragma once

#include <cstdint>
#include <vector>

#include "loopback.h"

struct ViewerEnd {
  int fd = -1;
  uint16_t port = 0;
};

// Opens a loopback socket, makes sure the box has a socket to send from, and
// registers the viewer in the client table.
ViewerEnd AttachViewer(bool data_only = false);
void DetachViewer(ViewerEnd& viewer);

// Payloads (header stripped) of the data messages received, in order.
std::vector<Datagram> TakeViewerPayloads(const ViewerEnd& viewer, int quiet_ms = 100, int first_wait_ms = 300);
