// Which datagram sources may drive the box: only those inside its directly
// connected IPv4 networks. Each receive thread owns one SourceFilter, which
// names its socket in the log and keeps refusals to one line a minute.
#pragma once

#include <netinet/in.h>

#include <cstdint>

struct SourceFilter {
  const char* what;  // "viewer", "video", "camera"
  uint64_t last_log_ms = 0;
  bool logged = false;
};

// True when from lies inside a connected network; otherwise the datagram is
// to be dropped, and the refusal is logged unless one was within the minute.
bool AcceptSource(SourceFilter* filter, const sockaddr_in& from);
