// Video datagrams delivered to and dropped for each viewer, by client table
// row, and when the first one was relayed.
//
// Writer: the video sender, one send at a time (it holds its send lock), with
// relaxed loads and stores only: no lock and no read-modify-write on the
// video path. Reader: the health publisher, which may see a value one send
// old. A row's counts belong to the viewer (address and port) the sender last
// sent to from it; a new viewer in the row starts from zero.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "records/client_table.h"

struct ViewerTraffic {
  uint64_t delivered = 0;
  uint64_t dropped = 0;
};

// After one send of datagrams video datagrams to the full viewers in to:
// dropped[k] of them were dropped for to.full[k]; dropped is null when none
// was dropped for anyone.
void CountVideoCopies(const ClientDestinations& to, const int* dropped, int datagrams);

// The counts of row for the viewer at destination; zero when the row's
// counts belong to another viewer (or to none yet).
ViewerTraffic ReadViewerTraffic(int row, const sockaddr_in& destination);

// Milliseconds from the process's start to the first video datagram relayed
// to a viewer; -1 while none was.
int64_t FirstVideoRelayMs();
// Milliseconds since the process started.
int64_t ProcessUptimeMs();

// Back to no traffic at all (tests).
void ResetViewerTraffic();
