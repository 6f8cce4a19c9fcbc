#include "platform/connected_networks.h"

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <mutex>

namespace {

struct Network {
  in_addr_t address;  // network byte order, already masked
  in_addr_t netmask;
};

constexpr int kMaxNetworks = 32;

// Guards the table and the change socket; every thread that checks a peer reads
// the table, the watchdog and misses rewrite it.
std::mutex g_mutex;
std::array<Network, kMaxNetworks> g_networks{};
std::array<in_addr_t, kMaxNetworks> g_own_addresses{};
int g_network_count = 0;
bool g_loaded = false;
int g_change_socket = -2;  // -2: not opened yet; -1: netlink unavailable

int OpenChangeSocket() {
  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return -1;
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_LINK;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// True when the kernel reported a change since the last call (or when changes
// cannot be watched, so the table is always re-read).
bool ChangeReportedLocked() {
  if (g_change_socket == -2) g_change_socket = OpenChangeSocket();
  if (g_change_socket < 0) return true;
  bool changed = false;
  char buffer[8192];
  for (;;) {
    ssize_t n = recv(g_change_socket, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      changed = true;
      continue;
    }
    // A full socket buffer drops reports: read the table again to be sure.
    if (n < 0 && errno == ENOBUFS) {
      changed = true;
      continue;
    }
    break;
  }
  return changed;
}

void ReadInterfacesLocked() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return;  // keep what we knew
  int count = 0;
  for (ifaddrs* entry = list; entry != nullptr && count < kMaxNetworks; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr) continue;
    if (entry->ifa_addr->sa_family != AF_INET) continue;
    const in_addr_t address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
    const in_addr_t netmask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr;
    g_own_addresses[count] = address;
    g_networks[count++] = Network{address & netmask, netmask};
  }
  freeifaddrs(list);
  g_network_count = count;
  g_loaded = true;
}

bool IsOwnLocked(in_addr_t address) {
  for (int i = 0; i < g_network_count; ++i) {
    if (g_own_addresses[i] == address) return true;
  }
  return false;
}

bool ContainsLocked(in_addr_t address) {
  for (int i = 0; i < g_network_count; ++i) {
    if ((address & g_networks[i].netmask) == g_networks[i].address) return true;
  }
  return false;
}

}  // namespace

namespace {

// A hit needs no system call; a miss first re-reads the interfaces when the
// kernel has reported a change.
bool LookUp(bool (*found)(in_addr_t), in_addr_t address) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_loaded) {
    ChangeReportedLocked();  // open the change socket before the first read, so no change is missed
    ReadInterfacesLocked();
  }
  if (found(address)) return true;
  if (!ChangeReportedLocked()) return false;
  ReadInterfacesLocked();
  return found(address);
}

}  // namespace

bool IsInConnectedNetwork(in_addr_t address) { return LookUp(ContainsLocked, address); }

bool IsOwnAddress(in_addr_t address) { return LookUp(IsOwnLocked, address); }

void RefreshConnectedNetworks() {
  std::lock_guard<std::mutex> lock(g_mutex);
  // Asked first, so the change socket is open before the first read: a change
  // right after it is then reported, not lost.
  const bool changed = ChangeReportedLocked();
  if (!g_loaded || changed) ReadInterfacesLocked();
}
