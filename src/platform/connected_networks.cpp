#include "platform/connected_networks.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

// A directly connected network (prefix up to 30: its network and broadcast
// addresses are no hosts), a /31 pair, or one host (prefix 32: a
// point-to-point peer, or the box's own end of such a link).
struct Network {
  in_addr_t address;  // network byte order, already masked
  in_addr_t netmask;
};

constexpr int kMaxNetworks = 64;

// Guards the table and the change socket; every thread that checks a peer reads
// the table, the watchdog and misses rewrite it.
std::mutex g_mutex;
std::array<Network, kMaxNetworks> g_networks{};
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

in_addr_t Netmask(int prefix) { return prefix <= 0 ? 0 : htonl(~uint32_t{0} << (32 - (prefix > 32 ? 32 : prefix))); }

void AddNetwork(Network* table, int* count, in_addr_t address, in_addr_t netmask) {
  if (*count < kMaxNetworks) table[(*count)++] = Network{address & netmask, netmask};
}

// One address of an interface, as the kernel reports it: IFA_LOCAL is the
// box's own address; IFA_ADDRESS is the same, or on a point-to-point link
// ("ip addr add A peer B") the peer, whose network the kernel routes to.
void AddAddress(Network* table, int* count, const nlmsghdr* message) {
  const auto* info = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
  if (info->ifa_family != AF_INET) return;
  in_addr_t local = 0;
  in_addr_t address = 0;
  bool has_local = false;
  bool has_address = false;
  int length = static_cast<int>(IFA_PAYLOAD(message));
  for (const rtattr* a = IFA_RTA(info); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
    if (RTA_PAYLOAD(a) < sizeof(in_addr_t)) continue;
    if (a->rta_type == IFA_LOCAL) {
      std::memcpy(&local, RTA_DATA(a), sizeof local);
      has_local = true;
    } else if (a->rta_type == IFA_ADDRESS) {
      std::memcpy(&address, RTA_DATA(a), sizeof address);
      has_address = true;
    }
  }
  if (!has_local && !has_address) return;
  if (!has_local) local = address;
  if (!has_address) address = local;
  const in_addr_t netmask = Netmask(info->ifa_prefixlen);
  if (address != local) AddNetwork(table, count, local, Netmask(32));
  AddNetwork(table, count, address, netmask);
}

// Asks the kernel for every IPv4 address (the dump getifaddrs makes, which
// loses the peer of a point-to-point address). False when the answer could
// not be read whole: the table then stays as it was.
bool DumpAddresses(Network* table, int* count) {
  const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return false;
  timeval timeout{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  struct {
    nlmsghdr header;
    ifaddrmsg body;
  } request{};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = RTM_GETADDR;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.body.ifa_family = AF_INET;
  bool complete = false;
  if (send(fd, &request, sizeof request, 0) == static_cast<ssize_t>(sizeof request)) {
    alignas(nlmsghdr) char buffer[16384];
    for (bool reading = true; reading;) {
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      int left = static_cast<int>(n);
      for (auto* m = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(m, left); m = NLMSG_NEXT(m, left)) {
        if (m->nlmsg_type == NLMSG_DONE) {
          complete = true;
          reading = false;
          break;
        }
        if (m->nlmsg_type == NLMSG_ERROR) {
          reading = false;
          break;
        }
        if (m->nlmsg_type == RTM_NEWADDR) AddAddress(table, count, m);
      }
    }
  }
  close(fd);
  return complete;
}

void ReadInterfacesLocked() {
  std::array<Network, kMaxNetworks> read{};
  int count = 0;
  if (!DumpAddresses(read.data(), &count)) return;  // keep what we knew
  g_networks = read;
  g_network_count = count;
  g_loaded = true;
}

bool ContainsLocked(in_addr_t address) {
  for (int i = 0; i < g_network_count; ++i) {
    const Network& n = g_networks[i];
    if ((address & n.netmask) != n.address) continue;
    // A network's own address and its broadcast address are no hosts (a /31
    // or /32 has neither).
    const bool wide = (ntohl(n.netmask) & 0x3u) == 0;
    if (wide && (address == n.address || address == (n.address | ~n.netmask))) continue;
    return true;
  }
  return false;
}

}  // namespace

bool IsInConnectedNetwork(in_addr_t address) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_loaded) {
    ChangeReportedLocked();  // open the change socket before the first read, so no change is missed
    ReadInterfacesLocked();
  }
  if (ContainsLocked(address)) return true;
  if (!ChangeReportedLocked()) return false;
  ReadInterfacesLocked();
  return ContainsLocked(address);
}

void RefreshConnectedNetworks() {
  std::lock_guard<std::mutex> lock(g_mutex);
  // Asked first, so the change socket is open before the first read: a change
  // right after it is then reported, not lost.
  const bool changed = ChangeReportedLocked();
  if (!g_loaded || changed) ReadInterfacesLocked();
}
