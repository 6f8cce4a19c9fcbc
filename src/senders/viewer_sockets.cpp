// Each client table row has a socket of its own on the discovery port, so one
// viewer's queue can only fill its own send buffer: a viewer behind a slow link
// loses its own copies and costs the others nothing. One more socket sends the
// video to all viewers together: unlike the discovery socket, no receive thread
// sleeps on it, so freeing each sent copy wakes no one. These sockets share the
// port with the discovery socket through SO_REUSEPORT, and a one-instruction
// filter steers every arriving datagram to the discovery socket. Where the
// kernel refuses that filter (qemu-user, for one), the arrivals spread over
// the whole group and the receive thread reads every socket of it instead.
#include "senders/viewer_sockets.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "records/client_table.h"

namespace {

std::atomic<int> g_discovery_fd{-1};

// Room for about 200 full video datagrams queued to one viewer; the shared
// socket gets the discovery socket's room for bursts to all viewers (the
// kernel doubles both, within net.core.wmem_max).
constexpr int kRowSendBuffer = 262144;
constexpr int kSharedSendBuffer = 2000000;

// Each row's descriptor plus one (zero, as before any was opened, is none),
// then the socket all video leaves from together.
constexpr int kSharedSlot = kMaxClients;
std::atomic<int> g_row_fds[kMaxClients + 1];
// True when the rows joined the port without the filter: datagrams from
// viewers may then arrive on any of them.
std::atomic<bool> g_arrivals_spread{false};

void CloseRowSockets() {
  g_arrivals_spread.store(false, std::memory_order_relaxed);
  for (auto& slot : g_row_fds) {
    const int fd = slot.exchange(0, std::memory_order_relaxed) - 1;
    if (fd >= 0) close(fd);
  }
}

// Every datagram of the port's group goes to its first member.
bool SteerArrivalsToFirst(int fd) {
  sock_filter first[] = {BPF_STMT(BPF_RET | BPF_K, 0)};
  sock_fprog program{1, first};
  return setsockopt(fd, SOL_SOCKET, SO_ATTACH_REUSEPORT_CBPF, &program, sizeof program) == 0;
}

int OpenRowSocket(const sockaddr_in& local, int buffer) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return -1;
  const int on = 1;
  timeval send_timeout{0, kViewerSendTimeoutUs};
  if (setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout) != 0 ||
      bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

void SetDiscoverySocket(int fd) { g_discovery_fd.store(fd, std::memory_order_relaxed); }

int DiscoverySocket() { return g_discovery_fd.load(std::memory_order_relaxed); }

ViewerSocketSetup OpenViewerSockets(int discovery_fd) {
  CloseRowSockets();
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(discovery_fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return ViewerSocketSetup::kShared;
  }
  // The discovery socket was bound without SO_REUSEPORT, so a second copy of
  // the daemon still fails to bind the port; only now may the rows join it.
  const int on = 1;
  if (setsockopt(discovery_fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0) return ViewerSocketSetup::kShared;
  bool opened = true;
  for (int i = 0; i <= kSharedSlot; ++i) {
    const int fd = OpenRowSocket(local, i == kSharedSlot ? kSharedSendBuffer : kRowSendBuffer);
    if (fd < 0) {
      opened = false;
      break;
    }
    g_row_fds[i].store(fd + 1, std::memory_order_relaxed);
  }
  if (!opened) {
    CloseRowSockets();
    const int off = 0;
    setsockopt(discovery_fd, SOL_SOCKET, SO_REUSEPORT, &off, sizeof off);
    return ViewerSocketSetup::kShared;
  }
  // The port's group exists once a row joined; only then takes it a filter.
  if (!SteerArrivalsToFirst(discovery_fd)) {
    g_arrivals_spread.store(true, std::memory_order_relaxed);
    return ViewerSocketSetup::kOwnArrivalsSpread;
  }
  // Whatever reached a row before the filter was in place is dropped; viewers
  // repeat their requests.
  uint8_t discard[1];
  for (auto& slot : g_row_fds) {
    while (recv(slot.load(std::memory_order_relaxed) - 1, discard, sizeof discard, MSG_DONTWAIT) >= 0) {
    }
  }
  return ViewerSocketSetup::kOwn;
}

int ViewerArrivalSockets(int* fds, int capacity) {
  int count = 0;
  const int discovery = DiscoverySocket();
  if (discovery >= 0 && count < capacity) fds[count++] = discovery;
  if (!g_arrivals_spread.load(std::memory_order_relaxed)) return count;
  for (auto& slot : g_row_fds) {
    const int fd = slot.load(std::memory_order_relaxed) - 1;
    if (fd >= 0 && count < capacity) fds[count++] = fd;
  }
  return count;
}

bool ViewerSocketsOpen() { return g_row_fds[0].load(std::memory_order_relaxed) != 0; }

int ViewerSocket(int row) {
  const int fd = row >= 0 && row < kMaxClients ? g_row_fds[row].load(std::memory_order_relaxed) - 1 : -1;
  return fd >= 0 ? fd : DiscoverySocket();
}

int SharedViewerSocket() {
  const int fd = g_row_fds[kSharedSlot].load(std::memory_order_relaxed) - 1;
  return fd >= 0 ? fd : DiscoverySocket();
}

int SendClientDatagram(const uint8_t* buffer, int length, const char* address, uint32_t port) {
  if (buffer == nullptr || length < 0 || address == nullptr) return -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  if (inet_aton(address, &to.sin_addr) == 0) return -1;
  to.sin_port = htons(static_cast<uint16_t>(port));
  return static_cast<int>(sendto(DiscoverySocket(), buffer, static_cast<size_t>(length), 0,
                                 reinterpret_cast<const sockaddr*>(&to), sizeof to));
}
