// Which datagram sources may drive the box: only those inside its directly
// connected IPv4 networks, and for the camera's ports only what arrives on the
// camera's link. Each receive thread owns one SourceFilter, which names its
// socket in the log and keeps refusals to one line a minute.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "platform/log.h"

struct SourceFilter {
  const char* what;  // "viewer", "video", "camera"
  RateGate refusals;
};

// True when from lies inside a connected network; otherwise the datagram is
// to be dropped, and the refusal is logged unless one was within the minute.
bool AcceptSource(SourceFilter* filter, const sockaddr_in& from);

// The same for the camera's ports, for a datagram that arrived on the
// interface with index arrival_interface: true only on the camera's link
// (platform/arrival_interface.h).
bool AcceptCameraSource(SourceFilter* filter, const sockaddr_in& from, int arrival_interface);
