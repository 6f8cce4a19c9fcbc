// The box's directly connected IPv4 networks: every interface's address and
// netmask, loopback included, and the peer of a point-to-point address. Only
// peers inside them may drive the box; a network's own address and its
// broadcast address are no peers.
#pragma once

#include <netinet/in.h>

// True when address (network byte order) lies in one of the connected
// networks. A miss first re-reads the interfaces when the kernel has reported
// an address change, so a network that just came up is never refused. Safe to
// call from any thread; the hit path makes no system call.
bool IsInConnectedNetwork(in_addr_t address);

// Re-reads the interfaces when the kernel has reported an address change since
// the last look (cheap when nothing changed). The watchdog calls it once a
// second, so a network that went away stops counting within a second.
void RefreshConnectedNetworks();
